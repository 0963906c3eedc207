#pragma once
// The linking window's controller: owner of the interface file "OWQuorvaneAuth",
// delegate of its own service client and of the hub's window. One shared instance per
// process; every container that loads the interface file loads it with this owner.
//
// It shows the account's state in a web view whose page it builds itself, lets the
// service's pages run in the same view, and offers a sheet to choose a self-hosted
// server. Everything runs on the main thread.
#include <QObject>
#include <QPointer>
#include <memory>
#include <mutex>
#include <string>

#include "client/OWQuorvaneDelegate.h"

class QDialog;
class QLabel;
class QLineEdit;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;
class OWQuorvane;
class OWQuorvaneAuthController;
class OWQuorvaneAuthWebPage;
namespace Ui {
class OWQuorvaneAuth;
}

class OWQuorvaneAuthDelegate : public QObject,
                               public OWQuorvaneDelegate,
                               public std::enable_shared_from_this<OWQuorvaneAuthDelegate> {
  public:
    static constexpr const char* kUserAgentName = "QuorvOAuth";

    static std::shared_ptr<OWQuorvaneAuthDelegate> sharedController();
    ~OWQuorvaneAuthDelegate() override;

    // Builds the interface file with this owner (again for every container), wires its
    // actions and runs awakeFromNib(). Answers the form's root, whose parentView the
    // container takes in.
    bool loadInterface();
    void awakeFromNib();
    // The hub's window is closing: the settings are saved.
    void windowWillClose();
    void reloadStatusPage();
    void showUnlinkedMessage();
    void showLinkedMessage();
    // Releases the web engine's objects; call before the application object goes.
    void tearDown();

    // ---- client ----
    void quorvaneOAuthStatusChanged(OWQuorvane& client) override;

    // ---- actions ----
    void changeQuorvServerURL();
    void saveURL();
    void cancelURL();
    void useDefaultURL();

    // ---- outlets ----
    QWidget* parentView() const;
    QWebEngineView* webView() const;
    QLabel* serverURLLabel() const;
    QLineEdit* serverURLText() const;
    QDialog* serverURLWindow() const;
    std::shared_ptr<OWQuorvane> quorv() const { return quorv_; }

  private:
    OWQuorvaneAuthDelegate();
    void connectActions();
    void ensureProfile();
    void loadPage(const std::string& html);
    std::shared_ptr<OWQuorvaneAuthController> controller() const;
    std::string styleSheetURL() const;

    std::unique_ptr<Ui::OWQuorvaneAuth> ui_;
    std::unique_ptr<QWidget> formRoot_;
    QPointer<QWidget> parentView_;
    QPointer<QWebEngineView> webView_;
    QPointer<QLabel> serverURLLabel_;
    QPointer<QLineEdit> serverURLText_;
    QPointer<QDialog> serverURLWindow_;
    QPointer<OWQuorvaneAuthWebPage> page_;
    QWebEngineProfile* profile_ = nullptr;  // owned; outlives every page
    std::shared_ptr<OWQuorvane> quorv_;
};
