#include "cli/terminal_text.h"

namespace qv::cli {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

// The length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when the byte
// there does not start one.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t* cp) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char c = p[i];
    std::size_t len;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2;
        *cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        *cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        *cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80) return 0;
        *cp = (*cp << 6) | (p[i + k] & 0x3F);
    }
    const char32_t v = *cp;
    if ((len == 2 && v < 0x80) || (len == 3 && v < 0x800) || (len == 4 && v < 0x10000) ||
        v > 0x10FFFF || (v >= 0xD800 && v < 0xE000)) {
        return 0;
    }
    return len;
}

std::string Escape(std::string_view text, bool carriageReturnEndsLine) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(text, i, &cp);
        if (len == 0) {
            // A lone byte above 0x7F: some terminals take 0x9B alone for the start of a
            // control sequence.
            AppendHexByte(out, static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (cp == '\r' && carriageReturnEndsLine) {
            out += '\n';
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp < 0x20 || cp == 0x7F) {
            AppendHexByte(out, static_cast<unsigned char>(cp));
        } else if (cp >= 0x80 && cp <= 0x9F) {
            out += "\\u00";
            out += kHex[cp >> 4];
            out += kHex[cp & 0xF];
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

}  // namespace

std::string TerminalName(std::string_view text) { return Escape(text, false); }

std::string ForTerminal(std::string_view text) { return Escape(text, true); }

}  // namespace qv::cli
