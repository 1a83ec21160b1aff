#pragma once
// Just enough JSON for the command's output: strings from byte strings, with the byte form of
// paths that are not valid UTF-8.

#include <ostream>
#include <string>
#include <string_view>

namespace qv::cli {

// Writes s as a JSON string. With bytesForm, every byte above 0x7F is written as \u00NN, so
// that a reader can map each character back to one byte; otherwise s must be valid UTF-8
// (platform::IsValidUtf8).
void WriteJsonString(std::ostream& out, std::string_view s, bool bytesForm = false);

}  // namespace qv::cli
