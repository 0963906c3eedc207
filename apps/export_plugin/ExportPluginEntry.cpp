// The plug-in's one exported symbol. Nothing thrown inside crosses it: a failure the
// code did not foresee ends the call with a failure status and a console line.
#include <exception>

#include "apps/export_plugin/ExportController.h"
#include "base/Console.h"

namespace {

// What an export that failed unexpectedly answers: a failure, nothing rendered.
constexpr ecStatus kUnexpectedFailure = -1;

ecStatus dispatch(int32_t selector, ecStdParms* stdParms, void* record) {
    auto& controller = exportplugin::ExportController::shared();
    switch (selector) {
        case ecStartup:
            return controller.startup(stdParms, static_cast<ExportControllerInitRec*>(record));
        case showExportDialog:
            if (!record) {
                return kUnexpectedFailure;
            }
            return controller.showExportDialog(
                stdParms, *static_cast<const ExportControllerTimelineInfoRec*>(record));
        case ecShutdown:
            return controller.shutdown(stdParms);
        default:
            return ecStatusUnsupportedSelector;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ecStatus xExportControllerEntry(
    int32_t selector, ecStdParms* stdParms, void* record) {
    try {
        return dispatch(selector, stdParms, record);
    } catch (const std::exception& e) {
        base::Console::log("Export controller call %i failed: %@", selector, e.what());
    } catch (...) {
        base::Console::log("Export controller call %i failed", selector);
    }
    return kUnexpectedFailure;
}
