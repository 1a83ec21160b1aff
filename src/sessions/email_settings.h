#pragma once
// The e-mail settings of the preferences (`prefSendEmailDict`): the SMTP account the run log is
// mailed through, kept as one scrambled dictionary.

#include <string>
#include <vector>

#include "sessions/plist_value.h"

namespace qv::sessions {

// The settings of a fresh installation, in the clear.
plist::Value SendEmailDefaultSettings();
// The same, scrambled as stored in the preferences.
plist::Data GetSendEmailDefaultDict();

inline constexpr const char* kMissingEmailParameter =
    "Missing parameter on the Send log via email panel.";

// Whether the settings (in the clear) are complete enough to mail a log, in this order:
// the sender, the recipients, the account, the SMTP server. "" when they are, otherwise the
// message to show.
std::string CheckSendEmailDict(const plist::Value& settings);
// The recipients of the settings' text: separated by commas and/or blanks, empty pieces left
// out.
std::vector<std::string> SplitRecipients(const std::string& text);
// The address rule, applied to a list of addresses as one text.
bool CheckEmailRecipient(const std::string& address);
// What goes into the headers and the SMTP dialogue: no control character in any field, a port
// of 1 to 65535 (or none), at most ten recipients. "" when fine.
std::string CheckEmailFields(const plist::Value& settings);

}  // namespace qv::sessions
