#include "platform/scripting/ScriptCommand.h"

namespace platform::scripting {

SuspendedCommand::~SuspendedCommand() {
    fail(kEventFailedError, "The command was dropped without an answer.");
}

void SuspendedCommand::resume(const std::optional<Descriptor>& result) {
    if (auto answer = std::exchange(answer_, nullptr)) {
        answer(result, std::nullopt);
    }
}

void SuspendedCommand::fail(int32_t number, std::string message) {
    if (auto answer = std::exchange(answer_, nullptr)) {
        answer(std::nullopt, ScriptError{number, std::move(message)});
    }
}

ScriptCommand::ScriptCommand(Event event, Descriptor attributes, Descriptor parameters,
                             ScriptAnswer answer)
    : event_(event),
      attributes_(std::move(attributes)),
      parameters_(std::move(parameters)),
      answer_(std::move(answer)) {}

const Descriptor* ScriptCommand::directParameter() const {
    return parameters_.field(kKeyDirectObject);
}

int32_t ScriptCommand::interactionLevel() const {
    const Descriptor* level = attributes_.field(kKeyInteractLevel);
    return level ? level->int32Value().value_or(0) : 0;
}

void ScriptCommand::setScriptError(int32_t number, std::string message) {
    error_ = ScriptError{number, std::move(message)};
}

std::shared_ptr<SuspendedCommand> ScriptCommand::suspendExecution() {
    suspended_ = true;
    return std::make_shared<SuspendedCommand>(std::exchange(answer_, nullptr));
}

void ScriptCommand::finish() {
    if (auto answer = std::exchange(answer_, nullptr)) {
        if (error_) {
            answer(std::nullopt, error_);
        } else {
            answer(result_, std::nullopt);
        }
    }
}

}  // namespace platform::scripting
