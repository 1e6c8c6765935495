#include "app/program_procedure.hpp"

#include "app/environment_table.hpp"
#include "app/register_pack.hpp"
#include "runtime/core/process_exit.hpp"
#include "runtime/format/environment.hpp"
#include "runtime/ui/window_library.hpp"

namespace ferrule {

void ProgramProcedure() {
  vtn::set_program_started();
  for (const EnvironmentSetting& setting : program_environment()) {
    vtn::ENVSET(setting.key, setting.value);
  }
  for (const auto& [pressed, delivered] : kKeyAliases) vtn::KEYALIAS(pressed, delivered);
  vtn::set_global_property(vtn::kPropFontCharSet, vtn::kCyrillicCharSet);
  RegisterPack();
}

}  // namespace ferrule
