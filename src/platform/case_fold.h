#pragma once
// The one rule by which names are compared ignoring case, wherever a folder lies on a file
// system that ignores it: Unicode full case folding for UTF-8 names, ASCII for the others.

#include <string>
#include <string_view>

namespace qv::platform {

// The folded form of a name: "É" and "é" give the same, so do "STRASSE" and "straße". A name
// that is not well-formed UTF-8 has only its ASCII letters lowered, byte by byte.
std::string FoldCase(std::string_view name);

// Whether the two names are the same ignoring case.
bool EqualFolded(std::string_view a, std::string_view b);

}  // namespace qv::platform
