#pragma once
// The program's version, as the log header, the command and the About window show it.

namespace qv::platform {

inline constexpr const char* kShortVersion = "0.1.0";
inline constexpr const char* kBuildVersion = "1";

}  // namespace qv::platform
