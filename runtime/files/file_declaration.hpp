// The C++ face of a FILE declaration. A program describes each file in a few readable lines:
//
//   File pack_table{FileDeclaration("PNM")
//                       .driver(tarnwell_entry)
//                       .name("PACKNAME")
//                       .create().thread()
//                       .field("NUMBER", ftype::SHORT)
//                       .field("NAME", ftype::STRING(40))
//                       .field("PATH", ftype::STRING(120))
//                       .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY | KA_NOCASE | KA_OPT)};
//
// and File builds from it the FileBlock, the KeyBlocks, the MemoBlocks, the record buffer and the
// RecordType that the drivers and the trace read. Labels get the file's prefix ("PNM:NUMBER")
// unless they carry one. Key components name fields by label; a leading "-" makes a component
// descending ("+" or nothing: ascending).
//
// A declaration that cannot be built (an unknown component or OVER target, an unclosed GROUP, too
// many keys, ...) is a mistake in the program, not in its input: File's constructor throws
// std::invalid_argument naming it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/files/field_info.hpp"
#include "runtime/files/file_block.hpp"
#include "runtime/values/value_type.hpp"

namespace vtn {

// The type of a declared field: its ValueType code, byte size and decimal places.
struct FieldType {
  uint8_t code = 0;
  uint32_t size = 0;
  uint8_t places = 0;
};

namespace ftype {
constexpr FieldType of(ValueType type, uint32_t size, uint8_t places = 0) {
  return {static_cast<uint8_t>(type), size, places};
}
inline constexpr FieldType BYTE = of(ValueType::BYTE, 1);
inline constexpr FieldType SHORT = of(ValueType::SHORT, 2);
inline constexpr FieldType USHORT = of(ValueType::USHORT, 2);
inline constexpr FieldType DATE = of(ValueType::DATE, 4);
inline constexpr FieldType TIME = of(ValueType::TIME, 4);
inline constexpr FieldType LONG = of(ValueType::LONG, 4);
inline constexpr FieldType ULONG = of(ValueType::ULONG, 4);
inline constexpr FieldType SREAL = of(ValueType::SREAL, 4);
inline constexpr FieldType REAL = of(ValueType::REAL, 8);
inline constexpr FieldType BFLOAT4 = of(ValueType::BFLOAT4, 4);
inline constexpr FieldType BFLOAT8 = of(ValueType::BFLOAT8, 8);
// DECIMAL(digits, places): digits / 2 + 1 bytes hold up to 2 x bytes - 1 digits.
constexpr FieldType DECIMAL(uint32_t digits, uint8_t places = 0) {
  return of(ValueType::DECIMAL, digits / 2 + 1, places);
}
constexpr FieldType PDECIMAL(uint32_t digits, uint8_t places = 0) {
  return of(ValueType::PDECIMAL, digits / 2 + 1, places);
}
constexpr FieldType STRING(uint32_t length) {
  return of(ValueType::STRING, length);
}
constexpr FieldType CSTRING(uint32_t length) {
  return of(ValueType::CSTRING, length);
}
constexpr FieldType PSTRING(uint32_t length) {
  return of(ValueType::PSTRING, length);
}
}  // namespace ftype

// Optional parts of a field or GROUP declaration.
struct FieldOptions {
  std::vector<uint32_t> dim = {};  // DIM(a, b, ...)
  std::string over = {};           // OVER(label): share the storage of an earlier field
  std::string name = {};           // external NAME
  std::string picture = {};        // display picture of a text field, without the "@"
};

struct MemoOptions {
  bool binary = false;
  std::string name = {};  // external NAME
};

class FileDeclaration {
 public:
  explicit FileDeclaration(std::string prefix);

  // DRIVER(entry, options).
  FileDeclaration& driver(DriverEntry entry, std::string options = {});
  // NAME as a constant, or as a variable whose storage the program owns (blank-padded or
  // NUL-terminated text of `size` bytes).
  FileDeclaration& name(std::string constant);
  FileDeclaration& name_variable(const char* storage, uint32_t size);
  FileDeclaration& owner(std::string constant);
  FileDeclaration& owner_variable(const char* storage, uint32_t size);
  FileDeclaration& options_variable(const char* storage, uint32_t size);

  FileDeclaration& encrypt() { return attribute(FA_ENCRYPT); }
  FileDeclaration& create() { return attribute(FA_CREATE); }
  FileDeclaration& reclaim() { return attribute(FA_RECLAIM); }
  FileDeclaration& thread() { return attribute(FA_THREAD); }
  FileDeclaration& oem() { return attribute(FA_OEM); }
  FileDeclaration& attribute(uint8_t bits);

  // Progress events during key builds, every `step` records.
  FileDeclaration& build_events(BuildEventHandler handler, uint32_t step);

  // The RECORD, field by field; a GROUP's members follow group() up to its end().
  FileDeclaration& field(std::string label, FieldType type, FieldOptions options = {});
  FileDeclaration& group(std::string label, FieldOptions options = {});
  FileDeclaration& end();

  // KEY and INDEX (attributes KA_*; INDEX adds KA_INDEX).
  FileDeclaration& key(std::string label, std::vector<std::string> components,
                       uint32_t attributes = 0, std::string name = {});
  FileDeclaration& index(std::string label, std::vector<std::string> components,
                         uint32_t attributes = 0, std::string name = {});

  // MEMO(size) and BLOB.
  FileDeclaration& memo(std::string label, uint32_t size, MemoOptions options = {});
  FileDeclaration& blob(std::string label, MemoOptions options = {});

 private:
  friend class File;

  struct FieldSpec {
    std::string label;
    bool group_start = false;
    bool group_end = false;
    FieldType type;
    FieldOptions options;
  };
  struct KeySpec {
    std::string label;
    std::vector<std::string> components;
    uint32_t attributes = 0;
    std::string name;
  };
  struct MemoSpec {
    std::string label;
    uint32_t size = 0;
    bool blob = false;
    MemoOptions options;
  };
  struct TextSpec {
    std::string constant;
    const char* variable = nullptr;
    uint32_t variable_size = 0;
    bool present = false;
  };

  std::string labelled(std::string label) const;

  std::string prefix_;
  DriverEntry entry_ = nullptr;
  TextSpec name_, owner_, options_;
  uint8_t attributes_ = 0;
  BuildEventHandler build_events_ = nullptr;
  uint32_t build_event_step_ = 0;
  std::vector<FieldSpec> fields_;
  std::vector<KeySpec> keys_;
  std::vector<MemoSpec> memos_;
};

// A declared FILE: owns the blocks built from its declaration for the whole run. Statements take
// it wherever they take a FileBlock; THREAD files are resolved to the calling thread's copy by the
// statements and by record(), key() and memo().
class File {
 public:
  explicit File(const FileDeclaration& declaration);
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // The declared FileBlock (statements resolve THREAD copies themselves).
  operator FileBlock&() { return block_; }
  FileBlock& declared() { return block_; }
  // The calling thread's FileBlock.
  FileBlock& block();

  // A key or memo by label (with or without the prefix), as the calling thread sees it.
  // REQUIRES: the label was declared (otherwise std::invalid_argument).
  KeyBlock& key(std::string_view label);
  MemoBlock& memo(std::string_view label);

  // The calling thread's record buffer, raw or as the program's record struct.
  char* record() { return block().record; }
  template <typename Record>
  Record& record_as() {
    static_assert(std::is_trivially_copyable_v<Record>, "a record is plain bytes");
    check_record_size(sizeof(Record));
    return *reinterpret_cast<Record*>(record());
  }

  const RecordType& record_type() const { return *type_; }
  // The number of a field, from 1 (0 when there is none).
  int32_t field(std::string_view label) const { return field_number(type_.get(), label); }
  // Clears the calling thread's record: texts to blanks, numbers to zero.
  void clear();

 private:
  void check_record_size(size_t size) const;

  FileBlock block_;
  std::unique_ptr<RecordType> type_;
  std::unique_ptr<char[]> record_;
  std::string name_, owner_, options_;
  std::vector<std::unique_ptr<KeyBlock>> keys_;
  std::vector<KeyBlock*> key_table_;
  std::deque<std::string> key_texts_;  // deque: the blocks point into these
  std::deque<std::vector<int32_t>> components_;
  std::vector<std::unique_ptr<MemoBlock>> memos_;
  std::vector<MemoBlock*> memo_table_;
  std::vector<std::unique_ptr<char[]>> memo_buffers_;
  std::deque<std::string> memo_texts_;
};

}  // namespace vtn
