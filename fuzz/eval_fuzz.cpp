// Compile and evaluate arbitrary expression texts over a few bound variables, in every kind: no
// crash, no leak, no hang. Time per input is bounded because the evaluator bounds nesting, tree
// depth and text sizes; loops do not exist in the language.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/eval/expression.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/values/fixed_string.hpp"

namespace {

int32_t number = 150;
double rate = 0.25;
vtn::String<12> name = "Smith";

void bind_once() {
  static bool done = false;
  if (done) return;
  vtn::bind("number", number);
  vtn::bind("rate", rate);
  vtn::bind("name", name);
  vtn::bind_procedure(
      "twice", {vtn::eval::ParamKind::kReal}, vtn::eval::ParamKind::kReal,
      [](auto args) { return vtn::eval::ProcedureValue::of_real(2 * args[0].real_value); });
  done = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // long texts add nothing that short ones do not reach
  bind_once();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto expression = vtn::Expression::compile(text);
  if (!expression) return 0;
  (void)expression->evaluate_long();
  (void)expression->evaluate_real();
  (void)expression->evaluate_text();
  (void)expression->evaluate_truth();
  return 0;
}
