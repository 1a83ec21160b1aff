#include "sessions/dest_subfolder.h"

#include <filesystem>
#include <iterator>
#include <string>

#include "platform/date_format.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/volumes.h"

namespace qv::sessions {

using platform::GLS;

namespace {

constexpr const char* kSourcePlaceholder = "kSrc";

// The date parts of kinds 2 to 5, in the order of their tags.
constexpr const char* kDatePartPatterns[] = {"EEEE", "EEE", "MMMM", "MMM"};
constexpr std::int64_t kFirstDatePartKind = 2;

// The entries whose titles are themselves the patterns; their tags are stored in documents,
// so an entry may be added at the end but never renumbered.
constexpr const char* kPatternEntries[] = {
    "yyyy-MM-dd",
    "yyyy-MM-dd HH.mm.ss",
    "dd-MM-yyyy",
    "yyyyMMdd",
};

// A text the date formatter copies as it is: inside apostrophes, each apostrophe doubled.
std::string QuotedForPattern(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

std::string SourceName(const std::string& source) {
    // "A/b/.." and "A/." name A: the name is taken from the path's plain spelling.
    std::string plain = std::filesystem::path(source).lexically_normal().string();
    while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
    std::string name =
        plain == "/" ? platform::RootVolumeName() : platform::LastPathComponent(plain);
    return name.empty() || name == "." ? "-" : name;
}

// The source a session's runs take when none is given.
std::string SessionSource(const SessionDocument& document, std::int64_t sessionIndex) {
    if (document.IsAllSessions(sessionIndex)) return "(All)";
    const plist::Value* session = document.GetSessionDict(sessionIndex);
    if (session == nullptr) return {};
    const plist::Value* multi = session->dictAt("multiDict");
    if (multi != nullptr && multi->intAt("multiOn") == 1) return "(Multi)";
    const plist::Value* console = session->dictAt("consoleDict");
    return console ? console->stringAt("topFolder") : std::string();
}

}  // namespace

std::vector<SubFolderKind> SubFolderKinds(double now) {
    std::vector<SubFolderKind> kinds = {
        {kNameKindCustom, GLS("Custom name…")},
        {kNameKindSourceName, GLS("Source folder name")},
    };
    // Each "%@" takes today's date in its entry's pattern.
    const std::string titles[] = {GLS("Day of week (%@)"), GLS("Short day of week (%@)"),
                                  GLS("Month of year (%@)"), GLS("Short month of year (%@)")};
    for (std::size_t i = 0; i < std::size(kDatePartPatterns); ++i) {
        kinds.push_back({kFirstDatePartKind + static_cast<std::int64_t>(i),
                         platform::FormatText(
                             titles[i], {platform::FormatDatePattern(kDatePartPatterns[i], now)})});
    }
    std::int64_t tag = kFirstPatternKind;
    for (const char* pattern : kPatternEntries) kinds.push_back({tag++, pattern});
    return kinds;
}

std::string CustomSubFolderName(const std::string& pattern, const std::string& sourceName,
                                double now) {
    if (pattern.empty()) return {};
    std::string expanded;
    const std::string quoted = QuotedForPattern(sourceName);
    std::size_t from = 0;
    for (std::size_t at; (at = pattern.find(kSourcePlaceholder, from)) != std::string::npos;) {
        expanded.append(pattern, from, at - from).append(quoted);
        from = at + std::char_traits<char>::length(kSourcePlaceholder);
    }
    expanded.append(pattern, from);
    return platform::FormatDatePattern(expanded, now);
}

std::string GetDestSubFolderName(const SessionDocument& document, std::int64_t sessionIndex,
                                 bool on, const std::optional<std::string>& source,
                                 std::int64_t nameKind, const std::optional<std::string>& format,
                                 double now) {
    if (!on) return {};
    std::string pattern;
    if (format) {
        pattern = *format;
    } else if (const plist::Value* session = document.GetSessionDict(sessionIndex)) {
        const plist::Value* settings = session->dictAt("settingsDict");
        if (settings) pattern = settings->stringAt("settCreateDestFolderCustomNameFormat");
    }
    const std::string sourceName =
        SourceName(source ? *source : SessionSource(document, sessionIndex));

    if (nameKind == kNameKindCustom) return CustomSubFolderName(pattern, sourceName, now);
    if (nameKind == kNameKindSourceName) return sourceName;
    const std::int64_t part = nameKind - kFirstDatePartKind;
    if (part >= 0 && part < static_cast<std::int64_t>(std::size(kDatePartPatterns))) {
        return platform::FormatDatePattern(kDatePartPatterns[part], now);
    }
    const std::int64_t entry = nameKind - kFirstPatternKind;
    if (entry >= 0 && entry < static_cast<std::int64_t>(std::size(kPatternEntries))) {
        return platform::FormatDatePattern(kPatternEntries[entry], now);
    }
    return {};
}

constexpr std::size_t kMaxSubFolderNameBytes = 255;

std::string SubFolderNameProblem(const std::string& name) {
    if (name.empty()) return GLS("The name of the destination sub-folder is empty.");
    // A run writes "/" as ":", so "/" alone or "//" are names like any other; only these two
    // would point at the destination itself or at its parent.
    if (name == "." || name == "..") {
        return platform::FormatText(GLS("A destination sub-folder cannot be named \"%@\"."),
                                    {name});
    }
    // The longest name a Linux file system takes for one folder.
    if (name.size() > kMaxSubFolderNameBytes) {
        return GLS("The name of the destination sub-folder is longer than 255 bytes.");
    }
    return {};
}

}  // namespace qv::sessions
