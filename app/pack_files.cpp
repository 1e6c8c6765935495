#include "app/pack_files.hpp"

#include "runtime/files/basic/basic_driver.hpp"
#include "runtime/files/tarnwell/tarnwell_driver.hpp"

namespace ferrule {
namespace {

constexpr uint32_t kNumberKey = vtn::KA_PRIMARY | vtn::KA_NOCASE | vtn::KA_OPT;

vtn::FileDeclaration numbered_table(const char* prefix, const char* name, const char* text) {
  vtn::FileDeclaration d(prefix);
  d.driver(vtn::tarnwell_entry)
      .name(name)
      .create()
      .thread()
      .field("NUMBER", vtn::ftype::SHORT)
      .field("NAME", vtn::ftype::STRING(40))
      .field(text, vtn::ftype::STRING(120))
      .key("BY_NUMBER", {"NUMBER"}, kNumberKey);
  return d;
}

}  // namespace

vtn::File& request_file() {
  static vtn::File file{vtn::FileDeclaration("NPK")
                            .driver(vtn::basic_entry)
                            .name("Mossgate.ini")
                            .create()
                            .thread()
                            .field("NAME", vtn::ftype::STRING(40))
                            .field("PATH", vtn::ftype::STRING(120))};
  return file;
}

vtn::File& pack_table() {
  static vtn::File file{numbered_table("PNM", "PACKNAME", "PATH")};
  return file;
}

vtn::File& settings_table() {
  static vtn::File file{numbered_table("SET", "SETUP", "VALUE")};
  return file;
}

RequestRecord& request_record() {
  return request_file().record_as<RequestRecord>();
}
PackRecord& pack_record() {
  return pack_table().record_as<PackRecord>();
}
SettingsRecord& settings_record() {
  return settings_table().record_as<SettingsRecord>();
}

vtn::KeyBlock& pack_by_number() {
  return pack_table().key("BY_NUMBER");
}
vtn::KeyBlock& settings_by_number() {
  return settings_table().key("BY_NUMBER");
}

void clear_pack_records() {
  request_file().clear();
  pack_table().clear();
  settings_table().clear();
}

}  // namespace ferrule
