// The page store is being built: until it is, every entry fails loudly.
#include "runtime/files/tarnwell/record_file.hpp"

#include <stdexcept>

namespace vtn::tarnwell {

struct PageStore {};

namespace {
[[noreturn]] void not_built() {
  throw std::logic_error("record file page store: not built yet");
}
}  // namespace

void set_pending_transaction_check(PendingTransactionCheck) {
  not_built();
}
RecordFile::RecordFile(std::unique_ptr<PageStore> store) : store_(std::move(store)) {}
RecordFile::~RecordFile() = default;
const std::string& RecordFile::full_name() const {
  not_built();
}
bool RecordFile::writable() const {
  not_built();
}
bool RecordFile::shared() const {
  not_built();
}
bool RecordFile::deny_write() const {
  not_built();
}
bool RecordFile::exclusive() const {
  not_built();
}
uint16_t RecordFile::reader_slot() const {
  not_built();
}
int32_t RecordFile::begin_access(AccessMode, bool) {
  not_built();
}
int32_t RecordFile::end_access() {
  not_built();
}
bool RecordFile::in_access() const {
  not_built();
}
AccessMode RecordFile::access_mode() const {
  not_built();
}
std::optional<StoredRecord> RecordFile::find_exact(std::span<const uint8_t>) {
  not_built();
}
std::optional<StoredRecord> RecordFile::find_first_after(std::span<const uint8_t>) {
  not_built();
}
std::optional<StoredRecord> RecordFile::find_last_before(std::span<const uint8_t>) {
  not_built();
}
std::optional<StoredRecord> RecordFile::find_at_or_before(std::span<const uint8_t>) {
  not_built();
}
void RecordFile::insert_record(std::span<const uint8_t>, std::span<const uint8_t>) {
  not_built();
}
bool RecordFile::delete_record(std::span<const uint8_t>) {
  not_built();
}
bool RecordFile::replace_record(std::span<const uint8_t>, std::span<const uint8_t>) {
  not_built();
}
Number RecordFile::new_table_number() {
  not_built();
}
int32_t RecordFile::flush() {
  not_built();
}
bool RecordFile::dirty() const {
  not_built();
}
size_t RecordFile::dirty_page_count() const {
  not_built();
}
int32_t RecordFile::flush_phase0() {
  not_built();
}
int32_t RecordFile::flush_phase1() {
  not_built();
}
int32_t RecordFile::abandon_flush() {
  not_built();
}
void RecordFile::discard_changes() {
  not_built();
}
void RecordFile::set_in_transaction(bool) {
  not_built();
}
bool RecordFile::in_transaction() const {
  not_built();
}
int32_t RecordFile::lock_number_byte(uint32_t) {
  not_built();
}
int32_t RecordFile::unlock_number_byte(uint32_t) {
  not_built();
}
const FileHeader& RecordFile::header() const {
  not_built();
}
int32_t open_record_file(const std::string&, uint32_t, std::string_view, RecordFile*&) {
  not_built();
}
void close_record_file(RecordFile*) {
  not_built();
}
CheckResult check_record_file(RecordFile&) {
  not_built();
}

}  // namespace vtn::tarnwell
