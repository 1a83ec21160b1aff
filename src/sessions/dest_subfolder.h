#pragma once
// The sub-folder of the destination that each run of a session writes into, when the session
// asks for one: named after the source folder, a date part, or a custom date pattern.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sessions/session_document.h"

namespace qv::sessions {

inline constexpr std::int64_t kNameKindCustom = 0;
inline constexpr std::int64_t kNameKindSourceName = 1;
inline constexpr std::int64_t kFirstPatternKind = 1000;

// The entries of the kind pop-up in their order: tag and title. Tags 2 to 5 are retitled
// with today's date ("Day of week (Saturday)"); tags of 1000 and above have a date pattern as
// their title, kept here so that runs without a window (the command, timers) know it.
struct SubFolderKind {
    std::int64_t tag;
    std::string title;
};
std::vector<SubFolderKind> SubFolderKinds(double now);

// The name (GetDestSubFolderName:status:source:nameKind:format:): empty when off or when the
// kind gives none. source/format: none for the session's own (its topFolder, "(All)" for
// "All", "(Multi)" for a multiple-list session; its custom pattern).
std::string GetDestSubFolderName(const SessionDocument& document, std::int64_t sessionIndex,
                                 bool on, const std::optional<std::string>& source,
                                 std::int64_t nameKind, const std::optional<std::string>& format,
                                 double now);

// A custom pattern applied now: every "kSrc" stands for sourceName, copied literally. Empty
// for an empty pattern or one the date formatter refuses.
std::string CustomSubFolderName(const std::string& pattern, const std::string& sourceName,
                                double now);

// Why a name cannot be used as one folder inside the destination ("" when it can): empty,
// "." or "..". A "/" is not a reason: runs write it as ":".
std::string SubFolderNameProblem(const std::string& name);

}  // namespace qv::sessions
