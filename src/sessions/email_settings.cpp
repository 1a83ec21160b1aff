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

std::string CheckSendEmailDict(const plist::Value& settings) {
    const std::string to = settings.stringAt("mSendEmailTo");
    const bool blank = to.find_first_not_of(" \t") == std::string::npos;
    return blank ? platform::GLS(kMissingEmailParameter) : std::string();
}

}  // namespace qv::sessions
