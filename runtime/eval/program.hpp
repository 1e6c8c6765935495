// The compiled form that evaluation runs: a flat list of instructions for a stack machine with
// three stacks (LONG, REAL and text), made from the node tree once for each kind a consumer asks
// for. The kind in which every node is evaluated is fixed by its consumer, so it is settled when
// the program is made, and evaluation is one loop without recursion.
//
// Numbers never allocate: the stacks are sized when the program is made. Each text slot keeps its
// own buffer between evaluations, so a text result reuses the memory of the previous one.
//
// Text results are bounded (kMaxTextLength); a function that would make a longer text gives an
// empty one instead and the evaluation reports error 8, "Insufficient Memory".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/eval/name_table.hpp"

namespace vtn::eval {

// Bounds what one expression can make: with at most 25 arguments to a call, a few hundred MiB.
inline constexpr size_t kMaxTextLength = size_t{1} << 24;  // 16 MiB
inline constexpr int32_t kInsufficientMemory = 8;

// The instructions. Constants and variables: kPushLong (a.long_value), kPushReal
// (a.real_value), kPushText (texts[index]); kLoadLongI32, kLoadRealF64 and kLoadRealI32 read a LONG
// or REAL variable's storage at a.pointer directly, kLoadLong, kLoadReal, kLoadText and kLoadTruth
// (1 when the variable holds no empty value) go through its typed reference a.reference.
// Conversions of the top entry: k<From>To<To>. REAL arithmetic: the *Const forms take their right
// operand from a.real_value, the *Var forms from the REAL variable at a.pointer; kApplyReal
// applies a.function to the top. Comparisons (the operator in `compare`) of two LONGs, REALs or
// texts give a LONG; kAnd, kOr, kXor and kNot work on truth values. kCallBuiltin calls the
// built-in numbered `index`, kCallProcedure the procedure at a.pointer, with `count` arguments.
// kEnd ends every program.
#define VTN_EVAL_INSTRUCTIONS(X)                                                               \
  X(kPushLong)                                                                                 \
  X(kPushReal)                                                                                 \
  X(kPushText) X(kLoadLongI32) X(kLoadRealF64) X(kLoadRealI32) X(kLoadLong) X(kLoadReal)       \
      X(kLoadText) X(kLoadTruth) X(kLongToReal) X(kLongToText) X(kRealToLong) X(kRealToText)   \
          X(kRealToTruth) X(kTextToLong) X(kTextToReal) X(kTextToTruth) X(kAdd) X(kSubtract)   \
              X(kMultiply) X(kDivide) X(kModulo) X(kPower) X(kNegate) X(kSquare) X(kApplyReal) \
                  X(kAddConst) X(kSubtractConst) X(kMultiplyConst) X(kDivideConst) X(kAddVar)  \
                      X(kSubtractVar) X(kMultiplyVar) X(kDivideVar) X(kConcat) X(kCompareLong) \
                          X(kCompareReal) X(kCompareText) X(kAnd) X(kOr) X(kXor) X(kNot)       \
                              X(kCallBuiltin) X(kCallProcedure) X(kEnd)

enum class Instr : uint8_t {
#define VTN_EVAL_ENUMERATOR(name) name,
  VTN_EVAL_INSTRUCTIONS(VTN_EVAL_ENUMERATOR)
#undef VTN_EVAL_ENUMERATOR
};

struct Instruction {
  Instr op;
  uint8_t compare = 0;  // kCompare*: the OpCode of the comparison
  uint16_t count = 0;   // kCall*: the number of arguments
  int32_t index = 0;    // kPushText: constant; kCallBuiltin: function; kCallProcedure: slot
  union {
    int32_t long_value;
    double real_value;
    const void* pointer;
    TypedReference* reference;
    double (*function)(double);
  } a{};
};

struct Program {
  std::vector<Instruction> code;
  std::vector<std::string> texts;  // the text constants
  int long_depth = 0;              // the deepest each stack goes
  int real_depth = 0;
  int text_depth = 0;
  // Only REAL instructions, within kRealOnlyDepth: run_real evaluates it with no machine at all.
  bool real_only = false;
};

inline constexpr int kRealOnlyDepth = 64;

// One slot of the text stack: the text, which may point into the slot's own buffer, into a
// constant or into a variable's storage.
struct TextSlot {
  std::string_view view;
  std::string buffer;

  // Copies `text` into the slot's buffer. `text` may point into the buffer itself.
  void assign(std::string_view text);
};

// The stacks of one evaluation and what it found amiss.
struct Machine {
  std::vector<int32_t> longs;
  std::vector<double> reals;
  std::vector<TextSlot> texts;
  int long_top = 0;  // entries in use
  int real_top = 0;
  int text_top = 0;
  std::string scratch;  // where functions build a text result before it enters its slot
  int32_t failure = 0;  // run-time error found while evaluating (kInsufficientMemory), 0 if none

  void reserve(const Program& program);
};

// Runs `program` on `machine`, leaving its one result on the stack of its kind.
void run(const Program& program, Machine& machine);
// The value of a real_only program.
double run_real(const Program& program);

// REAL to LONG as the run-time converts: truncated toward zero, the low 32 bits kept; NaN, the
// infinities and values beyond 2^63 give -2147483648.
int32_t real_to_long(double value);

}  // namespace vtn::eval
