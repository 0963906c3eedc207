// Descriptors and their conversions to plain values: the user-defined record's 'usrf'
// list, user lists, integers of every width, unknown types kept as raw data with their
// log line, file URLs, and the bookmark data the editor sends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/Console.h"
#include "platform/scripting/Bookmark.h"
#include "platform/scripting/Conversions.h"

namespace platform::scripting {
namespace {

using Table = ScriptObject::Table;

Descriptor userFields(std::initializer_list<Descriptor> items) {
    Descriptor list = Descriptor::list();
    for (const auto& item : items) {
        list.append(item);
    }
    Descriptor record = Descriptor::record();
    record.setField(kKeyUserFields, list);
    return record;
}

// The system-log lines written while `body` runs.
template <class F>
std::string consoleLines(F body) {
    FILE* file = std::tmpfile();
    const int previous = base::Console::setOutput(fileno(file));
    body();
    base::Console::setOutput(previous);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(file);
    return text;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(UserDefinedRecord, ReadsPairsDropsALastKeyAndPairsWithoutTextKeys) {
    // Odd count: the last key has no value. A number in key position reads as its text;
    // a list in key position is no text and loses its pair.
    const Descriptor record = userFields(
        {Descriptor::text("episode"), Descriptor::int32(7), Descriptor::unicodeText("título"),
         Descriptor::text("Cut, one"), Descriptor::int16(3), Descriptor::text("three"),
         Descriptor::list(), Descriptor::text("lost"), Descriptor::text("episode"),
         Descriptor::text("eight"), Descriptor::text("dangling")});
    const Table table = userDefinedRecordWithDescriptor(record);
    ASSERT_EQ(table.size(), 3u);
    // A repeated key replaces the value in the first key's place.
    EXPECT_EQ(table[0].first, ScriptObject("episode"));
    EXPECT_EQ(table[0].second, ScriptObject("eight"));
    EXPECT_EQ(table[1], (std::pair<ScriptObject, ScriptObject>("título", "Cut, one")));
    EXPECT_EQ(table[2], (std::pair<ScriptObject, ScriptObject>("3", "three")));

    // No 'usrf', a one-item list, or no record at all: empty.
    EXPECT_TRUE(userDefinedRecordWithDescriptor(Descriptor::record()).empty());
    EXPECT_TRUE(userDefinedRecordWithDescriptor(userFields({Descriptor::text("k")})).empty());
    EXPECT_TRUE(userDefinedRecordWithDescriptor(Descriptor::text("x")).empty());
}

TEST(UserDefinedRecord, WritesTextKeysOnlyWithValuesAsText) {
    Table table;
    table.emplace_back("count", int64_t{12});
    table.emplace_back(int64_t{5}, "number key");
    table.emplace_back("title", "Cut One");
    table.emplace_back("where", FileURL::fromPath("/tmp/a b"));
    const Descriptor record = userDefinedRecordDescriptor(table);
    EXPECT_EQ(record.type(), kTypeRecord);
    const Descriptor* list = record.field(kKeyUserFields);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 6u);
    EXPECT_EQ(*list->at(1), Descriptor::text("count"));
    EXPECT_EQ(*list->at(2), Descriptor::text("12"));
    EXPECT_EQ(*list->at(3), Descriptor::text("title"));
    EXPECT_EQ(*list->at(4), Descriptor::text("Cut One"));
    EXPECT_EQ(*list->at(6), Descriptor::text("file:///tmp/a%20b"));
    // And back: every value arrives as text.
    const Table back = userDefinedRecordWithDescriptor(record);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].second, ScriptObject("12"));
    EXPECT_EQ(userDefinedRecordDescriptor({}).field(kKeyUserFields)->count(), 0u);
}

TEST(ObjectValue, IntegersOfEveryWidthReadAsSigned32Bit) {
    EXPECT_EQ(objectValue(Descriptor::int16(-2)), ScriptObject(int64_t{-2}));
    EXPECT_EQ(objectValue(Descriptor::int32(-2147483647 - 1)),
              ScriptObject(int64_t{-2147483647 - 1}));
    EXPECT_EQ(objectValue(Descriptor::atomic(kTypeUInt16, {0xFE, 0xFF})),
              ScriptObject(int64_t{65534}));
    EXPECT_EQ(objectValue(Descriptor::atomic(kTypeSInt64,
                                             {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})),
              ScriptObject(int64_t{-2}));
    // Beyond 32 bits the coercion fails: 0. A short datum is no number either.
    EXPECT_EQ(objectValue(Descriptor::atomic(kTypeUInt32, {0, 0, 0, 0x80})),
              ScriptObject(int64_t{0}));
    EXPECT_EQ(objectValue(Descriptor::atomic(kTypeSInt32, {1, 2})), ScriptObject(int64_t{0}));
    EXPECT_FALSE(Descriptor::atomic(kTypeSInt32, {1, 2}).int32Value());
}

TEST(ObjectValue, UnknownTypesGiveRawDataWithOneLogLine) {
    const base::Data bookmark = bookmark::create(FileURL::fromPath("/m/Cut.mov"));
    ScriptObject value;
    const std::string log =
        consoleLines([&] { value = objectValue(Descriptor::atomic(kTypeBookmarkData, bookmark)); });
    ASSERT_NE(value.data(), nullptr);
    EXPECT_EQ(*value.data(), bookmark);
    EXPECT_EQ(countOf(log, "Creating NSData for AE desc type bmrk."), 1u) << log;
    EXPECT_EQ(countOf(log, "\n"), 1u) << log;

    // Control bytes of a code never reach the log.
    const std::string odd = consoleLines([] { objectValue(Descriptor::atomic(0x0A6F6B00, {1})); });
    EXPECT_NE(odd.find("type ?ok?."), std::string::npos) << odd;
}

// A log line of a command's descriptors has a bound, however large an item is, and
// within the bound it reads as the whole rendering does.
TEST(Describe, ACappedRenderingIsThePrefixOfTheWholeOne) {
    Descriptor list = Descriptor::list();
    list.append(Descriptor::text("Cut"));
    list.append(Descriptor::text(std::string(8 * 1024 * 1024, 'a')));
    list.append(Descriptor::int32(7));
    const std::string capped = list.describe(4096);
    EXPECT_LE(capped.size(), 4096u + 3);
    EXPECT_TRUE(capped.ends_with("...")) << capped.substr(0, 64);
    EXPECT_EQ(list.describe().substr(0, 4096), capped.substr(0, 4096));
    EXPECT_EQ(Descriptor::int32(7).describe(4096), Descriptor::int32(7).describe());
}

TEST(ObjectValue, ListsAndRecordsConvertDeepAndBack) {
    Descriptor inner = userFields({Descriptor::text("k"), Descriptor::int32(1)});
    Descriptor list = Descriptor::list();
    list.append(Descriptor::text("a"));
    list.append(inner);
    list.append(descriptorWithURL(FileURL::fromPath("/tmp/x.mov")));
    list.append(Descriptor::list());
    const ScriptObject value = objectValue(list);
    ASSERT_NE(value.list(), nullptr);
    ASSERT_EQ(value.list()->size(), 4u);
    EXPECT_EQ((*value.list())[1].find("k")->integer() != nullptr, true);
    EXPECT_EQ(*(*value.list())[2].url(), FileURL::fromPath("/tmp/x.mov"));
    EXPECT_TRUE((*value.list())[3].list()->empty());

    // To a descriptor: lists stay lists, tables become user records, numbers text.
    const Descriptor back = descriptorWithObject(value);
    ASSERT_EQ(back.count(), 4u);
    EXPECT_EQ(*back.at(1), Descriptor::text("a"));
    EXPECT_EQ(*back.at(2)->field(kKeyUserFields)->at(2), Descriptor::text("1"));
    EXPECT_EQ(back.at(3)->type(), kTypeFileURL);
    EXPECT_EQ(descriptorWithObject(ScriptObject(int64_t{-3})), Descriptor::text("-3"));
    EXPECT_EQ(userListWithDescriptor(Descriptor::text("x")).size(), 0u);
}

TEST(FileURLs, RoundTripThroughFurlAndRefuseOtherTexts) {
    for (const char* path :
         {"/tmp/My Movie.mov", "/Users/é/Ångström #1?.fcpxml", "/a%20b", "/folder/with\ttab"}) {
        const FileURL url = FileURL::fromPath(path);
        const Descriptor d = descriptorWithURL(url);
        EXPECT_EQ(d.type(), kTypeFileURL);
        const std::string text(d.data().begin(), d.data().end());
        EXPECT_EQ(text.find_first_of(" \t\n"), std::string::npos) << text;
        const auto back = urlValue(d);
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, url);
        EXPECT_EQ(back->path(), path);
    }
    const FileURL folder = FileURL::fromPath("/tmp/out", true);
    EXPECT_EQ(folder.absoluteString(), "file:///tmp/out/");
    EXPECT_EQ(*urlValue(descriptorWithURL(folder)), folder);

    EXPECT_FALSE(urlValue(Descriptor::text("file:///tmp/a.mov")));
    for (const char* text : {"http://host/a.mov", "file://elsewhere/a.mov", "file:///a b.mov",
                             "file:///a%zz", "file:///a%00b", "file:relative", ""}) {
        EXPECT_FALSE(
            urlValue(Descriptor::atomic(kTypeFileURL, base::Data(text, text + strlen(text)))))
            << text;
    }
    EXPECT_TRUE(urlValue(
        Descriptor::atomic(kTypeFileURL, base::Data{'f', 'i', 'l', 'e', ':', '/', '/', 'l', 'o',
                                                    'c', 'a', 'l', 'h', 'o', 's', 't', '/', 'a'})));
}

TEST(Bookmarks, NameTheirFileAndRefuseOtherData) {
    const FileURL url = FileURL::fromPath("/tmp/Untitled.mov");
    EXPECT_EQ(bookmark::resolve(bookmark::create(url)), url);
    const auto text = [](const std::string& s) { return base::Data(s.begin(), s.end()); };
    EXPECT_EQ(bookmark::resolve(text("QVBK 7\nurl file:///x.mov\nmore later\n")),
              FileURL::fromPath("/x.mov"));
    for (const char* bad :
         {"", "QVBK 0\nurl file:///x\n", "QVBK 1\nurl file:///x", "QVBK x\nurl file:///x\n",
          "QVBX 1\nurl file:///x\n", "QVBK 1\npath /x\n"}) {
        EXPECT_FALSE(bookmark::resolve(text(bad))) << bad;
    }
    std::string huge = "QVBK 1\nurl file:///" + std::string(bookmark::kMaxSize, 'a') + "\n";
    EXPECT_FALSE(bookmark::resolve(text(huge)));
}

}  // namespace
}  // namespace platform::scripting
