#include "runtime/eval/name_table.hpp"

#include <algorithm>

#include "runtime/eval/builtins.hpp"
#include "runtime/platform/char_classes.hpp"

namespace vtn::eval {

bool NameLess::operator()(std::string_view a, std::string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = platform::char_upper(static_cast<uint8_t>(a[i]));
    const uint8_t y = platform::char_upper(static_cast<uint8_t>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

void NameTable::bind(std::shared_ptr<const NameRecord> record) {
  auto it = names_.find(std::string_view(record->name));
  if (it != names_.end()) {
    it->second = std::move(record);
  } else {
    std::string key = record->name;
    names_.emplace(std::move(key), std::move(record));
  }
}

std::shared_ptr<const NameRecord> NameTable::find_bound(std::string_view name) const {
  auto it = names_.find(name);
  return it == names_.end() ? nullptr : it->second;
}

namespace {

struct WordEntry {
  const char* name;
  OperatorWord word;
};
constexpr WordEntry kOperatorWords[] = {
    {"AND", OperatorWord::kAnd},
    {"NOT", OperatorWord::kNot},
    {"OR", OperatorWord::kOr},
    {"XOR", OperatorWord::kXor},
};

// Every built-in function and operator word, made once.
const NameTable& predefined_names() {
  static const NameTable table = [] {
    NameTable t;
    for (const BuiltinFunction& f : builtin_functions()) {
      if (f.name == nullptr) continue;  // internal variants have no name
      auto record = std::make_shared<NameRecord>();
      record->type = NameRecord::Type::kBuiltin;
      record->name = f.name;
      record->builtin = &f;
      t.bind(std::move(record));
    }
    for (const WordEntry& w : kOperatorWords) {
      auto record = std::make_shared<NameRecord>();
      record->type = NameRecord::Type::kOperator;
      record->name = w.name;
      record->word = w.word;
      t.bind(std::move(record));
    }
    return t;
  }();
  return table;
}

}  // namespace

std::shared_ptr<const NameRecord> find_predefined(std::string_view name) {
  return predefined_names().find_bound(name);
}

}  // namespace vtn::eval
