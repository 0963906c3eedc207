#pragma once
// An ordered list of header fields with case-insensitive names. Repeated fields
// are kept apart (Set-Cookie must be) and joined with ", " when read as one value.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::net {

class HttpHeaders {
  public:
    using Field = std::pair<std::string, std::string>;

    // Appends a field, keeping any earlier one of the same name.
    void add(std::string name, std::string value);
    // Replaces every field of that name by one, at the first one's position.
    void set(std::string name, std::string value);
    void remove(std::string_view name);

    bool contains(std::string_view name) const;
    // All values of the name joined with ", "; none when absent.
    std::optional<std::string> get(std::string_view name) const;
    std::vector<std::string> values(std::string_view name) const;

    const std::vector<Field>& fields() const { return fields_; }
    size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }

    static bool equalsIgnoringCase(std::string_view a, std::string_view b);
    // RFC 9110 token characters: what a field name may hold.
    static bool isToken(std::string_view s);

  private:
    std::vector<Field> fields_;
};

}  // namespace platform::net
