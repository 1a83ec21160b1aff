#include "cli/terminal_text.h"

#include "platform/utf8.h"

namespace qv::cli {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

bool IsDirectionControl(char32_t cp) {
    return cp == 0x061C || cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// carriageReturnEndsLine: a text of alerts and logs, whose carriage returns end lines and
// whose tabs are its layout.
std::string Escape(std::string_view text, bool carriageReturnEndsLine) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = 0;
        const std::size_t len = platform::DecodeUtf8(text, i, &cp);
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
            if (carriageReturnEndsLine) {
                out += '\t';
            } else {
                out += "\\t";
            }
        } else if (cp < 0x20 || cp == 0x7F) {
            AppendHexByte(out, static_cast<unsigned char>(cp));
        } else if (cp == '\\' && !carriageReturnEndsLine) {
            out += "\\\\";  // so that a name holding "\\n" is not taken for one holding a line end
        } else if ((cp >= 0x80 && cp <= 0x9F) || IsDirectionControl(cp)) {
            // C1 controls, and the marks that turn the direction of the text around (a name
            // could show another name, its extension reversed).
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
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
