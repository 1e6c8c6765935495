#include "runtime/eval/record_filters.hpp"

#include <algorithm>
#include <iterator>

#include "runtime/eval/expression.hpp"
#include "runtime/eval/scopes.hpp"
#include "runtime/files/tarnwell/record_filter.hpp"
#include "runtime/values/typed_reference.hpp"

namespace vtn {
namespace {

constexpr int32_t kNotAnExpression = 800;

class ExpressionFilter : public tarnwell::RecordFilter {
 public:
  explicit ExpressionFilter(std::unique_ptr<Expression> expression)
      : expression_(std::move(expression)) {}
  bool accepts() override { return expression_->evaluate_truth(); }

 private:
  std::unique_ptr<Expression> expression_;
};

// The field types a filter can read; others (none a record-file table declares) stay unbound.
constexpr ValueType kBindable[] = {ValueType::BYTE,    ValueType::SHORT,    ValueType::USHORT,
                                   ValueType::LONG,    ValueType::ULONG,    ValueType::DATE,
                                   ValueType::TIME,    ValueType::SREAL,    ValueType::REAL,
                                   ValueType::DECIMAL, ValueType::PDECIMAL, ValueType::STRING,
                                   ValueType::CSTRING, ValueType::PSTRING,  ValueType::GROUP};

bool bindable(ValueType type) {
  return std::find(std::begin(kBindable), std::end(kBindable), type) != std::end(kBindable);
}

void bind_field(const tarnwell::FilterField& f) {
  auto reference = [&] { return make_typed_reference(f.type, f.address, f.size, f.places); };
  bind_variable(f.label, reference());
  const size_t colon = f.label.rfind(':');
  if (colon != std::string_view::npos && colon + 1 < f.label.size())
    bind_variable(f.label.substr(colon + 1), reference());
}

tarnwell::FilterCompilation compile_filter(std::string_view text,
                                           std::span<const tarnwell::FilterField> fields) {
  PUSHSCOPE(1);
  for (const tarnwell::FilterField& f : fields)
    if (bindable(f.type)) bind_field(f);
  eval::CompileError error;
  std::unique_ptr<Expression> expression = Expression::compile(text, &error);
  // The compiled expression keeps the bindings it uses; the scope can go at once.
  POPSCOPE();
  tarnwell::FilterCompilation result;
  if (!expression) {
    result.error = error.code != 0 ? error.code : kNotAnExpression;
    result.reason = error.code == 801 ? "unknown name " + error.name
                                      : error.reason + " at " + std::to_string(error.offset + 1);
    return result;
  }
  result.filter = std::make_unique<ExpressionFilter>(std::move(expression));
  return result;
}

[[maybe_unused]] const bool installed_on_link = (install_record_filters(), true);

}  // namespace

void install_record_filters() {
  tarnwell::set_record_filter_compiler(compile_filter);
}

}  // namespace vtn
