#include "runtime/files/tarnwell/consistency_check.hpp"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/page_log.hpp"
#include "runtime/files/tarnwell/page_store.hpp"

namespace vtn::tarnwell {
namespace {

constexpr int32_t kCheckWrongChildLevel = 231;
constexpr int32_t kCheckEmptyPage = 232;
constexpr int32_t kCheckBadLog = 2172;

struct Fault {
  int32_t check;
  std::string what;
};

using Key = std::vector<uint8_t>;

// A page still to visit: its number, the level it must have, and the key its index record holds
// (none for the root).
struct Pending {
  int32_t number;
  int level;
  bool has_expected_key;
  Key expected_key;
};

class Checker {
 public:
  explicit Checker(PageStore& s) : s_(s) {}

  std::optional<Fault> run() {
    const FileHeader& h = s_.header;
    if (!zones_well_formed(h)) return Fault{0, "zones are not ordered, disjoint whole pages"};
    if (auto fault = check_log()) return fault;
    if (!s_.has_tree()) return std::nullopt;
    if (auto fault = walk_tree()) return fault;
    return check_zones_fully_used();
  }

 private:
  std::optional<Fault> check_log() {
    const FileHeader& disk = s_.disk_header;
    if (disk.log_start == disk.log_end) return std::nullopt;
    // Walking refills the mapping the store reads through; it describes the same log.
    FileHeader logged;
    const auto map = s_.log_map;
    const auto images = s_.log_images;
    const bool ok = walk_page_log(s_, disk, logged);
    if (!s_.log_abandoned) {
      s_.log_map = map;
      s_.log_images = images;
    } else {
      s_.log_map.clear();
      s_.log_images.clear();
    }
    if (!ok && !s_.log_abandoned) return Fault{kCheckBadLog, "the page log cannot be walked"};
    return std::nullopt;
  }

  std::optional<Fault> walk_tree() {
    std::vector<Pending> stack;
    const int32_t root = s_.header.root_page;
    stack.push_back({root, -1, false, {}});
    while (!stack.empty()) {
      Pending next = std::move(stack.back());
      stack.pop_back();
      if (auto fault = visit(next, stack)) return fault;
      s_.end_operation();
    }
    return std::nullopt;
  }

  std::optional<Fault> visit(const Pending& at, std::vector<Pending>& stack) {
    const std::string name = "page " + std::to_string(at.number);
    if (!reached_.insert(at.number).second) return Fault{0, name + " is reached twice"};
    RecordPage* page = nullptr;
    try {
      page = s_.page(at.number);
    } catch (const InternalError& e) {
      return Fault{e.check(), name + " does not decode"};
    }
    if (at.number >= 0) {
      const int unit = unit_size_of_page(s_.header, at.number);
      if ((at.number - s_.header.zone_start[unit]) % unit != 0) {
        return Fault{0, name + " does not start a page of its zone"};
      }
    }
    if (at.level >= 0 && page->level() != at.level) {
      return Fault{kCheckWrongChildLevel, name + " has the wrong level"};
    }
    const bool is_root = at.number == s_.header.root_page;
    if (page->empty()) {
      if (is_root && !page->is_index()) return std::nullopt;
      return Fault{kCheckEmptyPage, name + " is empty"};
    }
    if (at.has_expected_key && !std::ranges::equal(page->first_key(), at.expected_key)) {
      return Fault{0, name + " does not begin with the key of its index record"};
    }
    if (page->needs_split()) return Fault{0, name + " is over the split limits"};
    for (size_t i = 1; i < page->size(); ++i) {
      if (compare_keys(page->key(i - 1), page->key(i)) >= 0) {
        return Fault{0, name + " holds keys out of order"};
      }
    }
    if (!page->is_index()) {
      if (has_last_key_ && compare_keys(last_key_, page->first_key()) >= 0) {
        return Fault{0, name + " begins at or before the end of the page before it"};
      }
      const auto last = page->key(page->size() - 1);
      last_key_.assign(last.begin(), last.end());
      has_last_key_ = true;
      return std::nullopt;
    }
    // Children go on the stack last first, so they are visited in key order.
    for (size_t i = page->size(); i-- > 0;) {
      const auto key = page->key(i);
      stack.push_back(
          {page->contents.children[i], page->level() - 1, true, Key(key.begin(), key.end())});
    }
    return std::nullopt;
  }

  std::optional<Fault> check_zones_fully_used() {
    const FileHeader& h = s_.header;
    for (int i = 1; i <= kMaxUnits; ++i) {
      for (int32_t p = h.zone_start[i]; p < h.zone_end[i]; p += i) {
        if (!reached_.contains(p)) {
          return Fault{0, "page " + std::to_string(p) + " of zone " + std::to_string(i) +
                              " is not reached from the root"};
        }
      }
    }
    return std::nullopt;
  }

  PageStore& s_;
  std::unordered_set<int32_t> reached_;
  Key last_key_;
  bool has_last_key_ = false;
};

}  // namespace

CheckResult check_record_file(RecordFile& file) {
  PageStore& s = file.store();
  std::optional<Fault> fault;
  try {
    fault = Checker(s).run();
  } catch (const InternalError& e) {
    fault = Fault{e.check(), "the tree cannot be walked"};
  }
  s.end_operation();
  if (!fault) return {};
  return {false, fault->check, fault->what};
}

}  // namespace vtn::tarnwell
