#pragma once

namespace core {

// The tool's version as the build gives it ("2.0").
const char* versionText();

} // namespace core
