#pragma once
// The e-mail settings of the preferences (`prefSendEmailDict`): the SMTP account the run log is
// mailed through, kept as one scrambled dictionary.

#include <string>

#include "sessions/plist_value.h"

namespace qv::sessions {

// The settings of a fresh installation, in the clear.
plist::Value SendEmailDefaultSettings();
// The same, scrambled as stored in the preferences.
plist::Data GetSendEmailDefaultDict();

inline constexpr const char* kMissingEmailParameter =
    "Missing parameter on the Send log via email panel.";

// Whether the settings (in the clear) are complete enough to mail a log: "" when they are,
// otherwise GLS of the message to show. Only the recipient's address is required so far.
std::string CheckSendEmailDict(const plist::Value& settings);

}  // namespace qv::sessions
