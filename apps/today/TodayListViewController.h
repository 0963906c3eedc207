#pragma once
// The widget's list, playing the part the system's widget list plays elsewhere: one view
// per row, made by the delegate, stacked in a scroll area with a separator between rows.
// While editing, every row shows a remove button; removing asks the delegate first and
// tells it afterwards. Rows are never reordered. Main thread only.
#include <QPointer>
#include <QString>
#include <cstddef>
#include <memory>
#include <vector>

class QLabel;
class QScrollArea;
class QToolButton;
class QVBoxLayout;
class QWidget;
class ListRowViewController;

class TodayListDelegate {
  public:
    virtual ~TodayListDelegate() = default;
    virtual std::unique_ptr<ListRowViewController> viewControllerForRow(size_t row) = 0;
    virtual bool shouldReorderRow(size_t /*row*/) { return false; }
    virtual void didReorderRow(size_t /*row*/, size_t /*newRow*/) {}
    virtual bool shouldRemoveRow(size_t /*row*/) { return true; }
    virtual void didRemoveRow(size_t /*row*/) {}
};

class TodayListViewController {
  public:
    // `delegate` is not owned and outlives the list.
    explicit TodayListViewController(TodayListDelegate& delegate);
    ~TodayListViewController();
    TodayListViewController(const TodayListViewController&) = delete;
    TodayListViewController& operator=(const TodayListViewController&) = delete;

    // The scroll area ("listView"); made on first use, owned by whoever it is put into.
    QWidget* view();

    // Makes `count` rows anew, asking the delegate for each.
    void setContents(size_t count);
    size_t count() const { return rows_.size(); }
    ListRowViewController* rowController(size_t row) const;

    bool editing() const { return editing_; }
    void setEditing(bool editing);
    bool showsAddButtonWhileEditing() const { return showsAddButton_; }
    void setShowsAddButtonWhileEditing(bool shows) { showsAddButton_ = shows; }
    // The text shown while the list is empty.
    void setPlaceholder(const QString& text);

  private:
    struct Row {
        std::unique_ptr<ListRowViewController> controller;
        QPointer<QWidget> frame;  // separator, remove button and the row's view
        QPointer<QWidget> separator;
        QPointer<QToolButton> remove;
    };
    void loadView();
    void removeRow(const QWidget* frame);
    void clearRows();
    void refresh();

    TodayListDelegate& delegate_;
    QPointer<QScrollArea> view_;
    QPointer<QVBoxLayout> rowsLayout_;
    QPointer<QLabel> placeholder_;
    QString placeholderText_;
    std::vector<Row> rows_;
    bool editing_ = false;
    bool showsAddButton_ = true;
};
