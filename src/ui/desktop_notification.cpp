#include "ui/desktop_notification.h"

#ifdef QV_HAVE_QT_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#endif

namespace qv::ui {

bool ShowDesktopNotification(const QString& title, const QString& body) {
#ifdef QV_HAVE_QT_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    call << QStringLiteral("Quorvel") << 0u << QStringLiteral("app.quorvel.Quorvel") << title
         << body << QStringList() << QVariantMap() << -1;
    // Not waited for: a slow or missing service must not hold the window.
    return bus.send(call);
#else
    (void)title;
    (void)body;
    return false;
#endif
}

}  // namespace qv::ui
