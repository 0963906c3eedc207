#include "apps/today/ListRowViewController.h"

#include <QFontMetrics>

#include "apps/today/OWImageView.h"
#include "apps/today/OWTextField.h"
#include "base/Console.h"
#include "support/OWRelativeDates.h"
#include "ui_ListRowViewController.h"

namespace {

// Lets a long unbroken run (a file name) wrap: a zero-width space after every 24th
// character of a run that has no break of its own.
QString breakable(const QString& text) {
    constexpr int kRun = 24;
    QString out;
    out.reserve(text.size() + text.size() / kRun);
    int run = 0;
    for (QChar c : text) {
        out += c;
        run = c.isSpace() || c == u'-' ? 0 : run + 1;
        if (run == kRun) {
            out += QChar(0x200B);
            run = 0;
        }
    }
    return out;
}

QString qs(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

ListRowViewController::ListRowViewController(std::shared_ptr<const OWRelativeDates> dates,
                                             URLOpener openURL)
    : dates_(std::move(dates)), openURL_(std::move(openURL)) {}

ListRowViewController::~ListRowViewController() {
    delete view_.data();
}

QWidget* ListRowViewController::view() {
    if (!view_) {
        loadView();
    }
    return view_;
}

void ListRowViewController::loadView() {
    delete view_.data();
    auto* view = new QWidget;
    ui_ = std::make_unique<Ui::ListRowViewController>();
    ui_->setupUi(view);
    view_ = view;

    // The icon is a square two lines of text high, whatever the font and scale.
    const int side = 2 * QFontMetrics(view->font()).height();
    ui_->imageView->setFixedSize(side, side);
    QFont small = view->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    for (QLabel* detail : {static_cast<QLabel*>(ui_->dateField), ui_->projectField}) {
        detail->setFont(small);
        detail->setForegroundRole(QPalette::PlaceholderText);
    }
    ui_->projectField->setWordWrap(true);

    ui_->imageView->setImage(icon_);
    ui_->textField->setText(breakable(qs(text_)));
    ui_->dateField->setText(qs(dates_->relativeDateStringFromNow(date_)));
    ui_->projectField->setText(breakable(qs(project_)));
    ui_->textField->setToolTip(url_ ? qs(*url_) : QString());

    QObject::connect(ui_->imageView, &OWImageView::clicked, view, [this] { widgetClick(); });
    QObject::connect(ui_->textField, &OWTextField::clicked, view, [this] { widgetClick(); });
    ui_->textField->updateGeometry();
    view->updateGeometry();
}

void ListRowViewController::setIcon(const QImage& icon) {
    icon_ = icon;
    if (view_ && ui_) {
        ui_->imageView->setImage(icon_);
    }
}

void ListRowViewController::widgetClick() {
    base::Console::write("widget clicked");
    if (url_ && openURL_) {
        openURL_(*url_);
    }
}
