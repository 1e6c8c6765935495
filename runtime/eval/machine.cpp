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

// Each instruction jumps straight to the next one's code (threaded dispatch), which lets the
// processor predict the jumps of a program as a whole.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
void run(const Program& program, Machine& m) {
  static const void* const kLabels[] = {
#define VTN_EVAL_LABEL(name) &&name,
      VTN_EVAL_INSTRUCTIONS(VTN_EVAL_LABEL)
#undef VTN_EVAL_LABEL
  };
  int32_t* longs = m.longs.data();
  double* reals = m.reals.data();
  TextSlot* texts = m.texts.data();
  int l = 0, r = 0, t = 0;
  const Instruction* ip = program.code.data();
#define VTN_NEXT goto* kLabels[static_cast<int>((++ip)->op)]
  goto* kLabels[static_cast<int>(ip->op)];
kPushLong:
  longs[l++] = ip->a.long_value;
  VTN_NEXT;
kPushReal:
  reals[r++] = ip->a.real_value;
  VTN_NEXT;
kPushText:
  texts[t++].view = program.texts[ip->index];
  VTN_NEXT;
kLoadLongI32:
  longs[l++] = load<int32_t>(ip->a.pointer);
  VTN_NEXT;
kLoadRealF64:
  reals[r++] = load<double>(ip->a.pointer);
  VTN_NEXT;
kLoadRealI32:
  reals[r++] = load<int32_t>(ip->a.pointer);
  VTN_NEXT;
kLoadLong:
  longs[l++] = ip->a.reference->read_long();
  VTN_NEXT;
kLoadReal:
  reals[r++] = ip->a.reference->read_real();
  VTN_NEXT;
kLoadText:
  load_text(*ip->a.reference, texts[t++]);
  VTN_NEXT;
kLoadTruth:
  longs[l++] = ip->a.reference->is_empty() ? 0 : 1;
  VTN_NEXT;

kLongToReal:
  reals[r++] = longs[--l];
  VTN_NEXT;
kLongToText : {
  TextSlot& s = texts[t++];
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, longs[--l]).ptr;
  s.buffer.assign(digits, end);
  s.view = s.buffer;
  VTN_NEXT;
}
kRealToLong:
  longs[l++] = real_to_long(reals[--r]);
  VTN_NEXT;
kRealToText:
  texts[t++].assign(real_to_text(reals[--r]));
  VTN_NEXT;
kRealToTruth:
  longs[l++] = reals[--r] != 0 ? 1 : 0;
  VTN_NEXT;
kTextToLong:
  longs[l++] = text_to_long(texts[--t].view);
  VTN_NEXT;
kTextToReal:
  reals[r++] = text_to_real(texts[--t].view);
  VTN_NEXT;
kTextToTruth:
  longs[l++] = text_is_true(texts[--t].view) ? 1 : 0;
  VTN_NEXT;

kAdd:
  --r;
  reals[r - 1] += reals[r];
  VTN_NEXT;
kSubtract:
  --r;
  reals[r - 1] -= reals[r];
  VTN_NEXT;
kMultiply:
  --r;
  reals[r - 1] *= reals[r];
  VTN_NEXT;
kDivide:
  --r;
  reals[r - 1] /= reals[r];
  VTN_NEXT;
kModulo:
  --r;
  reals[r - 1] = std::fmod(reals[r - 1], reals[r]);
  VTN_NEXT;
kPower:
  --r;
  reals[r - 1] = std::pow(reals[r - 1], reals[r]);
  VTN_NEXT;
kNegate:
  reals[r - 1] = -reals[r - 1];
  VTN_NEXT;
kApplyReal:
  reals[r - 1] = ip->a.function(reals[r - 1]);
  VTN_NEXT;
kSquare:
  reals[r - 1] *= reals[r - 1];
  VTN_NEXT;
kAddConst:
  reals[r - 1] += ip->a.real_value;
  VTN_NEXT;
kSubtractConst:
  reals[r - 1] -= ip->a.real_value;
  VTN_NEXT;
kMultiplyConst:
  reals[r - 1] *= ip->a.real_value;
  VTN_NEXT;
kDivideConst:
  reals[r - 1] /= ip->a.real_value;
  VTN_NEXT;
kAddVar:
  reals[r - 1] += load<double>(ip->a.pointer);
  VTN_NEXT;
kSubtractVar:
  reals[r - 1] -= load<double>(ip->a.pointer);
  VTN_NEXT;
kMultiplyVar:
  reals[r - 1] *= load<double>(ip->a.pointer);
  VTN_NEXT;
kDivideVar:
  reals[r - 1] /= load<double>(ip->a.pointer);
  VTN_NEXT;

kConcat : {
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
  VTN_NEXT;
}

kCompareLong:
  --l;
  longs[l - 1] = compare_by(static_cast<OpCode>(ip->compare), longs[l - 1], longs[l]);
  VTN_NEXT;
kCompareReal:
  r -= 2;
  longs[l++] = compare_by(static_cast<OpCode>(ip->compare), reals[r], reals[r + 1]);
  VTN_NEXT;
kCompareText:
  t -= 2;
  longs[l++] = compare_by(static_cast<OpCode>(ip->compare),
                          collated_compare(texts[t].view, texts[t + 1].view), 0);
  VTN_NEXT;

kAnd:
  --l;
  longs[l - 1] = (longs[l - 1] != 0) & (longs[l] != 0);
  VTN_NEXT;
kOr:
  --l;
  longs[l - 1] = (longs[l - 1] != 0) | (longs[l] != 0);
  VTN_NEXT;
kXor:
  --l;
  longs[l - 1] = (longs[l - 1] != 0) ^ (longs[l] != 0);
  VTN_NEXT;
kNot:
  longs[l - 1] = longs[l - 1] == 0;
  VTN_NEXT;

kCallBuiltin:
kCallProcedure : {
  m.long_top = l;
  m.real_top = r;
  m.text_top = t;
  if (ip->op == Instr::kCallBuiltin) {
    CallFrame frame(m, builtin_function(ip->index), ip->count);
    builtin_function(ip->index).call(frame);
  } else {
    call_procedure(*ip, m);
  }
  l = m.long_top;
  r = m.real_top;
  t = m.text_top;
  VTN_NEXT;
}
kEnd:
  m.long_top = l;
  m.real_top = r;
  m.text_top = t;
#undef VTN_NEXT
}

// The same for programs of REAL instructions only, with the stack in registers and on the C++
// stack: the common case of arithmetic over bound numbers.
double run_real(const Program& program) {
  static const void* const kLabels[] = {
#define VTN_EVAL_LABEL(name) &&real_##name,
      VTN_EVAL_INSTRUCTIONS(VTN_EVAL_LABEL)
#undef VTN_EVAL_LABEL
  };
  double stack[kRealOnlyDepth];
  double* top = stack - 1;  // the top entry
  const Instruction* ip = program.code.data();
#define VTN_NEXT goto* kLabels[static_cast<int>((++ip)->op)]
#define VTN_OTHER(name) real_##name : return 0;
  goto* kLabels[static_cast<int>(ip->op)];
real_kPushReal:
  *++top = ip->a.real_value;
  VTN_NEXT;
real_kLoadRealF64:
  *++top = load<double>(ip->a.pointer);
  VTN_NEXT;
real_kLoadRealI32:
  *++top = load<int32_t>(ip->a.pointer);
  VTN_NEXT;
real_kLoadReal:
  *++top = ip->a.reference->read_real();
  VTN_NEXT;
real_kAdd:
  --top;
  top[0] += top[1];
  VTN_NEXT;
real_kSubtract:
  --top;
  top[0] -= top[1];
  VTN_NEXT;
real_kMultiply:
  --top;
  top[0] *= top[1];
  VTN_NEXT;
real_kDivide:
  --top;
  top[0] /= top[1];
  VTN_NEXT;
real_kModulo:
  --top;
  top[0] = std::fmod(top[0], top[1]);
  VTN_NEXT;
real_kPower:
  --top;
  top[0] = std::pow(top[0], top[1]);
  VTN_NEXT;
real_kNegate:
  *top = -*top;
  VTN_NEXT;
real_kSquare:
  *top *= *top;
  VTN_NEXT;
real_kApplyReal:
  *top = ip->a.function(*top);
  VTN_NEXT;
real_kAddConst:
  *top += ip->a.real_value;
  VTN_NEXT;
real_kSubtractConst:
  *top -= ip->a.real_value;
  VTN_NEXT;
real_kMultiplyConst:
  *top *= ip->a.real_value;
  VTN_NEXT;
real_kDivideConst:
  *top /= ip->a.real_value;
  VTN_NEXT;
real_kAddVar:
  *top += load<double>(ip->a.pointer);
  VTN_NEXT;
real_kSubtractVar:
  *top -= load<double>(ip->a.pointer);
  VTN_NEXT;
real_kMultiplyVar:
  *top *= load<double>(ip->a.pointer);
  VTN_NEXT;
real_kDivideVar:
  *top /= load<double>(ip->a.pointer);
  VTN_NEXT;
real_kEnd:
  return *top;
  // Never reached: a real_only program holds none of these.
  VTN_OTHER(kPushLong)
  VTN_OTHER(kPushText)
  VTN_OTHER(kLoadLongI32)
  VTN_OTHER(kLoadLong)
  VTN_OTHER(kLoadText)
  VTN_OTHER(kLoadTruth)
  VTN_OTHER(kLongToReal)
  VTN_OTHER(kLongToText)
  VTN_OTHER(kRealToLong)
  VTN_OTHER(kRealToText)
  VTN_OTHER(kRealToTruth)
  VTN_OTHER(kTextToLong)
  VTN_OTHER(kTextToReal)
  VTN_OTHER(kTextToTruth)
  VTN_OTHER(kConcat)
  VTN_OTHER(kCompareLong)
  VTN_OTHER(kCompareReal)
  VTN_OTHER(kCompareText)
  VTN_OTHER(kAnd)
  VTN_OTHER(kOr)
  VTN_OTHER(kXor)
  VTN_OTHER(kNot)
  VTN_OTHER(kCallBuiltin)
  VTN_OTHER(kCallProcedure)
#undef VTN_OTHER
#undef VTN_NEXT
}
#pragma GCC diagnostic pop

}  // namespace vtn::eval
