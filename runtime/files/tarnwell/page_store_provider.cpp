// The physical files of real tables: the page store's RecordFile behind the RecordStore
// interface.
#include "runtime/files/tarnwell/table_ops.hpp"

namespace vtn::tarnwell {
namespace {

// The page store is not part of the library yet: every open fails with 80, so that no table can
// seem to work while nothing reaches the disk.
class PageStoreProvider : public StoreProvider {
 public:
  int32_t open(const std::string&, uint32_t, std::string_view, RecordStore*&) override {
    return err::kUnsupported;
  }
  void close(RecordStore*) override {}
  int32_t remove(const std::string&) override { return err::kUnsupported; }
};

}  // namespace

StoreProvider& page_store_provider() {
  static PageStoreProvider provider;
  return provider;
}

}  // namespace vtn::tarnwell
