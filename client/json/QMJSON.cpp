#include "client/json/QMJSON.h"

#include "base/Console.h"
#include "base/Format.h"
#include "client/json/QMJSONError.h"
#include "client/json/QMJSONReader.h"
#include "client/json/QMJSONWriter.h"

std::optional<std::string> QMJSON::stringWithObject(const base::Value& value, bool allowScalar,
                                                    base::Error* error) {
    qmjson::Writer writer(humanReadable_, sortKeys_, kNestingLimit);
    std::optional<std::string> text = writer.write(value, allowScalar);
    if (!text && error) {
        *error = writer.error();
    }
    return text;
}

std::optional<std::string> QMJSON::stringWithFragment(const base::Value& value,
                                                      base::Error* error) {
    return stringWithObject(value, true, error);
}

std::optional<std::string> QMJSON::stringWithObject(const base::Value& value, base::Error* error) {
    return stringWithObject(value, false, error);
}

std::optional<base::Value> QMJSON::objectWithString(std::optional<std::string_view> text,
                                                    bool allowScalar, base::Error* error) {
    if (!text) {
        if (error) {
            *error = qmjson::err(qmjson::kNoInput, "Input was 'nil'");
        }
        return std::nullopt;
    }
    qmjson::Reader reader(*text, maxDepth_, kNestingLimit);
    std::optional<base::Value> value = reader.read(allowScalar);
    if (!value && error) {
        *error = reader.error();
    }
    return value;
}

std::optional<base::Value> QMJSON::fragmentWithString(std::optional<std::string_view> text,
                                                      base::Error* error) {
    return objectWithString(text, true, error);
}

std::optional<base::Value> QMJSON::objectWithString(std::optional<std::string_view> text,
                                                    base::Error* error) {
    return objectWithString(text, false, error);
}

namespace {

template <class Result>
Result logged(Result result, const base::Error& error) {
    if (!result) {
        base::Console::log("%@", error);
    }
    return result;
}

base::Error noError() {
    return qmjson::err(0, "");
}

}  // namespace

std::optional<base::Value> JSONValue(std::string_view text) {
    base::Error error = noError();
    return logged(QMJSON().objectWithString(text, &error), error);
}

std::optional<base::Value> JSONFragmentValue(std::string_view text) {
    base::Error error = noError();
    return logged(QMJSON().fragmentWithString(text, &error), error);
}

std::optional<std::string> JSONRepresentation(const base::Value& value) {
    base::Error error = noError();
    return logged(QMJSON().stringWithObject(value, &error), error);
}

std::optional<std::string> JSONFragment(const base::Value& value) {
    base::Error error = noError();
    return logged(QMJSON().stringWithFragment(value, &error), error);
}
