#include "platform/scripting/dbus/ScriptingBus.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include "platform/scripting/dbus/WireDescriptor.h"

namespace platform::scripting::dbus {
namespace {

std::optional<ScriptCommand::Event> eventFor(const QString& member) {
    if (member == "Make") {
        return ScriptCommand::Event::Make;
    }
    if (member == "OpenDocuments") {
        return ScriptCommand::Event::OpenDocuments;
    }
    if (member == "GetData") {
        return ScriptCommand::Event::GetData;
    }
    return std::nullopt;
}

}  // namespace

QString scriptErrorMessage(const ScriptError& error) {
    QString text = QString::number(error.number);
    if (!error.message.empty()) {
        text += " " + QString::fromStdString(error.message);
    }
    return text;
}

std::optional<int32_t> scriptErrorNumber(const QString& message) {
    const QString first = message.section(' ', 0, 0);
    bool ok = false;
    const int number = first.toInt(&ok);
    return ok ? std::optional<int32_t>(number) : std::nullopt;
}

ScriptingServer::ScriptingServer(QDBusConnection connection, BusNames names, QString introspection,
                                 Handler handler)
    : connection_(std::move(connection)),
      names_(std::move(names)),
      introspection_(std::move(introspection)),
      handler_(std::move(handler)) {
    registerWireTypes();
}

ScriptingServer::~ScriptingServer() {
    stop();
}

bool ScriptingServer::start(std::string& error) {
    if (!connection_.isConnected()) {
        error = "no connection to the bus";
        return false;
    }
    registered_ = connection_.registerVirtualObject(names_.path, this);
    if (!registered_) {
        error = "the object path is taken";
        return false;
    }
    owned_ = connection_.registerService(names_.service);
    if (!owned_) {
        error = "the bus name is owned by another program: " +
                connection_.lastError().message().toStdString();
        stop();
        return false;
    }
    return true;
}

void ScriptingServer::stop() {
    if (owned_) {
        connection_.unregisterService(names_.service);
        owned_ = false;
    }
    if (registered_) {
        connection_.unregisterObject(names_.path);
        registered_ = false;
    }
}

QString ScriptingServer::introspect(const QString&) const {
    return introspection_;
}

bool ScriptingServer::handleMessage(const QDBusMessage& message,
                                    const QDBusConnection& connection) {
    if (message.interface() != names_.interface && !message.interface().isEmpty()) {
        return false;
    }
    const auto event = eventFor(message.member());
    QDBusConnection bus = connection;
    if (!event) {
        bus.send(message.createErrorReply(QDBusError::UnknownMethod,
                                          "No method " + message.member() + " in " +
                                              names_.interface));
        return true;
    }
    if (message.signature() != "(uv)(uv)" || message.arguments().size() != 2) {
        bus.send(message.createErrorReply(QDBusError::InvalidArgs,
                                          "expected attributes and parameters, (uv)(uv)"));
        return true;
    }
    std::string error;
    auto attributes = fromWire(message.arguments().at(0), error);
    auto parameters = attributes ? fromWire(message.arguments().at(1), error) : std::nullopt;
    if (!attributes || !parameters) {
        bus.send(message.createErrorReply(QDBusError::InvalidArgs, QString::fromStdString(error)));
        return true;
    }
    const QString errorName = names_.scriptErrorName();
    ScriptAnswer answer = [bus, message, errorName](const std::optional<Descriptor>& result,
                                                    const std::optional<ScriptError>& failure) {
        QDBusConnection out = bus;
        if (failure) {
            out.send(message.createErrorReply(errorName, scriptErrorMessage(*failure)));
        } else if (result && result->depth() > Descriptor::kMaxDepth) {
            out.send(message.createErrorReply(QDBusError::InternalError,
                                              "result nested too deeply for the bus"));
        } else {
            out.send(message.createReply(toWire(result.value_or(Descriptor()))));
        }
    };
    ScriptCommand command(*event, std::move(*attributes), std::move(*parameters),
                          std::move(answer));
    command.setSender(message.service().toStdString());
    if (handler_) {
        handler_(command);
    }
    command.finish();
    return true;
}

ScriptingClient::ScriptingClient(QDBusConnection connection, BusNames names)
    : connection_(std::move(connection)), names_(std::move(names)) {
    registerWireTypes();
}

ScriptingClient::Reply ScriptingClient::send(const QString& method, const Descriptor& attributes,
                                             const Descriptor& parameters,
                                             int timeoutMilliseconds) const {
    Reply reply;
    if (attributes.depth() > Descriptor::kMaxDepth || parameters.depth() > Descriptor::kMaxDepth) {
        // The bus drops a connection that sends deeper messages than it allows.
        reply.busError = QDBusError::errorString(QDBusError::InvalidArgs);
        reply.busErrorMessage = "descriptor nested too deeply";
        return reply;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(names_.service, names_.path, names_.interface, method);
    call << toWire(attributes) << toWire(parameters);
    const QDBusMessage answer = connection_.call(call, QDBus::Block, timeoutMilliseconds);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        if (answer.errorName() == names_.scriptErrorName()) {
            reply.scriptError = ScriptError{scriptErrorNumber(answer.errorMessage()).value_or(0),
                                            answer.errorMessage().toStdString()};
        } else {
            reply.busError = answer.errorName();
            reply.busErrorMessage = answer.errorMessage();
        }
        return reply;
    }
    std::string error;
    if (answer.arguments().size() == 1) {
        reply.result = fromWire(answer.arguments().at(0), error);
    }
    if (!reply.result) {
        reply.busError = QDBusError::errorString(QDBusError::InvalidSignature);
        reply.busErrorMessage = QString::fromStdString(error);
    }
    return reply;
}

}  // namespace platform::scripting::dbus
