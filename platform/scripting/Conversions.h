#pragma once
// Conversions between descriptors and plain values, as the scripting dictionary's two
// value types (the user-defined record and the user list) and the commands need them.
//
// A user-defined record keeps its pairs in the 'usrf' field of a record: one list
// alternating key text and value (key at 1, value at 2, key at 3, ...).
#include <optional>

#include "platform/scripting/Descriptor.h"
#include "platform/scripting/FileURL.h"
#include "platform/scripting/ScriptObject.h"

namespace platform::scripting {

// The pairs of a record's 'usrf' list: keys are the text of items 1, 3, 5, ..., values
// objectValue() of the items after them; a last key without a value is dropped, and so
// is a pair whose key is no text or whose value converts to nothing. Empty when the
// record has no 'usrf' list.
ScriptObject::Table userDefinedRecordWithDescriptor(const Descriptor& record);
// A 'reco' record whose 'usrf' list holds every pair with a text key (others are
// skipped), each value as text: text unchanged, anything else its description text.
Descriptor userDefinedRecordDescriptor(const ScriptObject::Table& table);

// Items 1 to n of a list through objectValue(), in order.
ScriptObject::List userListWithDescriptor(const Descriptor& list);
// A list of descriptorWithObject() of each element.
Descriptor userListDescriptor(const ScriptObject::List& list);

// A list, a table, text, a URL; anything else becomes a text descriptor of its
// description text.
Descriptor descriptorWithObject(const ScriptObject& object);
// By type code: 'furl' a URL, 'list' a list, 'reco' a table, 'utf8'/'utxt' text, the
// integer types a number (their 32-bit signed value); any other type its raw data,
// after the system-log line "Creating NSData for AE desc type %.4s.".
ScriptObject objectValue(const Descriptor& descriptor);

// A 'furl' descriptor holding the URL's text in UTF-8, white space escaped.
Descriptor descriptorWithURL(const FileURL& url);
// The URL of a 'furl' descriptor; none for other types and texts that are no file URL.
std::optional<FileURL> urlValue(const Descriptor& descriptor);

}  // namespace platform::scripting
