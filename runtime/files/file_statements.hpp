// The file statements of the language. Each is a small entry stub: it finds the calling thread's
// FileBlock (THREAD files), pushes the string operands onto the StringStack (the first operand
// is popped first), lays out the operand words and calls the dispatcher with its operation code.
// Success and failure are read back through ERRORNUMBER() and ERRORSOURCE(), as in any program of
// the language; string results come back from the StringStack.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "runtime/files/file_block.hpp"

namespace vtn {

// Calls the DriverEntry named first in the FileBlock and returns its result unchanged. A
// FileBlock without an entry gets 80 posted (with a blank string result where one is due).
int32_t dispatch(int32_t code, FileBlock* file, const OperandWord* operands);

// OPEN access codes: the low two bits read-only (0), write-only (1) or read/write (2); the high
// nibble the sharing mode (0x10 deny all, 0x20 deny write, 0x30 deny read, 0x40 deny none).
inline constexpr uint32_t kReadWriteDenyWrite = 0x22;  // OPEN's default
inline constexpr uint32_t kReadWriteDenyNone = 0x42;   // SHARE's default

// Adding and changing records.
void ADD(FileBlock& file);
void ADD(FileBlock& file, uint32_t length);
void APPEND(FileBlock& file);
void APPEND(FileBlock& file, uint32_t length);
void PUT(FileBlock& file);
void PUT(FileBlock& file, int32_t pointer);
void PUT(FileBlock& file, int32_t pointer, uint32_t length);
void DELETE(FileBlock& file);
bool DUPLICATE(FileBlock& file);
bool DUPLICATE(KeyBlock& key);

// Life cycle.
void OPEN(FileBlock& file, uint32_t access = kReadWriteDenyWrite);
void SHARE(FileBlock& file, uint32_t access = kReadWriteDenyNone);
void CLOSE(FileBlock& file);
void CREATE(FileBlock& file);
void REMOVE(FileBlock& file);
void COPY(FileBlock& file, std::string_view new_name);
void RENAME(FileBlock& file, std::string_view new_name);
void EMPTY(FileBlock& file);
void PACK(FileBlock& file);
std::string NAME(FileBlock& file);

// Keys.
void BUILD(FileBlock& file);
void BUILD(KeyBlock& key);
void BUILD(KeyBlock& index, std::string_view components);
void BUILD(KeyBlock& index, std::string_view components, std::string_view filter);

// Sequential processing.
void SET(FileBlock& file);
void SET(FileBlock& file, KeyBlock& key);
void SET(FileBlock& file, int32_t pointer);
void SET(KeyBlock& key);
void SET(KeyBlock& key, KeyBlock& key_value);
void SET(KeyBlock& key, int32_t pointer);
void SET(KeyBlock& key, KeyBlock& key_value, int32_t pointer);
void RESET(FileBlock& file, std::string_view position);
void RESET(KeyBlock& key, std::string_view position);
void NEXT(FileBlock& file);
void PREVIOUS(FileBlock& file);
void SKIP(FileBlock& file, int32_t count);
bool BOF(FileBlock& file);
bool EOF_(FileBlock& file);  // EOF(file); EOF itself is a macro of the C library

// Direct access.
void GET(FileBlock& file, KeyBlock& key);
void GET(FileBlock& file, int32_t pointer);
void GET(FileBlock& file, int32_t pointer, uint32_t length);
void GET(KeyBlock& key, int32_t pointer);
void REGET(FileBlock& file, std::string_view position);
void REGET(KeyBlock& key, std::string_view position);
int32_t POINTER(FileBlock& file);
int32_t POINTER(KeyBlock& key);
std::string POSITION(FileBlock& file);
std::string POSITION(KeyBlock& key);
int32_t RECORDS(FileBlock& file);
int32_t RECORDS(KeyBlock& key);
int32_t BYTES(FileBlock& file);

// Concurrency.
void HOLD(FileBlock& file);
void HOLD(FileBlock& file, int32_t seconds);
void RELEASE(FileBlock& file);
void WATCH(FileBlock& file);
void LOCK(FileBlock& file);
void LOCK(FileBlock& file, int32_t seconds);
void UNLOCK(FileBlock& file);
void STREAM(FileBlock& file);
void FLUSH(FileBlock& file);

// Transactions: LOGOUT takes the files into a transaction of the calling thread; COMMIT and
// ROLLBACK end it (91 when none is active).
void LOGOUT(int32_t seconds, std::initializer_list<std::reference_wrapper<FileBlock>> files);
void COMMIT();
void ROLLBACK();
bool logout_active();

// Memos and fields.
void NOMEMO(FileBlock& file);
bool NULL_(FileBlock& file, int32_t field);  // NULL(field); NULL is a macro of the C library
void SETNULL(FileBlock& file, int32_t field);
void SETNONULL(FileBlock& file, int32_t field);
void CLEAR(FileBlock& file, int32_t direction = 0);
int32_t BLOB_SIZE(FileBlock& file, int32_t blob);

// Blobs, by their number in the record (1-based).
void BLOB_YIELD(FileBlock& file, int32_t blob);
void BLOB_TAKE(FileBlock& file, int32_t blob);
// A blob property is set with two texts (value, element) and read with one; the trace names
// these operations BLOB_GET_PROP (78, the setting one) and BLOB_SET_PROP (79, the reading one).
void SET_BLOB_PROPERTY(FileBlock& file, int32_t blob, int32_t property, std::string_view value,
                       std::string_view element = {});
std::string GET_BLOB_PROPERTY(FileBlock& file, int32_t blob, int32_t property,
                              std::string_view element = {});
void DO_BLOB_PROPERTY(FileBlock& file, int32_t blob, int32_t property, std::string_view argument);

// What a VIEW asks of its files: a processing sequence through the view (SET and RESET of the
// view), taking the file into a view and out of it, a record count, and the two queries.
void SET_VIEW(FileBlock& file);
void RESET_VIEW(FileBlock& file);
void INVIEW(FileBlock& file);
void ENDVIEW(FileBlock& file);
int32_t COUNTRECORDS(FileBlock& file);
int32_t QUERY_VIEW(FileBlock& file);
int32_t QUERY_KEY(KeyBlock& key);
// A BUILD of the file that reports its progress to the FileBlock's build-event handler.
void BUILD_WITH_EVENTS(FileBlock& file);

// Driver commands and properties.
std::string SEND(FileBlock& file, std::string_view message);
void SET_PROPERTY(FileBlock& file, int32_t property, std::string_view value,
                  std::string_view element = {});
std::string GET_PROPERTY(FileBlock& file, int32_t property, std::string_view element = {});
void SET_PROPERTY(KeyBlock& key, int32_t property, std::string_view value,
                  std::string_view element = {});
std::string GET_PROPERTY(KeyBlock& key, int32_t property, std::string_view element = {});
void DO_PROPERTY(FileBlock& file, int32_t property, std::string_view argument);
void DO_PROPERTY(KeyBlock& key, int32_t property, std::string_view argument);
void BUFFER(FileBlock& file, int32_t page_size, int32_t behind, int32_t ahead, int32_t timeout);

// The name of the file of the current error; empty when the error concerns no file.
std::string ERRORSOURCE();

}  // namespace vtn
