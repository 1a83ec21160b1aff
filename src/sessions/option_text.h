#pragma once
// Option values typed as text, as the command and the editors take them: a whole number, and a
// switch written yes/no, 1/0, on/off or true/false (any case).

#include <cstdint>
#include <optional>
#include <string>

namespace qv::sessions {

std::optional<std::int64_t> ParseInteger(const std::string& text);
std::optional<bool> ParseBool(const std::string& text);

}  // namespace qv::sessions
