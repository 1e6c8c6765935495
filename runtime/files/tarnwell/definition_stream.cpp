#include "runtime/files/tarnwell/definition_stream.hpp"

#include <algorithm>

#include "runtime/files/tarnwell/byte_order.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"

namespace vtn::tarnwell {
namespace {

constexpr uint8_t kTypeDecimal = 10;
constexpr uint8_t kTypePDecimal = 11;
constexpr uint8_t kTypeString = 18;
constexpr uint8_t kTypeCString = 19;
constexpr uint8_t kTypePString = 20;
constexpr uint8_t kKeyFlagIgnoredInComparison = 0x10;

bool is_decimal(uint8_t type) {
  return type == kTypeDecimal || type == kTypePDecimal;
}
bool is_text(uint8_t type) {
  return type == kTypeString || type == kTypeCString || type == kTypePString;
}

class StreamWriter {
 public:
  void byte(uint8_t b) { out_.push_back(b); }
  void number(uint32_t v) {  // low 16 bits
    byte(static_cast<uint8_t>(v));
    byte(static_cast<uint8_t>(v >> 8));
  }
  void text(const DefinitionText& t) {
    if (!t) {
      byte(0);
      byte(1);
    } else if (t->empty()) {
      byte(0);
      byte(0);
    } else {
      out_.insert(out_.end(), t->begin(), t->end());
      byte(0);
    }
  }
  std::vector<uint8_t> take() { return std::move(out_); }

 private:
  std::vector<uint8_t> out_;
};

class StreamReader {
 public:
  explicit StreamReader(std::span<const uint8_t> in) : in_(in) {}
  bool ok() const { return ok_; }
  bool at_end() const { return pos_ == in_.size(); }

  uint8_t byte() {
    if (pos_ >= in_.size()) {
      ok_ = false;
      return 0;
    }
    return in_[pos_++];
  }
  uint16_t number() {
    const uint8_t lo = byte();
    const uint8_t hi = byte();
    return static_cast<uint16_t>(lo | (hi << 8));
  }
  DefinitionText text() {
    std::string s;
    for (uint8_t b = byte(); ok_ && b != 0; b = byte()) s.push_back(static_cast<char>(b));
    if (!ok_) return std::nullopt;
    if (!s.empty()) return s;
    switch (byte()) {
      case 0:
        return std::string();
      case 1:
        return std::nullopt;
      default:
        ok_ = false;
        return std::nullopt;
    }
  }

 private:
  std::span<const uint8_t> in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

uint16_t low16(uint32_t v) {
  return static_cast<uint16_t>(v);
}

bool fields_match(const FieldDefinition& a, const FieldDefinition& b) {
  if (a.type != b.type || low16(a.offset) != low16(b.offset) || a.name != b.name ||
      a.member_before_size != b.member_before_size || low16(a.size) != low16(b.size) ||
      a.members_after_size[0] != b.members_after_size[0] ||
      a.members_after_size[1] != b.members_after_size[1]) {
    return false;
  }
  if (is_decimal(a.type) && (a.digits != b.digits || a.places != b.places)) return false;
  if (is_text(a.type) &&
      (a.member_before_picture != b.member_before_picture || a.picture != b.picture)) {
    return false;
  }
  return true;
}

bool memos_match(const MemoDefinition& stored, const MemoDefinition& declared) {
  if (stored.name != declared.name || stored.label != declared.label) return false;
  const bool blob = stored.is_blob() || declared.is_blob();
  return blob || low16(stored.size) == low16(declared.size);
}

bool keys_match(const KeyDefinition& a, const KeyDefinition& b) {
  const auto significant = [](uint8_t flags) {
    return static_cast<uint8_t>(flags & ~kKeyFlagIgnoredInComparison);
  };
  return a.name == b.name && a.label == b.label && significant(a.flags) == significant(b.flags) &&
         a.components == b.components;
}

}  // namespace

uint16_t TableDefinition::version() const {
  const bool any_blob =
      std::any_of(memos.begin(), memos.end(), [](const MemoDefinition& m) { return m.is_blob(); });
  return any_blob ? 2 : 1;
}

std::vector<uint8_t> write_definition(const TableDefinition& d) {
  StreamWriter w;
  w.number(d.version());
  w.number(d.record_length);
  w.number(static_cast<uint32_t>(d.fields.size()));
  w.number(static_cast<uint32_t>(d.memos.size()));
  w.number(static_cast<uint32_t>(d.keys.size()));
  for (const FieldDefinition& f : d.fields) {
    w.byte(f.type);
    w.number(f.offset);
    w.text(f.name);
    w.number(f.member_before_size);
    w.number(f.size);
    w.number(f.members_after_size[0]);
    w.number(f.members_after_size[1]);
    if (is_decimal(f.type)) {
      w.byte(f.digits);
      w.byte(f.places);
    }
    if (is_text(f.type)) {
      w.number(f.member_before_picture);
      w.text(f.picture);
    }
  }
  for (const MemoDefinition& m : d.memos) {
    w.text(m.name);
    w.text(m.label);
    w.number(m.size);
    w.byte(m.flags);
  }
  for (const KeyDefinition& k : d.keys) {
    w.text(k.name);
    w.text(k.label);
    w.byte(k.flags);
    w.number(static_cast<uint32_t>(k.components.size()));
    for (const KeyComponentDefinition& c : k.components) {
      w.number(c.field);
      w.byte(c.flags);
    }
  }
  return w.take();
}

std::optional<StoredDefinition> read_definition(std::span<const uint8_t> stream) {
  StreamReader r(stream);
  StoredDefinition stored;
  stored.version = r.number();
  if (!r.ok() || (stored.version != 1 && stored.version != 2)) return std::nullopt;
  TableDefinition& d = stored.definition;
  d.record_length = r.number();
  const uint16_t field_count = r.number();
  const uint16_t memo_count = r.number();
  const uint16_t key_count = r.number();
  // Each item takes several bytes: counts beyond the stream's length cannot be honest, and
  // stopping at the first failure keeps a hostile count from costing time.
  for (uint16_t i = 0; i < field_count && r.ok(); ++i) {
    FieldDefinition f;
    f.type = r.byte();
    f.offset = r.number();
    f.name = r.text();
    f.member_before_size = r.number();
    f.size = r.number();
    f.members_after_size[0] = r.number();
    f.members_after_size[1] = r.number();
    if (is_decimal(f.type)) {
      f.digits = r.byte();
      f.places = r.byte();
    }
    if (is_text(f.type)) {
      f.member_before_picture = r.number();
      f.picture = r.text();
    }
    d.fields.push_back(std::move(f));
  }
  for (uint16_t i = 0; i < memo_count && r.ok(); ++i) {
    MemoDefinition m;
    m.name = r.text();
    m.label = r.text();
    m.size = r.number();
    m.flags = r.byte();
    d.memos.push_back(std::move(m));
  }
  for (uint16_t i = 0; i < key_count && r.ok(); ++i) {
    KeyDefinition k;
    k.name = r.text();
    k.label = r.text();
    k.flags = r.byte();
    const uint16_t components = r.number();
    for (uint16_t c = 0; c < components && r.ok(); ++c) {
      KeyComponentDefinition component;
      component.field = r.number();
      component.flags = r.byte();
      k.components.push_back(component);
    }
    d.keys.push_back(std::move(k));
  }
  if (!r.ok() || !r.at_end()) return std::nullopt;
  return stored;
}

bool definitions_match(const StoredDefinition& stored, const TableDefinition& declared) {
  const TableDefinition& s = stored.definition;
  if (stored.version != declared.version() ||
      low16(s.record_length) != low16(declared.record_length) ||
      s.fields.size() != declared.fields.size() || s.memos.size() != declared.memos.size() ||
      s.keys.size() != declared.keys.size()) {
    return false;
  }
  for (size_t i = 0; i < s.fields.size(); ++i) {
    if (!fields_match(s.fields[i], declared.fields[i])) return false;
  }
  for (size_t i = 0; i < s.memos.size(); ++i) {
    if (!memos_match(s.memos[i], declared.memos[i])) return false;
  }
  for (size_t i = 0; i < s.keys.size(); ++i) {
    if (!keys_match(s.keys[i], declared.keys[i])) return false;
  }
  return true;
}

std::vector<Record> definition_chunks(const Number& table, std::span<const uint8_t> stream) {
  std::vector<Record> chunks;
  for (size_t at = 0, sequence = 0; at < stream.size(); at += kDefinitionChunkSize, ++sequence) {
    const size_t length = std::min(kDefinitionChunkSize, stream.size() - at);
    chunks.push_back(
        definition_chunk(table, static_cast<uint16_t>(sequence), stream.subspan(at, length)));
  }
  return chunks;
}

std::optional<std::vector<uint8_t>> join_definition_chunks(const Number& table,
                                                           std::span<const Record> chunks) {
  std::vector<ChunkView> views;
  views.reserve(chunks.size());
  for (const Record& r : chunks) {
    std::optional<ChunkView> view = read_definition_chunk(r);
    if (!view || view->table != table) return std::nullopt;
    views.push_back(*view);
  }
  // Sequence numbers are stored low byte first, so key order is not sequence order.
  std::sort(views.begin(), views.end(),
            [](const ChunkView& a, const ChunkView& b) { return a.sequence < b.sequence; });
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < views.size(); ++i) {
    if (views[i].sequence != i) return std::nullopt;
    if (i + 1 < views.size() && views[i].bytes.size() != kDefinitionChunkSize) return std::nullopt;
    stream.insert(stream.end(), views[i].bytes.begin(), views[i].bytes.end());
  }
  return stream;
}

}  // namespace vtn::tarnwell
