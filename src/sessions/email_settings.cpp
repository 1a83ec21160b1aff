#include "sessions/email_settings.h"

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

}  // namespace qv::sessions
