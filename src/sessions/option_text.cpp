#include "sessions/option_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace qv::sessions {

std::optional<std::int64_t> ParseInteger(const std::string& text) {
    std::int64_t n = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return n;
}

std::optional<bool> ParseBool(const std::string& text) {
    std::string v = text;
    std::transform(v.begin(), v.end(), v.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (v == "1" || v == "yes" || v == "on" || v == "true") return true;
    if (v == "0" || v == "no" || v == "off" || v == "false") return false;
    return std::nullopt;
}

}  // namespace qv::sessions
