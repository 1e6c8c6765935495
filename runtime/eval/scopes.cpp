#include "runtime/eval/scopes.hpp"

#include <vector>

#include "runtime/core/fatal_error.hpp"
#include "runtime/eval/scanner.hpp"

namespace vtn {
namespace eval {
namespace {

constexpr size_t kMaxBindName = 99;
constexpr int32_t kMismatchedScope = 802;

struct ScopeRecord {
  std::unique_ptr<NameTable> table;  // the table that was current when the scope was pushed
  bool hide = false;
};

struct ScopeList {
  std::unique_ptr<NameTable> current = std::make_unique<NameTable>();
  std::vector<ScopeRecord> records;  // the top is the back
};

ScopeList& scopes() {
  static ScopeList list;
  return list;
}

void enter(std::shared_ptr<NameRecord> record) {
  if (record->name.empty()) return;  // nothing could ever refer to it
  scopes().current->bind(std::move(record));
}

}  // namespace

std::shared_ptr<const NameRecord> lookup_name(std::string_view name) {
  ScopeList& list = scopes();
  if (auto found = list.current->find_bound(name)) return found;
  if (auto found = find_predefined(name)) return found;
  for (auto it = list.records.rbegin(); it != list.records.rend(); ++it) {
    if (it->hide) break;
    if (auto found = it->table->find_bound(name)) return found;
  }
  return nullptr;
}

std::string_view bind_name(std::string_view text) {
  text = text.substr(0, kMaxBindName);
  size_t end = text.size();
  while (end > 0 && !is_name_char(static_cast<uint8_t>(text[end - 1]))) --end;
  return text.substr(0, end);
}

int scope_depth() {
  return static_cast<int>(scopes().records.size());
}

void reset_scopes() {
  ScopeList& list = scopes();
  list.records.clear();
  list.current = std::make_unique<NameTable>();
}

}  // namespace eval

void bind_variable(std::string_view name, std::unique_ptr<TypedReference> variable) {
  auto record = std::make_shared<eval::NameRecord>();
  record->type = eval::NameRecord::Type::kVariable;
  record->name = eval::bind_name(name);
  record->variable = std::move(variable);
  eval::enter(std::move(record));
}

void bind(std::string_view name, int32_t& variable) {
  bind_variable(name, make_typed_reference(ValueType::LONG, &variable));
}

void bind(std::string_view name, double& variable) {
  bind_variable(name, make_typed_reference(ValueType::REAL, &variable));
}

void bind_procedure(std::string_view name, std::initializer_list<eval::ParamKind> parameters,
                    eval::ParamKind result, eval::BoundProcedure::Body body) {
  auto procedure = std::make_shared<eval::BoundProcedure>();
  procedure->body = std::move(body);
  procedure->parameters.assign(parameters.begin(), parameters.end());
  procedure->result = result;
  auto record = std::make_shared<eval::NameRecord>();
  record->type = eval::NameRecord::Type::kProcedure;
  record->name = eval::bind_name(name);
  record->procedure = std::move(procedure);
  eval::enter(std::move(record));
}

void BIND(std::unique_ptr<TypedReference> variable) {
  const std::string name = string_stack().pop_string();
  bind_variable(name, std::move(variable));
}

void PUSHSCOPE(int32_t keep) {
  eval::ScopeList& list = eval::scopes();
  list.records.push_back({std::move(list.current), keep == 0});
  list.current = std::make_unique<eval::NameTable>();
}

void POPSCOPE() {
  eval::ScopeList& list = eval::scopes();
  if (list.records.empty()) {
    fatal_runtime_error(eval::kMismatchedScope, "Mismatched POPSCOPE");
    return;  // only after the program procedure has returned
  }
  list.current = std::move(list.records.back().table);
  list.records.pop_back();
}

}  // namespace vtn
