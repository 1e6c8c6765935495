#include "runtime/files/tarnwell/memo_chunks.hpp"

#include <algorithm>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/platform/code_pages.hpp"

namespace vtn::tarnwell {
namespace {
constexpr size_t kBlobLengthSize = 4;
constexpr int32_t kCheckTooLong = 824;

// The bytes of a text memo that are kept: up to the last character that is not a space.
size_t text_length(std::span<const uint8_t> contents) {
  size_t length = contents.size();
  while (length > 0 && contents[length - 1] == ' ') --length;
  return length;
}

}  // namespace

bool memo_fits(std::span<const uint8_t> contents, const MemoFormat& format) {
  return (format.blob ? contents.size() : text_length(contents)) <= kMaxMemoContents;
}

std::vector<Record> memo_chunk_records(const Number& table, const Number& record,
                                       uint8_t memo_number, std::span<const uint8_t> contents,
                                       const MemoFormat& format) {
  if (!memo_fits(contents, format)) raise_internal_error(kCheckTooLong);
  std::vector<uint8_t> stored;
  if (format.blob) {
    stored.resize(kBlobLengthSize);
    store_le32(stored.data(), static_cast<uint32_t>(contents.size()));
    stored.insert(stored.end(), contents.begin(), contents.end());
  } else {
    const size_t length = text_length(contents);
    stored.assign(contents.begin(), contents.begin() + static_cast<ptrdiff_t>(length));
    if (format.converts_text()) {
      platform::ansi_to_oem(reinterpret_cast<char*>(stored.data()), stored.size());
    }
  }
  std::vector<Record> chunks;
  // A blob's first chunk carries the length besides a full 256 bytes of contents.
  size_t at = 0;
  for (uint16_t sequence = 0; at < stored.size(); ++sequence) {
    const size_t limit = kMemoChunkSize + (sequence == 0 && format.blob ? kBlobLengthSize : 0);
    const size_t length = std::min(limit, stored.size() - at);
    chunks.push_back(
        memo_chunk(table, record, memo_number, sequence, std::span(stored).subspan(at, length)));
    at += length;
  }
  return chunks;
}

std::optional<std::vector<uint8_t>> read_memo_contents(std::span<const Record> chunks,
                                                       const MemoFormat& format) {
  std::vector<MemoChunkView> views;
  views.reserve(chunks.size());
  for (const Record& r : chunks) {
    std::optional<MemoChunkView> view = read_memo_chunk(r);
    if (!view) return std::nullopt;
    if (!views.empty() && (view->table != views[0].table || view->record != views[0].record ||
                           view->memo_number != views[0].memo_number)) {
      return std::nullopt;
    }
    views.push_back(*view);
  }
  std::sort(views.begin(), views.end(),
            [](const MemoChunkView& a, const MemoChunkView& b) { return a.sequence < b.sequence; });
  std::vector<uint8_t> stored;
  for (size_t i = 0; i < views.size(); ++i) {
    const size_t limit = kMemoChunkSize + (i == 0 && format.blob ? kBlobLengthSize : 0);
    if (views[i].sequence != i || views[i].bytes.size() > limit) return std::nullopt;
    stored.insert(stored.end(), views[i].bytes.begin(), views[i].bytes.end());
  }
  if (format.blob) {
    if (stored.empty()) return stored;  // a blob never written
    if (stored.size() < kBlobLengthSize ||
        load_le32(stored.data()) != stored.size() - kBlobLengthSize) {
      return std::nullopt;
    }
    stored.erase(stored.begin(), stored.begin() + kBlobLengthSize);
    return stored;
  }
  if (format.converts_text()) {
    platform::oem_to_ansi(reinterpret_cast<char*>(stored.data()), stored.size());
  }
  return stored;
}

}  // namespace vtn::tarnwell
