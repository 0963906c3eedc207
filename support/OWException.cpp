#include "support/OWException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "base/Format.h"
#include "support/OWLog.h"

namespace {

std::string demangled(const char* mangled) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

}  // namespace

OWException::OWException(std::string name, std::string reason)
    : name_(std::move(name)), reason_(std::move(reason)) {}

OWException OWException::fromStdException(const std::exception& e) {
    if (const auto* own = dynamic_cast<const OWException*>(&e))
        return *own;
    return OWException(demangled(typeid(e).name()), e.what() ? e.what() : "");
}

OWException OWException::fromCurrentException() {
    if (!std::current_exception())
        return OWException("unknown", "no exception");
    try {
        throw;
    } catch (const std::exception& e) {
        return fromStdException(e);
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return OWException(type ? demangled(type->name()) : "unknown", "unknown exception");
    }
}

std::string OWException::logException(const OWException& exception, const char* forMethod) {
    const std::string text = base::format("Exception in %s. %@ - %@.", forMethod ? forMethod : "",
                                          exception.name(), exception.reason());
    // Plain text: percent signs in the reason are never read as conversions.
    OWLog::appendLogAndPrint("%@", text);
    return text;
}

bool OWException::didTimeout(const OWException& exception) {
    return exception.name() == kPortTimeoutException;
}
