#include "runtime/eval/code_generator.hpp"

#include <algorithm>

#include "runtime/eval/builtins.hpp"
#include "runtime/values/conversions.hpp"
#include "runtime/values/string_functions.hpp"

namespace vtn::eval {
namespace {

// The stack a value of a want lives on (truth values are LONGs: non-zero is true).
enum class Stack : uint8_t { kLong, kReal, kText };

Stack stack_of(Want want) {
  switch (want) {
    case Want::kReal:
      return Stack::kReal;
    case Want::kText:
      return Stack::kText;
    default:
      return Stack::kLong;
  }
}

Want want_of(char kind) {
  return kind == 'L' ? Want::kLong : kind == 'R' ? Want::kReal : Want::kText;
}

Want want_of(ParamKind kind) {
  return kind == ParamKind::kLong   ? Want::kLong
         : kind == ParamKind::kReal ? Want::kReal
                                    : Want::kText;
}

bool is_texty(NodeKind kind) {
  return kind == NodeKind::kText || kind == NodeKind::kPicture;
}

// A REAL variable whose storage the machine may read directly.
const double* direct_real(const TypedReference& variable) {
  return variable.type() == ValueType::REAL ? static_cast<const double*>(variable.address())
                                            : nullptr;
}
const int32_t* direct_long(const TypedReference& variable) {
  return variable.type() == ValueType::LONG ? static_cast<const int32_t*>(variable.address())
                                            : nullptr;
}

class Generator {
 public:
  Generator(const SyntaxTree& tree, Program& program) : tree_(tree), program_(program) {}

  void emit(int32_t index, Want want) {
    const Node& node = tree_.nodes[index];
    switch (node.type) {
      case Node::Type::kConstant:
        return emit_constant(node, want);
      case Node::Type::kVariable:
        return emit_variable(node, want);
      case Node::Type::kNegate:
        emit(node.left, Want::kReal);
        op(Instr::kNegate);
        return convert(Stack::kReal, want);
      case Node::Type::kBinary:
        return emit_binary(node, want);
      case Node::Type::kNot:
        emit(node.left, Want::kTruth);
        op(Instr::kNot);
        return convert(Stack::kLong, want);
      case Node::Type::kCall:
        return emit_call(node, want);
      case Node::Type::kProcedure:
        return emit_procedure(node, want);
    }
  }

  void end() { op(Instr::kEnd); }

 private:
  void op(Instr code) {
    Instruction i{};
    i.op = code;
    put(i);
  }

  void put(const Instruction& i) {
    program_.code.push_back(i);
    // Stack effects, to size the stacks.
    switch (i.op) {
      case Instr::kPushLong:
      case Instr::kLoadLongI32:
      case Instr::kLoadLong:
      case Instr::kLoadTruth:
        move(+1, 0, 0);
        break;
      case Instr::kPushReal:
      case Instr::kLoadRealF64:
      case Instr::kLoadRealI32:
      case Instr::kLoadReal:
        move(0, +1, 0);
        break;
      case Instr::kPushText:
      case Instr::kLoadText:
        move(0, 0, +1);
        break;
      case Instr::kLongToReal:
        move(-1, +1, 0);
        break;
      case Instr::kLongToText:
        move(-1, 0, +1);
        break;
      case Instr::kRealToLong:
      case Instr::kRealToTruth:
        move(+1, -1, 0);
        break;
      case Instr::kRealToText:
        move(0, -1, +1);
        break;
      case Instr::kTextToLong:
      case Instr::kTextToTruth:
        move(+1, 0, -1);
        break;
      case Instr::kTextToReal:
        move(0, +1, -1);
        break;
      case Instr::kAdd:
      case Instr::kSubtract:
      case Instr::kMultiply:
      case Instr::kDivide:
      case Instr::kModulo:
      case Instr::kPower:
        move(0, -1, 0);
        break;
      case Instr::kConcat:
        move(0, 0, -1);
        break;
      case Instr::kCompareLong:
      case Instr::kAnd:
      case Instr::kOr:
      case Instr::kXor:
        move(-1, 0, 0);
        break;
      case Instr::kCompareReal:
        move(+1, -2, 0);
        break;
      case Instr::kCompareText:
        move(+1, 0, -2);
        break;
      default:
        break;  // in place, or calls (accounted by the caller)
    }
  }

  void move(int l, int r, int t) {
    longs_ += l;
    reals_ += r;
    texts_ += t;
    program_.long_depth = std::max(program_.long_depth, longs_);
    program_.real_depth = std::max(program_.real_depth, reals_);
    program_.text_depth = std::max(program_.text_depth, texts_);
  }

  void push_long(int32_t v) {
    Instruction i{};
    i.op = Instr::kPushLong;
    i.a.long_value = v;
    put(i);
  }
  void push_real(double v) {
    Instruction i{};
    i.op = Instr::kPushReal;
    i.a.real_value = v;
    put(i);
  }
  void push_text(std::string text) {
    Instruction i{};
    i.op = Instr::kPushText;
    i.index = static_cast<int32_t>(program_.texts.size());
    program_.texts.push_back(std::move(text));
    put(i);
  }

  void convert(Stack have, Want want) {
    static constexpr Instr kNone = Instr::kCallBuiltin;  // marks "nothing to do"
    static constexpr Instr kTable[3][4] = {
        // want: LONG, REAL, text, truth
        {kNone, Instr::kLongToReal, Instr::kLongToText, kNone},                // have LONG
        {Instr::kRealToLong, kNone, Instr::kRealToText, Instr::kRealToTruth},  // have REAL
        {Instr::kTextToLong, Instr::kTextToReal, kNone, Instr::kTextToTruth},  // have text
    };
    const Instr code = kTable[static_cast<int>(have)][static_cast<int>(want)];
    if (code != kNone) op(code);
  }

  void emit_constant(const Node& node, Want want) {
    if (node.kind == NodeKind::kInteger) {
      const int32_t v = node.integer;
      switch (want) {
        case Want::kReal:
          return push_real(v);
        case Want::kText:
          return push_text(long_to_text(v));
        default:
          return push_long(v);
      }
    }
    if (node.kind == NodeKind::kReal) {
      const double v = node.real;
      switch (want) {
        case Want::kLong:
          return push_long(real_to_long(v));
        case Want::kReal:
          return push_real(v);
        case Want::kText:
          return push_text(real_to_text(v));
        case Want::kTruth:
          return push_long(v != 0 ? 1 : 0);
      }
    }
    const std::string& text = tree_.texts[node.text];
    switch (want) {
      case Want::kLong:
        return push_long(text_to_long(text));
      case Want::kReal:
        return push_real(text_to_real(text));
      case Want::kText:
        return push_text(text);
      case Want::kTruth:
        return push_long(text_is_true(text) ? 1 : 0);
    }
  }

  void emit_variable(const Node& node, Want want) {
    TypedReference* variable = tree_.bindings[node.binding]->variable.get();
    Instruction i{};
    i.a.reference = variable;
    switch (want) {
      case Want::kLong:
        if (const int32_t* p = direct_long(*variable)) {
          i.op = Instr::kLoadLongI32;
          i.a.pointer = p;
        } else {
          i.op = Instr::kLoadLong;
        }
        break;
      case Want::kReal:
        if (const double* p = direct_real(*variable)) {
          i.op = Instr::kLoadRealF64;
          i.a.pointer = p;
        } else if (const int32_t* q = direct_long(*variable)) {
          i.op = Instr::kLoadRealI32;
          i.a.pointer = q;
        } else {
          i.op = Instr::kLoadReal;
        }
        break;
      case Want::kText:
        i.op = Instr::kLoadText;
        break;
      case Want::kTruth:
        i.op = Instr::kLoadTruth;
        break;
    }
    put(i);
  }

  // The right operand of + - * / folded into the instruction, when it is a number constant or
  // a REAL variable.
  bool emit_folded(OpCode code, const Node& right) {
    static constexpr Instr kConst[] = {Instr::kMultiplyConst, Instr::kDivideConst, Instr::kAddConst,
                                       Instr::kSubtractConst};
    static constexpr Instr kVar[] = {Instr::kMultiplyVar, Instr::kDivideVar, Instr::kAddVar,
                                     Instr::kSubtractVar};
    int slot = -1;
    switch (code) {
      case OpCode::kMultiply:
        slot = 0;
        break;
      case OpCode::kDivide:
        slot = 1;
        break;
      case OpCode::kAdd:
        slot = 2;
        break;
      case OpCode::kSubtract:
        slot = 3;
        break;
      case OpCode::kPower:
        if (right.type == Node::Type::kConstant &&
            ((right.kind == NodeKind::kInteger && right.integer == 2) ||
             (right.kind == NodeKind::kReal && right.real == 2.0))) {
          op(Instr::kSquare);
          return true;
        }
        return false;
      default:
        return false;
    }
    Instruction i{};
    if (right.type == Node::Type::kConstant && !is_texty(right.kind)) {
      i.op = kConst[slot];
      i.a.real_value = right.kind == NodeKind::kInteger ? right.integer : right.real;
    } else if (right.type == Node::Type::kVariable &&
               direct_real(*tree_.bindings[right.binding]->variable) != nullptr) {
      i.op = kVar[slot];
      i.a.pointer = direct_real(*tree_.bindings[right.binding]->variable);
    } else {
      return false;
    }
    put(i);
    return true;
  }

  void emit_binary(const Node& node, Want want) {
    const Node& left = tree_.nodes[node.left];
    const Node& right = tree_.nodes[node.right];
    switch (node.op) {
      case OpCode::kConcat:
        emit(node.left, Want::kText);
        emit(node.right, Want::kText);
        op(Instr::kConcat);
        return convert(Stack::kText, want);
      case OpCode::kAnd:
      case OpCode::kOr:
      case OpCode::kXor:
        emit(node.left, Want::kTruth);
        emit(node.right, Want::kTruth);
        op(node.op == OpCode::kAnd  ? Instr::kAnd
           : node.op == OpCode::kOr ? Instr::kOr
                                    : Instr::kXor);
        return convert(Stack::kLong, want);
      case OpCode::kEqual:
      case OpCode::kNotEqual:
      case OpCode::kLess:
      case OpCode::kGreater:
      case OpCode::kLessEqual:
      case OpCode::kGreaterEqual: {
        Want operands = Want::kReal;
        Instr code = Instr::kCompareReal;
        if (left.kind == NodeKind::kInteger && right.kind == NodeKind::kInteger) {
          operands = Want::kLong;
          code = Instr::kCompareLong;
        } else if (left.kind == NodeKind::kText && right.kind == NodeKind::kText) {
          operands = Want::kText;
          code = Instr::kCompareText;
        }
        emit(node.left, operands);
        emit(node.right, operands);
        Instruction i{};
        i.op = code;
        i.compare = static_cast<uint8_t>(node.op);
        put(i);
        return convert(Stack::kLong, want);
      }
      default: {
        static constexpr struct {
          OpCode code;
          Instr instr;
        } kArithmetic[] = {
            {OpCode::kAdd, Instr::kAdd},           {OpCode::kSubtract, Instr::kSubtract},
            {OpCode::kMultiply, Instr::kMultiply}, {OpCode::kDivide, Instr::kDivide},
            {OpCode::kModulo, Instr::kModulo},     {OpCode::kPower, Instr::kPower}};
        emit(node.left, Want::kReal);
        if (!emit_folded(node.op, right)) {
          emit(node.right, Want::kReal);
          for (const auto& a : kArithmetic) {
            if (a.code == node.op) op(a.instr);
          }
        }
        return convert(Stack::kReal, want);
      }
    }
  }

  // An argument left out in the middle of the list: the function's default.
  void emit_default(int32_t number, char kind) {
    if (kind == 'T') return push_text({});
    if (kind == 'R') return push_real(0);
    push_long(number == 3 ? 1 : 0);  // INSTRING: step and start 1
  }

  void emit_call(const Node& node, Want want) {
    int32_t number = node.binding;
    const int32_t* args = tree_.arguments.data() + node.first_argument;
    if (number == kFormatNumber && node.argument_count > 0 && is_texty(tree_.nodes[args[0]].kind)) {
      number = kFormatTextNumber;
    }
    const BuiltinFunction& f = builtin_function(number);
    if (f.real_function != nullptr) {
      emit(args[0], Want::kReal);
      Instruction i{};
      i.op = Instr::kApplyReal;
      i.a.function = f.real_function;
      put(i);
      return convert(Stack::kReal, want);
    }
    int longs = 0, reals = 0, texts = 0;
    for (int i = 0; i < node.argument_count; ++i) {
      const char kind = f.arg_kind(i);
      if (args[i] < 0) {
        emit_default(number, kind);
      } else {
        emit(args[i], want_of(kind));
      }
      (kind == 'L' ? longs : kind == 'R' ? reals : texts)++;
    }
    Instruction i{};
    i.op = Instr::kCallBuiltin;
    i.index = number;
    i.count = static_cast<uint16_t>(node.argument_count);
    put(i);
    // The result enters the slot of the first argument of its kind (or a new one).
    move(-longs, -reals, -texts);
    const Stack result = stack_of(want_of(f.result));
    move(result == Stack::kLong, result == Stack::kReal, result == Stack::kText);
    convert(result, want);
  }

  void emit_procedure(const Node& node, Want want) {
    const BoundProcedure& procedure = *tree_.bindings[node.binding]->procedure;
    const int32_t* args = tree_.arguments.data() + node.first_argument;
    int longs = 0, reals = 0, texts = 0;
    for (int i = 0; i < node.argument_count; ++i) {
      const ParamKind kind = procedure.parameters[i];
      emit(args[i], want_of(kind));
      (kind == ParamKind::kLong ? longs : kind == ParamKind::kReal ? reals : texts)++;
    }
    Instruction i{};
    i.op = Instr::kCallProcedure;
    i.count = static_cast<uint16_t>(node.argument_count);
    i.a.pointer = &procedure;
    put(i);
    move(-longs, -reals, -texts);
    const Stack result = stack_of(want_of(procedure.result));
    move(result == Stack::kLong, result == Stack::kReal, result == Stack::kText);
    convert(result, want);
  }

  const SyntaxTree& tree_;
  Program& program_;
  int longs_ = 0;
  int reals_ = 0;
  int texts_ = 0;
};

}  // namespace

Program generate_program(const SyntaxTree& tree, Want want) {
  Program program;
  Generator generator(tree, program);
  generator.emit(tree.root, want);
  generator.end();
  program.real_only =
      program.real_depth <= kRealOnlyDepth &&
      std::all_of(program.code.begin(), program.code.end(), [](const Instruction& i) {
        switch (i.op) {
          case Instr::kPushReal:
          case Instr::kLoadRealF64:
          case Instr::kLoadRealI32:
          case Instr::kLoadReal:
          case Instr::kAdd:
          case Instr::kSubtract:
          case Instr::kMultiply:
          case Instr::kDivide:
          case Instr::kModulo:
          case Instr::kPower:
          case Instr::kNegate:
          case Instr::kSquare:
          case Instr::kApplyReal:
          case Instr::kAddConst:
          case Instr::kSubtractConst:
          case Instr::kMultiplyConst:
          case Instr::kDivideConst:
          case Instr::kAddVar:
          case Instr::kSubtractVar:
          case Instr::kMultiplyVar:
          case Instr::kDivideVar:
          case Instr::kEnd:
            return true;
          default:
            return false;
        }
      });
  // A call's result may need a slot where its arguments had none.
  program.long_depth += 1;
  program.real_depth += 1;
  program.text_depth += 1;
  return program;
}

}  // namespace vtn::eval
