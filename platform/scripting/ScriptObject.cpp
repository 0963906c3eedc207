#include "platform/scripting/ScriptObject.h"

namespace platform::scripting {

const ScriptObject::List* ScriptObject::list() const {
    const auto* p = std::get_if<std::shared_ptr<const List>>(&v_);
    return p ? p->get() : nullptr;
}

const ScriptObject::Table* ScriptObject::table() const {
    const auto* p = std::get_if<std::shared_ptr<const Table>>(&v_);
    return p ? p->get() : nullptr;
}

const ScriptObject* ScriptObject::find(const std::string& key) const {
    if (const Table* t = table()) {
        for (const auto& [k, v] : *t) {
            if (k.text() && *k.text() == key) {
                return &v;
            }
        }
    }
    return nullptr;
}

void ScriptObject::set(Table& table, const std::string& key, ScriptObject value) {
    for (auto& [k, v] : table) {
        if (k.text() && *k.text() == key) {
            v = std::move(value);
            return;
        }
    }
    table.emplace_back(ScriptObject(key), std::move(value));
}

base::Value ScriptObject::toValue() const {
    struct Visitor {
        base::Value operator()(std::monostate) const { return {}; }
        base::Value operator()(const std::string& s) const { return s; }
        base::Value operator()(int64_t n) const { return base::Value(static_cast<long long>(n)); }
        base::Value operator()(double n) const { return n; }
        base::Value operator()(bool b) const { return b; }
        base::Value operator()(const base::Data& d) const { return d; }
        base::Value operator()(const FileURL& u) const { return u.absoluteString(); }
        base::Value operator()(const std::shared_ptr<const List>& l) const {
            base::Array out;
            for (const auto& item : *l) {
                out.push_back(item.toValue());
            }
            return out;
        }
        base::Value operator()(const std::shared_ptr<const Table>& t) const {
            base::Dictionary out;
            for (const auto& [k, v] : *t) {
                out.set(k.description(), v.toValue());
            }
            return out;
        }
    };
    return std::visit(Visitor{}, v_);
}

ScriptObject ScriptObject::fromValue(const base::Value& value) {
    switch (value.type()) {
        case base::Value::Type::Null:
            return {};
        case base::Value::Type::Bool:
            return value.boolValue();
        case base::Value::Type::Number: {
            const auto d = value.decimal();
            if (d && d->isIntegral()) {
                return value.integerValue();
            }
            return value.doubleValue();
        }
        case base::Value::Type::String:
            return value.string()->str();
        case base::Value::Type::Data:
            return *value.data();
        case base::Value::Type::Date:
            return value.describe();
        case base::Value::Type::Array: {
            List out;
            for (const auto& item : *value.array()) {
                out.push_back(fromValue(item));
            }
            return out;
        }
        case base::Value::Type::Dictionary: {
            Table out;
            for (const auto& [k, v] : *value.dictionary()) {
                out.emplace_back(ScriptObject(k), fromValue(v));
            }
            return out;
        }
    }
    return {};
}

std::string ScriptObject::description() const {
    if (const FileURL* u = url()) {
        return u->absoluteString();
    }
    if (const Table* t = table()) {
        // Keys that are not text keep their own description here.
        std::string out = "{\n";
        for (const auto& [k, v] : *t) {
            out += "    " + k.description() + " = " + v.toValue().describe() + ";\n";
        }
        return out + "}";
    }
    return toValue().describe();
}

bool operator==(const ScriptObject& a, const ScriptObject& b) {
    if (a.v_.index() != b.v_.index()) {
        return false;
    }
    if (const auto* l = a.list()) {
        return *l == *b.list();
    }
    if (const auto* t = a.table()) {
        return *t == *b.table();
    }
    return a.v_ == b.v_;
}

}  // namespace platform::scripting
