// Reading records from positions, on tables in memory and in a real file: what POSITIONkey and a
// watch see after every kind of read, and NEXT / PREVIOUS from every kind of position against a
// model, with records added and deleted between the positioning and each read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "files/tarnwell/memory_tables.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/values/error_state.hpp"

namespace vtn {
namespace {

#pragma pack(push, 1)
struct Row {
  int32_t id;
  char name[6];
};
#pragma pack(pop)

Row row(int32_t id, const char* name) {
  Row r{};
  r.id = id;
  std::memset(r.name, ' ', sizeof r.name);
  std::memcpy(r.name, name, std::strlen(name));
  return r;
}

// The key value of BY_ID as POSITIONkey gives it: the LONG, most significant byte first, sign
// bit inverted.
std::string id_value(int32_t id) {
  const auto u = static_cast<uint32_t>(id) ^ 0x80000000u;
  return {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
          static_cast<char>(u)};
}

std::string record_number(int32_t record) {
  const auto u = static_cast<uint32_t>(record);
  return {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
          static_cast<char>(u)};
}

// Runs on tables in memory (false) and in a file through the page store (true), whose views of a
// record die with the next call on the store.
class TableReadingTest : public ::testing::TestWithParam<bool> {
 public:
  TableReadingTest() {
    if (!GetParam()) tarnwell::set_store_provider(&memory_);
    CREATE(table_);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    SHARE(table_, 0x42);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  }
  ~TableReadingTest() override {
    other_.reset();
    owned_.reset();
    tarnwell::set_store_provider(nullptr);
    std::error_code ignored;
    if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ignored);
  }

  static FileDeclaration declaration(const std::string& name) {
    return FileDeclaration("R")
        .driver(tarnwell_entry)
        .name(name)
        .create()
        .field("ID", ftype::LONG)
        .field("NAME", ftype::STRING(6))
        .key("BY_ID", {"ID"}, KA_PRIMARY)
        .key("BY_NAME", {"NAME"}, KA_DUP | KA_NOCASE);
  }

  Row& buffer() { return table_.record_as<Row>(); }
  KeyBlock& by_id() { return table_.key("BY_ID"); }
  KeyBlock& by_name() { return table_.key("BY_NAME"); }

  // Adds the row through `file`; its record number.
  int32_t add(File& file, const Row& r) {
    file.record_as<Row>() = r;
    ADD(file);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    return POINTER(file);
  }

  // A second table on the same file: another user changing records behind the first one's back.
  File& other() {
    if (!other_) {
      other_ = std::make_unique<File>(declaration(name_));
      SHARE(*other_, 0x42);
      EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    return *other_;
  }

  testing_support::MemoryStoreProvider memory_;
  static std::string make_scratch() {
    char pattern[] = "/tmp/vtn_reading_XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/tmp";
  }
  std::string dir_ = make_scratch();
  std::string name_ = (GetParam() ? dir_ + "/reading.TWL" : std::string("reading.TWL")) + "\\!ROWS";
  std::unique_ptr<File> owned_ = std::make_unique<File>(declaration(name_));
  std::unique_ptr<File> other_;
  File& table_ = *owned_;
  std::string saved_position_;  // REGET's position
  int32_t first_ = 0;           // the record of id 10
};

// Every way a record becomes the current one: `prepare` positions, `read` (the one read or
// write) leaves record `target` (id 20, "bob") current with the buffer as read or written.
struct ReadKind {
  using Step = std::function<void(TableReadingTest&, int32_t target)>;
  const char* name;
  bool is_read;  // a read, which a WATCH just before it watches (ADD and PUT write)
  Step prepare, read;
};

// The table holds ids 10, 20, 30 (records first_ and up, in this order); `target` is id 20.
const std::vector<ReadKind>& read_kinds() {
  const auto next = [](TableReadingTest& t, int32_t) { NEXT(t.table_); };
  const auto previous = [](TableReadingTest& t, int32_t) { PREVIOUS(t.table_); };
  static const std::vector<ReadKind> kinds = {
      {"NEXT in record order from a pointer", true,
       [](TableReadingTest& t, int32_t target) { SET(t.table_, target); }, next},
      {"PREVIOUS in record order from a pointer", true,
       [](TableReadingTest& t, int32_t target) { SET(t.table_, target); }, previous},
      {"NEXT reading on in record order", true,
       [](TableReadingTest& t, int32_t) {
         SET(t.table_);
         NEXT(t.table_);
       },
       next},
      {"PREVIOUS reading on in record order", true,
       [](TableReadingTest& t, int32_t) {
         SET(t.table_);
         PREVIOUS(t.table_);
       },
       previous},
      {"NEXT reading on along a key", true,
       [](TableReadingTest& t, int32_t) {
         SET(t.by_id());
         NEXT(t.table_);
       },
       next},
      {"PREVIOUS reading on along a key", true,
       [](TableReadingTest& t, int32_t) {
         SET(t.by_id());
         PREVIOUS(t.table_);
       },
       previous},
      {"NEXT from a key value in record order", true,
       [](TableReadingTest& t, int32_t) {
         t.buffer() = row(15, "");
         SET(t.table_, t.by_id());
       },
       next},
      {"NEXT from a key value along a key with duplicates", true,
       [](TableReadingTest& t, int32_t) {
         t.buffer() = row(0, "BOB");
         SET(t.by_name(), t.by_name());
       },
       next},
      {"GET by a unique key", true, [](TableReadingTest& t, int32_t) { t.buffer() = row(20, ""); },
       [](TableReadingTest& t, int32_t) { GET(t.table_, t.by_id()); }},
      {"GET by a key with duplicates", true,
       [](TableReadingTest& t, int32_t) { t.buffer() = row(0, "Bob"); },
       [](TableReadingTest& t, int32_t) { GET(t.table_, t.by_name()); }},
      {"GET by pointer", true, [](TableReadingTest&, int32_t) {},
       [](TableReadingTest& t, int32_t target) { GET(t.table_, target); }},
      {"REGET", true,
       [](TableReadingTest& t, int32_t target) {
         GET(t.table_, target);
         t.saved_position_ = POSITION(t.table_);
         GET(t.table_, t.first_);
       },
       [](TableReadingTest& t, int32_t) { REGET(t.table_, t.saved_position_); }},
      {"PUT", false,
       [](TableReadingTest& t, int32_t target) {
         GET(t.table_, target);
         std::memcpy(t.buffer().name, "bob   ", 6);  // the same key values
       },
       [](TableReadingTest& t, int32_t) { PUT(t.table_); }},
      {"PUT by pointer", false,
       [](TableReadingTest& t, int32_t) {
         GET(t.table_, t.first_);
         t.buffer() = row(20, "bob");
       },
       [](TableReadingTest& t, int32_t target) { PUT(t.table_, target); }},
  };
  return kinds;
}

TEST_P(TableReadingTest, PositionOfAKeyAndAWatchSeeTheRecordAsReadAfterEveryKindOfRead) {
  first_ = add(table_, row(10, "ann"));
  const int32_t target = add(table_, row(20, "bob"));
  add(table_, row(30, "cy"));
  for (const ReadKind& kind : read_kinds()) {
    SCOPED_TRACE(kind.name);
    kind.prepare(*this, target);
    kind.read(*this, target);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    ASSERT_EQ(POINTER(table_), target);
    // The program fills the buffer with something else; the position is still the record's.
    buffer() = row(99, "zzz");
    EXPECT_EQ(POSITION(by_id()), record_number(target) + id_value(20));
    EXPECT_EQ(POSITION(table_), record_number(target));

    if (!kind.is_read) continue;
    // A watched read keeps the record as read: unchanged elsewhere, the program's PUT goes
    // through; changed elsewhere in between, it is refused with 89.
    kind.prepare(*this, target);
    WATCH(table_);
    kind.read(*this, target);
    ASSERT_EQ(ERRORNUMBER(), 0);
    std::memcpy(buffer().name, "BOB", 3);
    PUT(table_);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    kind.prepare(*this, target);
    WATCH(table_);
    kind.read(*this, target);
    ASSERT_EQ(ERRORNUMBER(), 0);
    GET(other(), target);
    std::memcpy(other().record_as<Row>().name, "bob", 3);
    PUT(other());
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    std::memcpy(buffer().name, "Bob", 3);
    PUT(table_);
    EXPECT_EQ(ERRORNUMBER(), 89);
  }
}

// A PUT by pointer makes its record the current one without reading it; when it changes nothing,
// POSITIONkey must still give the value of that record, not of the record read before it.
TEST_P(TableReadingTest, PositionOfAKeyAfterAPutByPointerThatChangesNothing) {
  const int32_t first = add(table_, row(10, "ann"));
  const int32_t target = add(table_, row(20, "bob"));
  GET(table_, first);
  table_.record_as<Row>() = row(20, "bob");  // exactly the stored record
  PUT(table_, target);
  ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
  buffer() = row(99, "zzz");
  EXPECT_EQ(POSITION(by_id()), record_number(target) + id_value(20));
}

// A model of where reading stands: an order over the records and a point in it.
enum class Order { file, by_id, by_name };

using Point = std::tuple<int64_t, std::string, int64_t>;

std::string upper(const char* name) {
  std::string s(name, 6);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

Point point_of(Order order, uint32_t record, const Row& r) {
  switch (order) {
    case Order::file:
      return {record, "", 0};
    case Order::by_id:
      return {r.id, "", 0};
    default:
      return {0, upper(r.name), record};
  }
}

struct ModelPosition {
  Order order = Order::file;
  enum { start, at_or_beyond, beyond } from = start;
  Point point;
};

// The record NEXT (forward) or PREVIOUS reads from `p`; none at the end.
std::optional<uint32_t> expected_read(const std::map<uint32_t, Row>& rows, const ModelPosition& p,
                                      bool forward) {
  std::optional<std::pair<Point, uint32_t>> best;
  for (const auto& [record, r] : rows) {
    const Point q = point_of(p.order, record, r);
    if (p.from == ModelPosition::at_or_beyond && (forward ? q < p.point : q > p.point)) continue;
    if (p.from == ModelPosition::beyond && (forward ? q <= p.point : q >= p.point)) continue;
    if (!best || (forward ? q < best->first : q > best->first)) best.emplace(q, record);
  }
  if (!best) return std::nullopt;
  return best->second;
}

TEST_P(TableReadingTest, ReadingOnMatchesTheModelWithChangesBetweenTheReads) {
  std::mt19937 random(std::getenv("VTN_MODEL_SEED") ? std::atoi(std::getenv("VTN_MODEL_SEED"))
                                                    : 777);
  static const char* const names[] = {"ann", "BOB", "bob", "cy", "Dee"};
  std::map<uint32_t, Row> rows;
  const auto add_random = [&] {
    Row r = row(static_cast<int32_t>(random() % 60) - 20, names[random() % 5]);
    for (const auto& [record, existing] : rows)
      if (existing.id == r.id) return;  // BY_ID is unique
    rows[static_cast<uint32_t>(add(other(), r))] = r;
  };
  const auto delete_random = [&] {
    if (rows.empty()) return;
    auto it = rows.begin();
    std::advance(it, random() % rows.size());
    GET(other(), static_cast<int32_t>(it->first));
    ASSERT_EQ(ERRORNUMBER(), 0);
    DELETE(other());
    ASSERT_EQ(ERRORNUMBER(), 0);
    rows.erase(it);
  };
  for (int i = 0; i < 25; ++i) add_random();

  // (Each change of the file on disk ends with a durable flush.)
  const int trials = std::getenv("VTN_LONG_TESTS") ? 2000 : GetParam() ? 40 : 300;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    ModelPosition p;
    switch (random() % 5) {
      case 0:
        SET(table_);
        break;
      case 1: {
        const auto pointer = static_cast<int32_t>(random() % 40 + 1);
        SET(table_, pointer);
        p.from = ModelPosition::at_or_beyond;
        p.point = {pointer, "", 0};
        break;
      }
      case 2:
        SET(by_id());
        p.order = Order::by_id;
        break;
      case 3:
        SET(by_name());
        p.order = Order::by_name;
        break;
      default: {
        if (rows.empty()) continue;
        auto it = rows.begin();
        std::advance(it, random() % rows.size());
        SET(table_);
        GET(table_, static_cast<int32_t>(it->first));  // reading on in record order from it
        ASSERT_EQ(ERRORNUMBER(), 0);
        p.from = ModelPosition::beyond;
        p.point = {it->first, "", 0};
      }
    }
    bool ended = false;  // a read that found nothing ends the sequence until the next SET
    for (int read = 0; read < 4; ++read) {
      // Others add and delete records between the positioning and each read, often the very
      // record the position stands on.
      for (unsigned changes = random() % 3; changes > 0; --changes)
        random() % 2 ? add_random() : delete_random();
      if (HasFatalFailure()) return;
      const bool forward = random() % 3 != 0;
      forward ? NEXT(table_) : PREVIOUS(table_);
      const std::optional<uint32_t> expected =
          ended ? std::nullopt : expected_read(rows, p, forward);
      if (!expected) {
        EXPECT_EQ(ERRORNUMBER(), 33);
        ended = true;
        continue;
      }
      ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
      ASSERT_EQ(static_cast<uint32_t>(POINTER(table_)), *expected);
      EXPECT_EQ(std::memcmp(&buffer(), &rows[*expected], sizeof(Row)), 0);
      p.from = ModelPosition::beyond;
      p.point = point_of(p.order, *expected, rows[*expected]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, TableReadingTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PageStore" : "Memory"; });

}  // namespace
}  // namespace vtn
