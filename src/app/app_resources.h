#pragma once

namespace app {

// Registers the icons of resources/app.qrc (:/icons/...); the static library's resource data
// is otherwise dropped by the linker. Safe to call more than once.
void ensureResources();

} // namespace app
