#include "platform/localization.h"

#include <cstdlib>
#include <memory>

#include "platform/file_io.h"
#include "platform/utf8.h"

namespace qv::platform {

namespace {

constexpr std::size_t kMaxStringsFileBytes = 16 * 1024 * 1024;

// UTF-16 with a byte-order mark becomes UTF-8; anything else is taken as UTF-8.
bool ToUtf8(std::string_view bytes, std::string* out, std::string* error) {
    const auto u = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 3 && u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
        *out = std::string(bytes.substr(3));
        return true;
    }
    const bool le = bytes.size() >= 2 && u(0) == 0xFF && u(1) == 0xFE;
    const bool be = bytes.size() >= 2 && u(0) == 0xFE && u(1) == 0xFF;
    if (!le && !be) {
        *out = std::string(bytes);
        return true;
    }
    if (bytes.size() % 2 != 0) {
        *error = "odd number of bytes in a UTF-16 file";
        return false;
    }
    out->clear();
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        char32_t unit = le ? (u(i) | (u(i + 1) << 8)) : ((u(i) << 8) | u(i + 1));
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            char32_t low = le ? (u(i + 2) | (u(i + 3) << 8)) : ((u(i + 2) << 8) | u(i + 3));
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(unit, out);
    }
    return true;
}

class StringsParser {
  public:
    explicit StringsParser(std::string_view text) : s_(text) {}

    bool Parse(StringTable* table, std::string* error) {
        for (;;) {
            if (!SkipSpaceAndComments(error)) return false;
            if (pos_ >= s_.size()) return true;
            std::string key, value;
            if (!ReadToken(&key, error)) return false;
            if (!SkipSpaceAndComments(error)) return false;
            if (Peek() == '=') {
                ++pos_;
                if (!SkipSpaceAndComments(error)) return false;
                if (!ReadToken(&value, error)) return false;
                if (!SkipSpaceAndComments(error)) return false;
            } else {
                value = key;  // "text"; stands for itself
            }
            if (Peek() != ';') return Fail("expected ';'", error);
            ++pos_;
            (*table)[std::move(key)] = std::move(value);
        }
    }

  private:
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }

    bool Fail(const std::string& what, std::string* error) const {
        std::size_t line = 1;
        for (std::size_t i = 0; i < pos_ && i < s_.size(); ++i) line += s_[i] == '\n';
        *error = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    bool SkipSpaceAndComments(std::string* error) {
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                ++pos_;
            } else if (s_.compare(pos_, 2, "/*") == 0) {
                auto end = s_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) return Fail("unterminated comment", error);
                pos_ = end + 2;
            } else if (s_.compare(pos_, 2, "//") == 0) {
                auto end = s_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? s_.size() : end + 1;
            } else {
                break;
            }
        }
        return true;
    }

    static bool IsBareChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '.' || c == '$' || c == ':' || c == '/' || c == '-';
    }

    bool ReadToken(std::string* out, std::string* error) {
        out->clear();
        if (Peek() != '"') {
            while (pos_ < s_.size() && IsBareChar(s_[pos_])) *out += s_[pos_++];
            if (out->empty()) return Fail("expected a quoted text", error);
            return true;
        }
        ++pos_;
        while (pos_ < s_.size()) {
            char c = s_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (pos_ >= s_.size()) break;
            char e = s_[pos_++];
            switch (e) {
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'a':
                    *out += '\a';
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'v':
                    *out += '\v';
                    break;
                case 'U':
                case 'u': {
                    char32_t cp = 0;
                    if (!ReadHex4(&cp)) return Fail("bad \\U escape", error);
                    if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(pos_, 2, "\\U") == 0) {
                        pos_ += 2;
                        char32_t low = 0;
                        if (!ReadHex4(&low) || low < 0xDC00 || low >= 0xE000) {
                            return Fail("bad surrogate pair", error);
                        }
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    AppendUtf8(cp, out);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        int v = e - '0';
                        for (int k = 0; k < 2 && Peek() >= '0' && Peek() <= '7'; ++k) {
                            v = v * 8 + (s_[pos_++] - '0');
                        }
                        *out += static_cast<char>(v);
                    } else {
                        *out += e;  // \" \\ \' and any other escaped character
                    }
            }
        }
        return Fail("unterminated text", error);
    }

    bool ReadHex4(char32_t* cp) {
        if (pos_ + 4 > s_.size()) return false;
        char32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<char32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<char32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<char32_t>(c - 'A' + 10);
            else
                return false;
        }
        *cp = v;
        return true;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

void AddLocale(std::vector<std::string>& out, std::string locale) {
    // "fr_CH.UTF-8@euro" -> "fr_CH", then "fr".
    auto cut = locale.find_first_of(".@");
    if (cut != std::string::npos) locale.resize(cut);
    if (locale.empty() || locale == "C" || locale == "POSIX") return;
    auto push = [&](const std::string& l) {
        for (const auto& have : out) {
            if (have == l) return;
        }
        out.push_back(l);
    };
    push(locale);
    auto underscore = locale.find('_');
    if (underscore != std::string::npos) push(locale.substr(0, underscore));
}

std::shared_ptr<const Localizer>& InstalledLocalizer() {
    static std::shared_ptr<const Localizer> installed = std::make_shared<Localizer>();
    return installed;
}

}  // namespace

bool ParseStringsFile(std::string_view bytes, StringTable* table, std::string* error) {
    std::string text;
    if (!ToUtf8(bytes, &text, error)) return false;
    StringTable parsed;
    if (!StringsParser(text).Parse(&parsed, error)) return false;
    *table = std::move(parsed);
    return true;
}

std::vector<std::string> PreferredLanguages() {
    std::vector<std::string> out;
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr) {
        std::string all(list);
        std::size_t start = 0;
        while (start <= all.size()) {
            auto colon = all.find(':', start);
            if (colon == std::string::npos) colon = all.size();
            AddLocale(out, all.substr(start, colon - start));
            start = colon + 1;
        }
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') {
            AddLocale(out, value);
            break;
        }
    }
    AddLocale(out, "en");
    return out;
}

bool Localizer::Load(const std::string& resourcesFolder, const std::vector<std::string>& languages,
                     std::string* error) {
    std::string lastError = "no language folder holds a Localizable.strings file";
    for (const auto& language : languages) {
        const std::string folder = JoinPath(resourcesFolder, language + ".lproj");
        const std::string file = JoinPath(folder, "Localizable.strings");
        if (!IsExistingRegularFile(file)) continue;
        ReadFileResult read = ReadWholeFile(file, kMaxStringsFileBytes);
        StringTable table;
        std::string why;
        if (read.status != ReadStatus::Ok) {
            lastError = file + ": " + read.reason;
            continue;
        }
        if (!ParseStringsFile(read.bytes, &table, &why)) {
            lastError = file + ": " + why;
            continue;
        }
        table_ = std::move(table);
        pathLanguageFolder_ = folder;
        pathLanguageStringsFile_ = file;
        return true;
    }
    if (error != nullptr) *error = lastError;
    return false;
}

std::string Localizer::GLS(std::string_view text) const {
    if (text.empty()) return {};
    auto it = table_.find(std::string(text));
    if (it == table_.end() || it->second.empty()) return std::string(text);
    return it->second;
}

void InstallLocalizer(Localizer localizer) {
    InstalledLocalizer() = std::make_shared<const Localizer>(std::move(localizer));
}

const Localizer& CurrentLocalizer() { return *InstalledLocalizer(); }

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const std::string_view rest = format.substr(i);
        const std::size_t width = rest.starts_with("%@") ? 2 : rest.starts_with("%ld") ? 3
                                  : rest.starts_with("%d")  ? 2
                                                            : 0;
        if (width == 0 || next == args.end()) {
            out += format[i];
            continue;
        }
        out += *next++;
        i += width - 1;
    }
    return out;
}

}  // namespace qv::platform
