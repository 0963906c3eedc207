#pragma once
// Descriptors on the bus. A descriptor is the D-Bus structure (uv): its type code and a
// variant holding
//   ay      the data of an atomic descriptor,
//   av      a list, each variant holding an item's (uv),
//   a{uv}   a record, keyword to a variant holding the field's (uv), in order.
// Nesting past Descriptor::kMaxDepth is refused.
#include <QDBusArgument>
#include <QVariant>
#include <optional>
#include <string>

#include "platform/scripting/Descriptor.h"

namespace platform::scripting::dbus {

// Registers the marshalling with Qt D-Bus; call before the first message (idempotent).
void registerWireTypes();

// A message argument of signature (uv).
QVariant toWire(const Descriptor& descriptor);
// Reads a received (uv) argument; none (with `error` set) for anything malformed.
std::optional<Descriptor> fromWire(const QVariant& argument, std::string& error);

}  // namespace platform::scripting::dbus
