#pragma once
// Sizes shared by the option tables of a session: rows are switched on and filled, never added
// or removed.

#include <cstddef>

namespace qv::sessions {

inline constexpr std::size_t kTableRows = 32;  // timers, multiple list, filters, exclude
inline constexpr std::size_t kAutoMountRows = 2 * kTableRows;  // volumes to mount

}  // namespace qv::sessions
