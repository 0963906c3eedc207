#include "client/OWQuorvaneAuthController.h"
#include "support/OWAlert.h"

void OWQuorvaneAuthController::presentAlertPanel(const std::string& message) {
    // A panel of its own (no parent window) with the default OK button; nobody waits.
    OWAlert::alertSheetWithMessageText("Quorvane Error", std::nullopt, std::nullopt, std::nullopt,
                                       message, nullptr, /*block=*/false);
}
