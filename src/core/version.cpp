#include "core/version.h"

namespace core {

const char* versionText() { return KESTRELION_VERSION; }

} // namespace core
