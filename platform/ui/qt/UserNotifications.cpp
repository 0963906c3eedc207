#include "platform/ui/qt/UserNotifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

#include "base/Console.h"

namespace platform::ui::qt {

void UserNotifications::deliver(const std::string& title, const std::string& informativeText,
                                std::function<void(bool)> delivered) {
    auto report = [delivered](bool ok) {
        if (delivered) {
            delivered(ok);
        }
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        base::Console::log("Notification \"%@\" not shown: no session bus", title);
        report(false);
        return;
    }
    QString appName = QGuiApplication::applicationDisplayName();
    if (appName.isEmpty()) {
        appName = QCoreApplication::applicationName();
    }
    QVariantMap hints;
    hints.insert("sound-name", QString::fromLatin1(kDefaultSound));
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << appName << uint(0) << QString() << QString::fromStdString(title)
         << QString::fromStdString(informativeText) << QStringList() << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, title, report](QDBusPendingCallWatcher*) {
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             base::Console::log("Notification \"%@\" not shown: %@", title,
                                                watcher->error().message().toStdString());
                             report(false);
                         } else {
                             report(true);
                         }
                     });
}

}  // namespace platform::ui::qt
