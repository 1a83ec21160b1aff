#include "schedule/email_message.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/localization.h"
#include "platform/utf8.h"

namespace qv::schedule {

namespace {

constexpr const char* kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const auto byte = [&](std::size_t k) {
            return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u;
        };
        const unsigned n = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kBase64[n & 63] : '=';
    }
    return out;
}

// The log as the text of a mail: CRLF line ends, and bytes that are not UTF-8 written "\xNN".
std::string MailText(std::string_view log) {
    std::string out;
    out.reserve(log.size() + log.size() / 32);
    for (std::size_t i = 0; i < log.size();) {
        const char c = log[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            i += c == '\r' && i + 1 < log.size() && log[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        char32_t cp = 0;
        const std::size_t n = platform::DecodeUtf8(log, i, &cp);
        if (n == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
            out += escaped;
            ++i;
        } else {
            out.append(log.substr(i, n));
            i += n;
        }
    }
    return out;
}

// Whether a line of the text is longer than SMTP carries (998 bytes before its CRLF).
bool HasLongLine(std::string_view text) {
    std::size_t length = 0;
    for (const char c : text) {
        length = c == '\r' || c == '\n' ? 0 : length + 1;
        if (length > 998) return true;
    }
    return false;
}

// Quoted-printable (RFC 2045) of CRLF text, for a body with a line SMTP would refuse.
std::string QuotedPrintable(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    std::size_t column = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            ++i;
            column = 0;
            continue;
        }
        const bool plain = (c >= 33 && c <= 126 && c != '=') ||
                           (c == ' ' && i + 1 < text.size() && text[i + 1] != '\r');
        const std::size_t width = plain ? 1 : 3;
        if (column + width > 75) {
            out += "=\r\n";
            column = 0;
        }
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        column += width;
    }
    return out;
}

// The text part: 8 bits as it is, or quoted-printable when a line is too long for SMTP.
std::string TextPart(const std::string& crlfText) {
    const bool longLine = HasLongLine(crlfText);
    return std::string("Content-Type: text/plain; charset=utf-8\r\n") +
           (longLine
                ? "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + QuotedPrintable(crlfText)
                : "Content-Transfer-Encoding: 8bit\r\n\r\n" + crlfText) +
           "\r\n";
}

// The number of characters (UTF-8 sequences, a stray byte one each) of the text.
std::size_t Characters(std::string_view text, std::size_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size() && count < limit; ++count) {
        char32_t cp = 0;
        const std::size_t n = platform::DecodeUtf8(text, i, &cp);
        i += n == 0 ? 1 : n;
    }
    return count;
}

std::string RfcDate(std::time_t date) {
    static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    ::localtime_r(&date, &local);
    const long offset = local.tm_gmtoff / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[local.tm_wday], local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                  local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

}  // namespace

std::string EncodeHeaderText(std::string_view text) {
    bool plain = true;
    for (const char c : text) plain = plain && static_cast<unsigned char>(c) < 0x80 && c >= 0x20;
    if (plain) return std::string(text);
    // Encoded words of at most 45 bytes each, never splitting a character.
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i;
        while (end < text.size() && end - i < 45) {
            char32_t cp = 0;
            const std::size_t n = platform::DecodeUtf8(text, end, &cp);
            if (end - i + std::max<std::size_t>(n, 1) > 45 && end > i) break;
            end += std::max<std::size_t>(n, 1);
        }
        out += (out.empty() ? "" : "\r\n ") + std::string("=?UTF-8?B?") +
               Base64(text.substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

std::string Base64Lines(std::string_view bytes) {
    const std::string flat = Base64(bytes);
    std::string out;
    out.reserve(flat.size() + flat.size() / 76 * 2 + 2);
    for (std::size_t i = 0; i < flat.size(); i += 76) out += flat.substr(i, 76) + "\r\n";
    return out;
}

std::string CutLogBody(const std::string& log, std::time_t date) {
    // The log up to its first session block: the run's summary.
    const std::size_t at = log.find("\xE2\x80\xA2 Session");
    if (at != std::string::npos && at > 0) {
        return log.substr(0, at) + "\r" +
               platform::GLS("Find the whole Log file in the attachment");
    }
    return platform::FormatText(platform::GLS("Quorvel Log File - %@ - See Attachment."),
                                {RfcDate(date)});
}

std::string BuildMailMessage(const MailParts& parts) {
    static std::atomic<unsigned> sequence{0};
    const bool attach = Characters(parts.log, kAttachLogFrom) >= kAttachLogFrom;
    std::string message;
    message.reserve(parts.log.size() * (attach ? 2 : 1) + 1024);
    message += "From: " + parts.from + "\r\n";
    message += "To: " + parts.to + "\r\n";
    message += "Subject: " + EncodeHeaderText(parts.subject) + "\r\n";
    message += "Date: " + RfcDate(parts.date) + "\r\n";
    message += "Message-ID: <" + std::to_string(parts.date) + "." + std::to_string(sequence++) +
               ".quorvel@" + (parts.host.empty() ? "localhost" : parts.host) + ">\r\n";
    message += "MIME-Version: 1.0\r\n";
    if (!attach) {
        message += TextPart(MailText(parts.log));
        return message;
    }
    const std::string boundary = "quorvel-" + std::to_string(parts.date) + "-log";
    message += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    message += "--" + boundary + "\r\n" + TextPart(MailText(CutLogBody(parts.log, parts.date)));
    message += "--" + boundary + "\r\n";
    message += "Content-Type: text/plain; charset=utf-8; name=\"" + parts.attachmentName + "\"\r\n";
    message += "Content-Disposition: attachment; filename=\"" + parts.attachmentName + "\"\r\n";
    message += "Content-Transfer-Encoding: base64\r\n\r\n";
    // The log as its saved text file holds it: lines ending with LF.
    std::string file = parts.log;
    std::replace(file.begin(), file.end(), '\r', '\n');
    message += Base64Lines(file);
    message += "--" + boundary + "--\r\n";
    return message;
}

}  // namespace qv::schedule
