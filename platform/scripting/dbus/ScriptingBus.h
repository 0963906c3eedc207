#pragma once
// Scripting commands over the D-Bus session bus.
//
// A program that can be scripted owns a bus name and serves one object whose interface
// has three methods, each taking the command's attributes and parameters as descriptors
// (see WireDescriptor.h) and answering with one:
//   Make((uv) attributes, (uv) parameters) -> (uv) result
//   OpenDocuments((uv) attributes, (uv) parameters) -> (uv) result
//   GetData((uv) attributes, (uv) parameters) -> (uv) result
// The interaction level travels as the 'inte' attribute. A script error is the D-Bus
// error "<interface>.ScriptError" whose message starts with the error number
// ("-128 User canceled."). A suspended command is a delayed reply, sent once.
#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "platform/scripting/ScriptCommand.h"

namespace platform::scripting::dbus {

struct BusNames {
    QString service;    // the well-known bus name
    QString path;       // the object's path
    QString interface;  // the interface of the three methods

    QString scriptErrorName() const { return interface + ".ScriptError"; }
};

// The error message for a script error: the number, then the text.
QString scriptErrorMessage(const ScriptError& error);
// The number at the start of a script error message; none when there is none.
std::optional<int32_t> scriptErrorNumber(const QString& message);

class ScriptingServer final : public QDBusVirtualObject {
  public:
    using Handler = std::function<void(ScriptCommand& command)>;

    // `introspection` is the <interface> element published for the object.
    ScriptingServer(QDBusConnection connection, BusNames names, QString introspection,
                    Handler handler);
    ~ScriptingServer() override;

    // Serves the object and claims the bus name; false (and why) when either fails.
    bool start(std::string& error);
    void stop();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  private:
    QDBusConnection connection_;
    BusNames names_;
    QString introspection_;
    Handler handler_;
    bool registered_ = false;
    bool owned_ = false;
};

// The sending side (the editor and its stand-ins). Calls block their thread.
class ScriptingClient {
  public:
    struct Reply {
        std::optional<Descriptor> result;  // answered without error
        std::optional<ScriptError> scriptError;
        QString busError;  // any other D-Bus error name
        QString busErrorMessage;
        bool ok() const { return result.has_value(); }
    };

    ScriptingClient(QDBusConnection connection, BusNames names);
    // `method` is "Make", "OpenDocuments" or "GetData". The bus starts the program when
    // it is not running and its service file is known.
    Reply send(const QString& method, const Descriptor& attributes, const Descriptor& parameters,
               int timeoutMilliseconds = 120000) const;

  private:
    QDBusConnection connection_;
    BusNames names_;
};

}  // namespace platform::scripting::dbus
