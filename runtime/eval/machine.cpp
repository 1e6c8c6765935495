// The evaluation loop of compiled expressions.
#include <charconv>
#include <cmath>
#include <cstring>

#include "runtime/eval/builtins.hpp"
#include "runtime/eval/program.hpp"
#include "runtime/eval/scanner.hpp"
#include "runtime/values/char_tables.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/string_functions.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn::eval {

int32_t real_to_long(double value) {
  if (!(std::fabs(value) < 9223372036854775808.0)) return INT32_MIN;
  return static_cast<int32_t>(
      static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(value))));
}

void TextSlot::assign(std::string_view text) {
  const char* begin = buffer.data();
  if (text.data() >= begin && text.data() <= begin + buffer.size()) {
    std::memmove(buffer.data(), text.data(), text.size());
    buffer.resize(text.size());
  } else {
    buffer.assign(text);
  }
  view = buffer;
}

void Machine::reserve(const Program& program) {
  if (longs.size() < static_cast<size_t>(program.long_depth)) longs.resize(program.long_depth);
  if (reals.size() < static_cast<size_t>(program.real_depth)) reals.resize(program.real_depth);
  if (texts.size() < static_cast<size_t>(program.text_depth)) texts.resize(program.text_depth);
}

namespace {

template <typename T>
int32_t compare_by(OpCode op, T a, T b) {
  switch (op) {
    case OpCode::kEqual:
      return a == b;
    case OpCode::kNotEqual:
      return a != b;
    case OpCode::kLess:
      return a < b;
    case OpCode::kGreater:
      return a > b;
    case OpCode::kLessEqual:
      return a <= b;
    default:
      return a >= b;
  }
}

template <typename T>
T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // fields of packed records need not be aligned
  return v;
}

// The text of a variable: its storage itself for the text kinds, else its value as text.
void load_text(const TypedReference& variable, TextSlot& slot) {
  const auto* bytes = static_cast<const char*>(variable.address());
  switch (variable.type()) {
    case ValueType::STRING:
    case ValueType::GROUP:
      slot.view = {bytes, variable.size()};
      return;
    case ValueType::CSTRING:
      slot.view = {bytes, strnlen(bytes, variable.size())};
      return;
    case ValueType::PSTRING: {
      const uint32_t size = variable.size();
      const uint32_t length = size == 0 ? 0 : static_cast<uint8_t>(bytes[0]);
      slot.view = {bytes + 1, std::min(length, size > 0 ? size - 1 : 0)};
      return;
    }
    default:
      break;
  }
  StringStack& stack = string_stack();
  if (stack.depth() >= StringStack::kCapacity) {
    // No room to convert through the stack: the value as a REAL is the closest text.
    slot.assign(real_to_text(variable.read_real()));
    return;
  }
  variable.push_string();
  slot.assign(stack.peek());
  stack.release();
}

void call_procedure(const Instruction& instr, Machine& m) {
  const auto& procedure = *static_cast<const BoundProcedure*>(instr.a.pointer);
  int longs = 0, reals = 0, texts = 0;
  for (int i = 0; i < instr.count; ++i) {
    const ParamKind k = procedure.parameters[i];
    (k == ParamKind::kLong ? longs : k == ParamKind::kReal ? reals : texts)++;
  }
  int l = m.long_top - longs, r = m.real_top - reals, t = m.text_top - texts;
  std::vector<ProcedureValue> arguments(instr.count);
  for (int i = 0; i < instr.count; ++i) {
    ProcedureValue& a = arguments[i];
    a.kind = procedure.parameters[i];
    switch (a.kind) {
      case ParamKind::kLong:
        a.long_value = m.longs[l++];
        break;
      case ParamKind::kReal:
        a.real_value = m.reals[r++];
        break;
      case ParamKind::kText:
        a.text = m.texts[t++].view;
        break;
    }
  }
  m.long_top -= longs;
  m.real_top -= reals;
  m.text_top -= texts;
  const ProcedureValue result = procedure.body ? procedure.body(arguments) : ProcedureValue{};
  // The value as the procedure's result kind, whatever member it filled in.
  switch (procedure.result) {
    case ParamKind::kLong:
      m.longs[m.long_top++] = result.kind == ParamKind::kLong   ? result.long_value
                              : result.kind == ParamKind::kReal ? real_to_long(result.real_value)
                                                                : text_to_long(result.text);
      break;
    case ParamKind::kReal:
      m.reals[m.real_top++] = result.kind == ParamKind::kLong   ? result.long_value
                              : result.kind == ParamKind::kReal ? result.real_value
                                                                : text_to_real(result.text);
      break;
    case ParamKind::kText: {
      TextSlot& slot = m.texts[m.text_top++];
      if (result.kind == ParamKind::kText) {
        if (result.text.size() > kMaxTextLength) {
          m.failure = kInsufficientMemory;
          slot.assign({});
        } else {
          slot.assign(result.text);
        }
      } else {
        slot.assign(result.kind == ParamKind::kLong ? long_to_text(result.long_value)
                                                    : real_to_text(result.real_value));
      }
      break;
    }
  }
}

}  // namespace

void run(const Program& program, Machine& m) {
  int32_t* longs = m.longs.data();
  double* reals = m.reals.data();
  TextSlot* texts = m.texts.data();
  int l = 0, r = 0, t = 0;
  for (const Instruction& in : program.code) {
    switch (in.op) {
      case Instr::kPushLong:
        longs[l++] = in.a.long_value;
        break;
      case Instr::kPushReal:
        reals[r++] = in.a.real_value;
        break;
      case Instr::kPushText:
        texts[t++].view = program.texts[in.index];
        break;
      case Instr::kLoadLongI32:
        longs[l++] = load<int32_t>(in.a.pointer);
        break;
      case Instr::kLoadRealF64:
        reals[r++] = load<double>(in.a.pointer);
        break;
      case Instr::kLoadRealI32:
        reals[r++] = load<int32_t>(in.a.pointer);
        break;
      case Instr::kLoadLong:
        longs[l++] = in.a.reference->read_long();
        break;
      case Instr::kLoadReal:
        reals[r++] = in.a.reference->read_real();
        break;
      case Instr::kLoadText:
        load_text(*in.a.reference, texts[t++]);
        break;
      case Instr::kLoadTruth:
        longs[l++] = in.a.reference->is_empty() ? 0 : 1;
        break;

      case Instr::kLongToReal:
        reals[r++] = longs[--l];
        break;
      case Instr::kLongToText: {
        TextSlot& s = texts[t++];
        char digits[12];
        const auto end = std::to_chars(digits, digits + sizeof digits, longs[--l]).ptr;
        s.buffer.assign(digits, end);
        s.view = s.buffer;
        break;
      }
      case Instr::kRealToLong:
        longs[l++] = real_to_long(reals[--r]);
        break;
      case Instr::kRealToText:
        texts[t++].assign(real_to_text(reals[--r]));
        break;
      case Instr::kRealToTruth:
        longs[l++] = reals[--r] != 0 ? 1 : 0;
        break;
      case Instr::kTextToLong:
        longs[l++] = text_to_long(texts[--t].view);
        break;
      case Instr::kTextToReal:
        reals[r++] = text_to_real(texts[--t].view);
        break;
      case Instr::kTextToTruth:
        longs[l++] = text_is_true(texts[--t].view) ? 1 : 0;
        break;

      case Instr::kAdd:
        --r;
        reals[r - 1] += reals[r];
        break;
      case Instr::kSubtract:
        --r;
        reals[r - 1] -= reals[r];
        break;
      case Instr::kMultiply:
        --r;
        reals[r - 1] *= reals[r];
        break;
      case Instr::kDivide:
        --r;
        reals[r - 1] /= reals[r];
        break;
      case Instr::kModulo:
        --r;
        reals[r - 1] = std::fmod(reals[r - 1], reals[r]);
        break;
      case Instr::kPower:
        --r;
        reals[r - 1] = std::pow(reals[r - 1], reals[r]);
        break;
      case Instr::kNegate:
        reals[r - 1] = -reals[r - 1];
        break;
      case Instr::kSquare:
        reals[r - 1] *= reals[r - 1];
        break;
      case Instr::kAddConst:
        reals[r - 1] += in.a.real_value;
        break;
      case Instr::kSubtractConst:
        reals[r - 1] -= in.a.real_value;
        break;
      case Instr::kMultiplyConst:
        reals[r - 1] *= in.a.real_value;
        break;
      case Instr::kDivideConst:
        reals[r - 1] /= in.a.real_value;
        break;
      case Instr::kAddVar:
        reals[r - 1] += load<double>(in.a.pointer);
        break;
      case Instr::kSubtractVar:
        reals[r - 1] -= load<double>(in.a.pointer);
        break;
      case Instr::kMultiplyVar:
        reals[r - 1] *= load<double>(in.a.pointer);
        break;
      case Instr::kDivideVar:
        reals[r - 1] /= load<double>(in.a.pointer);
        break;

      case Instr::kConcat: {
        TextSlot& a = texts[t - 2];
        const std::string_view b = texts[t - 1].view;
        --t;
        if (a.view.size() + b.size() > kMaxTextLength) {
          m.failure = kInsufficientMemory;
          a.view = {};
        } else if (a.view.data() == a.buffer.data() && a.view.size() == a.buffer.size()) {
          a.buffer.append(b);
          a.view = a.buffer;
        } else {
          m.scratch.assign(a.view);
          m.scratch.append(b);
          a.buffer.swap(m.scratch);
          a.view = a.buffer;
        }
        break;
      }

      case Instr::kCompareLong:
        --l;
        longs[l - 1] = compare_by(static_cast<OpCode>(in.compare), longs[l - 1], longs[l]);
        break;
      case Instr::kCompareReal:
        r -= 2;
        longs[l++] = compare_by(static_cast<OpCode>(in.compare), reals[r], reals[r + 1]);
        break;
      case Instr::kCompareText:
        t -= 2;
        longs[l++] = compare_by(static_cast<OpCode>(in.compare),
                                collated_compare(texts[t].view, texts[t + 1].view), 0);
        break;

      case Instr::kAnd:
        --l;
        longs[l - 1] = (longs[l - 1] != 0) & (longs[l] != 0);
        break;
      case Instr::kOr:
        --l;
        longs[l - 1] = (longs[l - 1] != 0) | (longs[l] != 0);
        break;
      case Instr::kXor:
        --l;
        longs[l - 1] = (longs[l - 1] != 0) ^ (longs[l] != 0);
        break;
      case Instr::kNot:
        longs[l - 1] = longs[l - 1] == 0;
        break;

      case Instr::kCallBuiltin:
      case Instr::kCallProcedure: {
        m.long_top = l;
        m.real_top = r;
        m.text_top = t;
        if (in.op == Instr::kCallBuiltin) {
          CallFrame frame(m, builtin_function(in.index), in.count);
          builtin_function(in.index).call(frame);
        } else {
          call_procedure(in, m);
        }
        l = m.long_top;
        r = m.real_top;
        t = m.text_top;
        break;
      }
    }
  }
  m.long_top = l;
  m.real_top = r;
  m.text_top = t;
}

}  // namespace vtn::eval
