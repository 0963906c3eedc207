// "Quorvane Today Extension": the events widget with its host. Without arguments it
// shows the widget from a tray icon (or in a window where the desktop has no tray);
// with --print it runs one update and writes the rows to standard output.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

#include "apps/today/TodayHost.h"
#include "apps/today/TodayViewController.h"
#include "base/RunLoop.h"
#include "base/UniqueFd.h"
#include "client/OWQuorvaneAuthController.h"
#include "platform/ui/qt/DesktopApplication.h"
#include "support/OWLog.h"
#include "support/OWRelativeDates.h"

namespace {

// Exit status: 0 after a good update, 1 when it failed (a failed renewal of the sign-in
// among them), 2 without a linked account.
// Standard output carries the rows alone: whatever else the program prints while it
// runs (the log's echo, alerts) goes to standard error.
int printOnce() {
    base::RunLoop::setMainThread();
    std::fflush(stdout);
    const base::UniqueFd rows(::dup(STDOUT_FILENO));
    if (!rows.valid() || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return 1;
    }
    OWLog::createNewLog();
    auto dates = std::make_shared<OWRelativeDates>();
    TodayViewController::Services services;
    services.dates = dates;
    auto widget = TodayViewController::create(services);
    bool answered = false;
    widget->widgetPerformUpdateWithCompletionHandler(
        [&answered](TodayViewController::UpdateResult) { answered = true; });
    base::RunLoop::main().runUntil([&] { return answered; }, TodayHost::kUpdateTimeOutSeconds);
    // A renewal still under way is waited for: the service may already have replaced the
    // refresh token, and a run that left before keeping the new one would leave the
    // record holding a dead one.
    const auto controller = OWQuorvaneAuthController::sharedController();
    base::RunLoop::main().runUntil([&] { return !controller->isRefreshingToken(); },
                                   TodayHost::kUpdateTimeOutSeconds);
    std::ostringstream text;
    TodayHost::printRows(*widget, *dates, text);
    if (!base::writeFully(rows.get(), text.str())) {
        return 1;
    }
    // Only a missing record means no account: one whose token could not be renewed
    // (the service refused to answer, or answered nothing readable) is still there for
    // the next run, and this update failed.
    // (The widget reads the hub's record through the process's token controller.)
    if (!controller->oauthToken()) {
        std::cerr << "No account is linked: link one in " << TodayViewController::kHubName << ".\n";
        return 2;
    }
    if (!widget->quorv()->isLinked()) {
        std::cerr << "The account's sign-in could not be renewed; try again later.\n";
        return 1;
    }
    return answered && !widget->lastError() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--print") == 0) {
            return printOnce();
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << "Usage: " << argv[0] << " [--print]\n"
                      << "  --print  update once and write the events as text\n";
            return 0;
        }
    }
    platform::ui::qt::DesktopApplication app(argc, argv);
    OWLog::createNewLog();
    int status = 0;
    {
        auto widget = TodayViewController::create();
        TodayHost host(widget);
        host.start(TodayHost::preferredMode());
        status = app.exec();
    }
    return status;
}
