#pragma once
// The well: the reversible scrambling under which volume passwords and the e-mail settings are
// stored in documents and preferences. It keeps a casual reader from seeing a password; it is
// not encryption.

#include <optional>
#include <string>
#include <string_view>

#include "sessions/plist_value.h"

namespace qv::sessions {

// Longest encoded password, in bytes (the random lead character included).
inline constexpr std::size_t kMaxWellDataBytes = 256;

// Encodes a text. Empty text gives empty data; a text too long for the well (more than
// kMaxWellDataBytes - 1 bytes) gives nullopt, so that a caller never stores a cut password.
std::optional<plist::Data> SetWellData(std::string_view text);
// Decodes; absent, empty or undecodable data gives the empty text, and so does a decoded text
// of 0, 1 or 2 characters.
std::string GetWellData(const plist::Data& data);
std::string GetWellData(const plist::Value* value);

// The byte transform alone, as used for the e-mail settings (no random lead character).
plist::Data ScrambleWithWellKey(std::string_view plain);
std::string UnscrambleWithWellKey(const plist::Data& scrambled);

// The e-mail settings: a dictionary serialised as XML and scrambled. Empty data gives an empty
// dictionary; data that does not unscramble to a dictionary gives nullopt.
plist::Data SetWellDict(const plist::Value& dict);
std::optional<plist::Value> GetWellDict(const plist::Data& data);

}  // namespace qv::sessions
