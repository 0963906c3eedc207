#pragma once
// The window of an asset collection: a one-level outline of the assets (each column an
// asset key), the selected asset's title, movie and description, and buttons to add
// movies, make a new asset through the upload-settings window and remove assets.
//
// It is also where the make command's new asset comes from: the settings window is
// shown and, once the user confirms, the asset is added in the temporary folder under
// the name "Untitled" with a movie and a description. Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "apps/share_destination/SAMAsset.h"
#include "base/Value.h"

class QWidget;
class SAMDocument;
class SAMAssetOutlineModel;
namespace Ui {
class SAMDocument;
}

class SAMWindowController : public std::enable_shared_from_this<SAMWindowController> {
  public:
    static constexpr const char* kInterfaceName = "SAMDocument";
    static constexpr const char* kNoSelection = "No selection";
    static constexpr const char* kNoURL = "No URL";
    static constexpr const char* kNewAssetName = "Untitled";
    static constexpr const char* kOpenPanelMessage = "Choose asset media file to add";

    struct Column {
        const char* key;  // the asset key the column shows
        const char* title;
    };
    static const std::vector<Column>& columns();

    using AssetCompletion = std::function<void(std::shared_ptr<SAMAsset>)>;

    static std::shared_ptr<SAMWindowController> create(std::weak_ptr<SAMDocument> document);
    ~SAMWindowController();
    SAMWindowController(const SAMWindowController&) = delete;
    SAMWindowController& operator=(const SAMWindowController&) = delete;

    QWidget* window() const;
    void showWindow();

    void updateOutlineView();
    void clearDetailFields();
    void setDetailFieldsWithName(const std::string& name,
                                 const std::optional<platform::scripting::FileURL>& mediaURL,
                                 const std::optional<platform::scripting::FileURL>& descURL);
    void updateSelectionDetailFields();

    // ---- actions ----
    void newAsset();
    void newAssetWithName(std::optional<std::string> name, const base::Dictionary& metadata,
                          const base::Dictionary& dataOptions, AssetCompletion completion);
    void showQuorvSettingsDialog(AssetCompletion completion);
    void addAsset();
    void removeSelectedAssets();

    static SAMLocation collectAssetLocation();
    static base::Dictionary collectNewAssetMetadata() { return {}; }
    base::Dictionary collectNewAssetDataOptions() const { return {}; }

    bool newAssetWantsDescription() const { return newAssetWantsDescription_; }
    void setNewAssetWantsDescription(bool wants) { newAssetWantsDescription_ = wants; }

  private:
    explicit SAMWindowController(std::weak_ptr<SAMDocument> document);
    void buildForm();
    void connectActions();
    void windowDidLoad();
    // The asset of a row; none for rows without one.
    std::shared_ptr<SAMAsset> assetAtRow(int row) const;
    void setDetailFieldsEnabled(bool enabled);

    std::weak_ptr<SAMDocument> document_;
    bool newAssetWantsDescription_ = true;
    std::unique_ptr<QWidget> window_;
    std::unique_ptr<Ui::SAMDocument> ui_;
    std::unique_ptr<SAMAssetOutlineModel> model_;
};
