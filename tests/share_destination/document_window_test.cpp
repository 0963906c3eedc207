// The document window: the outline of assets and the detail fields, adding movies
// through the open panel, removing selected assets from the highest row, and edits
// that are not stored. Driven by clicks and keys on the offscreen platform.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include "apps/share_destination/SAMDocument.h"
#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMWindowController.h"
#include "tests/helpers/TempDir.h"
#include "tests/helpers/desktop/DesktopTest.h"

namespace sharetest {
namespace {

using platform::scripting::FileURL;

class DocumentWindow : public testsupport::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        ::setenv("XDG_STATE_HOME", dir.makeFolder("state").c_str(), 1);
        document =
            SAMDocumentController::sharedDocumentController().openUntitledDocumentAndDisplay(true);
        window = document->primaryWindowController();
        ASSERT_TRUE(waitFor([&] { return window->window()->isVisible(); }));
        tree = part<QTreeView>("outlineView");
        tester = std::make_unique<QAbstractItemModelTester>(
            tree->model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    void TearDown() override {
        tester.reset();
        SAMDocumentController::sharedDocumentController().closeAll();
        DesktopTest::TearDown();
    }
    template <class T>
    T* part(const char* name) const {
        return window->window()->findChild<T*>(name);
    }
    QString field(const char* name) const { return part<QLineEdit>(name)->text(); }
    void add(const std::string& path) { document->addURL(FileURL::fromPath(path), false, {}, {}); }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        const QRect rect = tree->visualRect(tree->model()->index(row, 0));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, modifiers, rect.center());
    }
    QStringList names() const {
        QStringList out;
        for (int r = 0; r < tree->model()->rowCount(); ++r) {
            out << tree->model()->index(r, 0).data().toString();
        }
        return out;
    }

    testsupport::TempDir dir;
    std::shared_ptr<SAMDocument> document;
    SAMWindowController* window = nullptr;
    QTreeView* tree = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

TEST_F(DocumentWindow, OutlineRowsAndDetailFieldsFollowTheSelection) {
    EXPECT_EQ(tree->model()->rowCount(), 0);
    for (const char* name :
         {"selectedAssetTitleField", "selectedAssetMediaURLField", "selectedAssetDescURLField"}) {
        EXPECT_EQ(field(name), "No selection");
        EXPECT_FALSE(part<QLineEdit>(name)->isEnabled());
    }
    // Columns are asset keys: name, duration, frame duration, movie, description.
    EXPECT_EQ(tree->model()->columnCount(), 5);
    EXPECT_EQ(tree->model()->headerData(2, Qt::Horizontal).toString(), "Frame Duration");

    SAMLocation both{{kMediaAssetLocationFolderKey, "file:///m/"},
                     {kMediaAssetLocationBasenameKey, "Movie One"},
                     {kMediaAssetLocationHasMediaKey, true},
                     {kMediaAssetLocationHasDescriptionKey, true}};
    document->addAssetAtLocation(both, false, {}, {});
    add("/m/Bare.mov");  // an opened movie: a location with a movie only
    EXPECT_EQ(names(), (QStringList{"Movie One", "Bare"}));
    EXPECT_EQ(tree->model()->index(0, 3).data().toString(), "mp4");
    EXPECT_EQ(tree->model()->index(0, 4).data().toString(), "fcpxml");
    EXPECT_EQ(tree->model()->index(0, 1).data().toString(), "n/a");

    clickRow(0);
    EXPECT_EQ(field("selectedAssetTitleField"), "Movie One");
    EXPECT_EQ(field("selectedAssetMediaURLField"), "file:///m/Movie%20One.mp4");
    EXPECT_EQ(field("selectedAssetDescURLField"), "file:///m/Movie%20One.fcpxml");
    EXPECT_TRUE(part<QLineEdit>("selectedAssetTitleField")->isEnabled());
    clickRow(1);
    EXPECT_EQ(field("selectedAssetMediaURLField"), "file:///m/Bare.mp4");
    EXPECT_EQ(field("selectedAssetDescURLField"), "No URL");

    // A cell takes an edit and keeps nothing of it.
    const QModelIndex cell = tree->model()->index(1, 0);
    tree->edit(cell);
    auto* editor = tree->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "Renamed");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(document->assetAtIndex(1)->name(), "Bare");
    EXPECT_EQ(cell.data().toString(), "Bare");

    // A change to the document clears the selection.
    add("/m/Third.mp4");
    EXPECT_EQ(field("selectedAssetTitleField"), "No selection");
}

TEST_F(DocumentWindow, AddThroughTheOpenPanelAndRemoveFromTheHighestRow) {
    const std::string movie = dir.write("Clip A.mov", "x");
    const std::string sound = dir.write("Voice.wav", "x");
    // Cameras and recorders name their files in capitals; the panel offers them too.
    const QStringList capitals{"CLIP.MOV", "TAKE.M4V", "ROOM.WAV", "SCORE.AIFF", "MIX.M4A",
                               "Mixed.Mp4"};
    for (const QString& name : capitals) {
        dir.write(name.toStdString(), "x");
    }
    dir.write("NOTES.TXT", "x");
    // Cancelled: nothing is added.
    answerModal([](QWidget& panel) { QTest::keyClick(&panel, Qt::Key_Escape); });
    QTest::mouseClick(part<QPushButton>("addAssetButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([] { return QApplication::activeModalWidget() == nullptr; }));
    EXPECT_EQ(document->count(), 0u);

    QString title;
    answerModal([&](QWidget& box) {
        auto& panel = dynamic_cast<QFileDialog&>(box);
        title = panel.windowTitle();
        panel.setDirectory(QString::fromStdString(dir.path()));
        // The folder is read in the background; a user types once the files show.
        auto* list = panel.findChild<QListView*>("listView");
        ASSERT_NE(list, nullptr);
        const auto offered = [list] {
            QStringList names;
            const QModelIndex root = list->rootIndex();
            for (int row = 0; row < list->model()->rowCount(root); ++row) {
                const QModelIndex item = list->model()->index(row, 0, root);
                const bool folder = QFileInfo(item.data(QFileSystemModel::FilePathRole).toString())
                                        .isDir();
                if (!folder && (item.flags() & Qt::ItemIsEnabled)) {
                    names << item.data().toString();
                }
            }
            names.sort();
            return names;
        };
        QStringList expected = capitals;
        expected << "Clip A.mov" << "Voice.wav";
        expected.sort();
        waitFor([&] { return offered() == expected; });
        EXPECT_EQ(offered().join(", "), expected.join(", "));
        auto* name = panel.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        QTest::keyClicks(name, "\"Clip A.mov\" \"Voice.wav\"");
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(part<QPushButton>("addAssetButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return document->count() == 2; }));
    EXPECT_EQ(title, "Choose asset media file to add");
    EXPECT_TRUE(document->assetAtIndex(0)->hasMedia());
    // A sound file is an asset with neither a movie nor a description.
    EXPECT_FALSE(document->assetAtIndex(1)->hasMedia());
    EXPECT_FALSE(document->assetAtIndex(1)->hasDescription());

    add(dir.file("c.mov"));
    add(dir.file("d.mov"));
    const std::string keptID = document->assetAtIndex(1)->uniqueID();
    const std::string lastID = document->assetAtIndex(3)->uniqueID();
    document->removeAssetAtIndex(3);  // a removal from outside the window first
    add(dir.file("e.mov"));
    clickRow(0);
    clickRow(2, Qt::ControlModifier);
    clickRow(3, Qt::ControlModifier);
    QTest::mouseClick(part<QPushButton>("removeAssetButton"), Qt::LeftButton);
    EXPECT_EQ(names(), QStringList{"Voice"});
    EXPECT_EQ(document->assetIndexForUniqueID(keptID), 0u);
    EXPECT_EQ(document->assetIndexForUniqueID(lastID), SAMDocument::kNotFound);
    EXPECT_EQ(field("selectedAssetTitleField"), "No selection");
}

}  // namespace
}  // namespace sharetest
