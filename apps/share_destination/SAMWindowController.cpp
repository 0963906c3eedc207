#include "apps/share_destination/SAMWindowController.h"

#include <QAbstractItemModel>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

#include "apps/share_destination/SAMApplicationDelegate.h"
#include "apps/share_destination/SAMDocument.h"
#include "base/Console.h"
#include "base/RunLoop.h"
#include "platform/ui/qt/WindowPlacement.h"
#include "support/OWLocalPaths.h"
#include "ui_SAMDocument.h"
#include "upload_dialog/QuorvSettingsController.h"

// The outline's model: one row per asset of the document, one column per asset key.
// Rows hang under the invalid root only. Edits are accepted by the view and dropped.
class SAMAssetOutlineModel final : public QAbstractItemModel {
  public:
    // The unique ID of the row's asset, as a base::Value.
    static constexpr int RepresentedRole = Qt::UserRole + 1;

    explicit SAMAssetOutlineModel(std::weak_ptr<SAMDocument> document)
        : document_(std::move(document)) {}

    void reload() {
        beginResetModel();
        endResetModel();
    }
    std::shared_ptr<SAMAsset> assetAt(int row) const {
        const auto document = document_.lock();
        return document && row >= 0 ? document->assetAtIndex(uint64_t(row)) : nullptr;
    }

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        if (parent.isValid() || row < 0 || row >= rowCount({}) || column < 0 ||
            column >= columnCount({})) {
            return {};
        }
        return createIndex(row, column);
    }
    QModelIndex parent(const QModelIndex&) const override { return {}; }
    int rowCount(const QModelIndex& parent) const override {
        const auto document = document_.lock();
        return parent.isValid() || !document ? 0 : int(document->count());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : int(SAMWindowController::columns().size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const auto asset = index.isValid() ? assetAt(index.row()) : nullptr;
        if (!asset) {
            return {};
        }
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            const char* key = SAMWindowController::columns()[size_t(index.column())].key;
            return QString::fromStdString(asset->valueForKey(key).stringValue());
        }
        if (role == RepresentedRole) {
            return QVariant::fromValue(base::Value(asset->uniqueID()));
        }
        return {};
    }
    bool setData(const QModelIndex&, const QVariant&, int) override { return false; }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable
                               : Qt::NoItemFlags;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= columnCount({})) {
            return {};
        }
        return QString(SAMWindowController::columns()[size_t(section)].title);
    }

  private:
    std::weak_ptr<SAMDocument> document_;
};

const std::vector<SAMWindowController::Column>& SAMWindowController::columns() {
    static const std::vector<Column> list = {
        {"name", "Name"},
        {"duration", "Duration"},
        {"frameDuration", "Frame Duration"},
        {"mediaExtension", "Movie"},
        {"descExtension", "Description"},
    };
    return list;
}

std::shared_ptr<SAMWindowController> SAMWindowController::create(
    std::weak_ptr<SAMDocument> document) {
    std::shared_ptr<SAMWindowController> controller(new SAMWindowController(std::move(document)));
    controller->buildForm();
    controller->connectActions();
    controller->windowDidLoad();
    return controller;
}

SAMWindowController::SAMWindowController(std::weak_ptr<SAMDocument> document)
    : document_(std::move(document)) {}

SAMWindowController::~SAMWindowController() {
    // The view lets go of the model before either goes.
    if (ui_) {
        ui_->outlineView->setModel(nullptr);
    }
}

void SAMWindowController::buildForm() {
    window_ = std::make_unique<QWidget>();
    ui_ = std::make_unique<Ui::SAMDocument>();
    ui_->setupUi(window_.get());
    model_ = std::make_unique<SAMAssetOutlineModel>(document_);
    ui_->outlineView->setModel(model_.get());
    QHeaderView* header = ui_->outlineView->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    // Room for every column beside a name of some forty characters, and for a dozen
    // rows: measured in the window's font, so it scales with it.
    const QFontMetrics metrics(window_->font());
    window_->resize(metrics.averageCharWidth() * 96, metrics.height() * 26);
    ui_->addAssetButton->setDefault(true);
    if (const auto document = document_.lock()) {
        window_->setWindowTitle(QString::fromStdString(document->name()));
    }
}

void SAMWindowController::connectActions() {
    QWidget* w = window_.get();
    QObject::connect(ui_->addAssetButton, &QPushButton::clicked, w, [this] { addAsset(); });
    QObject::connect(ui_->newAssetButton, &QPushButton::clicked, w, [this] { newAsset(); });
    QObject::connect(ui_->removeAssetButton, &QPushButton::clicked, w,
                     [this] { removeSelectedAssets(); });
    QObject::connect(ui_->outlineView->selectionModel(), &QItemSelectionModel::selectionChanged, w,
                     [this] { updateSelectionDetailFields(); });
}

void SAMWindowController::windowDidLoad() {
    platform::ui::qt::centerOnPrimaryScreen(*window_);
    updateSelectionDetailFields();
}

QWidget* SAMWindowController::window() const {
    return window_.get();
}

void SAMWindowController::showWindow() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SAMWindowController::updateOutlineView() {
    model_->reload();
    ui_->outlineView->clearSelection();
}

void SAMWindowController::setDetailFieldsEnabled(bool enabled) {
    for (QLineEdit* field : {ui_->selectedAssetTitleField, ui_->selectedAssetMediaURLField,
                             ui_->selectedAssetDescURLField}) {
        field->setReadOnly(!enabled);
        field->setEnabled(enabled);
    }
}

void SAMWindowController::clearDetailFields() {
    for (QLineEdit* field : {ui_->selectedAssetTitleField, ui_->selectedAssetMediaURLField,
                             ui_->selectedAssetDescURLField}) {
        field->setText(kNoSelection);
    }
    setDetailFieldsEnabled(false);
}

void SAMWindowController::setDetailFieldsWithName(
    const std::string& name, const std::optional<platform::scripting::FileURL>& mediaURL,
    const std::optional<platform::scripting::FileURL>& descURL) {
    const auto text = [](const std::optional<platform::scripting::FileURL>& url) {
        return QString::fromStdString(url ? url->absoluteString() : kNoURL);
    };
    ui_->selectedAssetTitleField->setText(QString::fromStdString(name));
    ui_->selectedAssetMediaURLField->setText(text(mediaURL));
    ui_->selectedAssetDescURLField->setText(text(descURL));
    for (QLineEdit* field : {ui_->selectedAssetTitleField, ui_->selectedAssetMediaURLField,
                             ui_->selectedAssetDescURLField}) {
        field->setCursorPosition(0);
    }
    setDetailFieldsEnabled(true);
}

void SAMWindowController::updateSelectionDetailFields() {
    const QModelIndexList rows = ui_->outlineView->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        clearDetailFields();
        return;
    }
    // With several rows selected, the one the user reached last.
    const QModelIndex current = ui_->outlineView->selectionModel()->currentIndex();
    const int row =
        current.isValid() && ui_->outlineView->selectionModel()->isRowSelected(current.row(), {})
            ? current.row()
            : rows.first().row();
    if (const auto asset = assetAtRow(row)) {
        setDetailFieldsWithName(asset->name(), asset->mediaFile(), asset->descFile());
    }
}

std::shared_ptr<SAMAsset> SAMWindowController::assetAtRow(int row) const {
    return model_->assetAt(row);
}

// ---- making a new asset ----

void SAMWindowController::newAsset() {
    std::weak_ptr<SAMWindowController> weak = weak_from_this();
    newAssetWithName(std::nullopt, {}, {}, [weak](std::shared_ptr<SAMAsset> asset) {
        auto self = weak.lock();
        if (self && asset) {
            self->updateOutlineView();
            self->updateSelectionDetailFields();
        }
    });
}

void SAMWindowController::newAssetWithName(std::optional<std::string> name, const base::Dictionary&,
                                           const base::Dictionary&, AssetCompletion completion) {
    // The name defaults to "Untitled"; the settings window asks for the title itself.
    (void)name.value_or(kNewAssetName);
    showQuorvSettingsDialog(std::move(completion));
}

void SAMWindowController::showQuorvSettingsDialog(AssetCompletion completion) {
    base::Console::write("1");
    const auto delegate = SAMApplicationDelegate::shared();
    const auto settings = delegate ? delegate->settingsController() : nullptr;
    if (!settings) {
        completion(nullptr);
        return;
    }
    std::weak_ptr<SAMWindowController> weak = weak_from_this();
    std::weak_ptr<QuorvSettingsController> weakSettings = settings;
    settings->showWindow([weak, weakSettings, completion] {
        base::Console::write("2");
        // The block may run inside the settings window's own action: the rest waits for
        // the main queue.
        base::MainQueue::post([weak, weakSettings, completion] {
            auto self = weak.lock();
            auto settings = weakSettings.lock();
            auto document = self ? self->document_.lock() : nullptr;
            std::shared_ptr<SAMAsset> asset;
            if (settings && document && !settings->cancelled()) {
                const SAMLocation location = collectAssetLocation();
                const uint64_t index = document->addAssetAtLocation(
                    location, false, collectNewAssetMetadata(), self->collectNewAssetDataOptions());
                document->setDefaultAssetLocation(location);
                asset = document->assetAtIndex(index);
            }
            if (settings) {
                settings->hideWindow();
            }
            if (self) {
                self->updateOutlineView();
                self->updateSelectionDetailFields();
            }
            completion(asset);
        });
    });
}

SAMLocation SAMWindowController::collectAssetLocation() {
    SAMLocation location;
    location.set(kMediaAssetLocationFolderKey,
                 platform::scripting::FileURL::fromPath(OWLocalPaths::tempDirectory(), true)
                     .absoluteString());
    location.set(kMediaAssetLocationBasenameKey, kNewAssetName);
    location.set(kMediaAssetLocationHasMediaKey, true);
    location.set(kMediaAssetLocationHasDescriptionKey, true);
    return location;
}

// ---- adding and removing ----

void SAMWindowController::addAsset() {
    auto* panel = new QFileDialog(window_.get(), kOpenPanelMessage);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setFileMode(QFileDialog::ExistingFiles);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    // Cameras and recorders name their files in capitals: an extension matches
    // whatever its case.
    panel->setFilter(panel->filter() & ~QDir::CaseSensitive);
    panel->setNameFilter("Movies and sound (*.mov *.mp4 *.m4v *.aiff *.aif *.aifc *.wav *.m4a)");
    panel->setOption(QFileDialog::DontUseNativeDialog);
    std::weak_ptr<SAMWindowController> weak = weak_from_this();
    QPointer<QFileDialog> guard(panel);
    QObject::connect(panel, &QFileDialog::finished, window_.get(), [weak, guard](int result) {
        auto self = weak.lock();
        auto document = self ? self->document_.lock() : nullptr;
        if (!self || !guard || result != QDialog::Accepted || !document) {
            return;
        }
        for (const QString& file : guard->selectedFiles()) {
            document->addURL(platform::scripting::FileURL::fromPath(file.toStdString()), true, {},
                             {});
        }
        self->updateOutlineView();
        self->updateSelectionDetailFields();
    });
    panel->open();
}

void SAMWindowController::removeSelectedAssets() {
    const auto document = document_.lock();
    if (!document) {
        return;
    }
    std::vector<int> rows;
    for (const QModelIndex& index : ui_->outlineView->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows) {
        if (const auto asset = assetAtRow(row)) {
            document->removeAsset(asset);
        }
    }
    updateOutlineView();
    updateSelectionDetailFields();
}
