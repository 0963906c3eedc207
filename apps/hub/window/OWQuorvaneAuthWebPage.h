#pragma once
// The linking window's page. It is no general browser: it shows its own status page,
// follows the service's own site and lets the callback protocol claim its addresses;
// any other address the user is sent to opens in the default browser instead.
#include <QWebEnginePage>
#include <functional>
#include <optional>
#include <string>
#include <utility>

class OWQuorvaneAuthWebPage : public QWebEnginePage {
  public:
    // Opens an address outside the window (the default browser).
    using Opener = std::function<void(const std::string& address)>;

    OWQuorvaneAuthWebPage(QWebEngineProfile* profile, QObject* parent, Opener opener);

    // Shows the page built in memory. Rebuilds in one turn of the event loop become one
    // load, and a load under way is stopped and its end awaited first: the engine
    // swallows a page set while it still winds up another navigation (a claimed
    // callback).
    void showPage(const QString& html, const QUrl& baseURL);
    // After a claimed callback the engine no longer commits a page set as text in this
    // page; the view then needs a new one.
    bool isSpent() const { return spent_; }
    const Opener& opener() const { return opener_; }

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    // A link that asks for a new window opens in the default browser too.
    QWebEnginePage* createWindow(WebWindowType type) override;

  private:
    bool isServiceSite(const QUrl& url) const;
    void showPendingPage();

    Opener opener_;
    bool spent_ = false;
    bool loading_ = false;
    bool showScheduled_ = false;
    std::optional<std::pair<QString, QUrl>> pending_;
};
