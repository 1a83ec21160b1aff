#pragma once
// UTF-8 decoding and encoding shared by every module that reads or writes text: names and paths
// are byte strings, and each writer decides for itself what to do with bytes that are not
// well-formed UTF-8.

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::platform {

// The length of the well-formed UTF-8 sequence that starts at s[i] (1 for ASCII), with its code
// point in *cp; 0 when none starts there, and *cp is then left alone. Overlong forms, encoded
// surrogates (U+D800..U+DFFF), values above U+10FFFF and sequences cut short by the end of s do
// not count. i must be below s.size().
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t* cp);

// Appends the UTF-8 form of cp. A surrogate is written in its three-byte form, as UTF-16 readers
// hand one over when its pair is missing; cp must not exceed U+10FFFF.
void AppendUtf8(char32_t cp, std::string* out);

// Whether all of s is well-formed UTF-8 in the sense of DecodeUtf8.
bool IsValidUtf8(std::string_view s);

}  // namespace qv::platform
