#include "apps/hub/window/OWQuorvaneAuthWebPage.h"
#include <QTimer>
#include <QWebEngineSettings>

#include "apps/hub/window/OWQuorvaneAuthProtocol.h"
#include "client/OWQuorvaneAuthController.h"

namespace {

// A page that exists only to learn where a new window was meant to go.
class NewWindowPage : public QWebEnginePage {
  public:
    NewWindowPage(QWebEngineProfile* profile, OWQuorvaneAuthWebPage::Opener opener)
        : QWebEnginePage(profile), opener_(std::move(opener)) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        if (opener_ && !OWQuorvaneAuthProtocol::canInitWithRequest(
                           url.toString(QUrl::FullyEncoded).toStdString())) {
            opener_(url.toString(QUrl::FullyEncoded).toStdString());
        }
        opener_ = nullptr;
        deleteLater();
        return false;
    }

  private:
    OWQuorvaneAuthWebPage::Opener opener_;
};

}  // namespace

OWQuorvaneAuthWebPage::OWQuorvaneAuthWebPage(QWebEngineProfile* profile, QObject* parent,
                                             Opener opener)
    : QWebEnginePage(profile, parent), opener_(std::move(opener)) {
    // The status page is shown with the resource folder as its base, which makes it a
    // local page; its buttons lead to the service.
    settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    connect(this, &QWebEnginePage::loadStarted, this, [this] { loading_ = true; });
    connect(this, &QWebEnginePage::loadFinished, this, [this](bool) {
        loading_ = false;
        if (pending_) {
            showPendingPage();
        }
    });
}

void OWQuorvaneAuthWebPage::showPage(const QString& html, const QUrl& baseURL) {
    pending_.emplace(html, baseURL);
    if (!showScheduled_) {
        // Rebuilds that follow each other closely become one load.
        showScheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            showScheduled_ = false;
            showPendingPage();
        });
    }
}

void OWQuorvaneAuthWebPage::showPendingPage() {
    if (!pending_ || showScheduled_) {
        return;
    }
    if (loading_) {
        triggerAction(QWebEnginePage::Stop);
        return;  // shown when that load has ended
    }
    auto [html, base] = std::move(*pending_);
    pending_.reset();
    loading_ = true;
    setHtml(html, base);
}

bool OWQuorvaneAuthWebPage::isServiceSite(const QUrl& url) const {
    const QUrl site(
        QString::fromStdString(OWQuorvaneAuthController::sharedController()->siteURLString()));
    return url.scheme() == site.scheme() && url.host() == site.host() &&
           url.port(url.scheme() == "https" ? 443 : 80) ==
               site.port(site.scheme() == "https" ? 443 : 80);
}

bool OWQuorvaneAuthWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type,
                                                    bool isMainFrame) {
    const std::string address = url.toString(QUrl::FullyEncoded).toStdString();
    if (OWQuorvaneAuthProtocol::canInitWithRequest(address)) {
        spent_ = spent_ || isMainFrame;
        return false;
    }
    // The status page is set as text (a data address); frames of the service's pages
    // (sign-in helpers) are the service's business.
    if (!isMainFrame || url.scheme() == "data" || url.scheme() == "about" || isServiceSite(url)) {
        return true;
    }
    if (url.isLocalFile() && type != NavigationTypeLinkClicked) {
        return true;  // the page built in memory, shown with the resource folder as base
    }
    if (opener_ &&
        (url.scheme() == "http" || url.scheme() == "https" || url.scheme() == "mailto")) {
        opener_(address);
    }
    return false;
}

QWebEnginePage* OWQuorvaneAuthWebPage::createWindow(WebWindowType) {
    return new NewWindowPage(profile(), opener_);
}
