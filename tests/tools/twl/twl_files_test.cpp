// twl on record files made by the record-file driver, run as a user runs it: info (text and JSON
// parsed back), export in every format and order, an export -> import round trip, import
// refusing bad rows, check finding damage planted in pages, counters and keys, and recover on a
// file whose flush was cut short after its page log was made durable.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "package/child_process.hpp"
#include "runtime/files/file_declaration.hpp"
#include "runtime/files/file_statements.hpp"
#include "runtime/files/tarnwell/record_file.hpp"
#include "runtime/files/tarnwell/record_kinds.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"
#include "runtime/platform/code_pages.hpp"
#include "runtime/values/error_state.hpp"
#include "support/scratch_directory.hpp"

namespace vtn {
namespace {

using testing_support::ChildResult;
using testing_support::run_child;
namespace tw = tarnwell;

ChildResult twl(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), VTN_TOOL_PATH);
  return run_child(args, {.input = input});
}

#pragma pack(push, 1)
struct Part {
  int32_t number;
  char name[12];
  int16_t stock;
};
#pragma pack(pop)

FileDeclaration parts_declaration(const std::string& name) {
  return FileDeclaration("PRT")
      .driver(tarnwell_entry)
      .name(name)
      .create()
      .field("NUMBER", ftype::LONG)
      .field("NAME", ftype::STRING(12))
      .field("STOCK", ftype::SHORT)
      .key("BY_NUMBER", {"NUMBER"}, KA_PRIMARY)
      .key("BY_NAME", {"NAME"}, KA_DUP | KA_NOCASE);
}

struct Row {
  int32_t number;
  std::string name;  // UTF-8
  int16_t stock;
};
const std::vector<Row> kRows = {
    {30, "washer", 500}, {10, "bolt", 120}, {20, "Nut \"M6\", z", -3}, {40, "Гайка", 7}};

// The CSV of kRows in record order, as export writes it.
const std::string kCsv =
    "\"PRT:NUMBER\",\"PRT:NAME\",\"PRT:STOCK\"\r\n"
    "30,\"washer\",500\r\n"
    "10,\"bolt\",120\r\n"
    "20,\"Nut \"\"M6\"\", z\",-3\r\n"
    "40,\"Гайка\",7\r\n";

tw::Number table_number() {
  return {0, 0, 0, 1};
}  // the first number given out
tw::Number record_number(int n) {
  return {0, 0, 0, static_cast<uint8_t>(n)};
}

class TwlFilesTest : public testing_support::ScratchDirectoryTest {
 protected:
  // A new table `table` in `file_name` holding `rows`, added in order (or appended: keys stale).
  std::string make_parts(const std::string& file_name = "PARTS.TWL",
                         const std::vector<Row>& rows = kRows, bool append = false) {
    const std::string file = path(file_name.c_str());
    File parts{parts_declaration(file + "\\!PARTS")};
    CREATE(parts);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    OPEN(parts, 0x42);
    EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    for (const Row& row : rows) {
      Part& p = parts.record_as<Part>();
      p.number = row.number;
      const std::string name = platform::utf8_to_ansi(row.name);
      EXPECT_LE(name.size(), sizeof p.name);
      std::memset(p.name, ' ', sizeof p.name);
      std::memcpy(p.name, name.data(), name.size());
      p.stock = row.stock;
      append ? APPEND(parts) : ADD(parts);
      EXPECT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    }
    CLOSE(parts);
    return file;
  }

  // Changes the file through the page store directly, as damage would: `change` runs in a write
  // access and the access is flushed.
  void tamper(const std::string& file, const std::function<void(tw::RecordFile&)>& change) {
    tw::RecordFile* rf = nullptr;
    ASSERT_EQ(tw::open_record_file(file, 0x42, "", rf), 0);
    ASSERT_EQ(rf->begin_access(tw::AccessMode::write, true), 0);
    change(*rf);
    EXPECT_EQ(rf->end_access(), 0);
    tw::close_record_file(rf);
  }
};

TEST_F(TwlFilesTest, InfoShowsTheHeaderTheTablesAndTheDefinitionAsSource) {
  const std::string file = make_parts();
  const ChildResult text = twl({"info", file});
  ASSERT_EQ(text.exit_code, 0) << text.err;
  for (const std::string& line : std::vector<std::string>{
           "signature         tArN\n",
           "page log          empty\n",
           "tables            1\n",
           "table PARTS (0x00000001)\n",
           "  records         4\n",
           "  key PRT:BY_NUMBER: 4 entries, up to date\n",
           file + "\\!PARTS FILE,DRIVER('TARNWELL'),NAME('" + file + "\\!PARTS')\n",
           "PRT:BY_NUMBER       KEY(+PRT:NUMBER),PRIMARY\n",
           "PRT:BY_NAME         KEY(+PRT:NAME),DUP,NOCASE\n",
           "                    RECORD\n",
           "PRT:NAME              STRING(12)\n",
           "PRT:STOCK             SHORT\n",
           "                    END\n                  END\n",
       }) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
  }

  const ChildResult json = twl({"info", "--json", file + "\\!PARTS"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const nlohmann::json info = nlohmann::json::parse(json.out);
  EXPECT_EQ(info["signature"], "tArN");
  EXPECT_TRUE(info["log"]["empty"]);
  EXPECT_GT(info["change_counter"].get<int>(), 0);
  ASSERT_EQ(info["tables"].size(), 1u);
  const nlohmann::json& table = info["tables"][0];
  EXPECT_EQ(table["name"], "PARTS");
  EXPECT_EQ(table["records"], 4);
  EXPECT_EQ(table["definition"]["record_length"], 18);
  EXPECT_EQ(table["definition"]["fields"][1]["type"], "STRING(12)");
  EXPECT_EQ(table["definition"]["keys"][1]["nocase"], true);
  EXPECT_EQ(table["key_counters"][1]["counter"]["count"], 4);

  const ChildResult missing = twl({"info", file + "\\!NOSUCH"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("error 2: File Not Found"), std::string::npos) << missing.err;
}

TEST_F(TwlFilesTest, ExportWritesEveryFormatInRecordOrKeyOrder) {
  const std::string file = make_parts();
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<Case> cases = {
      {{"export", file}, kCsv},
      {{"export", "--no-header", file + "\\!PARTS"}, kCsv.substr(kCsv.find("\r\n") + 2)},
      {{"export", "--key", "BY_NUMBER", "--no-header", file},
       "10,\"bolt\",120\r\n20,\"Nut \"\"M6\"\", "
       "z\",-3\r\n30,\"washer\",500\r\n40,\"Гайка\",7\r\n"},
      {{"export", "--json", "--key", "PRT:BY_NAME", file},
       "{\"PRT:NUMBER\":10,\"PRT:NAME\":\"bolt\",\"PRT:STOCK\":120}\n"
       "{\"PRT:NUMBER\":20,\"PRT:NAME\":\"Nut \\\"M6\\\", z\",\"PRT:STOCK\":-3}\n"
       "{\"PRT:NUMBER\":30,\"PRT:NAME\":\"washer\",\"PRT:STOCK\":500}\n"
       "{\"PRT:NUMBER\":40,\"PRT:NAME\":\"Гайка\",\"PRT:STOCK\":7}\n"},
  };
  for (const Case& c : cases) {
    const ChildResult result = twl(c.args);
    EXPECT_EQ(result.exit_code, 0) << c.args[1] << "\n" << result.err;
    EXPECT_EQ(result.out, c.out) << c.args[1];
  }
  const ChildResult unknown_key = twl({"export", "--key", "BY_COLOUR", file});
  EXPECT_EQ(unknown_key.exit_code, 1);
  EXPECT_NE(unknown_key.err.find("no key BY_COLOUR"), std::string::npos) << unknown_key.err;

  const std::string db = path("parts.db");
  const ChildResult sqlite = twl({"export", "--sqlite", db, file});
  ASSERT_EQ(sqlite.exit_code, 0) << sqlite.err;
  const ChildResult rows = run_child(
      {"sqlite3", "-separator", "|", db,
       "SELECT typeof(\"PRT:NUMBER\"), typeof(\"PRT:NAME\"), \"PRT:NAME\", \"PRT:STOCK\" FROM "
       "PARTS ORDER BY \"PRT:NUMBER\""});
  EXPECT_EQ(rows.out,
            "integer|text|bolt|120\ninteger|text|Nut \"M6\", z|-3\ninteger|text|washer|500\n"
            "integer|text|Гайка|7\n")
      << rows.err;
}

TEST_F(TwlFilesTest, ExportThenImportGivesTheSameRecords) {
  const std::string source = make_parts();
  const std::string target = make_parts("COPY.TWL", {});
  const ChildResult exported = twl({"export", source});
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  std::ofstream(path("parts.csv"), std::ios::binary) << exported.out;

  const ChildResult imported = twl({"import", "--batch", "3", target, path("parts.csv")});
  ASSERT_EQ(imported.exit_code, 0) << imported.err;
  EXPECT_NE(imported.out.find("4 of 4 records added to PARTS"), std::string::npos) << imported.out;
  const ChildResult again = twl({"export", target});
  EXPECT_EQ(again.out, exported.out);
  const ChildResult by_key = twl({"export", "--key", "BY_NUMBER", target});
  EXPECT_EQ(by_key.out, twl({"export", "--key", "BY_NUMBER", source}).out);
  const ChildResult check = twl({"check", target});
  EXPECT_EQ(check.exit_code, 0) << check.out;

  // From standard input, with the header line left out.
  const std::string more = make_parts("MORE.TWL", {});
  const ChildResult piped =
      twl({"import", "--no-header", more, "-"}, "1,\"first\",1\r\n2,\"second\",2\r\n");
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(twl({"export", "--no-header", more}).out, "1,\"first\",1\r\n2,\"second\",2\r\n");
}

TEST_F(TwlFilesTest, ImportRefusesBadRowsWithTheirLineNumbers) {
  struct Case {
    std::string what, csv, error;
    int added;  // records in the table afterwards
  };
  const std::vector<Case> cases = {
      {"too few values", "1,\"a\",1\r\n2,\"b\"\r\n", "line 2: 2 values, the table has 3 columns",
       0},
      {"a SHORT out of range", "1,\"a\",70000\r\n",
       "line 1: PRT:STOCK: out of the range of a SHORT", 0},
      {"not a number", "x1,\"a\",1\r\n", "line 1: PRT:NUMBER: not a whole number", 0},
      {"text too long", "1,\"abcdefghijklm\",1\r\n", "longer than the field's 12 characters", 0},
      {"no place in 1251", "1,\"日本\",1\r\n", "a character the code page 1251 lacks", 0},
      {"an open quote", "1,\"a,1\r\n", "a quote is never closed", 0},
      // Batches of two: the first batch is committed before the third line fails.
      {"a duplicate key", "1,\"a\",1\r\n2,\"b\",2\r\n1,\"c\",3\r\n", "line 3: error 40", 2},
  };
  for (const Case& c : cases) {
    const std::string file = make_parts("BAD.TWL", {});
    std::ofstream(path("bad.csv"), std::ios::binary) << c.csv;
    const ChildResult result =
        twl({"import", "--no-header", "--batch", "2", file, path("bad.csv")});
    EXPECT_EQ(result.exit_code, 1) << c.what;
    EXPECT_NE(result.err.find(c.error), std::string::npos) << c.what << "\n" << result.err;
    const nlohmann::json info = nlohmann::json::parse(twl({"info", "--json", file}).out);
    EXPECT_EQ(info["tables"][0]["records"], c.added) << c.what;
  }
}

TEST_F(TwlFilesTest, ImportCommitsBatchesAndRollsBackTheWholeBatchOfARefusedRow) {
  std::string csv, first_batch;
  for (int n = 1; n <= 7; ++n) {
    // Line 5 repeats number 1: its batch (lines 4 to 6) goes, line 4 with it.
    const std::string line = std::to_string(n == 5 ? 1 : n) + ",\"p" + std::to_string(n) + "\"," +
                             std::to_string(n) + "\r\n";
    csv += line;
    if (n <= 3) first_batch += line;
  }
  const std::string file = make_parts("BATCH.TWL", {});
  std::ofstream(path("batch.csv"), std::ios::binary) << csv;
  const ChildResult result =
      twl({"import", "--no-header", "--batch", "3", file, path("batch.csv")});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("line 5: error 40"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("3 of 7 records added"), std::string::npos) << result.out;
  EXPECT_EQ(twl({"export", "--no-header", file}).out, first_batch);
  const nlohmann::json info = nlohmann::json::parse(twl({"info", "--json", file}).out);
  EXPECT_TRUE(info["log"]["empty"]);  // the committed batch is in place, not left in the log
  EXPECT_EQ(info["tables"][0]["key_counters"][0]["counter"]["count"], 3);
  EXPECT_EQ(twl({"check", file}).exit_code, 0);

  // Without a refusal every batch commits, the last one short.
  const std::string all = make_parts("ALL.TWL", {});
  std::ofstream(path("all.csv"), std::ios::binary) << first_batch + "4,\"p4\",4\r\n";
  const ChildResult whole = twl({"import", "--no-header", "--batch", "3", all, path("all.csv")});
  EXPECT_EQ(whole.exit_code, 0) << whole.err;
  EXPECT_EQ(twl({"export", "--no-header", all}).out, first_batch + "4,\"p4\",4\r\n");
}

TEST_F(TwlFilesTest, EverySubcommandOpensAnEncryptedFileWithItsPassword) {
  const std::string file = path("SECRET.TWL");
  {
    File parts{parts_declaration(file + "\\!PARTS").encrypt().owner("secret")};
    CREATE(parts);
    OPEN(parts, 0x42);
    Part& p = parts.record_as<Part>();
    p = {30, {'w', 'a', 's', 'h', 'e', 'r', ' ', ' ', ' ', ' ', ' ', ' '}, 500};
    ADD(parts);
    ASSERT_EQ(ERRORNUMBER(), 0) << ERRORTEXT();
    CLOSE(parts);
  }
  std::ofstream(path("more.csv"), std::ios::binary) << "50,\"nut\",1\r\n";
  struct Case {
    std::vector<std::string> args;
    std::string out_has;
  };
  const std::vector<Case> cases = {
      {{"info", file}, ",OWNER(******)"},  // the definition, as the driver opens the table
      {{"check", file}, ""},
      {{"recover", "--dry-run", file}, "nothing to recover"},
      {{"export", "--no-header", file}, "30,\"washer\",500\r\n"},
      {{"import", "--no-header", file, path("more.csv")}, "1 of 1 records added"},
      {{"rebuild", file}, ""},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    for (const std::string password : {"", "wrong"}) {
      std::vector<std::string> args = c.args;
      if (!password.empty()) args.insert(args.end(), {"--password", password});
      const ChildResult refused = twl(args);
      EXPECT_EQ(refused.exit_code, 1) << c.args[0] << " with \"" << password << "\"";
      EXPECT_NE(refused.err.find("error 36: Invalid Data File"), std::string::npos)
          << c.args[0] << "\n"
          << refused.err;
    }
    // The global option goes before the subcommand or after it.
    std::vector<std::string> args = c.args;
    args.insert(i % 2 ? args.begin() : args.end(), {"--password", "secret"});
    const ChildResult result = twl(args);
    EXPECT_EQ(result.exit_code, 0) << c.args[0] << "\n" << result.err;
    EXPECT_NE(result.out.find(c.out_has), std::string::npos) << c.args[0] << "\n" << result.out;
  }
  EXPECT_EQ(twl({"export", "--password", "secret", "--no-header", "--key", "BY_NUMBER", file}).out,
            "30,\"washer\",500\r\n50,\"nut\",1\r\n");
}

TEST_F(TwlFilesTest, CheckFindsDamageInPagesCountersAndKeys) {
  const auto key_entry = [](int key, const std::vector<uint8_t>& value, int record, bool dup) {
    return tw::key_entry(table_number(), static_cast<uint8_t>(key), value, record_number(record),
                         dup);
  };
  struct Case {
    std::string what;
    std::function<void(tw::RecordFile&)> damage;
    std::string finding;
  };
  const std::vector<Case> cases = {
      {"a data counter that is wrong",
       [](tw::RecordFile& f) {
         const tw::Record c = tw::counter_record(table_number(), tw::kKindData, 99, 0);
         EXPECT_TRUE(f.replace_record(c.key(), c.data()));
       },
       "the counter says 99 records, the table holds 4"},
      {"a key entry deleted",
       [&](tw::RecordFile& f) {
         const tw::Record e = key_entry(0, {0x80, 0, 0, 30}, 2, false);
         EXPECT_TRUE(f.delete_record(e.key()));
       },
       "no entry for record 2 (missing entry)"},
      {"a key entry for a record that does not exist",
       [&](tw::RecordFile& f) {
         const tw::Record e = key_entry(0, {0x80, 0, 0, 99}, 77, false);
         f.insert_record(e.key(), e.data());
       },
       "an entry for record 77, which does not exist (extra entry)"},
      {"a record changed behind its key",
       [](tw::RecordFile& f) {
         Part p{31, {'w', 'a', 's', 'h', 'e', 'r', ' ', ' ', ' ', ' ', ' ', ' '}, 500};
         const tw::Record d =
             tw::data_record(table_number(), record_number(2),
                             std::span(reinterpret_cast<const uint8_t*>(&p), sizeof p));
         EXPECT_TRUE(f.replace_record(d.key(), d.data()));
       },
       "the entry for record 2 holds another value than the record (stale entry)"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    // A file of its own for each case: the table's and records' numbers are the first ones.
    const std::string file = make_parts("CASE" + std::to_string(i) + ".TWL");
    ASSERT_EQ(twl({"check", file}).exit_code, 0) << c.what;
    tamper(file, c.damage);
    const ChildResult result = twl({"check", file});
    EXPECT_EQ(result.exit_code, 1) << c.what << "\n" << result.out;
    EXPECT_NE(result.out.find(c.finding), std::string::npos) << c.what << "\n" << result.out;
    const nlohmann::json json = nlohmann::json::parse(twl({"check", "--json", file}).out);
    EXPECT_FALSE(json["ok"]) << c.what;
  }

  // Bytes flipped in the root page: the page store's check names its number.
  const std::string file = make_parts();
  const nlohmann::json info = nlohmann::json::parse(twl({"info", "--json", file}).out);
  const int64_t root = 0x200 + int64_t{info["root_page"].get<int>()} * 0x100;
  {
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(root + 4);
    f.put('\x01').put('\x00');  // the stored length: no longer the zone's unit size
  }
  const ChildResult flipped = twl({"check", file});
  EXPECT_EQ(flipped.exit_code, 1) << flipped.out << flipped.err;
  EXPECT_NE(flipped.out.find("damaged: check "), std::string::npos) << flipped.out << flipped.err;
  const nlohmann::json json = nlohmann::json::parse(twl({"check", "--json", file}).out);
  EXPECT_FALSE(json["store"]["ok"]);
  EXPECT_GT(json["store"]["check"].get<int>(), 0);
}

// A change to record 2 (stock 999) flushed only through its first phase: the page log holds the
// new pages and the header points at it, as a crash right after that phase leaves the file.
void interrupt_a_flush(const std::string& file) {
  {
    tw::RecordFile* rf = nullptr;
    ASSERT_EQ(tw::open_record_file(file, 0x42, "", rf), 0);
    ASSERT_EQ(rf->begin_access(tw::AccessMode::write, true), 0);
    Part p{30, {'w', 'a', 's', 'h', 'e', 'r', ' ', ' ', ' ', ' ', ' ', ' '}, 999};
    const tw::Record d = tw::data_record(table_number(), record_number(2),
                                         std::span(reinterpret_cast<const uint8_t*>(&p), sizeof p));
    ASSERT_TRUE(rf->replace_record(d.key(), d.data()));
    ASSERT_EQ(rf->flush_phase0(), 0);
    tw::close_record_file(rf);  // no second phase: the process "dies" here
  }
}

TEST_F(TwlFilesTest, RecoverCompletesAFlushCutShortAfterItsLogWasWritten) {
  const std::string file = make_parts();
  interrupt_a_flush(file);
  const ChildResult dry = twl({"recover", "--dry-run", file});
  EXPECT_EQ(dry.exit_code, 0) << dry.err;
  EXPECT_NE(dry.out.find("a flush was cut short"), std::string::npos) << dry.out;
  EXPECT_NE(dry.out.find("decision: apply the log"), std::string::npos) << dry.out;
  EXPECT_FALSE(nlohmann::json::parse(twl({"info", "--json", file}).out)["log"]["empty"]);
  // A reader already sees the new state through the log.
  EXPECT_NE(twl({"export", file}).out.find("30,\"washer\",999"), std::string::npos);

  const ChildResult applied = twl({"recover", file});
  EXPECT_EQ(applied.exit_code, 0) << applied.err;
  EXPECT_NE(applied.out.find("recovered: the log was applied"), std::string::npos) << applied.out;
  EXPECT_TRUE(nlohmann::json::parse(twl({"info", "--json", file}).out)["log"]["empty"]);
  EXPECT_NE(twl({"export", file}).out.find("30,\"washer\",999"), std::string::npos);
  EXPECT_EQ(twl({"check", file}).exit_code, 0);
}

TEST_F(TwlFilesTest, RecoverAbandonsALogThatCannotBeRead) {
  const std::string file = make_parts();
  interrupt_a_flush(file);
  const nlohmann::json info = nlohmann::json::parse(twl({"info", "--json", file}).out);
  const int64_t log_start = info["log"]["start"].get<int64_t>();
  {
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(log_start + 4);
    f.put('\xFF').put('\xFF');  // the first image's stored length: beyond any page
  }
  const ChildResult dry = twl({"recover", "--dry-run", file});
  EXPECT_EQ(dry.exit_code, 0) << dry.err;
  EXPECT_NE(dry.out.find("decision: abandon the log, the image at offset " +
                         std::to_string(log_start) + " has an impossible length"),
            std::string::npos)
      << dry.out;
  const ChildResult abandoned = twl({"recover", file});
  EXPECT_EQ(abandoned.exit_code, 0) << abandoned.err;
  EXPECT_NE(abandoned.out.find("recovered: the log was abandoned"), std::string::npos)
      << abandoned.out;
  // The state before the interrupted flush.
  EXPECT_NE(twl({"export", file}).out.find("30,\"washer\",500"), std::string::npos);
  EXPECT_EQ(twl({"check", file}).exit_code, 0);
}

}  // namespace
}  // namespace vtn
