#include "platform/scripting/Conversions.h"

#include "base/Console.h"

namespace platform::scripting {

ScriptObject::Table userDefinedRecordWithDescriptor(const Descriptor& record) {
    ScriptObject::Table table;
    const Descriptor* fields = record.field(kKeyUserFields);
    if (fields == nullptr) {
        return table;
    }
    const size_t count = fields->count();
    for (size_t i = 1; i + 1 <= count; i += 2) {
        const auto key = fields->at(i)->stringValue();
        ScriptObject value = objectValue(*fields->at(i + 1));
        if (key && !value.isNothing()) {
            ScriptObject::set(table, *key, std::move(value));
        }
    }
    return table;
}

Descriptor userDefinedRecordDescriptor(const ScriptObject::Table& table) {
    Descriptor pairs = Descriptor::list();
    for (const auto& [key, value] : table) {
        if (const std::string* text = key.text()) {
            pairs.append(Descriptor::text(*text));
            pairs.append(Descriptor::text(value.text() ? *value.text() : value.description()));
        }
    }
    Descriptor record = Descriptor::record();
    record.setField(kKeyUserFields, std::move(pairs));
    return record;
}

ScriptObject::List userListWithDescriptor(const Descriptor& list) {
    ScriptObject::List out;
    for (size_t i = 1; i <= list.count() && list.isList(); ++i) {
        out.push_back(objectValue(*list.at(i)));
    }
    return out;
}

Descriptor userListDescriptor(const ScriptObject::List& list) {
    Descriptor out = Descriptor::list();
    for (const auto& item : list) {
        out.append(descriptorWithObject(item));
    }
    return out;
}

Descriptor descriptorWithObject(const ScriptObject& object) {
    if (const auto* list = object.list()) {
        return userListDescriptor(*list);
    }
    if (const auto* table = object.table()) {
        return userDefinedRecordDescriptor(*table);
    }
    if (const auto* text = object.text()) {
        return Descriptor::text(*text);
    }
    if (const auto* url = object.url()) {
        return descriptorWithURL(*url);
    }
    return Descriptor::text(object.description());
}

ScriptObject objectValue(const Descriptor& descriptor) {
    switch (descriptor.type()) {
        case kTypeFileURL: {
            auto url = urlValue(descriptor);
            return url ? ScriptObject(*url) : ScriptObject();
        }
        case kTypeList:
            return userListWithDescriptor(descriptor);
        case kTypeRecord:
            return userDefinedRecordWithDescriptor(descriptor);
        case kTypeUTF8Text:
        case kTypeUnicodeText:
            return descriptor.stringValue().value_or("");
        case kTypeSInt32:
        case kTypeSInt16:
        case kTypeSInt64:
        case kTypeUInt32:
        case kTypeUInt64:
        case kTypeUInt16:
            // A value that does not fit 32 bits reads as 0, as the coercion fails.
            return int64_t{descriptor.int32Value().value_or(0)};
        default:
            base::Console::log("Creating NSData for AE desc type %.4s.",
                               fourCCText(descriptor.type()));
            return descriptor.data();
    }
}

Descriptor descriptorWithURL(const FileURL& url) {
    const std::string text = url.absoluteString();
    return Descriptor::atomic(kTypeFileURL, base::Data(text.begin(), text.end()));
}

std::optional<FileURL> urlValue(const Descriptor& descriptor) {
    if (descriptor.type() != kTypeFileURL || descriptor.kind() != Descriptor::Kind::Atomic) {
        return std::nullopt;
    }
    const base::Data& data = descriptor.data();
    return FileURL::fromString(std::string(data.begin(), data.end()));
}

}  // namespace platform::scripting
