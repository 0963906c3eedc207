#include "apps/today/TodayViewController.h"

#include <QVBoxLayout>
#include <QWidget>

#include "apps/today/TodayIconLoader.h"
#include "base/Bundle.h"
#include "base/Console.h"
#include "base/Workspace.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneReply.h"
#include "client/OWQuorvaneURLLoader.h"
#include "support/OWRelativeDates.h"

namespace {

// The widget's bundle identifier, for the defaults when it runs outside its bundle.
constexpr const char* kBundleIdentifier = "com.oxburyworks.QuorvPluginHub.TodayExtension";

std::shared_ptr<base::UserDefaults> widgetDefaults() {
    auto bundle = base::Bundle::main();
    if (bundle && !bundle->identifier().empty()) {
        return base::UserDefaults::standard();
    }
    return base::UserDefaults::forDomain(kBundleIdentifier);
}

void openInDefaultHandler(const std::string& url) {
    if (auto error = base::Workspace::openURL(url)) {
        base::Console::log("Could not open %@: %@", url, error->localizedDescription());
    }
}

}  // namespace

std::shared_ptr<TodayViewController> TodayViewController::create(Services services) {
    std::shared_ptr<TodayViewController> controller(new TodayViewController(std::move(services)));
    controller->viewDidLoad();
    return controller;
}

TodayViewController::TodayViewController(Services services) : services_(std::move(services)) {
    if (!services_.client.loader) {
        services_.client.loader = OWQuorvaneURLLoader::shared();
    }
    if (!services_.defaults) {
        services_.defaults = widgetDefaults();
    }
    if (!services_.clock) {
        services_.clock = base::Clock::system();
    }
    if (!services_.dates) {
        services_.dates =
            std::make_shared<OWRelativeDates>(OWRelativeDates::Options{services_.clock, {}, {}});
    }
    if (!services_.openURL) {
        services_.openURL = openInDefaultHandler;
    }
    if (!services_.icons) {
        services_.icons = TodayIconLoader::create(services_.clock);
    }
}

TodayViewController::~TodayViewController() {
    // Rows go before the view that holds them.
    listViewController_.reset();
    delete view_.data();
    if (quorv_) {
        quorv_->unassignDelegate();
    }
}

void TodayViewController::viewDidLoad() {
    if (!services_.client.account) {
        // The hub's record holds the account; the client made next reads it at once.
        OWQuorvaneAuthController::sharedController()->setAppName(kHubName);
    }
    quorv_ = OWQuorvane::create(shared_from_this(), services_.client);
    list_ = std::make_unique<TodayEventList>(services_.defaults);
    listViewController_ = std::make_unique<TodayListViewController>(*this);
    title_ = kTitle;
}

QWidget* TodayViewController::view() {
    if (view_) {
        return view_;
    }
    auto* view = new QWidget;
    view->setObjectName("todayView");
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(listViewController_->view());
    view_ = view;
    reloadList();
    return view_;
}

void TodayViewController::widgetPerformUpdateWithCompletionHandler(UpdateCompletion completion) {
    // The update this one replaces still gets its answer.
    answer(UpdateResult::NoData);
    if (!quorv_->isLinked()) {
        lastError_.reset();
        reloadList();  // the placeholder tells how to link
        if (completion) {
            completion(UpdateResult::NoData);
        }
        return;
    }
    callbackHandler_ = std::move(completion);
    quorv_->populateAllEventsSinceDate(list_->lastCheckTime());
}

void TodayViewController::cancelUpdate() {
    if (!callbackHandler_) {
        return;
    }
    // The call goes with it, so the client's queue is free for the next update's.
    quorv_->cancelAllOperations();
    lastError_ = OWQuorvaneReply::errorWithMessage(kUpdateTimedOut);
    base::Console::log("Error: %@", kUpdateTimedOut);
    answer(UpdateResult::NoData);
}

QMargins TodayViewController::widgetMarginInsetsForProposedMarginInsets(QMargins proposed) const {
    proposed.setLeft(0);
    return proposed;
}

void TodayViewController::widgetDidBeginEditing() {
    listViewController_->setShowsAddButtonWhileEditing(false);
    listViewController_->setEditing(true);
}

void TodayViewController::widgetDidEndEditing() {
    listViewController_->setEditing(false);
}

std::optional<std::vector<std::string>> TodayViewController::widgetSearch(
    const std::string& /*term*/, size_t /*maxResults*/) const {
    return std::vector<std::string>{};
}

std::unique_ptr<ListRowViewController> TodayViewController::viewControllerForRow(size_t row) {
    listViewController_->setShowsAddButtonWhileEditing(false);
    if (row >= list_->events().size()) {
        return nullptr;
    }
    const TodayEventList::Row fields = TodayEventList::rowForEvent(list_->events()[row]);
    auto controller = std::make_unique<ListRowViewController>(services_.dates, services_.openURL);
    controller->setText(fields.text);
    controller->setDate(fields.date);
    controller->setProject(fields.project);
    controller->setUrl(fields.url);
    if (fields.icon) {
        ListRowViewController* target = controller.get();
        // The row's view is the context: a row gone before its icon arrives gets nothing.
        services_.icons->iconForURL(*fields.icon, controller->view(),
                                    [target](const QImage& icon) { target->setIcon(icon); });
    }
    return controller;
}

void TodayViewController::didRemoveRow(size_t row) {
    list_->removeRow(row);
}

void TodayViewController::eventsReceived(OWQuorvane& client, const base::Value& reply) {
    const auto merge = list_->addReply(reply, base::Date{services_.clock->now()});
    if (merge == TodayEventList::Merge::Unreadable) {
        // A reply the widget cannot read is a failed update, not an empty one.
        populateEventsFailedWithError(
            client, OWQuorvaneReply::unreadableReplyError(client.isQuorvServer()));
        return;
    }
    lastError_.reset();
    reloadList();  // new rows, and fresh relative dates for the old ones
    answer(merge == TodayEventList::Merge::Merged ? UpdateResult::NewData : UpdateResult::NoData);
}

void TodayViewController::populateEventsFailedWithError(OWQuorvane& client,
                                                        const base::Error& error) {
    base::Console::log("Error: %@", error.localizedDescription());
    lastError_ = error;
    reloadList();
    answer(UpdateResult::NoData);
    client.showAlertForError(error);
}

bool TodayViewController::eventAlreadyExists(const base::Value& event) const {
    return list_->eventAlreadyExists(event);
}

void TodayViewController::answer(UpdateResult result) {
    if (auto handler = std::move(callbackHandler_)) {
        callbackHandler_ = nullptr;
        handler(result);
    }
}

void TodayViewController::reloadList() {
    if (!view_) {
        return;  // no rows to show yet; the view loads the list when it is made
    }
    listViewController_->setPlaceholder(
        quorv_->isLinked()
            ? QString("No events yet.")
            : QString("Link your account in %1 to see your projects' events.").arg(kHubName));
    listViewController_->setContents(list_->events().size());
}
