#pragma once
// The table of localised texts: every text shown to people or written to a log passes through
// GLS(), which maps the English text to its translation, or gives the text itself.
//
// Translations live in resources/<lang>.lproj/Localizable.strings, in the strings-file format
// translators' tools read and write:  /* comment */  "English text" = "Translated text";
// (UTF-8, or UTF-16 with a byte-order mark; escapes \" \\ \n \r \t \Uxxxx).

#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qv::platform {

using StringTable = std::unordered_map<std::string, std::string>;

// Parses a strings file. On failure returns false and *error names the line.
bool ParseStringsFile(std::string_view bytes, StringTable* table, std::string* error);

// The user's languages, most preferred first: LANGUAGE (a colon-separated list), then the
// first set of LC_ALL, LC_MESSAGES, LANG, then "en". A locale such as "fr_CH.UTF-8" gives
// "fr_CH" followed by "fr"; "C" and "POSIX" are skipped.
std::vector<std::string> PreferredLanguages();

class Localizer {
  public:
    // Looks, for each language in order, for <resources>/<lang>.lproj/Localizable.strings and
    // loads the first that is a regular file and parses. False when none could be loaded.
    bool Load(const std::string& resourcesFolder, const std::vector<std::string>& languages,
              std::string* error);

    std::string GLS(std::string_view text) const;
    std::string YesNo(long long value) const { return GLS(value != 0 ? "Yes" : "No"); }

    const std::string& pathLanguageFolder() const { return pathLanguageFolder_; }
    const std::string& pathLanguageStringsFile() const { return pathLanguageStringsFile_; }
    const StringTable& table() const { return table_; }
    void SetTable(StringTable table) { table_ = std::move(table); }

  private:
    StringTable table_;
    std::string pathLanguageFolder_;
    std::string pathLanguageStringsFile_;
};

// The process-wide table, set up once at start-up before any run begins; until then GLS()
// gives every text unchanged.
void InstallLocalizer(Localizer localizer);
const Localizer& CurrentLocalizer();

inline std::string GLS(std::string_view text) { return CurrentLocalizer().GLS(text); }
// A text with "%@", "%ld" and "%d" placeholders filled, in order, with args (what is put in is
// never read again as a placeholder).
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);
inline std::string YesNo(long long value) { return CurrentLocalizer().YesNo(value); }

// Message shown when no string table can be found.
inline constexpr std::string_view kMissingStringsMessage =
    "Can't find the file \"Localizable.strings\" inside the application package.\r"
    "Please reinstall a new copy of the program.";

}  // namespace qv::platform
