// twl check: the page store's consistency check, then every table against its own records.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "runtime/platform/code_pages.hpp"
#include "tools/twl/catalog.hpp"
#include "tools/twl/commands.hpp"
#include "tools/twl/page_log.hpp"
#include "tools/twl/progress.hpp"
#include "tools/twl/session.hpp"
#include "tools/twl/table_check.hpp"

namespace twl {

namespace tw = vtn::tarnwell;

int run_check(const CheckOptions& options) {
  const FileAndTable target = split_file_name(options.name);
  Session session;
  if (int32_t err = session.open(target.file, Session::Intent::read, options.password)) {
    return report_error(target.file, err);
  }
  tw::CheckResult store;
  std::vector<TableFinding> findings;
  size_t table_count = 0;
  const int32_t err = session.run(AccessMode::read, [&] {
    store = tw::check_record_file(session.file());
    if (!store.ok) return;  // the tables cannot be read safely from a broken tree
    std::vector<TableInfo> tables = read_catalog(session.file());
    for (const TableInfo& table : tables) {
      if (!target.table.empty() && table.name != target.table) continue;
      ++table_count;
      Progress progress("check " + vtn::platform::ansi_to_utf8(table.name),
                        table.records ? table.records->count : 0);
      std::vector<TableFinding> found =
          check_table(session.file(), table, [&](uint64_t done) { progress.update(done); });
      findings.insert(findings.end(), found.begin(), found.end());
    }
  });
  if (err == 90) {
    // A page that cannot even be decoded: damage, reported like any other finding.
    store = {false, session.damage_check(), "a page or record cannot be decoded"};
  } else if (err != 0) {
    return report_error(target.file, err);
  }

  if (store.ok && !target.table.empty() && table_count == 0) {
    return report_error(target.file, 2, "no table " + target.table);
  }
  const bool damaged = !store.ok || !findings.empty();
  if (options.json) {
    nlohmann::ordered_json out{{"file", target.file}, {"ok", !damaged}};
    out["store"] = {{"ok", store.ok}, {"check", store.check_number}, {"what", store.what}};
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const TableFinding& f : findings) {
      list.push_back({{"table", vtn::platform::ansi_to_utf8(f.table)},
                      {"key", vtn::platform::ansi_to_utf8(f.key)},
                      {"what", vtn::platform::ansi_to_utf8(f.what)}});
    }
    out["tables_checked"] = table_count;
    out["findings"] = list;
    std::printf("%s\n", out.dump(2).c_str());
  } else {
    if (!store.ok) {
      std::printf("%s: damaged: check %d: %s\n", target.file.c_str(), store.check_number,
                  store.what.c_str());
    }
    for (const TableFinding& f : findings) {
      std::printf("%s: table %s%s: %s\n", target.file.c_str(),
                  vtn::platform::ansi_to_utf8(f.table).c_str(),
                  f.key.empty() ? "" : (", key " + vtn::platform::ansi_to_utf8(f.key)).c_str(),
                  vtn::platform::ansi_to_utf8(f.what).c_str());
    }
    if (!damaged) {
      std::printf("%s: ok (%zu table%s)\n", target.file.c_str(), table_count,
                  table_count == 1 ? "" : "s");
    }
  }
  return damaged ? kExitRefused : kExitOk;
}

}  // namespace twl
