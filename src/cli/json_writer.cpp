#include "cli/json_writer.h"

namespace qv::cli {

bool IsValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = p[i];
        std::size_t len;
        char32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            return false;
        }
        i += len;
    }
    return true;
}

void WriteJsonString(std::ostream& out, std::string_view s, bool bytesForm) {
    static constexpr char kHex[] = "0123456789abcdef";
    const auto escaped = [&](unsigned c) { out << "\\u00" << kHex[c >> 4] << kHex[c & 0xF]; };
    out << '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '"':
                out << "\\\"";
                break;
            case '\\':
                out << "\\\\";
                break;
            case '\n':
                out << "\\n";
                break;
            case '\r':
                out << "\\r";
                break;
            case '\t':
                out << "\\t";
                break;
            default:
                // JSON lets DEL and the C1 controls through raw; output read on a terminal
                // should not carry them.
                if (c < 0x20 || c == 0x7F || (bytesForm && c >= 0x80)) {
                    escaped(c);
                } else if (c == 0xC2 && i + 1 < s.size() &&
                           static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                           static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
                    escaped(static_cast<unsigned char>(s[++i]));
                } else {
                    out << s[i];
                }
        }
    }
    out << '"';
}

}  // namespace qv::cli
