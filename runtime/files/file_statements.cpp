#include "runtime/files/file_statements.hpp"

#include <array>

#include "runtime/files/operation_rules.hpp"
#include "runtime/files/thread_files.hpp"
#include "runtime/values/error_state.hpp"
#include "runtime/values/string_stack.hpp"

namespace vtn {
namespace {

constexpr int32_t kUnsupported = 80;
constexpr size_t kMaxOperands = 4;

using Words = std::array<OperandWord, kMaxOperands>;

OperandWord word(KeyBlock& key) {
  return reinterpret_cast<OperandWord>(&key);
}

// Pushes the string operands so that the driver pops the first one first. Out of line: most
// statements have none, and their calls should not pay for the loop.
[[gnu::noinline]] void push_strings(std::initializer_list<std::string_view> strings) {
  for (auto it = std::rbegin(strings); it != std::rend(strings); ++it)
    string_stack().push_copy(it->data() != nullptr ? *it : std::string_view("", 0));
}

// The operations without operands, most of those a program calls in its loops (NEXT, ADD, PUT),
// pass one constant block of words rather than laying out their own.
constexpr Words kNoOperands = {};

int32_t file_call(int32_t code, FileBlock& file) {
  return dispatch(code, &thread_file(file), kNoOperands.data());
}

int32_t file_call(int32_t code, FileBlock& file, Words words,
                  std::initializer_list<std::string_view> strings = {}) {
  FileBlock& f = thread_file(file);
  if (strings.size() != 0) push_strings(strings);
  return dispatch(code, &f, words.data());
}

// An operation on a key: the key is the first operand and its file is the FileBlock passed.
int32_t key_call(int32_t code, KeyBlock& key, Words more = {},
                 std::initializer_list<std::string_view> strings = {}) {
  KeyBlock& k = thread_key(key);
  Words words = {word(k), more[0], more[1], more[2]};
  if (strings.size() != 0) push_strings(strings);
  return dispatch(code, k.file, words.data());
}

// An operation on a file through one of its keys.
int32_t file_key_call(int32_t code, FileBlock& file, KeyBlock& key) {
  FileBlock& f = thread_file(file);
  Words words = {word(thread_key(key))};
  return dispatch(code, &f, words.data());
}

// A statement on a FileBlock that names no driver: 80, with a blank string result where one is due.
[[gnu::noinline]] int32_t no_driver(int32_t code, FileBlock* file) {
  const OperationRule* rule = operation_rule(code);
  if (rule != nullptr && rule->string_out) string_stack().push_copy(std::string_view("", 0));
  post_error(kUnsupported);
  set_error_file(file);
  return kUnsupported;
}

std::string string_result(int32_t /*entry result*/) {
  return string_stack().pop_string();
}

}  // namespace

int32_t dispatch(int32_t code, FileBlock* file, const OperandWord* operands) {
  if (file == nullptr || file->entry == nullptr) return no_driver(code, file);
  return file->entry(code, file, operands);
}

void ADD(FileBlock& file) {
  file_call(op::ADD, file);
}
void ADD(FileBlock& file, uint32_t length) {
  file_call(op::ADDfilelen, file, {length});
}
void APPEND(FileBlock& file) {
  file_call(op::APPEND, file);
}
void APPEND(FileBlock& file, uint32_t length) {
  file_call(op::APPENDlen, file, {length});
}
void PUT(FileBlock& file) {
  file_call(op::PUT, file);
}
void PUT(FileBlock& file, int32_t pointer) {
  file_call(op::PUTfileptr, file, {pointer});
}
void PUT(FileBlock& file, int32_t pointer, uint32_t length) {
  file_call(op::PUTfileptrlen, file, {pointer, length});
}
void DELETE(FileBlock& file) {
  file_call(op::DELETE, file);
}
bool DUPLICATE(FileBlock& file) {
  return file_call(op::DUPLICATE, file) != 0;
}
bool DUPLICATE(KeyBlock& key) {
  return key_call(op::DUPLICATEkey, key) != 0;
}

void OPEN(FileBlock& file, uint32_t access) {
  file_call(op::OPEN, file, {access});
}
void SHARE(FileBlock& file, uint32_t access) {
  file_call(op::SHARE, file, {access});
}
void CLOSE(FileBlock& file) {
  file_call(op::CLOSE, file);
}
void CREATE(FileBlock& file) {
  file_call(op::CREATE, file);
}
void REMOVE(FileBlock& file) {
  file_call(op::REMOVE, file);
}
void COPY(FileBlock& file, std::string_view new_name) {
  file_call(op::COPY, file, {}, {new_name});
}
void RENAME(FileBlock& file, std::string_view new_name) {
  file_call(op::RENAME, file, {}, {new_name});
}
void EMPTY(FileBlock& file) {
  file_call(op::EMPTY, file);
}
void PACK(FileBlock& file) {
  file_call(op::PACK, file);
}
std::string NAME(FileBlock& file) {
  return string_result(file_call(op::NAME, file));
}

void BUILD(FileBlock& file) {
  file_call(op::BUILDfile, file);
}
void BUILD(KeyBlock& key) {
  key_call(op::BUILDkey, key);
}
void BUILD(KeyBlock& index, std::string_view components) {
  key_call(op::BUILDdyn, index, {}, {components});
}
void BUILD(KeyBlock& index, std::string_view components, std::string_view filter) {
  key_call(op::BUILDdynfilter, index, {}, {components, filter});
}

void SET(FileBlock& file) {
  file_call(op::SETfile, file);
}
void SET(FileBlock& file, KeyBlock& key) {
  file_key_call(op::SETfilekey, file, key);
}
void SET(FileBlock& file, int32_t pointer) {
  file_call(op::SETfileptr, file, {pointer});
}
void SET(KeyBlock& key) {
  key_call(op::SETkey, key);
}
void SET(KeyBlock& key, KeyBlock& key_value) {
  key_call(op::SETkeykey, key, {word(thread_key(key_value))});
}
void SET(KeyBlock& key, int32_t pointer) {
  key_call(op::SETkeyptr, key, {pointer});
}
void SET(KeyBlock& key, KeyBlock& key_value, int32_t pointer) {
  key_call(op::SETkeykeyptr, key, {word(thread_key(key_value)), pointer});
}
void RESET(FileBlock& file, std::string_view position) {
  file_call(op::RESETfile, file, {}, {position});
}
void RESET(KeyBlock& key, std::string_view position) {
  key_call(op::RESETkey, key, {}, {position});
}
void NEXT(FileBlock& file) {
  file_call(op::NEXT, file);
}
void PREVIOUS(FileBlock& file) {
  file_call(op::PREVIOUS, file);
}
void SKIP(FileBlock& file, int32_t count) {
  file_call(op::SKIP, file, {count});
}
bool BOF(FileBlock& file) {
  return file_call(op::BOF, file) != 0;
}
bool EOF_(FileBlock& file) {
  return file_call(op::EOF_, file) != 0;
}

void GET(FileBlock& file, KeyBlock& key) {
  file_key_call(op::GETfilekey, file, key);
}
void GET(FileBlock& file, int32_t pointer) {
  file_call(op::GETfileptr, file, {pointer});
}
void GET(FileBlock& file, int32_t pointer, uint32_t length) {
  file_call(op::GETfileptrlen, file, {pointer, length});
}
void GET(KeyBlock& key, int32_t pointer) {
  key_call(op::GETkeyptr, key, {pointer});
}
void REGET(FileBlock& file, std::string_view position) {
  file_call(op::REGETfile, file, {}, {position});
}
void REGET(KeyBlock& key, std::string_view position) {
  key_call(op::REGETkey, key, {}, {position});
}
int32_t POINTER(FileBlock& file) {
  return file_call(op::POINTERfile, file);
}
int32_t POINTER(KeyBlock& key) {
  return key_call(op::POINTERkey, key);
}
std::string POSITION(FileBlock& file) {
  return string_result(file_call(op::POSITIONfile, file));
}
std::string POSITION(KeyBlock& key) {
  return string_result(key_call(op::POSITIONkey, key));
}
int32_t RECORDS(FileBlock& file) {
  return file_call(op::RECORDSfile, file);
}
int32_t RECORDS(KeyBlock& key) {
  return key_call(op::RECORDSkey, key);
}
int32_t BYTES(FileBlock& file) {
  return file_call(op::BYTES, file);
}

void HOLD(FileBlock& file) {
  file_call(op::HOLDfile, file);
}
void HOLD(FileBlock& file, int32_t seconds) {
  file_call(op::HOLDfilesec, file, {seconds});
}
void RELEASE(FileBlock& file) {
  file_call(op::RELEASE, file);
}
void WATCH(FileBlock& file) {
  file_call(op::WATCH, file);
}
void LOCK(FileBlock& file) {
  file_call(op::LOCKfile, file);
}
void LOCK(FileBlock& file, int32_t seconds) {
  file_call(op::LOCKfilesec, file, {seconds});
}
void UNLOCK(FileBlock& file) {
  file_call(op::UNLOCK, file);
}
void STREAM(FileBlock& file) {
  file_call(op::STREAM, file);
}
void FLUSH(FileBlock& file) {
  file_call(op::FLUSH, file);
}

void NOMEMO(FileBlock& file) {
  file_call(op::NOMEMO, file);
}
bool NULL_(FileBlock& file, int32_t field) {
  return file_call(op::NULL_, file, {field}) != 0;
}
void SETNULL(FileBlock& file, int32_t field) {
  file_call(op::SETNULL, file, {field});
}
void SETNONULL(FileBlock& file, int32_t field) {
  file_call(op::SETNONULL, file, {field});
}
void CLEAR(FileBlock& file, int32_t direction) {
  file_call(op::CLEAR, file, {direction});
}
int32_t BLOB_SIZE(FileBlock& file, int32_t blob) {
  return file_call(op::BLOB_SIZE, file, {blob});
}

void BLOB_YIELD(FileBlock& file, int32_t blob) {
  file_call(op::BLOB_YIELD, file, {blob});
}
void BLOB_TAKE(FileBlock& file, int32_t blob) {
  file_call(op::BLOB_TAKE, file, {blob});
}
void SET_BLOB_PROPERTY(FileBlock& file, int32_t blob, int32_t property, std::string_view value,
                       std::string_view element) {
  file_call(op::BLOB_GET_PROP, file, {blob, property}, {value, element});
}
std::string GET_BLOB_PROPERTY(FileBlock& file, int32_t blob, int32_t property,
                              std::string_view element) {
  return string_result(file_call(op::BLOB_SET_PROP, file, {blob, property}, {element}));
}
void DO_BLOB_PROPERTY(FileBlock& file, int32_t blob, int32_t property, std::string_view argument) {
  file_call(op::DOPROPERTYblob, file, {blob, property}, {argument});
}

void SET_VIEW(FileBlock& file) {
  file_call(op::SETview, file);
}
void RESET_VIEW(FileBlock& file) {
  file_call(op::RESETviewfile, file);
}
void INVIEW(FileBlock& file) {
  file_call(op::INVIEW, file);
}
void ENDVIEW(FileBlock& file) {
  file_call(op::ENDVIEW, file);
}
int32_t COUNTRECORDS(FileBlock& file) {
  return file_call(op::COUNTRECORDS, file);
}
int32_t QUERY_VIEW(FileBlock& file) {
  return file_call(op::QUERY_VIEW, file);
}
int32_t QUERY_KEY(KeyBlock& key) {
  return key_call(op::QUERY_KEY, key);
}
void BUILD_WITH_EVENTS(FileBlock& file) {
  file_call(op::BUILDevent, file);
}

std::string SEND(FileBlock& file, std::string_view message) {
  return string_result(file_call(op::SEND, file, {}, {message}));
}
void SET_PROPERTY(FileBlock& file, int32_t property, std::string_view value,
                  std::string_view element) {
  file_call(op::SET_PROPERTY, file, {property}, {value, element});
}
std::string GET_PROPERTY(FileBlock& file, int32_t property, std::string_view element) {
  return string_result(file_call(op::GET_PROPERTY, file, {property}, {element}));
}
void SET_PROPERTY(KeyBlock& key, int32_t property, std::string_view value,
                  std::string_view element) {
  key_call(op::SETPROPERTYkey, key, {property}, {value, element});
}
std::string GET_PROPERTY(KeyBlock& key, int32_t property, std::string_view element) {
  return string_result(key_call(op::GETPROPERTYkey, key, {property}, {element}));
}
void DO_PROPERTY(FileBlock& file, int32_t property, std::string_view argument) {
  file_call(op::DO_PROPERTY, file, {property}, {argument});
}
void DO_PROPERTY(KeyBlock& key, int32_t property, std::string_view argument) {
  key_call(op::DOPROPERTYkey, key, {property}, {argument});
}
void BUFFER(FileBlock& file, int32_t page_size, int32_t behind, int32_t ahead, int32_t timeout) {
  file_call(op::BUFFER, file, {page_size, behind, ahead, timeout});
}

std::string ERRORSOURCE() {
  const FileBlock* file = error_source_file();
  if (file == nullptr) return {};
  if (file->instance != nullptr) return file->instance->file_name;
  std::string_view name(file->name != nullptr ? file->name : "", file->name_length);
  name = name.substr(0, name.find('\0'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return std::string(name);
}

}  // namespace vtn
