#pragma once
// The events widget: lists the events of the user's projects, newest first, with an
// icon, the text, a relative date and the project, and opens an event's address when
// its row is clicked. The host asks it to update; each update fetches the events since
// the last good check, puts the new ones on top and keeps the list in the widget's own
// user defaults. Every update gets exactly one result. Main thread only.
//
// Made by create(), which runs the start-up step (viewDidLoad); the view is made when
// the host first asks for it, so a terminal host needs no windows.
#include <QMargins>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/today/ListRowViewController.h"
#include "apps/today/TodayEventList.h"
#include "apps/today/TodayListViewController.h"
#include "base/Clock.h"
#include "base/UserDefaults.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneDelegate.h"

class OWRelativeDates;
class TodayIconLoader;
class QWidget;

class TodayViewController : public OWQuorvaneDelegate,
                            public TodayListDelegate,
                            public std::enable_shared_from_this<TodayViewController> {
  public:
    // The application whose keychain record holds the linked account.
    static constexpr const char* kHubName = "Quorvane Plugin Hub";
    static constexpr const char* kTitle = "Quorvane";
    static constexpr const char* kUpdateTimedOut = "The update took too long and was stopped.";

    // The values the host's update request takes: new data and no data.
    enum class UpdateResult { NewData = 0, NoData = 1 };
    using UpdateCompletion = std::function<void(UpdateResult)>;

    // Empty members mean the process's own: the shared token controller (named after
    // the hub), the widget's standard user defaults, the system clock, the user's
    // calendar and locale, the default handler for addresses and a new icon loader.
    struct Services {
        OWQuorvane::Services client;
        std::shared_ptr<base::UserDefaults> defaults;
        std::shared_ptr<base::Clock> clock;
        std::shared_ptr<const OWRelativeDates> dates;
        ListRowViewController::URLOpener openURL;
        std::shared_ptr<TodayIconLoader> icons;
    };

    static std::shared_ptr<TodayViewController> create(Services services = {});
    ~TodayViewController() override;

    void viewDidLoad();
    // The widget's view ("todayView"), made on first use; the host puts it in a window.
    QWidget* view();
    QString title() const { return title_; }

    // ---- the host's requests ----
    void widgetPerformUpdateWithCompletionHandler(UpdateCompletion completion);
    // Ends the update in progress, for a host whose time for it is up: its call is
    // cancelled and it is answered with no data; the list and the check time stay.
    void cancelUpdate();
    QMargins widgetMarginInsetsForProposedMarginInsets(QMargins proposed) const;
    bool widgetAllowsEditing() const { return true; }
    void widgetDidBeginEditing();
    void widgetDidEndEditing();
    // Searching finds nothing: an empty result list for a term, none once it is cleared.
    std::optional<std::vector<std::string>> widgetSearch(const std::string& term,
                                                         size_t maxResults) const;
    std::optional<std::vector<std::string>> widgetSearchTermCleared() const { return {}; }
    void widgetSearchResultSelected(const std::string& /*result*/) const {}

    // ---- the list's delegate ----
    std::unique_ptr<ListRowViewController> viewControllerForRow(size_t row) override;
    bool shouldReorderRow(size_t /*row*/) override { return false; }
    void didReorderRow(size_t /*row*/, size_t /*newRow*/) override {}
    bool shouldRemoveRow(size_t /*row*/) override { return true; }
    void didRemoveRow(size_t row) override;

    // ---- the client's callbacks ----
    void eventsReceived(OWQuorvane& client, const base::Value& reply) override;
    void populateEventsFailedWithError(OWQuorvane& client, const base::Error& error) override;

    bool eventAlreadyExists(const base::Value& event) const;
    const base::Array& events() const { return list_->events(); }
    std::optional<base::Date> lastCheckTime() const { return list_->lastCheckTime(); }
    const std::shared_ptr<OWQuorvane>& quorv() const { return quorv_; }
    TodayListViewController& listViewController() { return *listViewController_; }
    // The error of the last update, none when it succeeded.
    const std::optional<base::Error>& lastError() const { return lastError_; }
    bool isUpdating() const { return static_cast<bool>(callbackHandler_); }

  private:
    explicit TodayViewController(Services services);
    void reloadList();
    void answer(UpdateResult result);

    Services services_;
    std::shared_ptr<OWQuorvane> quorv_;
    std::unique_ptr<TodayEventList> list_;
    std::unique_ptr<TodayListViewController> listViewController_;
    UpdateCompletion callbackHandler_;
    std::optional<base::Error> lastError_;
    QPointer<QWidget> view_;
    QString title_;
};
