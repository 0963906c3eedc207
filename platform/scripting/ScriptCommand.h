#pragma once
// One scripting command received from outside: its event, its attributes (a record
// holding the interaction level 'inte' among others) and its parameters (a record whose
// '----' field is the direct parameter).
//
// The handler answers by setting a result or a script error before it returns, or
// suspends the command and answers later, exactly once, through the handle it gets.
// Main thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/scripting/Descriptor.h"

namespace platform::scripting {

// Interaction levels a command may carry.
inline constexpr int32_t kNeverInteract = 0x10;
inline constexpr int32_t kCanInteract = 0x20;
inline constexpr int32_t kAlwaysInteract = 0x30;
inline constexpr int32_t kCanSwitchLayer = 0x40;

// Script error numbers this program answers with.
inline constexpr int32_t kUserCanceledError = -128;
// A file named by a command does not exist.
inline constexpr int32_t kFileNotFoundError = -43;
// A file named by a command may not be read.
inline constexpr int32_t kPermissionError = -54;
// A file named by a command cannot be read for another reason.
inline constexpr int32_t kIOError = -36;
// A file named by a command is not a regular file (a folder, pipe, device or socket).
inline constexpr int32_t kNotAFileError = -1302;
// An item of a command's parameter is not of the kind the command takes.
inline constexpr int32_t kCoercionError = -1700;
inline constexpr int32_t kParameterMissingError = -1715;
// A command that cannot run because an earlier one of its kind is still waiting.
inline constexpr int32_t kCommandBusyError = -1708;
// A command the program dropped without answering (it is shutting down).
inline constexpr int32_t kEventFailedError = -10000;

struct ScriptError {
    int32_t number = 0;
    std::string message;
};

// Sends the one answer of a command: a result (none: an empty answer) or an error.
using ScriptAnswer = std::function<void(const std::optional<Descriptor>& result,
                                        const std::optional<ScriptError>& error)>;

// A suspended command. resume() or fail() answers it; later calls do nothing. Dropped
// unanswered, it fails with kEventFailedError so the sender never waits for ever.
class SuspendedCommand {
  public:
    explicit SuspendedCommand(ScriptAnswer answer) : answer_(std::move(answer)) {}
    ~SuspendedCommand();
    SuspendedCommand(const SuspendedCommand&) = delete;
    SuspendedCommand& operator=(const SuspendedCommand&) = delete;

    void resume(const std::optional<Descriptor>& result);
    void fail(int32_t number, std::string message = {});
    bool answered() const { return !answer_; }

  private:
    ScriptAnswer answer_;
};

class ScriptCommand {
  public:
    enum class Event { Make, OpenDocuments, GetData };

    ScriptCommand(Event event, Descriptor attributes, Descriptor parameters, ScriptAnswer answer);
    ScriptCommand(const ScriptCommand&) = delete;
    ScriptCommand& operator=(const ScriptCommand&) = delete;

    Event event() const { return event_; }
    // Who sent the command (its unique bus name); empty when unknown.
    const std::string& sender() const { return sender_; }
    void setSender(std::string sender) { sender_ = std::move(sender); }
    const Descriptor& attributes() const { return attributes_; }
    const Descriptor& parameters() const { return parameters_; }
    // The '----' parameter; none when absent.
    const Descriptor* directParameter() const;
    // The 'inte' attribute read as a 32-bit signed number; 0 when absent.
    int32_t interactionLevel() const;

    void setResult(Descriptor result) { result_ = std::move(result); }
    void setScriptError(int32_t number, std::string message = {});
    const std::optional<ScriptError>& scriptError() const { return error_; }
    // Keeps the command open after the handler returns.
    std::shared_ptr<SuspendedCommand> suspendExecution();
    bool isSuspended() const { return suspended_; }
    // Called by the transport once the handler returned: answers unless suspended.
    void finish();

  private:
    Event event_;
    std::string sender_;
    Descriptor attributes_;
    Descriptor parameters_;
    ScriptAnswer answer_;
    std::optional<Descriptor> result_;
    std::optional<ScriptError> error_;
    bool suspended_ = false;
};

}  // namespace platform::scripting
