#include "cli/json_writer.h"

namespace qv::cli {

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
