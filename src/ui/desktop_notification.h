#pragma once
// A notice on the desktop (freedesktop notifications over the session bus), for the end of a
// long run the user is no longer watching. Without a session bus, or in a build without
// Qt D-Bus, nothing is shown.

#include <QString>

namespace qv::ui {

// True when the notification service took the notice.
bool ShowDesktopNotification(const QString& title, const QString& body);

}  // namespace qv::ui
