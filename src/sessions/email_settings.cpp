#include "sessions/email_settings.h"

#include "platform/localization.h"
#include "sessions/well.h"

namespace qv::sessions {

plist::Value SendEmailDefaultSettings() {
    return plist::Dict{
        {"mSendEmailTo", ""},     {"mSendEmailFrom", ""}, {"mSendEmailAccountID", ""},
        {"mSendEmailSMTP", ""},   {"mSendEmailPort", ""}, {"mSendEmailPassword", ""},
        {"mSendEmailUseSSL", -1},
    };
}

plist::Data GetSendEmailDefaultDict() { return SetWellDict(SendEmailDefaultSettings()); }

std::vector<std::string> SplitRecipients(const std::string& text) {
    std::vector<std::string> recipients;
    std::string piece;
    for (const char c : text + ",") {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!piece.empty()) recipients.push_back(std::move(piece));
            piece.clear();
        } else {
            piece += c;
        }
    }
    return recipients;
}

bool CheckEmailRecipient(const std::string& address) {
    std::string lower = address;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto endsWith = [&](char c) {
        return !address.empty() && (address.front() == c || address.back() == c);
    };
    return address.size() >= 5 && !endsWith('.') && !endsWith('@') && lower != "name@example.com" &&
           address.find('@') != std::string::npos && address.find('.') != std::string::npos &&
           address.find("@.") == std::string::npos &&
           lower.find("quorvel.app") == std::string::npos;
}

std::string CheckSendEmailDict(const plist::Value& settings) {
    using platform::GLS;
    if (!CheckEmailRecipient(settings.stringAt("mSendEmailFrom"))) {
        return GLS("Missing parameter \"Email From\" on the Send Log via email panel.");
    }
    if (!CheckEmailRecipient(settings.stringAt("mSendEmailTo"))) {
        return GLS("Missing parameter \"Email To\" on the Send log via email panel.");
    }
    if (settings.stringAt("mSendEmailAccountID").empty()) {
        return GLS("Missing parameter \"Account ID\" on the Send log via email panel.");
    }
    if (settings.stringAt("mSendEmailSMTP").empty()) {
        return GLS("Missing parameter \"SMTP\" on the Send log via email panel.");
    }
    return {};
}

std::string CheckEmailFields(const plist::Value& settings) {
    using platform::GLS;
    for (const char* key : {"mSendEmailTo", "mSendEmailFrom", "mSendEmailAccountID",
                            "mSendEmailSMTP", "mSendEmailPort", "mSendEmailPassword"}) {
        const std::string& value = settings.stringAt(key);
        // C0 controls, DEL, and the line breaks of Unicode (NEL, LS, PS).
        bool control = value.find("\xC2\x85") != std::string::npos ||
                       value.find("\xE2\x80\xA8") != std::string::npos ||
                       value.find("\xE2\x80\xA9") != std::string::npos;
        for (const char c : value) {
            control = control || static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
        }
        if (control) {
            return platform::FormatText(GLS("The e-mail setting %@ can't hold a line break or "
                                            "another control character."),
                                        {key});
        }
        if (value.size() > 1024) {
            return platform::FormatText(GLS("The e-mail setting %@ is too long."), {key});
        }
    }
    // A host name or an address: nothing a connection's address would read as more.
    const std::string& server = settings.stringAt("mSendEmailSMTP");
    const bool hostName = server.find_first_not_of(
                              "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
                          std::string::npos;
    const bool bracketed =
        server.size() > 2 && server.front() == '[' && server.back() == ']' &&
        server.find_first_not_of("0123456789abcdefABCDEF:.", 1) == server.size() - 1;
    if (!hostName && !bracketed) return GLS("The SMTP server must be a host name or an address.");
    // Each recipient one plain address, and at most ten of them.
    const std::vector<std::string> recipients = SplitRecipients(settings.stringAt("mSendEmailTo"));
    for (const std::string& recipient : recipients) {
        const std::size_t at = recipient.find('@');
        if (at == 0 || at == std::string::npos || at + 1 == recipient.size() ||
            recipient.find('@', at + 1) != std::string::npos ||
            recipient.find_first_of("\"<>()[];:\\") != std::string::npos) {
            return platform::FormatText(GLS("\"%@\" is not an e-mail address."), {recipient});
        }
    }
    if (recipients.size() > 10) return GLS("The log can be mailed to at most 10 recipients.");
    const std::string& port = settings.stringAt("mSendEmailPort");
    if (!port.empty()) {
        const bool digits =
            port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stol(port) < 1 || std::stol(port) > 65535) {
            return GLS("The SMTP port must be a number from 1 to 65535.");
        }
    }
    return {};
}

}  // namespace qv::sessions
