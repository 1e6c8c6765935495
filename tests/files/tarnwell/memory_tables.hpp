// Tables without the page store: a StoreProvider whose physical files are MemoryStores that live
// as long as the test (so that they outlive CLOSE, as files on disk do). The table layer's tests
// install it with MemoryTables; the page store has its own tests.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "runtime/files/tarnwell/internal_error.hpp"
#include "runtime/files/tarnwell/table_block.hpp"

namespace vtn::testing_support {

// A MemoryStore that can be told to find damage: its next find throws InternalError.
class DamageableStore : public tarnwell::MemoryStore {
 public:
  int32_t damage_check = 0;  // non-zero: the next find fails with this check number

  std::optional<tarnwell::RecordView> find_exact(tarnwell::ByteSpan key) override {
    damage();
    return MemoryStore::find_exact(key);
  }
  std::optional<tarnwell::RecordView> find_first_after(tarnwell::ByteSpan key) override {
    damage();
    return MemoryStore::find_first_after(key);
  }

 private:
  void damage() {
    if (const int32_t check = damage_check) {
      damage_check = 0;
      tarnwell::raise_internal_error(check);
    }
  }
};

class MemoryStoreProvider : public tarnwell::StoreProvider {
 public:
  int32_t open(const std::string& full_name, uint32_t access, std::string_view,
               tarnwell::RecordStore*& out) override {
    auto it = files_.find(full_name);
    if (it == files_.end()) {
      if ((access & 0x100) == 0) return 2;  // no such file, and not asked to create it
      it = files_.emplace(full_name, File{}).first;
      it->second.store = std::make_unique<DamageableStore>();
    }
    ++it->second.uses;
    out = it->second.store.get();
    return 0;
  }
  void close(tarnwell::RecordStore* store) override {
    for (auto& [name, file] : files_)
      if (file.store.get() == store) --file.uses;
  }
  int32_t remove(const std::string& full_name) override {
    auto it = files_.find(full_name);
    if (it == files_.end()) return 2;
    if (it->second.uses != 0) return 5;
    files_.erase(it);
    return 0;
  }
  bool exists(const std::string& full_name) const { return files_.count(full_name) != 0; }
  int uses(const std::string& full_name) const {
    auto it = files_.find(full_name);
    return it == files_.end() ? 0 : it->second.uses;
  }
  DamageableStore* store(const std::string& full_name) {
    auto it = files_.find(full_name);
    return it == files_.end() ? nullptr : it->second.store.get();
  }

 private:
  struct File {
    std::unique_ptr<DamageableStore> store;
    int uses = 0;
  };
  std::map<std::string, File> files_;
};

// Installs a MemoryStoreProvider for the test's lifetime.
class MemoryTablesTest : public ::testing::Test {
 protected:
  MemoryTablesTest() { tarnwell::set_store_provider(&provider_); }
  ~MemoryTablesTest() override { tarnwell::set_store_provider(nullptr); }

  MemoryStoreProvider provider_;
};

}  // namespace vtn::testing_support
