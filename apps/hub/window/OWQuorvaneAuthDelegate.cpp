#include "apps/hub/window/OWQuorvaneAuthDelegate.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "apps/hub/window/HubStatusPage.h"
#include "apps/hub/window/OWQuorvaneAuthProtocol.h"
#include "apps/hub/window/OWQuorvaneAuthWebPage.h"
#include "base/Bundle.h"
#include "base/Format.h"
#include "base/RunLoop.h"
#include "base/Url.h"
#include "base/Workspace.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAuthController.h"
#include "support/OWLog.h"
#include "ui_OWQuorvaneAuth.h"

namespace {

// The user's default browser.
void openInDefaultBrowser(const std::string& address) {
    if (auto error = base::Workspace::openURL(address)) {
        OWLog::appendLog("Unable to open an address in the browser: %@",
                         error->localizedDescription());
    }
}

std::string resourcePath() {
    auto bundle = base::Bundle::own();
    return bundle ? bundle->resourcePath() : std::string();
}

}  // namespace

std::shared_ptr<OWQuorvaneAuthDelegate> OWQuorvaneAuthDelegate::sharedController() {
    static std::mutex mutex;
    static std::shared_ptr<OWQuorvaneAuthDelegate> shared;
    std::lock_guard lock(mutex);
    if (!shared) {
        shared = std::shared_ptr<OWQuorvaneAuthDelegate>(new OWQuorvaneAuthDelegate);
    }
    return shared;
}

OWQuorvaneAuthDelegate::OWQuorvaneAuthDelegate() = default;

OWQuorvaneAuthDelegate::~OWQuorvaneAuthDelegate() {
    tearDown();
}

void OWQuorvaneAuthDelegate::tearDown() {
    quorv_.reset();
    delete page_.data();
    formRoot_.reset();
    ui_.reset();
    delete profile_;
    profile_ = nullptr;
}

// ---- outlets ----

QWidget* OWQuorvaneAuthDelegate::parentView() const {
    return parentView_;
}
QWebEngineView* OWQuorvaneAuthDelegate::webView() const {
    return webView_;
}
QLabel* OWQuorvaneAuthDelegate::serverURLLabel() const {
    return serverURLLabel_;
}
QLineEdit* OWQuorvaneAuthDelegate::serverURLText() const {
    return serverURLText_;
}
QDialog* OWQuorvaneAuthDelegate::serverURLWindow() const {
    return serverURLWindow_;
}

std::shared_ptr<OWQuorvaneAuthController> OWQuorvaneAuthDelegate::controller() const {
    return OWQuorvaneAuthController::sharedController();
}

// ---- loading ----

bool OWQuorvaneAuthDelegate::loadInterface() {
    ui_ = std::make_unique<Ui::OWQuorvaneAuth>();
    formRoot_ = std::make_unique<QWidget>();
    ui_->setupUi(formRoot_.get());
    parentView_ = ui_->parentView;
    webView_ = ui_->webView;
    serverURLLabel_ = ui_->serverURLLabel;
    serverURLText_ = ui_->serverURLText;
    serverURLWindow_ = ui_->serverURLWindow;
    // Room for a whole server address: a floor in characters of the field's own font, so
    // it grows with the font and the screen's scale.
    serverURLText_->setMinimumWidth(serverURLText_->fontMetrics().averageCharWidth() * 56);
    connectActions();
    awakeFromNib();
    return true;
}

void OWQuorvaneAuthDelegate::connectActions() {
    connect(ui_->changeServerButton, &QPushButton::clicked, this,
            &OWQuorvaneAuthDelegate::changeQuorvServerURL);
    connect(ui_->saveButton, &QPushButton::clicked, this, &OWQuorvaneAuthDelegate::saveURL);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &OWQuorvaneAuthDelegate::cancelURL);
    connect(ui_->useDefaultButton, &QPushButton::clicked, this,
            &OWQuorvaneAuthDelegate::useDefaultURL);
    // Escape closes the sheet as Cancel does.
    connect(ui_->serverURLWindow, &QDialog::rejected, this, &OWQuorvaneAuthDelegate::cancelURL);
}

void OWQuorvaneAuthDelegate::ensureProfile() {
    if (profile_) {
        return;
    }
    // A profile of its own that keeps nothing on disk: the sign-in session lasts as long
    // as the hub runs.
    profile_ = new QWebEngineProfile();
    const std::string clientID = controller()->publicKey().value_or("");
    const QByteArray scheme =
        QByteArray::fromStdString(OWQuorvaneAuthProtocol::schemeName(clientID));
    profile_->installUrlSchemeHandler(scheme, new OWQuorvaneAuthProtocol(profile_));
    profile_->setHttpUserAgent(profile_->httpUserAgent() + " " + kUserAgentName);
}

void OWQuorvaneAuthDelegate::awakeFromNib() {
    quorv_ = OWQuorvane::create(shared_from_this());
    if (quorv_->isQuorvServer() && serverURLText_) {
        serverURLText_->setText(QString::fromStdString(quorv_->siteURLString()));
    }
    ensureProfile();
    page_ = new OWQuorvaneAuthWebPage(profile_, webView_, openInDefaultBrowser);
    webView_->setPage(page_);
    reloadStatusPage();
}

// ---- the status page ----

void OWQuorvaneAuthDelegate::reloadStatusPage() {
    base::MainQueue::post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || !self->quorv_) {
            return;
        }
        const std::string custom = self->controller()->quorvServerURLString();
        std::string label;
        if (!custom.empty()) {
            label = base::format("Using server %@", custom);
        } else {
            const auto site = base::Url::parse(self->controller()->siteURLString());
            label = base::format("Using server %@ (default)", site ? site->host() : "");
        }
        if (self->serverURLLabel_) {
            self->serverURLLabel_->setText(QString::fromStdString(label));
            self->serverURLLabel_->setToolTip(QString::fromStdString(label));
        }
        if (self->quorv_->isLinked()) {
            self->showLinkedMessage();
        } else {
            self->showUnlinkedMessage();
        }
    });
}

std::string OWQuorvaneAuthDelegate::styleSheetURL() const {
    auto bundle = base::Bundle::own();
    const auto path = bundle ? bundle->pathForResource("QuorvAuth", "css") : std::nullopt;
    return path ? QUrl::fromLocalFile(QString::fromStdString(*path))
                      .toString(QUrl::FullyEncoded)
                      .toStdString()
                : std::string();
}

void OWQuorvaneAuthDelegate::loadPage(const std::string& html) {
    // A new page starts a new link or revoke: the callbacks of the last one are done.
    OWQuorvaneAuthProtocol::forgetHandedOver();
    if (page_ && page_->isSpent() && webView_) {
        auto* fresh = new OWQuorvaneAuthWebPage(profile_, webView_, page_->opener());
        webView_->setPage(fresh);
        page_->deleteLater();
        page_ = fresh;
    }
    if (page_) {
        page_->showPage(QString::fromStdString(html),
                        QUrl::fromLocalFile(QString::fromStdString(resourcePath() + "/")));
    }
}

void OWQuorvaneAuthDelegate::showUnlinkedMessage() {
    loadPage(hub::StatusPage::unlinked(styleSheetURL(), controller()->oauthAuthorizationURL()));
}

void OWQuorvaneAuthDelegate::showLinkedMessage() {
    auto bundle = base::Bundle::own();
    std::string appName;
    if (bundle) {
        const base::Value& name = bundle->objectForInfoDictionaryKey("CFBundleDisplayName");
        appName = name.string() ? name.string()->str() : bundle->executableName();
    }
    loadPage(hub::StatusPage::linked(styleSheetURL(), appName, quorv_->username().value_or(""),
                                     controller()->oauthRevokeURL()));
}

void OWQuorvaneAuthDelegate::quorvaneOAuthStatusChanged(OWQuorvane&) {
    reloadStatusPage();
}

// ---- window ----

void OWQuorvaneAuthDelegate::windowWillClose() {
    if (quorv_) {
        quorv_->saveSettings();
    }
}

// ---- the server sheet ----

void OWQuorvaneAuthDelegate::changeQuorvServerURL() {
    if (!serverURLWindow_ || !serverURLText_ || !parentView_) {
        return;
    }
    serverURLText_->setText(QString::fromStdString(controller()->quorvServerURLString()));
    serverURLText_->selectAll();
    serverURLText_->setFocus();
    // A sheet: window-modal on the window that shows the linking interface.
    QWidget* window = parentView_->window();
    if (serverURLWindow_->parentWidget() != window) {
        serverURLWindow_->setParent(window, serverURLWindow_->windowFlags() | Qt::Sheet);
    }
    serverURLWindow_->setWindowModality(Qt::WindowModal);
    serverURLWindow_->open();
}

void OWQuorvaneAuthDelegate::saveURL() {
    const std::string typed = serverURLText_ ? serverURLText_->text().trimmed().toStdString() : "";
    quorv_->revokeAuthorization();
    controller()->setQuorvServerURLString(typed);
    cancelURL();
}

void OWQuorvaneAuthDelegate::cancelURL() {
    if (serverURLWindow_ && serverURLWindow_->isVisible()) {
        // done() reports `rejected`, which lands here again; hide first.
        serverURLWindow_->hide();
        serverURLWindow_->setResult(QDialog::Rejected);
    }
    reloadStatusPage();
}

void OWQuorvaneAuthDelegate::useDefaultURL() {
    quorv_->revokeAuthorization();
    controller()->setQuorvServerURLString("");
    quorv_->saveSettings();
    quorv_->loadSavedSettings();
    cancelURL();
}
