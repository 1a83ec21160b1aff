#pragma once
// The e-mail settings of the preferences (`prefSendEmailDict`): the SMTP account the run log is
// mailed through, kept as one scrambled dictionary.

#include "sessions/plist_value.h"

namespace qv::sessions {

// The settings of a fresh installation, in the clear.
plist::Value SendEmailDefaultSettings();
// The same, scrambled as stored in the preferences.
plist::Data GetSendEmailDefaultDict();

}  // namespace qv::sessions
