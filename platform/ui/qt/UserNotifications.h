#pragma once
// User notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications.Notify), with the default sound. The call never
// blocks: without a bus or a service the failure is written to the console and the
// program goes on. Main thread.
#include <QObject>
#include <functional>
#include <string>

namespace platform::ui::qt {

class UserNotifications {
  public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    // The freedesktop sound theme's name for an ordinary message.
    static constexpr const char* kDefaultSound = "message-new-instant";

    // `delivered` (optional) hears whether the service took the notification.
    static void deliver(const std::string& title, const std::string& informativeText,
                        std::function<void(bool delivered)> delivered = nullptr);
};

}  // namespace platform::ui::qt
