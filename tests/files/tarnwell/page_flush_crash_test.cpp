// Crash harness of the two-phase flush. A scripted workload of flushes is run once to record the
// file and its records before and after every flush. Then every flush is interrupted in turn at
// every write and at every durable flush of the protocol (the write or flush fails, and a crash
// tears every write not yet made durable), and the file is reopened as a new process would, once
// as a reader and once as a writer: it must pass the checker and hold exactly the records before
// or exactly the records after the interrupted flush, the same for both. Failing writes (an error,
// a short write) without a crash must make the flush report the error and leave a valid file.
//
// CI runs a sample of the points; VTN_LONG_TESTS=1 runs every point, in both crash modes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/platform/fault_injection.hpp"
#include "tests/files/tarnwell/store_fixture.hpp"

namespace vtn::tarnwell {
namespace {

namespace fault = platform::fault;

uint32_t load_key(const Bytes& k) {
  return (uint32_t{k[0]} << 24) | (uint32_t{k[1]} << 16) | (uint32_t{k[2]} << 8) | k[3];
}

struct Step {
  const char* what;
  std::function<void(RecordFile&, Model&)> change;
};

void put(RecordFile& f, Model& m, uint32_t n, Bytes data) {
  const Bytes key = key_of(n, n % 5);
  if (m.contains(key)) {
    EXPECT_TRUE(f.replace_record(key, data));
  } else {
    f.insert_record(key, data);
  }
  m[key] = std::move(data);
}

void remove(RecordFile& f, Model& m, uint32_t n) {
  const Bytes key = key_of(n, n % 5);
  EXPECT_EQ(f.delete_record(key), m.erase(key) == 1);
}

const std::vector<Step>& workload() {
  static const std::vector<Step> steps = {
      {"first flush of a new file",
       [](RecordFile& f, Model& m) {
         for (uint32_t i = 0; i < 60; ++i) put(f, m, i * 3, data_of(40 + i * 7 % 300, i));
       }},
      {"grow records into other zones",
       [](RecordFile& f, Model& m) {
         for (uint32_t i = 0; i < 60; i += 4) put(f, m, i * 3, data_of(1500 + i * 50, i + 100));
         for (uint32_t i = 0; i < 30; ++i) put(f, m, i * 3 + 1, Bytes(200 + i, uint8_t(i)));
       }},
      {"delete and shrink",
       [](RecordFile& f, Model& m) {
         for (uint32_t i = 0; i < 60; i += 3) remove(f, m, i * 3);
         for (uint32_t i = 1; i < 60; i += 8) put(f, m, i * 3, data_of(20, i + 200));
         f.new_table_number();
       }},
      {"large records split pages",
       [](RecordFile& f, Model& m) {
         for (uint32_t i = 0; i < 8; ++i) put(f, m, 1000 + i, data_of(9000 + i * 100, i + 300));
       }},
      {"delete most",
       [](RecordFile& f, Model& m) {
         std::vector<uint32_t> keys;
         for (const auto& [k, v] : m) keys.push_back(load_key(k));
         for (size_t i = 0; i + 5 < keys.size(); ++i) remove(f, m, keys[i]);
       }},
  };
  return steps;
}

class PageFlushCrashTest : public StoreTest {
 protected:
  void SetUp() override {
    // The golden run: the file and the records before every flush, and after the last.
    Model m;
    RecordFile* f = open(kReadWriteShared, "GOLD.TWL");
    ASSERT_NE(f, nullptr);
    for (const Step& step : workload()) {
      files_.push_back(read_file("GOLD.TWL"));
      models_.push_back(m);
      ASSERT_EQ(f->begin_access(AccessMode::write, true), 0);
      step.change(*f, m);
      ASSERT_EQ(f->end_access(), 0) << step.what;
    }
    models_.push_back(m);
    close(f);
  }
  void TearDown() override { fault::disarm(); }

  // Runs the change of step s on a copy of the file before it, under `plan`. Returns the flush's
  // result.
  int32_t run_step(size_t s, const fault::Plan& plan) {
    write_file("C.TWL", files_[s]);
    fault::arm(plan);
    RecordFile* f = open(kReadWriteShared, "C.TWL");
    if (f == nullptr) return -1;
    EXPECT_EQ(f->begin_access(AccessMode::write, true), 0);
    Model m = models_[s];
    workload()[s].change(*f, m);
    const int32_t result = f->end_access();
    last_file_ = f;
    return result;
  }
  void finish_step() {
    close(last_file_);
    fault::disarm();
  }

  // The state a new process finds, as a reader and then as a writer; both must be the same
  // valid state, before or after step s.
  void verify(size_t s, const std::string& point) {
    const Model as_reader = reopened_records("C.TWL", kReadOnlyShared);
    const Model as_writer = reopened_records("C.TWL", kReadWriteShared);
    const Model& before = models_[s];
    const Model& after = models_[s + 1];
    EXPECT_TRUE(as_reader == before || as_reader == after)
        << point << ": " << same_records(as_reader, after).message();
    EXPECT_TRUE(same_records(as_writer, as_reader)) << point;
    ++verified_;
  }

  // Writes and flushes the flush of step s makes.
  std::pair<uint32_t, uint32_t> count_io(size_t s) {
    EXPECT_EQ(run_step(s, {}), 0);
    const std::pair<uint32_t, uint32_t> counts{fault::writes_seen(), fault::flushes_seen()};
    finish_step();
    return counts;
  }

  static bool long_mode() { return std::getenv("VTN_LONG_TESTS") != nullptr; }
  // Every point in long mode; otherwise about `sample` of them, always the first and last.
  static std::vector<uint32_t> points(uint32_t count, uint32_t sample) {
    std::vector<uint32_t> out;
    const uint32_t stride = long_mode() ? 1 : std::max<uint32_t>(1, count / sample);
    for (uint32_t k = 1; k <= count; k += stride) out.push_back(k);
    if (out.empty() || out.back() != count) out.push_back(count);
    return out;
  }

  std::vector<Bytes> files_;
  std::vector<Model> models_;
  RecordFile* last_file_ = nullptr;
  int verified_ = 0;
};

TEST_F(PageFlushCrashTest, CrashAtEveryWriteAndFlush) {
  std::vector<fault::CrashMode> modes = {fault::CrashMode::kTear};
  if (long_mode()) modes.push_back(fault::CrashMode::kLoseAll);
  int old_states = 0, new_states = 0;
  for (size_t s = 0; s < workload().size(); ++s) {
    const auto [writes, flushes] = count_io(s);
    ASSERT_GT(writes, 0u);
    for (fault::CrashMode mode : modes) {
      for (uint32_t k : points(writes + flushes + 1, 12)) {
        fault::Plan plan;
        std::string point = std::string(workload()[s].what);
        if (k <= writes) {
          plan.fail_write = k;
          point += ": crash before write " + std::to_string(k);
        } else if (k <= writes + flushes) {
          plan.fail_flush = k - writes;
          point += ": crash at flush " + std::to_string(k - writes);
        } else {
          point += ": crash after the flush";
        }
        const int32_t result = run_step(s, plan);
        EXPECT_EQ(result != 0, k <= writes + flushes) << point;
        fault::simulate_crash(mode, k);
        finish_step();
        verify(s, point);
        const Model seen = reopened_records("C.TWL");
        (seen == models_[s] ? old_states : new_states)++;
        if (k > writes + flushes) {
          EXPECT_TRUE(same_records(seen, models_[s + 1])) << point;
        }
        if (plan.fail_write == 1) {
          EXPECT_TRUE(same_records(seen, models_[s])) << point;
        }
      }
    }
  }
  // Both outcomes must occur: crashes before the header points at the log, and after.
  EXPECT_GT(old_states, 0);
  EXPECT_GT(new_states, 0);
  std::cout << "crash points verified: " << verified_ << " (" << old_states << " old state, "
            << new_states << " new state)\n";
}

TEST_F(PageFlushCrashTest, FailedWritesReportTheErrorAndLeaveAValidFile) {
  for (size_t s = 0; s < workload().size(); ++s) {
    const auto [writes, flushes] = count_io(s);
    for (uint32_t k : points(writes, 6)) {
      for (const bool short_write : {false, true}) {
        fault::Plan plan;
        (short_write ? plan.short_write : plan.fail_write) = k;
        const std::string point = std::string(workload()[s].what) +
                                  (short_write ? ": short write " : ": write error at ") +
                                  std::to_string(k);
        const int32_t result = run_step(s, plan);
        EXPECT_EQ(result, short_write ? 5 : 39) << point;
        // The same file object rereads everything at its next access.
        RecordFile* f = last_file_;
        EXPECT_FALSE(f->dirty()) << point;
        ASSERT_EQ(f->begin_access(AccessMode::read, true), 0) << point;
        const Model now = records_of(*f);
        EXPECT_TRUE(now == models_[s] || now == models_[s + 1]) << point;
        const CheckResult check = check_record_file(*f);
        EXPECT_TRUE(check.ok) << point << ": " << check.what;
        f->end_access();
        finish_step();
        verify(s, point);
      }
    }
    for (uint32_t k : points(flushes, 3)) {
      fault::Plan plan;
      plan.fail_flush = k;
      const std::string point =
          std::string(workload()[s].what) + ": flush error at " + std::to_string(k);
      EXPECT_EQ(run_step(s, plan), 31) << point;
      finish_step();
      verify(s, point);
    }
  }
  std::cout << "write and flush failures verified: " << verified_ << "\n";
}

}  // namespace
}  // namespace vtn::tarnwell
