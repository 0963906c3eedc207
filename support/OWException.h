#pragma once
// A caught failure with the name and reason the log shows. Foreign exceptions map to
// their type name and what().
#include <exception>
#include <string>

class OWException : public std::exception {
  public:
    static constexpr const char* kPortTimeoutException = "NSPortTimeoutException";

    OWException(std::string name, std::string reason);
    // An OWException as it is; any other exception as its type name and what().
    static OWException fromStdException(const std::exception& e);
    // The exception in flight (inside a catch block), whatever was thrown.
    static OWException fromCurrentException();

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const char* what() const noexcept override { return reason_.c_str(); }

    // Logs and prints "Exception in <method>. <name> - <reason>." and returns that text.
    static std::string logException(const OWException& exception, const char* forMethod);
    static bool didTimeout(const OWException& exception);

  private:
    std::string name_;
    std::string reason_;
};
