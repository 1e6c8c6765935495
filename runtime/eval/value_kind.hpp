// The kinds in which the evaluator computes, and the value a bound procedure receives and returns.
//
// Every node of a compiled expression has a kind (integer, REAL, text or picture), and is
// evaluated in the kind its consumer asks for: a LONG, a REAL, a text, or a truth value. The
// conversions between them are the run-time's own (runtime/values/conversions.hpp).
#pragma once

#include <cstdint>
#include <string>

namespace vtn::eval {

// What a node is, as the comparison and the truth rules see it.
enum class NodeKind : uint8_t {
  kInteger = 0,  // constants without a point, LONG-like variables, integer functions
  kReal = 1,
  kText = 2,
  kPicture = 3,  // a picture written in the expression (@N10.2): its text
};

// What a consumer asks for.
enum class Want : uint8_t {
  kLong = 0,
  kReal = 1,
  kText = 2,
  kTruth = 3,  // a LONG that is 1 or 0 by the truth rules of the node
};

// The kind of a parameter or result of a bound procedure.
enum class ParamKind : uint8_t { kLong = 0, kReal = 1, kText = 2 };

// An argument or result of a bound procedure: the member named by `kind` holds the value.
struct ProcedureValue {
  ParamKind kind = ParamKind::kLong;
  int32_t long_value = 0;
  double real_value = 0;
  std::string text;  // 1251 bytes

  static ProcedureValue of_long(int32_t v) { return {ParamKind::kLong, v, 0, {}}; }
  static ProcedureValue of_real(double v) { return {ParamKind::kReal, 0, v, {}}; }
  static ProcedureValue of_text(std::string v) { return {ParamKind::kText, 0, 0, std::move(v)}; }
};

}  // namespace vtn::eval
