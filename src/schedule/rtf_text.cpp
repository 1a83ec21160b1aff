#include "schedule/rtf_text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/utf8.h"
#include "schedule/run_log.h"

namespace qv::schedule {

namespace {

constexpr std::string_view kRtfPrologue =
    "{\\rtf1\\ansi\\ansicpg65001\\deff0{\\fonttbl{\\f0\\fmodern Monospace;}}\\f0\\fs20 ";
// Only the fixed header names the web site; an address found further down belongs to a name
// or a path and is kept as text.
constexpr int kHeaderLinesWithAddress = 3;

void AppendHexByte(unsigned char b, std::string* out) {
    constexpr const char* kHex = "0123456789abcdef";
    out->append("\\'");
    out->push_back(kHex[b >> 4]);
    out->push_back(kHex[b & 0x0F]);
}

void AppendCodeUnit(char32_t unit, std::string* out) {
    const long value = unit > 0x7FFF ? static_cast<long>(unit) - 0x10000 : static_cast<long>(unit);
    out->append("\\u").append(std::to_string(value)).push_back('?');
}

// Where the fixed header's web-site address stands, or npos.
std::size_t HeaderAddressPosition(std::string_view text) {
    const std::size_t at = text.find(kWebSiteAddress);
    if (at == std::string_view::npos) return at;
    std::size_t lineEnds = 0;
    for (std::size_t i = 0; i < at; ++i) lineEnds += text[i] == '\r';
    return lineEnds < kHeaderLinesWithAddress ? at : std::string_view::npos;
}

}  // namespace

std::string LogToRtf(std::string_view text) {
    std::string out(kRtfPrologue);
    out.reserve(out.size() + text.size() + text.size() / 8 + 16);
    const std::size_t linkAt = HeaderAddressPosition(text);
    const std::string_view address = kWebSiteAddress;
    std::size_t i = 0;
    while (i < text.size()) {
        if (i == linkAt) {
            out.append("by {\\field{\\*\\fldinst HYPERLINK \"")
                .append(address)
                .append("\"}{\\fldrslt ")
                .append(kWebSiteName)
                .append("}}");
            i += address.size();
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            out.append("\\par\n");
        } else if (c == '\t') {
            out.append("\\tab ");
        } else if (c == '\\' || c == '{' || c == '}') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c == 0x7F) {
            AppendHexByte(c, &out);
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            char32_t cp = 0;
            const std::size_t len = platform::DecodeUtf8(text, i, &cp);
            if (len == 0) {
                AppendHexByte(c, &out);
            } else if (cp < 0x10000) {
                AppendCodeUnit(cp, &out);
            } else {
                const char32_t v = cp - 0x10000;
                AppendCodeUnit(0xD800 + (v >> 10), &out);
                AppendCodeUnit(0xDC00 + (v & 0x3FF), &out);
            }
            i += len == 0 ? 1 : len;
            continue;
        }
        ++i;
    }
    out.push_back('}');
    return out;
}

namespace {

// Destinations whose text is not part of the document, each between blanks.
constexpr std::string_view kSkippedDestinations =
    " fonttbl colortbl stylesheet info pict object objdata fldinst header headerl headerr"
    " headerf footer footerl footerr footerf footnote listtable listoverridetable revtbl"
    " rsidtbl generator xmlnstbl themedata colorschememapping latentstyles datastore ";

bool IsSkippedDestination(std::string_view word) {
    if (word.empty()) return false;
    for (std::size_t at = kSkippedDestinations.find(word); at != std::string_view::npos;
         at = kSkippedDestinations.find(word, at + 1)) {
        if (kSkippedDestinations[at - 1] == ' ' && kSkippedDestinations[at + word.size()] == ' ') {
            return true;
        }
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Longer words and parameters than these are not RTF; they are cut rather than trusted.
constexpr std::size_t kMaxWordLength = 32;
constexpr std::size_t kMaxParameterDigits = 10;

class RtfReader {
  public:
    RtfReader(std::string_view rtf, std::string* text) : in_(rtf), out_(text) {}

    bool Read(std::string* error) {
        out_->clear();
        if (in_.substr(0, 5) != "{\\rtf") return Fail(error, "it is not an RTF document");
        while (pos_ < in_.size()) {
            const char c = in_[pos_++];
            if (c == '{') {
                if (groups_.size() >= static_cast<std::size_t>(kMaxRtfDepth)) {
                    return Fail(error, "its groups nest too deeply");
                }
                groups_.push_back(groups_.empty() ? Group{} : groups_.back());
                pendingFallback_ = 0;
            } else if (c == '}') {
                FlushSurrogate();
                if (groups_.empty()) break;  // what follows the document is not read
                groups_.pop_back();
                pendingFallback_ = 0;
                if (groups_.empty()) break;
            } else if (c == '\\') {
                if (!ControlSequence(error)) return false;
            } else if (c == '\r' || c == '\n') {
                // Layout of the RTF text itself.
            } else {
                EmitByte(static_cast<unsigned char>(c));
            }
        }
        FlushSurrogate();
        if (!groups_.empty()) return Fail(error, "it ends before its groups are closed");
        return true;
    }

  private:
    struct Group {
        bool skip = false;
        int fallbackChars = 1;  // \ucN
    };

    static bool Fail(std::string* error, const char* why) {
        if (error) *error = why;
        return false;
    }

    bool Skipping() const { return !groups_.empty() && groups_.back().skip; }

    // A character of the text; the fallback of a "\uN" is dropped.
    void EmitByte(unsigned char b) {
        if (pendingFallback_ > 0) {
            --pendingFallback_;
            return;
        }
        if (Skipping()) return;
        FlushSurrogate();
        out_->push_back(static_cast<char>(b));
    }

    void EmitText(std::string_view s) {
        if (Skipping()) return;
        FlushSurrogate();
        out_->append(s);
    }

    void EmitUnit(long value) {
        char32_t unit = static_cast<char32_t>(value < 0 ? value + 0x10000 : value);
        pendingFallback_ = groups_.empty() ? 1 : groups_.back().fallbackChars;
        if (Skipping()) return;
        if (unit >= 0xDC00 && unit <= 0xDFFF && highSurrogate_ != 0) {
            platform::AppendUtf8(0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00),
                                 out_);
            highSurrogate_ = 0;
            return;
        }
        FlushSurrogate();
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            highSurrogate_ = unit;
        } else {
            platform::AppendUtf8(unit >= 0xDC00 && unit <= 0xDFFF ? 0xFFFD : unit, out_);
        }
    }

    // A high surrogate without its pair stands for a character that cannot be shown.
    void FlushSurrogate() {
        if (highSurrogate_ == 0) return;
        highSurrogate_ = 0;
        platform::AppendUtf8(0xFFFD, out_);
    }

    bool ControlSequence(std::string* error) {
        if (pos_ >= in_.size()) return Fail(error, "it ends with a lone backslash");
        const char c = in_[pos_];
        if (!IsLetter(c)) {
            ++pos_;
            return ControlSymbol(c, error);
        }
        const std::size_t start = pos_;
        while (pos_ < in_.size() && IsLetter(in_[pos_]) && pos_ - start < kMaxWordLength) ++pos_;
        const std::string_view word = in_.substr(start, pos_ - start);
        bool hasParameter = false;
        bool negative = false;
        long parameter = 0;
        if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() &&
            IsDigit(in_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        std::size_t digits = 0;
        while (pos_ < in_.size() && IsDigit(in_[pos_])) {
            if (digits++ < kMaxParameterDigits) parameter = parameter * 10 + (in_[pos_] - '0');
            hasParameter = true;
            ++pos_;
        }
        if (negative) parameter = -parameter;
        if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
        ControlWord(word, hasParameter, parameter);
        return true;
    }

    bool ControlSymbol(char c, std::string* error) {
        switch (c) {
            case '\\':
            case '{':
            case '}':
                EmitByte(static_cast<unsigned char>(c));
                return true;
            case '\'': {
                if (pos_ + 2 > in_.size()) return Fail(error, "it ends inside a \\' escape");
                const int hi = HexDigit(in_[pos_]);
                const int lo = HexDigit(in_[pos_ + 1]);
                if (hi < 0 || lo < 0) {
                    return Fail(error, "it holds a \\' escape without two hex digits");
                }
                pos_ += 2;
                EmitByte(static_cast<unsigned char>(hi * 16 + lo));
                return true;
            }
            case '*':
                if (!groups_.empty()) groups_.back().skip = true;
                return true;
            case '\r':
            case '\n':
                pendingFallback_ = 0;
                EmitText("\r");
                return true;
            case '~':
                pendingFallback_ = 0;
                EmitText("\xC2\xA0");
                return true;
            case '_':
                pendingFallback_ = 0;
                EmitText("-");
                return true;
            default:  // \- (optional hyphen), \: (index entries) and the unknown
                return true;
        }
    }

    void ControlWord(std::string_view word, bool hasParameter, long parameter) {
        if (word == "u" && hasParameter) {
            if (parameter >= -32768 && parameter <= 65535) EmitUnit(parameter);
            return;
        }
        pendingFallback_ = 0;
        if (word == "uc" && hasParameter) {
            // More than a few fallback characters per character is no writer's choice.
            if (!groups_.empty()) {
                groups_.back().fallbackChars = static_cast<int>(std::clamp(parameter, 0L, 8L));
            }
        } else if (word == "par" || word == "line") {
            EmitText("\r");
        } else if (word == "tab") {
            EmitText("\t");
        } else if (word == "bullet") {
            EmitText("\xE2\x80\xA2");
        } else if (word == "emdash") {
            EmitText("\xE2\x80\x94");
        } else if (word == "endash") {
            EmitText("\xE2\x80\x93");
        } else if (word == "lquote") {
            EmitText("\xE2\x80\x98");
        } else if (word == "rquote") {
            EmitText("\xE2\x80\x99");
        } else if (word == "ldblquote") {
            EmitText("\xE2\x80\x9C");
        } else if (word == "rdblquote") {
            EmitText("\xE2\x80\x9D");
        } else if (word == "bin" && hasParameter && parameter > 0) {
            const auto n = static_cast<std::size_t>(parameter);
            pos_ = n >= in_.size() - pos_ ? in_.size() : pos_ + n;
        } else if (IsSkippedDestination(word)) {
            if (!groups_.empty()) groups_.back().skip = true;
        }
    }

    std::string_view in_;
    std::string* out_;
    std::size_t pos_ = 0;
    std::vector<Group> groups_;
    int pendingFallback_ = 0;
    char32_t highSurrogate_ = 0;
};

}  // namespace

bool RtfToText(std::string_view rtf, std::string* text, std::string* error) {
    std::string scratch;
    RtfReader reader(rtf, text ? text : &scratch);
    return reader.Read(error);
}

}  // namespace qv::schedule
