#include "app/register_pack.hpp"

namespace ferrule {

// PLACEHOLDER until pack registration is built: deliberately does nothing.
void RegisterPack() {}

// PLACEHOLDER: the records do not exist yet.
void clear_pack_records() {}

}  // namespace ferrule
