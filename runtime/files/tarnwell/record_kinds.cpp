#include "runtime/files/tarnwell/record_kinds.hpp"

#include <algorithm>
#include <cassert>

#include "runtime/files/tarnwell/byte_order.hpp"

namespace vtn::tarnwell {
namespace {

class RecordBuilder {
 public:
  RecordBuilder& bytes(std::span<const uint8_t> b) {
    r_.bytes.insert(r_.bytes.end(), b.begin(), b.end());
    return *this;
  }
  RecordBuilder& byte(uint8_t b) {
    r_.bytes.push_back(b);
    return *this;
  }
  RecordBuilder& text(std::string_view t) {
    r_.bytes.insert(r_.bytes.end(), t.begin(), t.end());
    return *this;
  }
  RecordBuilder& le32(uint32_t v) {
    uint8_t b[4];
    store_le32(b, v);
    return bytes(b);
  }
  RecordBuilder& le16(uint16_t v) {
    uint8_t b[2];
    store_le16(b, v);
    return bytes(b);
  }
  RecordBuilder& be16(uint16_t v) { return byte(static_cast<uint8_t>(v >> 8)).byte(v & 0xFF); }
  // Everything added so far is the key part.
  RecordBuilder& end_key() {
    r_.key_length = static_cast<uint16_t>(r_.bytes.size());
    return *this;
  }
  Record done() { return std::move(r_); }

 private:
  Record r_;
};

RecordBuilder keyed(const Number& table, uint8_t kind) {
  RecordBuilder b;
  b.bytes(table).byte(kind);
  return b;
}

Number number_at(std::span<const uint8_t> bytes, size_t at) {
  return {bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]};
}

bool has_kind(const Record& r, uint8_t kind, size_t key_length) {
  return r.key_length == key_length && r.bytes.size() >= key_length && r.key_length >= 5 &&
         r.bytes[4] == kind && r.bytes[0] < kTableNameByte;
}

}  // namespace

std::vector<uint8_t> kind_prefix(const Number& table, uint8_t kind) {
  return {table[0], table[1], table[2], table[3], kind};
}

Record data_record(const Number& table, const Number& record, std::span<const uint8_t> buffer) {
  return keyed(table, kKindData).bytes(record).end_key().bytes(buffer).done();
}

Record key_entry(const Number& table, uint8_t key_number, std::span<const uint8_t> key_value,
                 const Number& record, bool duplicates_allowed) {
  assert(key_number <= kMaxKeyNumber);
  RecordBuilder b = keyed(table, key_number);
  b.bytes(key_value);
  if (duplicates_allowed) b.bytes(record);
  return b.end_key().bytes(record).done();
}

Record counter_record(const Number& table, uint8_t counted_kind, uint32_t count, uint32_t second) {
  return keyed(table, kKindCounter).byte(counted_kind).end_key().le32(count).le32(second).done();
}

Record definition_chunk(const Number& table, uint16_t sequence, std::span<const uint8_t> bytes) {
  return keyed(table, kKindDefinition).le16(sequence).end_key().bytes(bytes).done();
}

Record collation_record(const Number& table, bool oem, std::span<const uint8_t> tables) {
  assert(tables.size() == kCollationTablesSize);
  return keyed(table, kKindCollation).byte(1).end_key().byte(oem ? 1 : 0).bytes(tables).done();
}

Record memo_chunk(const Number& table, const Number& record, uint8_t memo_number, uint16_t sequence,
                  std::span<const uint8_t> bytes) {
  return keyed(table, kKindMemo)
      .bytes(record)
      .byte(memo_number)
      .be16(sequence)
      .end_key()
      .bytes(bytes)
      .done();
}

Record table_name_record(std::string_view name, const Number& table) {
  assert(name.find('\0') == std::string_view::npos);
  return RecordBuilder().byte(kTableNameByte).text(name).byte(0).end_key().bytes(table).done();
}

Record pending_transaction_record(uint32_t transaction, std::string_view control_file) {
  return RecordBuilder()
      .byte(kPendingTransactionByte)
      .end_key()
      .le32(transaction)
      .text(control_file)
      .byte(0)
      .done();
}

std::optional<uint8_t> record_kind(const Record& r) {
  if (r.key_length < 5 || r.bytes.size() < 5 || r.bytes[0] >= kTableNameByte) return std::nullopt;
  return r.bytes[4];
}

std::optional<Number> record_table(const Record& r) {
  if (!record_kind(r)) return std::nullopt;
  return number_at(r.bytes, 0);
}

std::optional<DataRecordView> read_data_record(const Record& r) {
  if (!has_kind(r, kKindData, 9)) return std::nullopt;
  return DataRecordView{number_at(r.bytes, 0), number_at(r.bytes, 5), r.data()};
}

std::optional<KeyEntryView> read_key_entry(const Record& r, bool duplicates_allowed) {
  const size_t minimum = 5 + (duplicates_allowed ? 4 : 0);
  if (r.key_length < minimum || r.bytes.size() != size_t{r.key_length} + 4 || r.bytes[0] >= 0xFE ||
      r.bytes[4] > kMaxKeyNumber) {
    return std::nullopt;
  }
  const Number record = number_at(r.bytes, r.key_length);
  if (duplicates_allowed && number_at(r.bytes, r.key_length - 4u) != record) return std::nullopt;
  const size_t value_length = r.key_length - minimum;
  return KeyEntryView{number_at(r.bytes, 0), r.bytes[4],
                      std::span(r.bytes).subspan(5, value_length), record};
}

std::optional<CounterView> read_counter(const Record& r) {
  if (!has_kind(r, kKindCounter, 6) || r.bytes.size() != 14) return std::nullopt;
  return CounterView{number_at(r.bytes, 0), r.bytes[5], load_le32(r.bytes.data() + 6),
                     load_le32(r.bytes.data() + 10)};
}

std::optional<ChunkView> read_definition_chunk(const Record& r) {
  if (!has_kind(r, kKindDefinition, 7) || r.data().size() > kDefinitionChunkSize) {
    return std::nullopt;
  }
  return ChunkView{number_at(r.bytes, 0), load_le16(r.bytes.data() + 5), r.data()};
}

std::optional<CollationView> read_collation(const Record& r) {
  if (!has_kind(r, kKindCollation, 6) || r.bytes[5] != 1 ||
      r.data().size() != 1 + kCollationTablesSize) {
    return std::nullopt;
  }
  return CollationView{number_at(r.bytes, 0), r.bytes[6] != 0, r.data().subspan(1)};
}

std::optional<MemoChunkView> read_memo_chunk(const Record& r) {
  if (!has_kind(r, kKindMemo, 12) || r.data().size() > kMemoChunkSize + 4) return std::nullopt;
  const uint16_t sequence = static_cast<uint16_t>((r.bytes[10] << 8) | r.bytes[11]);
  return MemoChunkView{number_at(r.bytes, 0), number_at(r.bytes, 5), r.bytes[9], sequence,
                       r.data()};
}

std::optional<TableNameView> read_table_name(const Record& r) {
  if (r.key_length < 2 || r.bytes.size() != size_t{r.key_length} + 4 ||
      r.bytes[0] != kTableNameByte || r.bytes[r.key_length - 1u] != 0) {
    return std::nullopt;
  }
  const auto name = std::span(r.bytes).subspan(1, r.key_length - 2u);
  if (std::find(name.begin(), name.end(), uint8_t{0}) != name.end()) return std::nullopt;
  return TableNameView{std::string(name.begin(), name.end()), number_at(r.bytes, r.key_length)};
}

std::optional<PendingTransactionView> read_pending_transaction(const Record& r) {
  if (r.key_length != 1 || r.bytes.empty() || r.bytes[0] != kPendingTransactionByte ||
      r.bytes.size() < 1 + 4 + 1 || r.bytes.back() != 0) {
    return std::nullopt;
  }
  const auto name = std::span(r.bytes).subspan(5, r.bytes.size() - 6);
  if (std::find(name.begin(), name.end(), uint8_t{0}) != name.end()) return std::nullopt;
  return PendingTransactionView{load_le32(r.bytes.data() + 1),
                                std::string(name.begin(), name.end())};
}

}  // namespace vtn::tarnwell
