#include "platform/scripting/dbus/WireDescriptor.h"

#include <QDBusMetaType>
#include <QDBusVariant>
#include <memory>
#include <mutex>

namespace platform::scripting::dbus {
namespace {

// What Qt marshals when the message is sent: a descriptor inside a tree that the
// message's argument keeps alive.
struct WireItem {
    std::shared_ptr<const Descriptor> root;
    const Descriptor* descriptor = nullptr;
};
struct WireList {
    std::shared_ptr<const Descriptor> root;
    const Descriptor* descriptor = nullptr;
};
struct WireRecord {
    std::shared_ptr<const Descriptor> root;
    const Descriptor* descriptor = nullptr;
};

}  // namespace
}  // namespace platform::scripting::dbus

Q_DECLARE_METATYPE(platform::scripting::dbus::WireItem)
Q_DECLARE_METATYPE(platform::scripting::dbus::WireList)
Q_DECLARE_METATYPE(platform::scripting::dbus::WireRecord)

namespace platform::scripting::dbus {
namespace {

// Qt marshals a default value of each type once to learn its signature: an empty
// descriptor stands in for the missing one.
const Descriptor& described(const Descriptor* d) {
    static const Descriptor empty;
    return d ? *d : empty;
}

QDBusArgument& operator<<(QDBusArgument& arg, const WireItem& item) {
    const Descriptor& d = described(item.descriptor);
    arg.beginStructure();
    arg << quint32(d.type());
    switch (d.kind()) {
        case Descriptor::Kind::Atomic:
            arg << QDBusVariant(QByteArray(reinterpret_cast<const char*>(d.data().data()),
                                           qsizetype(d.data().size())));
            break;
        case Descriptor::Kind::List:
            arg << QDBusVariant(QVariant::fromValue(WireList{item.root, &d}));
            break;
        case Descriptor::Kind::Record:
            arg << QDBusVariant(QVariant::fromValue(WireRecord{item.root, &d}));
            break;
    }
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const WireList& list) {
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const Descriptor& item : described(list.descriptor).items()) {
        arg << QDBusVariant(QVariant::fromValue(WireItem{list.root, &item}));
    }
    arg.endArray();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const WireRecord& record) {
    arg.beginMap(QMetaType::fromType<quint32>(), QMetaType::fromType<QDBusVariant>());
    for (const auto& [keyword, value] : described(record.descriptor).fields()) {
        arg.beginMapEntry();
        arg << quint32(keyword) << QDBusVariant(QVariant::fromValue(WireItem{record.root, &value}));
        arg.endMapEntry();
    }
    arg.endMap();
    return arg;
}

// Received values are walked by hand (readItem); these exist for the registration only.
const QDBusArgument& operator>>(const QDBusArgument& arg, WireItem&) {
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, WireList&) {
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, WireRecord&) {
    return arg;
}

std::optional<Descriptor> readItem(const QDBusArgument& arg, int depth, std::string& error);

// A list item or record field: a variant that must hold a descriptor.
std::optional<Descriptor> readNested(const QDBusVariant& nested, int depth, std::string& error) {
    const QVariant inner = nested.variant();
    if (inner.metaType() != QMetaType::fromType<QDBusArgument>()) {
        error = "a list item or record field is no descriptor";
        return std::nullopt;
    }
    return readItem(inner.value<QDBusArgument>(), depth, error);
}

std::optional<Descriptor> readPayload(FourCharCode type, const QVariant& payload, int depth,
                                      std::string& error) {
    if (payload.metaType() == QMetaType::fromType<QByteArray>()) {
        const QByteArray bytes = payload.toByteArray();
        return Descriptor::atomic(type, base::Data(bytes.begin(), bytes.end()));
    }
    if (payload.metaType() != QMetaType::fromType<QDBusArgument>()) {
        error = "descriptor data of an unexpected kind";
        return std::nullopt;
    }
    const auto arg = payload.value<QDBusArgument>();
    const QString signature = arg.currentSignature();
    if (depth >= Descriptor::kMaxDepth) {
        error = "descriptor nested too deeply";
        return std::nullopt;
    }
    if (signature == "av") {
        Descriptor list = Descriptor::list(type);
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant item;
            arg >> item;
            auto value = readNested(item, depth + 1, error);
            if (!value) {
                return std::nullopt;
            }
            list.append(std::move(*value));
        }
        arg.endArray();
        return list;
    }
    if (signature == "a{uv}") {
        Descriptor record = Descriptor::record(type);
        arg.beginMap();
        while (!arg.atEnd()) {
            quint32 keyword = 0;
            QDBusVariant field;
            arg.beginMapEntry();
            arg >> keyword >> field;
            arg.endMapEntry();
            auto value = readNested(field, depth + 1, error);
            if (!value) {
                return std::nullopt;
            }
            record.setField(keyword, std::move(*value));
        }
        arg.endMap();
        return record;
    }
    error = "descriptor data of signature " + signature.toStdString();
    return std::nullopt;
}

std::optional<Descriptor> readItem(const QDBusArgument& arg, int depth, std::string& error) {
    if (arg.currentSignature() != "(uv)") {
        error = "descriptor of signature " + arg.currentSignature().toStdString();
        return std::nullopt;
    }
    quint32 type = 0;
    QDBusVariant payload;
    arg.beginStructure();
    arg >> type >> payload;
    arg.endStructure();
    return readPayload(type, payload.variant(), depth, error);
}

}  // namespace

void registerWireTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<WireItem>();
        qDBusRegisterMetaType<WireList>();
        qDBusRegisterMetaType<WireRecord>();
    });
}

QVariant toWire(const Descriptor& descriptor) {
    registerWireTypes();
    auto root = std::make_shared<const Descriptor>(descriptor);
    return QVariant::fromValue(WireItem{root, root.get()});
}

std::optional<Descriptor> fromWire(const QVariant& argument, std::string& error) {
    if (argument.metaType() != QMetaType::fromType<QDBusArgument>()) {
        error = "argument is no descriptor";
        return std::nullopt;
    }
    return readItem(argument.value<QDBusArgument>(), 1, error);
}

}  // namespace platform::scripting::dbus
