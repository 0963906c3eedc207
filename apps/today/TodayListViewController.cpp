#include "apps/today/TodayListViewController.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "apps/today/ListRowViewController.h"

TodayListViewController::TodayListViewController(TodayListDelegate& delegate)
    : delegate_(delegate) {}

TodayListViewController::~TodayListViewController() {
    clearRows();
    delete view_.data();
}

void TodayListViewController::clearRows() {
    for (Row& row : rows_) {
        delete row.frame.data();  // the row's view with it
    }
    rows_.clear();
}

QWidget* TodayListViewController::view() {
    if (!view_) {
        loadView();
    }
    return view_;
}

void TodayListViewController::loadView() {
    auto* scroll = new QScrollArea;
    scroll->setObjectName("listView");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    content->setObjectName("rows");
    // A list on the base colour, as lists are, set off from the panel around it.
    content->setBackgroundRole(QPalette::Base);
    content->setAutoFillBackground(true);
    scroll->setBackgroundRole(QPalette::Base);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* placeholder = new QLabel(placeholderText_, content);
    placeholder->setObjectName("placeholderLabel");
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    placeholder->setForegroundRole(QPalette::PlaceholderText);
    placeholder->setContentsMargins(12, 24, 12, 24);
    layout->addWidget(placeholder);
    layout->addStretch(1);
    scroll->setWidget(content);
    view_ = scroll;
    rowsLayout_ = layout;
    placeholder_ = placeholder;
}

void TodayListViewController::setContents(size_t count) {
    view();
    clearRows();
    for (size_t i = 0; i < count; ++i) {
        Row row;
        row.controller = delegate_.viewControllerForRow(i);
        if (!row.controller) {
            continue;
        }
        auto* frame = new QFrame;
        frame->setObjectName("rowFrame");
        auto* layout = new QVBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto* line = new QFrame(frame);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Plain);
        line->setForegroundRole(QPalette::Mid);
        layout->addWidget(line);
        auto* body = new QHBoxLayout;
        body->setContentsMargins(0, 0, 0, 0);
        body->setSpacing(0);
        auto* remove = new QToolButton(frame);
        remove->setObjectName("removeButton");
        remove->setAccessibleName("Remove");
        remove->setToolTip("Remove");
        remove->setIcon(remove->style()->standardIcon(QStyle::SP_DialogDiscardButton));
        remove->setAutoRaise(true);
        remove->setVisible(editing_);
        body->addWidget(remove, 0, Qt::AlignVCenter);
        body->addWidget(row.controller->view(), 1);
        layout->addLayout(body);
        QObject::connect(remove, &QToolButton::clicked, frame, [this, frame] { removeRow(frame); });
        rowsLayout_->insertWidget(rowsLayout_->count() - 2, frame);
        frame->show();  // at once, not when the layout gets round to it
        row.frame = frame;
        row.separator = line;
        row.remove = remove;
        rows_.push_back(std::move(row));
    }
    refresh();
}

ListRowViewController* TodayListViewController::rowController(size_t row) const {
    return row < rows_.size() ? rows_[row].controller.get() : nullptr;
}

void TodayListViewController::setEditing(bool editing) {
    editing_ = editing;
    for (Row& row : rows_) {
        if (row.remove) {
            row.remove->setVisible(editing);
        }
    }
}

void TodayListViewController::setPlaceholder(const QString& text) {
    placeholderText_ = text;
    if (placeholder_) {
        placeholder_->setText(text);
    }
}

void TodayListViewController::removeRow(const QWidget* frame) {
    auto found = std::find_if(rows_.begin(), rows_.end(),
                              [frame](const Row& row) { return row.frame == frame; });
    if (found == rows_.end()) {
        return;
    }
    const auto index = static_cast<size_t>(found - rows_.begin());
    if (!delegate_.shouldRemoveRow(index)) {
        return;
    }
    // The frame is deleted later: its button's click is still being delivered.
    found->frame->hide();
    found->frame->deleteLater();
    rows_.erase(found);
    delegate_.didRemoveRow(index);
    refresh();
}

void TodayListViewController::refresh() {
    if (placeholder_) {
        placeholder_->setVisible(rows_.empty());
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].separator) {
            rows_[i].separator->setVisible(i > 0);  // lines only between rows
        }
    }
}
