#include "runtime/files/tarnwell/page_store.hpp"

#include <array>
#include <memory>

#include "runtime/files/tarnwell/block_io.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/platform/system_error.hpp"

namespace vtn::tarnwell {
namespace {
constexpr int32_t kCheckShortRead = 2172;
constexpr int32_t kCheckReadFailed = 2277;
constexpr int32_t kShortWriteError = 5;
}  // namespace

RecordPage* PageStore::load(int32_t number) {
  auto page = std::make_unique<RecordPage>();
  page->number = number;
  if (number < 0) {
    tree_changed();
    if (number <= next_temporary) next_temporary = number - 1;
    RecordPage* p = cache.add(std::move(page));
    mark_dirty(p);
    return p;
  }
  const int units = unit_size_of_page(header, number);
  const uint32_t offset = static_cast<uint32_t>(page_offset(number));
  const auto logged = log_map.find(offset);
  const uint64_t at = logged == log_map.end() ? offset : logged->second;
  page_buffer.resize(static_cast<size_t>(units) * kUnitSize);
  read_exact(at, page_buffer);
  decode_page(page_buffer, units, page->contents);
  page->contents.records.index_keys();
  page->unit_size = units;
  page->recount();
  return cache.add(std::move(page));
}

RecordPage* PageStore::new_page(uint8_t level) {
  tree_changed();
  auto page = std::make_unique<RecordPage>();
  page->number = next_temporary--;
  page->contents.level = level;
  page->recount();
  RecordPage* p = cache.add(std::move(page));
  mark_dirty(p);
  return p;
}

void PageStore::discard() {
  tree_changed();
  records_changed();
  cache.clear();
  log_map.clear();
  header_valid = false;
  dirty = false;
  next_temporary = -1;
}

void PageStore::ensure_tree() {
  if (has_tree()) return;
  header.change_counter = 1;
  header.root_page = next_temporary;
  new_page(0);
  dirty = true;
}

void PageStore::read_exact(uint64_t offset, std::span<uint8_t> buffer) {
  size_t got = 0;
  if (!read_blocks(file, cipher ? &*cipher : nullptr, offset, buffer, got)) {
    raise_internal_error(kCheckReadFailed);
  }
  if (got != buffer.size()) raise_internal_error(kCheckShortRead);
}

bool PageStore::write(uint64_t offset, std::span<uint8_t> buffer) {
  size_t put = 0;
  if (!write_blocks(file, cipher ? &*cipher : nullptr, offset, buffer, put)) {
    last_error = platform::last_error();
    if (last_error == 0) last_error = platform::kErrorGeneralFailure;
    return false;
  }
  if (put != buffer.size()) {
    last_error = kShortWriteError;
    return false;
  }
  return true;
}

bool PageStore::flush_buffers() {
  if (file.flush()) return true;
  last_error = platform::last_error();
  if (last_error == 0) last_error = platform::kErrorGeneralFailure;
  return false;
}

}  // namespace vtn::tarnwell
