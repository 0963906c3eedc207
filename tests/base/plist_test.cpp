#include "base/PropertyList.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <vector>

#include "tests/helpers/BinaryPlist.h"
#include "tests/helpers/TempDir.h"

extern char** environ;

namespace base {
namespace {

using testsupport::readFile;
using testsupport::TempDir;

// Every kind of value the format carries, with an order that is not alphabetical.
Value sample() {
    Dictionary nested{{"z", 1}, {"a", Value(Array{})}, {"m", Value(Dictionary{})}};
    return Value(Dictionary{
        {"zebra", "last letter first"},
        {"int", 42},
        {"negative", -7},
        {"big", static_cast<long long>(std::numeric_limits<int64_t>::max())},
        {"small", static_cast<long long>(std::numeric_limits<int64_t>::min())},
        {"real", 0.1},
        {"huge", 1.5e300},
        {"yes", true},
        {"no", false},
        {"text", "caf\xc3\xa9 <&> \"quoted\" \xf0\x9f\x98\x80\ttab\nline"},
        {"empty", ""},
        {"data", Value(Data{0, 1, 2, 0xfe, 0xff})},
        {"date", Value(Date{1700000000.0})},
        {"before2001", Value(Date{946684800.0})},
        {"list", Value(Array{1, "two", 3.5, Value(Array{Value(Dictionary{{"k", "v"}})})})},
        {"nested", Value(nested)},
        {"", "empty key"},
    });
}

std::vector<std::string> keysOf(const Value& value) {
    return value.dictionary()->keys();
}

TEST(PropertyListTest, XmlRoundTripKeepsValuesAndOrder) {
    Error error("", 0);
    std::optional<std::string> xml = PropertyList::toXml(sample(), &error);
    ASSERT_TRUE(xml) << error.localizedDescription();
    EXPECT_TRUE(xml->starts_with("<?xml"));
    std::optional<Value> back = PropertyList::read(*xml, &error);
    ASSERT_TRUE(back) << error.localizedDescription();
    EXPECT_EQ(*back, sample());
    EXPECT_EQ(keysOf(*back), keysOf(sample()));
    EXPECT_EQ(keysOf((*back)["nested"]), (std::vector<std::string>{"z", "a", "m"}));
    EXPECT_TRUE((*back)["int"].isNumber());
    EXPECT_TRUE((*back)["yes"].isBool());
}

TEST(PropertyListTest, TopLevelValuesOtherThanDictionaries) {
    for (const Value& value : {Value(Array{1, 2}), Value("text"), Value(7), Value(true)}) {
        std::optional<std::string> xml = PropertyList::toXml(value);
        ASSERT_TRUE(xml);
        EXPECT_EQ(PropertyList::read(*xml), value);
    }
}

TEST(PropertyListTest, DatesAreWrittenToTheWholeSecond) {
    std::optional<std::string> xml = PropertyList::toXml(Value(Date{1700000000.75}));
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("<date>2023-11-14T22:13:20Z</date>"), std::string::npos) << *xml;
}

TEST(PropertyListTest, NonFiniteRealsRoundTrip) {
    std::optional<std::string> xml =
        PropertyList::toXml(Value(Array{Value(std::numeric_limits<double>::infinity()),
                                        Value(-std::numeric_limits<double>::infinity())}));
    ASSERT_TRUE(xml);
    std::optional<Value> back = PropertyList::read(*xml);
    ASSERT_TRUE(back);
    EXPECT_EQ((*back)[0].doubleValue(), std::numeric_limits<double>::infinity());
    EXPECT_EQ((*back)[1].doubleValue(), -std::numeric_limits<double>::infinity());
}

Value nestedArrays(size_t depth) {
    Value value = Value(Array{});
    for (size_t i = 0; i < depth; ++i) {
        value = Value(Array{value});
    }
    return value;
}

TEST(PropertyListTest, RefusesValuesTheFormatCannotHold) {
    const Value invalid[] = {
        Value(),
        Value(Dictionary{{"a", Value()}}),
        Value("bad \xff utf-8"),
        Value("control \x01 character"),
        Value(std::string("nul \0 inside", 12)),
        Value("non-character \xef\xbf\xbe"),
        Value(Dictionary{{"key\x02", 1}}),
        Value(static_cast<unsigned long long>(std::numeric_limits<uint64_t>::max())),
        Value(static_cast<unsigned long long>(1ull << 63)),
        Value(Date{-3e9}),
        Value(Date{5e9}),
        nestedArrays(PropertyList::kMaxDepth + 1),
    };
    for (const Value& value : invalid) {
        Error error("", 0);
        EXPECT_FALSE(PropertyList::toXml(value, &error)) << value.describe().substr(0, 80);
        EXPECT_EQ(error.domain(), PropertyList::kErrorDomain);
        EXPECT_EQ(error.code(), PropertyList::kInvalidValue);
    }
    EXPECT_TRUE(PropertyList::toXml(nestedArrays(PropertyList::kMaxDepth - 1)));
}

TEST(PropertyListTest, RejectsBadInput) {
    std::string deep;
    for (int i = 0; i < 2000; ++i) {
        deep += "<array>";
    }
    for (int i = 0; i < 2000; ++i) {
        deep += "</array>";
    }
    const std::string inputs[] = {
        "",
        "garbage",
        "<?xml version=\"1.0\"?><plist><dict><key>a</key>",
        "<?xml version=\"1.0\"?><plist><string>caf\xe9</string></plist>",
        "<?xml version=\"1.0\"?><plist version=\"1.0\">" + deep + "</plist>",
        std::string("bplist00\0\0\0\0\0\0\0\0", 16),
    };
    for (const std::string& input : inputs) {
        Error error("", 0);
        EXPECT_FALSE(PropertyList::read(input, &error)) << input.substr(0, 60);
        EXPECT_EQ(error.code(), PropertyList::kCorrupt) << input.substr(0, 60);
    }
}

// An array of `times` references to one data object of `bytes` bytes.
std::string sharedData(uint16_t times, uint32_t bytes) {
    std::string array = "\xaf\x11" + testsupport::plistReference(times);
    for (uint16_t i = 0; i < times; ++i) {
        array += testsupport::plistReference(1);
    }
    const std::string data =
        "\x4f\x12" + testsupport::bigEndian(bytes, 4) + std::string(bytes, 'x');
    return testsupport::binaryPlist({array, data});
}

// For a child that must not take the machine's memory.
void limitAddressSpace(size_t bytes) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (The sanitizers reserve terabytes of address space for themselves.)
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
#else
    (void)bytes;
#endif
}

// A binary list that refers to one object from many places expands, in libplist, to a
// tree with that object built again for each reference. Those that would expand beyond
// what their bytes could hold written out are refused before libplist sees them; run
// under an address-space limit, so that a list that got through fails rather than
// taking the machine's memory.
TEST(PropertyListTest, SharedObjectsCannotExpandBeyondTheirBytes) {
    const std::string doubling26 = testsupport::doublingArraysPlist(26);
    ASSERT_LT(doubling26.size(), 300u);
    const std::string inputs[] = {
        doubling26,
        testsupport::doublingArraysPlist(20),
        // 40 MB of data from 64 KiB: more than a file read can hold.
        sharedData(600, 65536),
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.size());
        EXPECT_EXIT(
            {
                limitAddressSpace(size_t{1} << 30);
                Error error("", 0);
                const bool refused =
                    !PropertyList::read(input, &error) && error.code() == PropertyList::kCorrupt;
                std::_Exit(refused ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }

    // Sharing within the bytes is read as ever: a few levels of doubling, and many
    // references to one short text (as writers share equal strings).
    const std::optional<Value> doubled = PropertyList::read(testsupport::doublingArraysPlist(3));
    ASSERT_TRUE(doubled);
    EXPECT_EQ(*doubled, Value(Array{Value(Array{Value(Array{}), Value(Array{})}),
                                    Value(Array{Value(Array{}), Value(Array{})})}));
    const std::optional<Value> repeated = PropertyList::read(sharedData(200, 10));
    ASSERT_TRUE(repeated);
    ASSERT_TRUE(repeated->array());
    EXPECT_EQ(repeated->array()->size(), 200u);
    EXPECT_EQ(repeated->array()->back(), Value(Data(10, 'x')));
}

// A binary list of one dictionary {key: true}, where `keyObject` is the key's string
// object (marker byte and characters).
std::string binaryDictionary(const std::string& keyObject) {
    using testsupport::plistReference;
    // A dictionary of one entry: key object 1, value object 2 (true).
    return testsupport::binaryPlist(
        {"\xd1" + plistReference(1) + plistReference(2), keyObject, "\x09"});
}

TEST(PropertyListTest, ReadsBinaryListsAndRefusesKeysWithNul) {
    std::optional<Value> plain =
        PropertyList::read(binaryDictionary("\x53"
                                            "axb"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, Value(Dictionary{{"axb", true}}));
    std::optional<Value> wide =
        PropertyList::read(binaryDictionary(std::string("\x62\0a\0\xe9", 5)));
    ASSERT_TRUE(wide);
    EXPECT_EQ(*wide, Value(Dictionary{{"a\xc3\xa9", true}}));

    // libplist would stop the whole process on any of these.
    for (const std::string& key : {std::string("\x53"
                                               "a\0b",
                                               4),
                                   std::string("\x62\0a\0\0", 5),
                                   std::string("\x5f\x10\x03"
                                               "a\0b",
                                               6)}) {
        Error error("", 0);
        EXPECT_FALSE(PropertyList::read(binaryDictionary(key), &error));
        EXPECT_EQ(error.code(), PropertyList::kCorrupt);
    }
}

TEST(PropertyListTest, WritesFilesOwnerOnlyAndAtomically) {
    TempDir dir;
    std::string path = dir.write("prefs.plist", "old contents");
    chmod(path.c_str(), 0644);
    ASSERT_TRUE(PropertyList::writeFile(sample(), path));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(PropertyList::readFile(path), sample());
    // Nothing is left beside the file.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);

    // A value that cannot be written leaves the old file untouched.
    std::string before = readFile(path);
    Error error("", 0);
    EXPECT_FALSE(PropertyList::writeFile(Value(), path, &error));
    EXPECT_EQ(readFile(path), before);

    EXPECT_FALSE(PropertyList::writeFile(sample(), dir.file("missing/x.plist"), &error));
    EXPECT_EQ(error.code(), PropertyList::kWriteFailed);
}

TEST(PropertyListTest, ReadFileReportsWhyItFailed) {
    TempDir dir;
    Error error("", 0);
    EXPECT_FALSE(PropertyList::readFile(dir.file("none.plist"), &error));
    EXPECT_EQ(error.code(), PropertyList::kFileNotFound);
    EXPECT_FALSE(PropertyList::readFile(dir.path(), &error));
    EXPECT_EQ(error.code(), PropertyList::kReadFailed);
    EXPECT_FALSE(PropertyList::readFile(dir.write("bad.plist", "not a plist"), &error));
    EXPECT_EQ(error.code(), PropertyList::kCorrupt);

    std::string big = dir.file("big.plist");
    ASSERT_EQ(truncate(dir.write("big.plist", "").c_str(),
                       static_cast<off_t>(PropertyList::kMaxFileSize + 1)),
              0);
    EXPECT_FALSE(PropertyList::readFile(big, &error));
    EXPECT_EQ(error.code(), PropertyList::kTooLarge);
}

// ---- cross-checks with plistutil, an independent reader and writer ----

std::string findPlistutil() {
    for (const char* dir : {"/usr/bin", "/usr/local/bin"}) {
        std::string path = std::string(dir) + "/plistutil";
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

int run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PlistutilTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tool_ = findPlistutil();
        if (tool_.empty()) {
            const char* ci = std::getenv("CI");
            if (ci && std::string(ci) == "true") {
                FAIL() << "plistutil (libplist-utils) is missing";
            }
            GTEST_SKIP() << "plistutil (libplist-utils) is not installed";
        }
    }
    // Converts `in` to `format` ("xml" or "bin") with plistutil.
    std::string convert(const std::string& in, const std::string& format) {
        std::string out = in + "." + format;
        EXPECT_EQ(run({tool_, "-i", in, "-o", out, "-f", format}), 0) << in;
        return out;
    }
    std::string tool_;
    TempDir dir_;
};

TEST_F(PlistutilTest, AcceptsWhatWeWriteAndWeReadWhatItWrites) {
    std::string ours = dir_.file("ours.plist");
    ASSERT_TRUE(PropertyList::writeFile(sample(), ours));
    std::string binary = convert(ours, "bin");
    ASSERT_TRUE(readFile(binary).starts_with("bplist00"));
    EXPECT_EQ(PropertyList::readFile(binary), sample());
    std::string xml = convert(binary, "xml");
    std::optional<Value> back = PropertyList::readFile(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, sample());
    EXPECT_EQ(keysOf(*back), keysOf(sample()));
}

TEST_F(PlistutilTest, ReadsHandWrittenFilesConvertedByPlistutil) {
    std::string source = dir_.write("hand.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>com.oxburyworks.QuorvPluginHub</string>
	<key>Count</key>
	<integer>-12</integer>
	<key>Ratio</key>
	<real>2.5</real>
	<key>Flag</key>
	<true/>
	<key>Blob</key>
	<data>AAEC/w==</data>
	<key>When</key>
	<date>2020-02-29T12:00:00Z</date>
	<key>Items</key>
	<array><string>a &amp; b</string><false/></array>
</dict>
</plist>
)");
    Value expected(Dictionary{
        {"CFBundleIdentifier", "com.oxburyworks.QuorvPluginHub"},
        {"Count", -12},
        {"Ratio", 2.5},
        {"Flag", true},
        {"Blob", Value(Data{0, 1, 2, 0xff})},
        {"When", Value(Date{1582977600.0})},
        {"Items", Value(Array{"a & b", false})},
    });
    for (std::string format : {"bin", "xml"}) {
        std::optional<Value> read = PropertyList::readFile(convert(source, format));
        ASSERT_TRUE(read) << format;
        EXPECT_EQ(*read, expected) << format;
        EXPECT_EQ(keysOf(*read), keysOf(expected)) << format;
    }
}

std::string repeated(std::string_view text, size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

// The cap holds exactly, in both forms, before libplist sees the bytes: levels hidden
// from the scan behind comments, character data or quotes do not get through, and a
// binary list that refers to itself is refused rather than followed.
TEST_F(PlistutilTest, NestingIsCappedInBothFormsBeforeTheParser) {
    const std::string atCap = dir_.file("cap.plist");
    ASSERT_TRUE(PropertyList::writeFile(nestedArrays(PropertyList::kMaxDepth - 1), atCap));
    EXPECT_TRUE(PropertyList::readFile(atCap));
    EXPECT_TRUE(PropertyList::readFile(convert(atCap, "bin")));

    const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    const size_t over = PropertyList::kMaxDepth + 1;
    const std::string tooDeep = dir_.write(
        "deep.plist", head + repeated("<array>", over) + repeated("</array>", over) + "</plist>");
    // One array whose only item is itself.
    const std::string selfReferring = std::string("bplist00\xa1\x00\x08", 11) +
                                      std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') +
                                      "\x01" + std::string(8, '\0') + std::string(7, '\0') + "\x0a";
    const std::string inputs[] = {
        readFile(tooDeep),
        readFile(convert(tooDeep, "bin")),
        head + repeated("<array><!-- </array> -->", over) + "</plist>",
        head + repeated("<array><![CDATA[</array>]]>", over) + "</plist>",
        head + repeated("<array a='/>'>", over) + "</plist>",
        head + repeated("<array><?x </array> ?>", over) + "</plist>",
        selfReferring,
    };
    for (const std::string& input : inputs) {
        Error error("", 0);
        EXPECT_FALSE(PropertyList::read(input, &error)) << input.substr(0, 80);
        EXPECT_EQ(error.code(), PropertyList::kCorrupt) << input.substr(0, 80);
    }
}

}  // namespace
}  // namespace base
