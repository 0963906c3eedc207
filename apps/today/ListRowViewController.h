#pragma once
// One row of the widget's list: the event's icon, its text (wrapped), the relative date
// and the project, built from the interface file "ListRowViewController". A click on the
// icon or the text reaches widgetClick(), which opens the event's address.
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Value.h"

namespace Ui {
class ListRowViewController;
}
class OWRelativeDates;

class ListRowViewController {
  public:
    using URLOpener = std::function<void(const std::string& url)>;

    // `dates` makes the relative date; `openURL` opens an address in the default handler.
    ListRowViewController(std::shared_ptr<const OWRelativeDates> dates, URLOpener openURL);
    ~ListRowViewController();
    ListRowViewController(const ListRowViewController&) = delete;
    ListRowViewController& operator=(const ListRowViewController&) = delete;

    static constexpr const char* nibName() { return "ListRowViewController"; }

    // Builds the row's view from its interface file and fills it; the view is made on
    // first use. It belongs to the caller that puts it into a list (a parent widget).
    QWidget* view();
    void loadView();
    void widgetClick();

    // The icon may arrive after the row is shown.
    const QImage& icon() const { return icon_; }
    void setIcon(const QImage& icon);
    const std::string& text() const { return text_; }
    void setText(std::string text) { text_ = std::move(text); }
    base::Date date() const { return date_; }
    void setDate(base::Date date) { date_ = date; }
    const std::string& project() const { return project_; }
    void setProject(std::string project) { project_ = std::move(project); }
    const std::optional<std::string>& url() const { return url_; }
    void setUrl(std::optional<std::string> url) { url_ = std::move(url); }

  private:
    std::shared_ptr<const OWRelativeDates> dates_;
    URLOpener openURL_;
    std::unique_ptr<Ui::ListRowViewController> ui_;
    QPointer<QWidget> view_;

    QImage icon_;
    std::string text_;
    base::Date date_;
    std::string project_;
    std::optional<std::string> url_;
};
