#pragma once
// The plain values scripting descriptors convert to and from: nothing, text, an integer,
// a real number, a boolean, raw data, a file URL, a list, or a table. A table keeps its
// pairs in order and its keys may be any value (only text keys survive a conversion to
// a descriptor).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/Value.h"
#include "platform/scripting/FileURL.h"

namespace platform::scripting {

class ScriptObject {
  public:
    using List = std::vector<ScriptObject>;
    using Table = std::vector<std::pair<ScriptObject, ScriptObject>>;

    ScriptObject() = default;                                                           // nothing
    ScriptObject(std::string text) : v_(std::move(text)) {}                             // NOLINT
    ScriptObject(const char* text) : v_(std::string(text ? text : "")) {}               // NOLINT
    ScriptObject(int64_t n) : v_(n) {}                                                  // NOLINT
    ScriptObject(int n) : v_(int64_t{n}) {}                                             // NOLINT
    ScriptObject(double n) : v_(n) {}                                                   // NOLINT
    ScriptObject(bool b) : v_(b) {}                                                     // NOLINT
    ScriptObject(base::Data data) : v_(std::move(data)) {}                              // NOLINT
    ScriptObject(FileURL url) : v_(std::move(url)) {}                                   // NOLINT
    ScriptObject(List list) : v_(std::make_shared<const List>(std::move(list))) {}      // NOLINT
    ScriptObject(Table table) : v_(std::make_shared<const Table>(std::move(table))) {}  // NOLINT

    bool isNothing() const { return std::holds_alternative<std::monostate>(v_); }
    const std::string* text() const { return std::get_if<std::string>(&v_); }
    const int64_t* integer() const { return std::get_if<int64_t>(&v_); }
    const base::Data* data() const { return std::get_if<base::Data>(&v_); }
    const FileURL* url() const { return std::get_if<FileURL>(&v_); }
    const List* list() const;
    const Table* table() const;

    // The value a text key names in a table; none when absent or not a table.
    const ScriptObject* find(const std::string& key) const;
    // A table with the pair set: an existing text key keeps its place.
    static void set(Table& table, const std::string& key, ScriptObject value);

    // Description text: text as itself, numbers in decimal, booleans 1 or 0, data as
    // "<0a1b>", URLs as their absolute text, lists and tables in property-list style.
    std::string description() const;
    // As a plain value (URLs become their text; a table's keys their description text).
    base::Value toValue() const;
    static ScriptObject fromValue(const base::Value& value);

    friend bool operator==(const ScriptObject& a, const ScriptObject& b);

  private:
    std::variant<std::monostate, std::string, int64_t, double, bool, base::Data, FileURL,
                 std::shared_ptr<const List>, std::shared_ptr<const Table>>
        v_;
};

}  // namespace platform::scripting
