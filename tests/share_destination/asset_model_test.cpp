// The scriptable model: unique IDs and names, assets made from files and locations, the
// index tables through insertions and removals, the "Asset Collection" file, specifier
// look-ups, the document controller, and the share road's FCPXML timing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "apps/share_destination/SAMDocument.h"
#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMObject.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "apps/share_destination/SAMShareTiming.h"
#include "tests/helpers/TempDir.h"
#include "tests/share_destination/ShareTestSupport.h"

namespace sharetest {
namespace {

using platform::scripting::FileURL;
namespace fs = std::filesystem;

class AssetModel : public testing::Test {
  protected:
    void SetUp() override {
        ::setenv("XDG_STATE_HOME", dir.makeFolder("state").c_str(), 1);  // the trace log
        SAMObject::resetCountersForTesting();
    }
    void TearDown() override { SAMDocumentController::sharedDocumentController().closeAll(); }

    SAMLocation location(const std::string& name, std::optional<bool> media,
                         std::optional<bool> desc) const {
        SAMLocation l{
            {kMediaAssetLocationFolderKey, FileURL::fromPath(dir.path(), true).absoluteString()},
            {kMediaAssetLocationBasenameKey, name}};
        if (media) {
            l.set(kMediaAssetLocationHasMediaKey, *media);
        }
        if (desc) {
            l.set(kMediaAssetLocationHasDescriptionKey, *desc);
        }
        return l;
    }
    std::shared_ptr<SAMAsset> at(const SAMDocument& d, uint64_t i) { return d.assetAtIndex(i); }

    testsupport::TempDir dir;
};

TEST_F(AssetModel, DocumentsAndAssetsShareOneIDCounterAndAssetsDrawNames) {
    const std::string pid = std::to_string(::getpid());
    const auto document = SAMDocument::create();
    const auto first = SAMAsset::create();
    const auto second = SAMAsset::create("Cut", FileURL::fromPath("/m", true), "mov", std::nullopt);
    EXPECT_EQ(document->uniqueID(), "SSO-" + pid + "-1");
    EXPECT_EQ(first->uniqueID(), "SSO-" + pid + "-2");
    EXPECT_EQ(second->uniqueID(), "SSO-" + pid + "-3");
    EXPECT_EQ(first->name(), "Untitled 1");
    EXPECT_EQ(second->name(), "Cut");
    EXPECT_EQ(SAMObject::calculateNameCounter(), 3u);  // the second asset drew 2
    EXPECT_EQ(document->name(), "Untitled");
}

TEST_F(AssetModel, AssetsFromFilesTakeTheirExtensionsExactly) {
    const auto mov = SAMAsset::createWithURL(FileURL::fromPath("/m/Cut One.mov"));
    EXPECT_EQ(mov->mediaExtension(), "mov");
    EXPECT_EQ(mov->descExtension(), "fcpxml");
    EXPECT_EQ(mov->name(), "Cut One");
    EXPECT_EQ(mov->folderLocation(), FileURL::fromPath("/m", true));
    EXPECT_EQ(mov->descFile()->absoluteString(), "file:///m/Cut%20One.fcpxml");
    const auto xml = SAMAsset::createWithURL(FileURL::fromPath("/m/Cut.fcpxml"));
    EXPECT_EQ(xml->mediaExtension(), "mp4");
    EXPECT_EQ(xml->descExtension(), "fcpxml");
    for (const char* other : {"/m/Cut.MOV", "/m/Cut.m4v", "/m/Cut"}) {
        const auto none = SAMAsset::createWithURL(FileURL::fromPath(other));
        EXPECT_FALSE(none->hasMedia()) << other;
        EXPECT_FALSE(none->hasDescription()) << other;
        EXPECT_FALSE(none->mediaFile()) << other;
    }
    const SAMLocation where = mov->locationInfo();
    EXPECT_EQ(where.find(kMediaAssetLocationBasenameKey)->stringValue(), "Cut One");
    EXPECT_TRUE(where.find(kMediaAssetLocationHasMediaKey)->boolValue());
    EXPECT_FALSE(SAMAsset::createWithURL(FileURL::fromPath("/m/x"))
                     ->locationInfo()
                     .contains(kMediaAssetLocationHasMediaKey));
}

TEST_F(AssetModel, SameLocationTwiceUpdatesTheOneAssetAndAbsentDiffersFromFalse) {
    const auto document = SAMDocument::create();
    const uint64_t first = document->addAssetAtLocation(location("Untitled", true, true), false,
                                                        {{"a", "1"}, {"b", "2"}}, {{"set", "x"}});
    EXPECT_EQ(first, 0u);
    const auto asset = at(*document, 0);
    EXPECT_EQ(asset->mediaExtension(), "mp4");
    EXPECT_EQ(base::Value(asset->metadata())[kSAMMetadataKeyManagedAsset], base::Value("1"));

    const uint64_t again =
        document->addAssetAtLocation(location("Untitled", false, std::nullopt), false, {{"b", "3"}},
                                     {{"set", "y"}, {"new", "z"}});
    EXPECT_EQ(again, first);
    EXPECT_EQ(document->count(), 1u);
    EXPECT_FALSE(asset->hasMedia());       // present and false: cleared
    EXPECT_TRUE(asset->hasDescription());  // absent: kept
    const base::Value metadata(asset->metadata());
    EXPECT_EQ(metadata["a"], base::Value("1"));
    EXPECT_EQ(metadata["b"], base::Value("3"));
    EXPECT_EQ(asset->dataOptionForKey("set"), base::Value("y"));
    EXPECT_EQ(asset->dataOptionForKey("new"), base::Value("z"));

    // A location without a folder or base name is nowhere: nothing is made.
    EXPECT_EQ(document->addAssetAtLocation({{kMediaAssetLocationBasenameKey, "x"}}, false, {}, {}),
              SAMDocument::kNotFound);
    EXPECT_EQ(document->assetIndexForLocation({}), SAMDocument::kNotFound);
    // An asset read from a file has no data-option table: setting one writes nothing,
    // while metadata makes its table.
    const auto read = SAMAsset::createWithURL(FileURL::fromPath("/m/a.mov"));
    read->setDataOption("v", "k");
    read->addMetadata("v", "k");
    EXPECT_TRUE(read->dataOptions().empty());
    EXPECT_EQ(read->metadata().size(), 1u);
}

TEST_F(AssetModel, IndexTablesFollowInsertionsAndRemovals) {
    const auto document = SAMDocument::create();
    for (const char* name : {"a", "b", "c", "d"}) {
        document->addAssetAtLocation(location(name, true, std::nullopt), false, {}, {});
    }
    const auto a = at(*document, 0);
    const auto c = at(*document, 2);
    const auto d = at(*document, 3);
    document->removeAssetAtIndex(0);
    EXPECT_EQ(document->assetIndexForUniqueID(c->uniqueID()), 1u);
    EXPECT_EQ(document->assetIndexForURL(*c->principalURL()), 1u);
    EXPECT_EQ(document->assetIndexForUniqueID(a->uniqueID()), SAMDocument::kNotFound);
    EXPECT_EQ(document->assetIndexForURL(*a->principalURL()), SAMDocument::kNotFound);
    EXPECT_EQ(document->assetIndexForLocation(location("d", std::nullopt, std::nullopt)), 2u);

    // Back at the front: everything after it moves up by one.
    document->insertInAssets(a);
    EXPECT_EQ(document->assetIndexForUniqueID(a->uniqueID()), 0u);
    EXPECT_EQ(document->assetIndexForUniqueID(d->uniqueID()), 3u);
    document->removeAsset(c);
    document->removeAsset(c);  // twice changes nothing
    document->removeFromAssetsAtIndex(99);
    EXPECT_EQ(document->count(), 3u);
    for (uint64_t i = 0; i < document->count(); ++i) {
        const auto asset = at(*document, i);
        EXPECT_EQ(document->assetIndexForUniqueID(asset->uniqueID()), i);
        EXPECT_EQ(document->assetIndexForURL(*asset->principalURL()), i);
        EXPECT_EQ(asset->container(), document);
        EXPECT_EQ(asset->containerProperty(), "assets");
    }

    // Specifiers find their asset by unique ID; other forms are left to the caller.
    const auto found = document->indicesOfObjectsByEvaluatingObjectSpecifier(d->objectSpecifier());
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, std::vector<uint64_t>{2});
    EXPECT_TRUE(
        document->indicesOfObjectsByEvaluatingObjectSpecifier(c->objectSpecifier())->empty());
    auto byName = d->objectSpecifier();
    byName.setField(sam::kSpecifierForm, platform::scripting::Descriptor::enumerated(
                                             platform::scripting::fourCC("name")));
    EXPECT_FALSE(document->indicesOfObjectsByEvaluatingObjectSpecifier(byName));
    const auto spec = d->objectSpecifier();
    EXPECT_EQ(spec.field(sam::kSpecifierKey)->stringValue(), "assets");
    EXPECT_EQ(spec.field(sam::kSpecifierContainer)->field(sam::kSpecifierData)->stringValue(),
              document->uniqueID());
}

TEST_F(AssetModel, CollectionFileRoundTripsAndRefusesOtherTypes) {
    const auto document = SAMDocument::create();
    document->addAssetAtURL(FileURL::fromPath(dir.file("One Cut.mov")), false, {}, {});
    document->addAssetAtURL(FileURL::fromPath(dir.file("two.fcpxml")), false, {}, {});
    base::Error error("", 0);
    const auto data = document->dataOfType(SAMDocument::kTypeName, &error);
    ASSERT_TRUE(data);
    // The first became an "mp4" asset (a location with a movie), the second has only
    // its description.
    const std::string folder = FileURL::fromPath(dir.path(), true).absoluteString();
    EXPECT_EQ(*data, folder + "One%20Cut.mp4\n" + folder + "two.fcpxml");
    EXPECT_FALSE(document->dataOfType("Movie", &error));
    EXPECT_EQ(error.domain(), "SimpleAssetManaer");
    EXPECT_EQ(error.code(), 304);
    EXPECT_EQ(*SAMDocument::create()->dataOfType(SAMDocument::kTypeName, nullptr), "");

    const std::string path = dir.write("Saved.qvassets", *data + "\n\nnot a url\n");
    auto read = SAMDocument::createWithContentsOfURL(FileURL::fromPath(path),
                                                     SAMDocument::kTypeName, &error);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->count(), 2u);
    EXPECT_EQ(read->name(), "Saved");
    EXPECT_EQ(read->assetAtIndex(0)->mediaFile(), document->assetAtIndex(0)->mediaFile());
    EXPECT_EQ(read->assetAtIndex(0)->mediaExtension(), "mp4");
    EXPECT_EQ(read->assetAtIndex(1)->mediaExtension(), "mp4");  // read from "fcpxml"
    EXPECT_NE(read->assetAtIndex(0)->uniqueID(), document->assetAtIndex(0)->uniqueID());
    EXPECT_EQ(read->assetIndexForUniqueID(read->assetAtIndex(1)->uniqueID()), 1u);
    EXPECT_FALSE(read->readFromData(*data, "Movie", &error));
    EXPECT_EQ(error.code(), 204);
    EXPECT_EQ(read->count(), 2u);  // a refused read leaves the document as it was
}

TEST_F(AssetModel, OpenedMoviesBecomeAssetsOfTheCurrentDocument) {
    auto& controller = SAMDocumentController::sharedDocumentController();
    std::vector<SAMDocumentController::Opened> opened;
    std::optional<base::Error> lastError;
    const auto collect = [&](const SAMDocumentController::Opened& o, bool,
                             const std::optional<base::Error>& e) {
        opened.push_back(o);
        lastError = e;
    };
    controller.openDocumentWithContentsOfURL(FileURL::fromPath("/m/Cut.MOV"), false, collect);
    controller.openDocumentWithContentsOfURL(FileURL::fromPath("/m/Cut.fcpxml"), false, collect);
    controller.openDocumentWithContentsOfURL(FileURL::fromPath("/m/Cut.m4v"), false, collect);
    ASSERT_EQ(opened.size(), 3u);
    ASSERT_EQ(controller.documents().size(), 1u);
    const auto document = controller.documents().front();
    // Upper-case MOV is a movie to the controller; both files name one location.
    const auto asset = std::get<std::shared_ptr<SAMAsset>>(opened[0]);
    EXPECT_EQ(std::get<std::shared_ptr<SAMAsset>>(opened[1]), asset);
    EXPECT_EQ(document->count(), 1u);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(opened[2]));
    ASSERT_TRUE(lastError);
}

TEST_F(AssetModel, DurationNeedsTheMovieOnDiskAndFrameDurationItsTrack) {
    QV_REQUIRE_FFMPEG();
    const std::string movie = dir.file("Clip.mp4");
    ASSERT_EQ(
        std::system(("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=64x36:rate=30000/1001 "
                     "-frames:v 30 -c:v mpeg4 -f mov '" +
                     movie + "'")
                        .c_str()),
        0);
    const auto document = SAMDocument::create();
    const uint64_t i = document->addAssetAtURL(FileURL::fromPath(movie), true, {}, {});
    const auto asset = document->assetAtIndex(i);
    ASSERT_TRUE(asset->mediaLoaded());
    EXPECT_EQ(asset->frameDuration(), "1001/30000s");
    EXPECT_EQ(asset->frameSize().width, 64);
    EXPECT_EQ(asset->duration(), "30030/30000s");
    fs::remove(movie);
    EXPECT_EQ(asset->duration(), "n/a");
    EXPECT_EQ(SAMAsset::create()->frameDuration(), "n/a");
}

TEST_F(AssetModel, SequenceTimingFromFCPXML) {
    const auto timing = [&](const std::string& body) {
        return sam::readSequenceTiming(dir.write("t.fcpxml",
                                                 "<fcpxml version=\"1.8\"><resources>"
                                                 "<format id=\"r1\" frameDuration=\"1/25s\"/>"
                                                 "<format id=\"r2\" frameDuration=\"1001/60000s\"/>"
                                                 "</resources>" +
                                                     body + "</fcpxml>"));
    };
    auto t = timing("<library><project><sequence format=\"r1\" start=\"0s\"/></project></library>");
    EXPECT_EQ(t.fps, 25);
    EXPECT_FALSE(t.dropFrame);
    EXPECT_EQ(t.zeroPoint, 0);
    t = timing(
        "<library><project><sequence format=\"r1\" tcStart=\"90000/25s\" start=\"5s\"/>"
        "</project></library>");
    EXPECT_EQ(t.zeroPoint, 90000);
    // No sequence: the first clip of any kind (a union of steps), here a sync clip.
    t = timing(
        "<event><sync-clip format=\"r2\" tcFormat=\"DF\" start=\"60s\"/>"
        "<asset-clip format=\"r1\"/></event>");
    EXPECT_NEAR(t.fps, 60000.0 / 1001, 1e-9);
    EXPECT_TRUE(t.dropFrame);
    EXPECT_EQ(t.zeroPoint, 3596);
    // A format without a frame duration, or nothing readable: no rate.
    EXPECT_EQ(timing("<sequence format=\"r9\" tcStart=\"10s\"/>").fps, 0);
    EXPECT_EQ(sam::readSequenceTiming(dir.file("missing.fcpxml")).fps, 0);
    EXPECT_EQ(sam::readSequenceTiming(dir.write("bad.fcpxml", "<fcpxml>")).zeroPoint, 0);
}

TEST_F(AssetModel, TheFCPXMLLogLineIsCappedOnACharacterBoundary) {
    const std::string small = "<fcpxml/>";
    EXPECT_EQ(sam::xmlLogLine(small), "xml data: <fcpxml/>");
    // "é" is two bytes; the cut falls inside one of them.
    std::string big(sam::kMaxLoggedXMLBytes - 1, 'a');
    for (int i = 0; i < 20000; ++i) {
        big += "é";
    }
    const std::string line = sam::xmlLogLine(big);
    EXPECT_LT(line.size(), sam::kMaxLoggedXMLBytes + 80);
    const size_t kept = sam::kMaxLoggedXMLBytes - 1;
    EXPECT_EQ(line.substr(10, kept), big.substr(0, kept));
    EXPECT_EQ(line.substr(10 + kept, 3), "...");
    EXPECT_NE(line.find("(" + std::to_string(big.size() - kept) + " more bytes left out)"),
              std::string::npos);
}

}  // namespace
}  // namespace sharetest
