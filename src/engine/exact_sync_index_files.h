#pragma once
// What the index store's files share: how they are written, and how the main index names a
// pair's file.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_io.h"
#include "sessions/plist_value.h"

namespace qv::engine {

// The index files are Quorvel's own: never written through a link put at their names, and the
// temporaries of a write killed half-way are cleared by the next.
inline const platform::AtomicWriteOptions kOwnFile{std::nullopt, false, true};

// The text at key of a dictionary, or nothing when it is not a text.
const plist::Value* TextAt(const plist::Value& dict, std::string_view key);

// The entry of indexFilesList that names the pair's file, or -1.
std::ptrdiff_t FindEntry(const plist::Value& mainIndex, const std::string& source,
                         const std::string& dest);

}  // namespace qv::engine
