// Shared by the page-store tests: a scratch directory, files opened through the process list,
// and the records of a file read back in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "runtime/files/tarnwell/record_file.hpp"
#include "tests/support/scratch_directory.hpp"

namespace vtn::tarnwell {

using Bytes = std::vector<uint8_t>;
using Model = std::map<Bytes, Bytes>;  // std::map orders byte vectors as the record order does

inline constexpr uint32_t kReadWriteShared = 0x142;  // read and write, deny none, create
inline constexpr uint32_t kReadOnlyShared = 0x40;

inline Bytes key_of(uint32_t n, size_t extra = 0) {
  Bytes k = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
             static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
  for (size_t i = 0; i < extra; ++i) k.push_back(static_cast<uint8_t>('k' + i % 7));
  return k;
}

// Data that does not compress: no run of 4 equal bytes.
inline Bytes data_of(size_t size, uint32_t seed) {
  Bytes d(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    d[i] = static_cast<uint8_t>((x >> 16) ^ i);
  }
  return d;
}

// Every record of the file, in the file's order, from the store's own walk.
inline Model records_of(RecordFile& file) {
  Model out;
  Bytes previous;
  Bytes last_key;
  bool first = true;
  for (;;) {
    const auto r = first ? file.find_first_after({}) : file.find_first_after(last_key);
    if (!r) break;
    const Bytes key(r->key().begin(), r->key().end());
    if (!first) {
      EXPECT_LT(last_key, key) << "records out of order";
    }
    out[key] = Bytes(r->data().begin(), r->data().end());
    last_key = key;
    first = false;
  }
  return out;
}

// Compares record sets, describing the first difference instead of printing both.
inline ::testing::AssertionResult same_records(const Model& got, const Model& want) {
  if (got == want) return ::testing::AssertionSuccess();
  auto g = got.begin();
  auto w = want.begin();
  while (g != got.end() && w != want.end() && *g == *w) ++g, ++w;
  auto hex = [](const Bytes& b) {
    std::string s;
    for (uint8_t c : b) s += "0123456789abcdef"[c >> 4], s += "0123456789abcdef"[c & 15];
    return s;
  };
  ::testing::AssertionResult out = ::testing::AssertionFailure();
  out << got.size() << " records, expected " << want.size() << "; first difference: ";
  if (g == got.end()) return out << "missing key " << hex(w->first);
  if (w == want.end()) return out << "extra key " << hex(g->first);
  if (g->first != w->first) return out << "key " << hex(g->first) << " vs " << hex(w->first);
  return out << "data of key " << hex(g->first) << " (" << g->second.size() << " bytes vs "
             << w->second.size() << ")";
}

class StoreTest : public testing_support::ScratchDirectoryTest {
 protected:
  ~StoreTest() override {
    for (RecordFile* f : open_) close_record_file(f);
  }

  RecordFile* open(uint32_t mode = kReadWriteShared, const char* name = "T.TWL",
                   std::string_view password = "") {
    RecordFile* f = nullptr;
    const int32_t result = open_record_file(path(name), mode, password, f);
    EXPECT_EQ(result, 0) << "open " << name;
    if (f != nullptr) open_.push_back(f);
    return f;
  }
  void close(RecordFile* f) {
    std::erase(open_, f);
    close_record_file(f);
  }

  void write_file(const char* name, const Bytes& bytes) {
    std::ofstream(path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  Bytes read_file(const char* name) {
    std::ifstream in(path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  // The records and the checker's verdict of the file as a fresh open sees it, with a write access
  // when `mode` opens for writing.
  Model reopened_records(const char* name = "T.TWL", uint32_t mode = kReadOnlyShared,
                         std::string_view password = "") {
    return reopened_records_at(path(name), mode, password);
  }
  // As another process would open it while this one has it open: under another spelling of its
  // path, so that the process's list of open files does not hand back the same RecordFile.
  std::string other_process_name(const char* name = "T.TWL") const {
    return (dir_ / "." / name).string();
  }
  Model reopened_records_at(const std::string& full_name, uint32_t mode,
                            std::string_view password = "") {
    RecordFile* f = nullptr;
    EXPECT_EQ(open_record_file(full_name, mode, password, f), 0);
    if (f == nullptr) return {};
    // A writer applies a pending page log; a reader reads through it.
    const AccessMode access = (mode & 3) != 0 ? AccessMode::write : AccessMode::read;
    EXPECT_EQ(f->begin_access(access, true), 0);
    const CheckResult check = check_record_file(*f);
    EXPECT_TRUE(check.ok) << check.what << " (" << check.check_number << ")";
    Model m = records_of(*f);
    f->end_access();
    close_record_file(f);
    return m;
  }

  std::vector<RecordFile*> open_;
};

}  // namespace vtn::tarnwell
