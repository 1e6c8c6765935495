#include "runtime/format/collation_builder.hpp"

#include "runtime/platform/code_pages.hpp"
#include "runtime/platform/collation_order.hpp"

namespace vtn {
namespace {

constexpr size_t kFullOrderLength = 222;  // 95 printable ASCII + 127 codes 80h-FEh
constexpr int kPrintableFirst = 0x20;
constexpr int kPrintableCount = 0x7F - 0x20;
constexpr int kHighFirst = 0x80;

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::array<uint8_t, 256> build_collation_table(std::string_view sequence) {
  std::array<bool, 256> seen{};
  std::string distinct;
  bool dropped = false;
  for (char ch : sequence) {
    const auto c = static_cast<uint8_t>(ch);
    if (c == 0) break;
    if (seen[c]) {
      dropped = true;
      continue;
    }
    seen[c] = true;
    distinct += ch;
  }

  std::array<uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<uint8_t>(c);

  if (!dropped && distinct.size() == kFullOrderLength) {
    std::array<uint8_t, 256> order{};
    for (int p = 0; p < 256; ++p) order[p] = static_cast<uint8_t>(p);
    for (int i = 0; i < kPrintableCount; ++i) {
      order[kPrintableFirst + i] = static_cast<uint8_t>(distinct[i]);
    }
    for (size_t j = kPrintableCount; j < kFullOrderLength; ++j) {
      order[kHighFirst + (j - kPrintableCount)] = static_cast<uint8_t>(distinct[j]);
    }
    // A sequence that names controls, 7Fh or FFh is not a permutation of the printable places;
    // the later place wins and nothing is left undefined.
    for (int p = 0; p < 256; ++p) table[order[p]] = static_cast<uint8_t>(p);
    return table;
  }

  size_t next = 0;
  for (int code = 0; code < 256; ++code) {
    if (seen[code]) table[static_cast<uint8_t>(distinct[next++])] = static_cast<uint8_t>(code);
  }
  return table;
}

std::string windows_collation_sequence() {
  std::string order(1, '\x01');
  for (int c = 2; c <= 254; ++c) {
    size_t place = 0;  // after the last character that does not compare greater
    for (size_t j = order.size(); j > 0; --j) {
      if (platform::compare_one_character_texts(static_cast<uint8_t>(order[j - 1]),
                                                static_cast<uint8_t>(c)) <= 0) {
        place = j;
        break;
      }
    }
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(place), static_cast<char>(c));
  }
  return order;
}

void apply_collation_sequence(CharTables& tables, std::string_view sequence) {
  if (sequence.empty()) {
    reset_collation(tables);
    return;
  }
  std::string own;
  if (equals_ignoring_case(sequence, "WINDOWS")) {
    tables.oem_flag = false;
    own = windows_collation_sequence();
    sequence = own;
  }
  if (tables.oem_flag) {
    tables.collation_oem = build_collation_table(sequence);
    tables.collation_ansi = build_collation_table(platform::oem_to_ansi(sequence));
  } else {
    tables.collation_ansi = build_collation_table(sequence);
    tables.collation_oem = build_collation_table(platform::ansi_to_oem(sequence));
  }
}

}  // namespace vtn
