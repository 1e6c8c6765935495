// A model-based test of the table layer: random ADD, PUT, DELETE, APPEND and BUILD on a table
// with three keys (one with duplicates, one case-insensitive, one descending over two
// components), checked after every step against an in-memory model: the whole table in record
// order and in every key order, forwards and backwards, GET by every key, and the counts.
//
// The model knows which records each key has entries for: APPEND leaves keys stale, a later PUT
// enters the record, and BUILD enters the first record of each value of a key without duplicates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Row {
  int16_t group;
  char name[6];
  int32_t score;
  int32_t id;
};
#pragma pack(pop)

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// A key's value, in an order-preserving form the model can compare.
using Value = std::tuple<int64_t, std::string, int64_t>;

Value value_of(int key, const Row& r) {
  switch (key) {
    case 0:
      return {r.group, "", 0};
    case 1:
      return {0, upper(std::string(r.name, sizeof r.name)), 0};
    default:
      return {-int64_t{r.score}, "", r.id};
  }
}

constexpr bool kDuplicates[3] = {true, false, false};
const char* const kKeys[3] = {"BY_GROUP", "BY_NAME", "BY_SCORE"};

struct Model {
  std::map<uint32_t, Row> rows;
  std::set<uint32_t> entered[3];  // records that have an entry in each key

  std::vector<uint32_t> key_order(int key) const {
    std::vector<std::pair<Value, uint32_t>> v;
    for (uint32_t r : entered[key]) v.emplace_back(value_of(key, rows.at(r)), r);
    std::sort(v.begin(), v.end());
    std::vector<uint32_t> out;
    for (auto& [value, r] : v) out.push_back(r);
    return out;
  }
  // Whether entering `row` for `record` would clash in the unique key `key`.
  bool clashes(int key, const Row& row, uint32_t record) const {
    if (kDuplicates[key]) return false;
    for (uint32_t r : entered[key])
      if (r != record && value_of(key, rows.at(r)) == value_of(key, row)) return true;
    return false;
  }
};

// Runs on tables in memory (false) and on a real file through the page store (true), whose
// checker then looks at the whole file after every step.
class TableModelTest : public ::testing::TestWithParam<bool> {
 protected:
  TableModelTest() {
    if (!GetParam()) tarnwell::set_store_provider(&memory_);
    CREATE(table_);
    EXPECT_EQ(ERRORNUMBER(), 0);
    OPEN(table_, 0x12);
    EXPECT_EQ(ERRORNUMBER(), 0);
  }
  ~TableModelTest() override {
    owned_.reset();
    tarnwell::set_store_provider(nullptr);
    std::error_code ignored;
    if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ignored);
  }

  static FileDeclaration declaration(const std::string& name) {
    return FileDeclaration("T")
        .driver(tarnwell_entry)
        .name(name)
        .create()
        .field("GROUP", ftype::SHORT)
        .field("NAME", ftype::STRING(6))
        .field("SCORE", ftype::LONG)
        .field("ID", ftype::LONG)
        .key("BY_GROUP", {"GROUP"}, KA_DUP)
        .key("BY_NAME", {"NAME"}, KA_NOCASE)
        .key("BY_SCORE", {"-SCORE", "ID"});
  }

  void check_file() {
    if (!GetParam()) return;
    tarnwell::RecordFile* file = nullptr;
    ASSERT_EQ(tarnwell::open_record_file(path_, 0x40, "", file), 0);
    ASSERT_EQ(file->begin_access(tarnwell::AccessMode::read, true), 0);
    const tarnwell::CheckResult r = tarnwell::check_record_file(*file);
    EXPECT_TRUE(r.ok) << r.check_number << " " << r.what;
    file->end_access();
    tarnwell::close_record_file(file);
  }

  Row& buffer() { return table_.record_as<Row>(); }

  Row random_row() {
    static const char* const names[] = {"ann", "ANN", "bob", "Cy", "dee", "EVE", "fay", "Gus"};
    Row r{};
    r.group = static_cast<int16_t>(random_() % 5 - 2);
    std::memset(r.name, ' ', sizeof r.name);
    const char* n = names[random_() % 8];
    std::memcpy(r.name, n, std::strlen(n));
    r.score = static_cast<int32_t>(random_() % 7) - 3;
    r.id = static_cast<int32_t>(random_() % 40);
    return r;
  }

  uint32_t random_record() {
    auto it = model_.rows.begin();
    std::advance(it, random_() % model_.rows.size());
    return it->first;
  }

  void add(bool append) {
    const Row row = random_row();
    buffer() = row;
    append ? APPEND(table_) : ADD(table_);
    bool clash = false;
    if (!append)
      for (int k = 0; k < 3; ++k) clash |= model_.clashes(k, row, 0);
    if (clash) {
      ASSERT_EQ(ERRORNUMBER(), 40);
      return;
    }
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    if (append) {  // APPEND makes no current record for POINTER: the newest is the last one
      SET(table_);
      PREVIOUS(table_);
      ASSERT_EQ(ERRORNUMBER(), 0);
    }
    const auto record = static_cast<uint32_t>(POINTER(table_));
    ASSERT_EQ(model_.rows.count(record), 0u);
    model_.rows[record] = row;
    if (!append)
      for (auto& e : model_.entered) e.insert(record);
  }

  void put() {
    if (model_.rows.empty()) return;
    const uint32_t record = random_record();
    GET(table_, static_cast<int32_t>(record));
    ASSERT_EQ(ERRORNUMBER(), 0);
    const Row row = random_row();
    Row changed = buffer();
    switch (random_() % 3) {
      case 0:
        changed.group = row.group;
        break;
      case 1:
        std::memcpy(changed.name, row.name, sizeof row.name);
        break;
      default:
        changed.score = row.score;
        changed.id = row.id;
    }
    buffer() = changed;
    PUT(table_);
    bool clash = false;
    const Row& old = model_.rows[record];
    for (int k = 0; k < 3; ++k)
      clash |= value_of(k, old) != value_of(k, changed) && model_.clashes(k, changed, record);
    if (clash) {
      ASSERT_EQ(ERRORNUMBER(), 40);
      return;
    }
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (int k = 0; k < 3; ++k)
      if (value_of(k, old) != value_of(k, changed)) model_.entered[k].insert(record);
    model_.rows[record] = changed;
  }

  void remove() {
    if (model_.rows.empty()) return;
    const uint32_t record = random_record();
    GET(table_, static_cast<int32_t>(record));
    ASSERT_EQ(ERRORNUMBER(), 0);
    DELETE(table_);
    ASSERT_EQ(ERRORNUMBER(), 0);
    model_.rows.erase(record);
    for (auto& e : model_.entered) e.erase(record);
  }

  void build() {
    BUILD(table_);
    bool skipped = false;
    for (int k = 0; k < 3; ++k) {
      std::map<Value, uint32_t> first;
      model_.entered[k].clear();
      for (auto& [r, row] : model_.rows) {
        if (!kDuplicates[k] && first.count(value_of(k, row))) {
          skipped = true;
          continue;
        }
        first.emplace(value_of(k, row), r);
        model_.entered[k].insert(r);
      }
    }
    ASSERT_EQ(ERRORNUMBER(), skipped ? 40 : 0) << ERRORTEXT();
  }

  std::vector<uint32_t> read(bool forward) {
    std::vector<uint32_t> out;
    for (size_t guard = 0; guard <= model_.rows.size(); ++guard) {
      forward ? NEXT(table_) : PREVIOUS(table_);
      if (ERRORNUMBER() != 0) break;
      out.push_back(static_cast<uint32_t>(POINTER(table_)));
      const auto it = model_.rows.find(out.back());
      if (it == model_.rows.end() || std::memcmp(&it->second, &buffer(), sizeof(Row)) != 0) {
        ADD_FAILURE() << "record " << out.back() << " read back wrong";
        break;
      }
    }
    EXPECT_EQ(ERRORNUMBER(), 33);
    return out;
  }

  void compare(int step) {
    SCOPED_TRACE("after step " + std::to_string(step));
    std::vector<uint32_t> by_number;
    for (auto& [r, row] : model_.rows) by_number.push_back(r);
    SET(table_);
    EXPECT_EQ(read(true), by_number);
    SET(table_);
    std::reverse(by_number.begin(), by_number.end());
    EXPECT_EQ(read(false), by_number);
    EXPECT_EQ(RECORDS(table_), static_cast<int32_t>(model_.rows.size()));
    for (int k = 0; k < 3; ++k) {
      KeyBlock& key = table_.key(kKeys[k]);
      std::vector<uint32_t> order = model_.key_order(k);
      SET(key);
      EXPECT_EQ(read(true), order) << kKeys[k];
      SET(key);
      std::reverse(order.begin(), order.end());
      EXPECT_EQ(read(false), order) << kKeys[k];
      EXPECT_EQ(RECORDS(key), static_cast<int32_t>(model_.entered[k].size())) << kKeys[k];
      // GET by the key finds, for every entered record, the first entered record of its value.
      for (uint32_t r : model_.entered[k]) {
        buffer() = model_.rows[r];
        GET(table_, key);
        ASSERT_EQ(ERRORNUMBER(), 0) << kKeys[k] << " record " << r;
        EXPECT_TRUE(value_of(k, buffer()) == value_of(k, model_.rows[r])) << kKeys[k];
      }
    }
  }

  testing_support::MemoryStoreProvider memory_;
  static std::string make_scratch() {
    char pattern[] = "/tmp/vtn_model_XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }
  std::string dir_ = make_scratch();
  std::string path_ = GetParam() ? dir_ + "/model.TWL" : "model.TWL";
  std::unique_ptr<File> owned_ = std::make_unique<File>(declaration(path_ + "\\!ROWS"));
  File& table_ = *owned_;
  Model model_;
  std::mt19937 random_{std::getenv("VTN_MODEL_SEED")
                           ? static_cast<uint32_t>(std::atoi(std::getenv("VTN_MODEL_SEED")))
                           : 12345u};
};

TEST_P(TableModelTest, RandomChangesMatchTheModel) {
  const int steps = std::getenv("VTN_LONG_TESTS") ? 3000 : GetParam() ? 150 : 300;
  for (int step = 0; step < steps; ++step) {
    const unsigned what = random_() % 20;
    if (std::getenv("VTN_MODEL_TRACE")) std::fprintf(stderr, "step %d op %u\n", step, what);
    if (what < 8)
      add(false);
    else if (what < 12)
      put();
    else if (what < 15)
      remove();
    else if (what < 18)
      add(true);
    else
      build();
    if (HasFatalFailure()) return;
    compare(step);
    check_file();
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, TableModelTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PageStore" : "Memory"; });

}  // namespace
}  // namespace vtn
