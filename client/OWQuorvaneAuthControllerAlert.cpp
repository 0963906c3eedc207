#include "client/OWQuorvaneAuthController.h"
#include "support/OWLog.h"

void OWQuorvaneAuthController::presentAlertPanel(const std::string& message) {
    OWLog::appendLogAndPrint("Quorvane Error: %@", message);
}
