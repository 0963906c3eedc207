#include "apps/today/TodayHost.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <ostream>

#include "support/OWRelativeDates.h"

namespace {

// The program's icon, drawn so that it is sharp at every size the tray asks for.
QIcon appIcon() {
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), side * 0.22, side * 0.22);
        painter.fillPath(shape, QColor(0x2b, 0x6c, 0xd4));
        QFont font;
        font.setBold(true);
        font.setPixelSize(static_cast<int>(side * 0.7));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, "Q");
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Replaces control characters (C0, DEL and C1) with spaces.
std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            out += ' ';
        } else if (c == 0xc2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            out += ' ';
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

TodayHost::TodayHost(std::shared_ptr<TodayViewController> widget) : widget_(std::move(widget)) {
    timer_.setInterval(kUpdateIntervalSeconds * 1000);
    QObject::connect(&timer_, &QTimer::timeout, [this] { update(); });
    updateBound_.setSingleShot(true);
    setUpdateTimeOut(kUpdateTimeOutSeconds);
    QObject::connect(&updateBound_, &QTimer::timeout, [this] { widget_->cancelUpdate(); });
}

void TodayHost::setUpdateTimeOut(double seconds) {
    updateBound_.setInterval(static_cast<int>(seconds * 1000));
}

TodayHost::~TodayHost() {
    timer_.stop();
    updateBound_.stop();
    tray_.reset();
    delete panel_.data();
}

TodayHost::Mode TodayHost::preferredMode() {
    return QSystemTrayIcon::isSystemTrayAvailable() ? Mode::Tray : Mode::Window;
}

QWidget* TodayHost::panel() {
    if (panel_) {
        return panel_;
    }
    auto* panel = new QWidget(nullptr, mode_ == Mode::Tray ? Qt::Popup : Qt::Window);
    panel->setObjectName("todayPanel");
    panel->setWindowTitle(widget_->title());
    panel->setWindowIcon(appIcon());
    auto* layout = new QVBoxLayout(panel);
    const QMargins margins =
        widget_->widgetMarginInsetsForProposedMarginInsets(QMargins(12, 8, 12, 8));
    layout->setContentsMargins(margins);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(8, 0, 0, 0);
    auto* title = new QLabel(widget_->title(), panel);
    title->setObjectName("titleLabel");
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    title->setFont(bold);
    header->addWidget(title, 1);
    if (widget_->widgetAllowsEditing()) {
        auto* edit = new QToolButton(panel);
        edit->setObjectName("editButton");
        edit->setText("&Edit");
        edit->setCheckable(true);
        QObject::connect(edit, &QToolButton::toggled, panel, [this, edit](bool on) {
            edit->setText(on ? "&Done" : "&Edit");
            if (on) {
                widget_->widgetDidBeginEditing();
            } else {
                widget_->widgetDidEndEditing();
            }
        });
        header->addWidget(edit);
        edit_ = edit;
    }
    layout->addLayout(header);
    layout->addWidget(widget_->view(), 1);

    // A list-sized panel: about 30 average characters wide and 24 lines high.
    const QFontMetrics metrics(panel->font());
    panel->resize(metrics.averageCharWidth() * 46, metrics.height() * 30);
    panel_ = panel;
    return panel_;
}

void TodayHost::start(Mode mode) {
    mode_ = mode;
    panel();
    timer_.start();
    if (mode == Mode::Window) {
        showPanel();
        return;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    tray_ = std::make_unique<QSystemTrayIcon>(appIcon());
    tray_->setToolTip(widget_->title());
    auto* menu = new QMenu(panel_);
    QObject::connect(menu->addAction("&Update Now"), &QAction::triggered, [this] { update(); });
    menu->addSeparator();
    QObject::connect(menu->addAction("&Quit"), &QAction::triggered, [] { QApplication::quit(); });
    tray_->setContextMenu(menu);
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) {
                             togglePopup();
                         }
                     });
    tray_->show();
    update();  // the first list is there when the pop-up first opens
}

void TodayHost::showPanel() {
    QWidget* shown = panel();
    if (mode_ == Mode::Tray) {
        placePopup();
    }
    shown->show();
    shown->raise();
    shown->activateWindow();
    update();
}

void TodayHost::togglePopup() {
    if (panel_ && panel_->isVisible()) {
        panel_->hide();
        return;
    }
    showPanel();
}

// Next to the tray icon, kept on its screen.
void TodayHost::placePopup() {
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    const QPoint anchor = icon.isValid() ? icon.center() : QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen ? screen->availableGeometry() : QRect(anchor, panel_->size());
    QRect frame(QPoint(), panel_->size());
    frame.moveCenter(anchor);
    frame.moveTop(anchor.y() > area.center().y() ? anchor.y() - frame.height() - 8
                                                 : anchor.y() + 8);
    frame.moveLeft(
        std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width())));
    frame.moveTop(
        std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height())));
    panel_->move(frame.topLeft());
}

void TodayHost::update() {
    if (widget_->isUpdating()) {
        return;
    }
    updateBound_.start();
    // The answer may come after the host is gone.
    widget_->widgetPerformUpdateWithCompletionHandler(
        [bound = QPointer<QTimer>(&updateBound_)](TodayViewController::UpdateResult) {
            if (bound) {
                bound->stop();
            }
        });
}

void TodayHost::printRows(const TodayViewController& widget, const OWRelativeDates& dates,
                          std::ostream& out) {
    for (const base::Value& event : widget.events()) {
        const TodayEventList::Row row = TodayEventList::rowForEvent(event);
        out << printable(dates.relativeDateStringFromNow(row.date)) << " | "
            << printable(row.project) << " | " << printable(row.text);
        if (row.url) {
            out << " | " << printable(*row.url);
        }
        out << '\n';
    }
}
