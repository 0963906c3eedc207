// The error alert that the windows show for a failed call.
#include "client/OWQuorvane.h"
#include "support/OWAlert.h"
#include "support/OWLog.h"

void OWQuorvane::showAlertForError(const base::Error& error) const {
    const base::Value* message = error.userInfo().find("error");
    const std::string text =
        message && message->string() ? message->string()->str() : error.localizedDescription();
    OWLog::appendLogAndPrint("Quorvane API error: %@", text);
    OWLog::appendLogAndPrint("Quorvane API URL: %@", lastURL().value_or("(null)"));
    showAlert(text);
}

// Application-modal, with the default button only; the text is shown as it is.
void OWQuorvane::showAlert(const std::string& text) {
    OWAlert::alertSheetWithMessageText("Quorvane Error", text, nullptr);
}
