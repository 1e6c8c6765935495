// The name table of the evaluator: the names that an expression may use, ordered without regard
// to letter case. A name is a bound variable (a typed reference to the program's storage), a
// bound procedure, a built-in function or an operator word (AND, OR, XOR, NOT). Binding a name
// that is already in the table replaces it.
//
// Built-in functions and operator words belong to every table: a table answers for them unless
// it holds a binding of the same name, exactly as if they had been entered into it when it was
// first used. They are not stored, so that opening a scope costs nothing.
//
// Records are shared: a compiled expression keeps the records it uses alive, so rebinding a name
// or closing its scope never leaves a compiled expression pointing at freed memory (the storage
// a variable refers to remains the program's to keep alive).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/eval/value_kind.hpp"
#include "runtime/values/typed_reference.hpp"

namespace vtn::eval {

// The operator words, with their operator codes.
enum class OperatorWord : uint8_t { kNot = 16, kAnd = 17, kOr = 18, kXor = 19 };

// A procedure bound by the program. It receives its arguments in the kinds it declared, in order,
// and returns a value of its result kind (a value of another kind is converted).
struct BoundProcedure {
  using Body = std::function<ProcedureValue(std::span<const ProcedureValue> arguments)>;
  Body body;
  std::vector<ParamKind> parameters;
  ParamKind result = ParamKind::kLong;
};

struct BuiltinFunction;  // builtins.hpp

struct NameRecord {
  enum class Type : uint8_t { kVariable, kProcedure, kBuiltin, kOperator };

  Type type = Type::kVariable;
  std::string name;                           // as bound
  std::shared_ptr<TypedReference> variable;   // kVariable
  std::shared_ptr<BoundProcedure> procedure;  // kProcedure
  const BuiltinFunction* builtin = nullptr;   // kBuiltin
  OperatorWord word = OperatorWord::kNot;     // kOperator
};

// Orders names as the table does: byte by byte after mapping each byte to upper case through the
// platform's fixed case map (the locale may change its case tables; the table's order may not).
struct NameLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class NameTable {
 public:
  // Enters or replaces a binding.
  void bind(std::shared_ptr<const NameRecord> record);
  // The binding of `name` in this table alone, or null.
  std::shared_ptr<const NameRecord> find_bound(std::string_view name) const;
  size_t size() const { return names_.size(); }

 private:
  std::map<std::string, std::shared_ptr<const NameRecord>, NameLess> names_;
};

// The built-in function or operator word of a name, shared by every table; null for other names.
std::shared_ptr<const NameRecord> find_predefined(std::string_view name);

}  // namespace vtn::eval
