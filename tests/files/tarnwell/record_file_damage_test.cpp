// Damaged files: a valid file with a page log pending (a flush stopped between its phases) has
// bytes of its header, zones, pages and log spoiled at random. Opening it, checking it, walking its
// records and reading through or applying its log must end in a clear result (0, 36, or an
// internal error with its check number), never a crash, a hang or an access out of bounds (the
// asan build watches the last).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_stream.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

class RecordFileDamageTest : public StoreTest {
 protected:
  // Everything a driver might do with the file; returns false on an unclear result.
  bool exercise(AccessMode mode) {
    RecordFile* f = nullptr;
    const int32_t opened = open_record_file(path("D.TWL"), 0x42, "", f);
    if (opened != 0) return opened == kNotAFile;
    bool clear = true;
    try {
      const int32_t result = f->begin_access(mode, true);
      if (result == 0) {
        const CheckResult check = check_record_file(*f);
        clear = check.ok || !check.what.empty();
        Bytes last;
        for (int n = 0; n < 5000; ++n) {
          const auto r = n == 0 ? f->find_first_after({}) : f->find_first_after(last);
          if (!r || (n > 0 && compare_keys(r->key(), last) <= 0)) break;
          last.assign(r->key().begin(), r->key().end());
        }
        f->find_last_before(Bytes{0x80});
      } else {
        clear = result == kNotAFile || result > 0;
      }
    } catch (const InternalError& e) {
      clear = e.check() > 0;
    }
    f->discard_changes();
    close_record_file(f);
    return clear;
  }
};

TEST_F(RecordFileDamageTest, RandomlySpoiledFilesFailCleanly) {
  // A file of a few hundred records over several page sizes, then a flush stopped after phase 0.
  RecordFile* f = open(kReadWriteShared, "GOOD.TWL");
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (uint32_t i = 0; i < 300; ++i)
    f->insert_record(key_of(i, i % 7), data_of(20 + i * 13 % 900, i));
  ASSERT_EQ(f->end_access(), 0);
  ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
  for (uint32_t i = 0; i < 300; i += 7) f->replace_record(key_of(i, i % 7), data_of(1200, i));
  ASSERT_EQ(f->flush_phase0(), 0);
  close(f);
  const Bytes good = read_file("GOOD.TWL");

  std::mt19937 rng(17);
  const int cases = std::getenv("VTN_LONG_TESTS") ? 5000 : 300;
  int clean_opens = 0;
  for (int c = 0; c < cases; ++c) {
    Bytes bytes = good;
    const int spoils = 1 + static_cast<int>(rng() % 4);
    for (int s = 0; s < spoils; ++s) {
      // Half of the spoils hit the header, where every field matters.
      const size_t at = rng() % 2 ? rng() % kHeaderSize : rng() % bytes.size();
      bytes[at] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
    }
    if (rng() % 10 == 0) bytes.resize(rng() % bytes.size());  // cut short
    write_file("D.TWL", bytes);
    ASSERT_TRUE(exercise(AccessMode::read)) << "case " << c;
    ASSERT_TRUE(exercise(AccessMode::write)) << "case " << c;
    clean_opens += read_file("D.TWL").size() >= kHeaderSize;
  }
  EXPECT_GT(clean_opens, 0);
}

}  // namespace
}  // namespace vtn::tarnwell
