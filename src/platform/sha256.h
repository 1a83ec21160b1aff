#pragma once
// SHA-256 of a byte string, as 64 lower-case hexadecimal digits.

#include <string>
#include <string_view>

namespace qv::platform {

std::string Sha256Hex(std::string_view bytes);

}  // namespace qv::platform
