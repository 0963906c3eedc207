#include "support/OWXMLParser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/xml/Document.h"
#include "support/OWLog.h"
#include "tests/support/LogSandbox.h"

namespace {

using platform::xml::Document;
using Node = OWXMLParser::Node;

Document parse(std::string_view text) {
    auto parsed = Document::parse(text);
    EXPECT_TRUE(parsed.document) << parsed.error;
    return *parsed.document;
}

std::vector<std::string> values(const std::vector<Node>& nodes) {
    std::vector<std::string> out;
    for (const Node& n : nodes) {
        out.push_back(n.name() + ":" + n.stringValue().value_or("?"));
    }
    return out;
}

// Gives the log a private home and reads back the lines written there.
class LoggedTest : public testing::Test {
  protected:
    void SetUp() override {
        OWLog::createNewLog("OWXMLParserTest");
        OWLog::finishWriting();
        skip_ = lines().size();
    }
    void TearDown() override { OWLog::finishWriting(); }
    // Messages logged since SetUp, without their date prefix.
    std::vector<std::string> logged() {
        OWLog::finishWriting();
        auto all = lines();
        std::vector<std::string> messages;
        for (size_t i = skip_; i < all.size(); ++i) {
            const auto dash = all[i].find(" - ");
            messages.push_back(dash == std::string::npos ? all[i] : all[i].substr(dash + 3));
        }
        return messages;
    }

  private:
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        auto logs = OWLog::availableLogs();
        if (logs.empty()) {
            return out;
        }
        std::ifstream in(logs.front());
        std::string line;
        while (std::getline(in, line)) {
            out.push_back(line);
        }
        return out;
    }
    testsupport::LogSandbox sandbox_;
    size_t skip_ = 0;
};

constexpr const char* kLibrary = R"(<?xml version="1.0"?>
<library>
    <event id="ev%201">
        <name>My%20Event</name>
        <uuid>U-1</uuid>
        <clip id="c%E9">
            <name>caf%C3%A9</name>
            <clip id="inner"><name>Inner</name></clip>
        </clip>
        <clip id="plain%2"/>
        <gap><meta><name>Deep%20Name</name></meta></gap>
    </event>
    <event id="e2"/>
</library>
)";

using OWXMLParserQueries = LoggedTest;

TEST_F(OWXMLParserQueries, NoMatchGivesNothing) {
    Document doc = parse(kLibrary);
    Node root = doc.rootElement();
    EXPECT_FALSE(OWXMLParser::stringValueForQuery("./missing", root));
    EXPECT_FALSE(OWXMLParser::stringValuesForQuery("./missing", root));
    auto nodes = OWXMLParser::nodesForQuery("./missing", root);
    ASSERT_TRUE(nodes);
    EXPECT_TRUE(nodes->empty());
    EXPECT_FALSE(OWXMLParser::nodeForQuery("./missing", root));
    EXPECT_TRUE(logged().empty());
}

TEST_F(OWXMLParserQueries, BadQueriesAreLoggedOnlyWhereSaid) {
    Document doc = parse(kLibrary);
    Node root = doc.rootElement();
    EXPECT_FALSE(OWXMLParser::stringValueForQuery("./event[", root));
    EXPECT_FALSE(OWXMLParser::stringValuesForQuery("./event[", root));
    EXPECT_TRUE(OWXMLParser::queryNodes({root}, "./event[").empty());
    EXPECT_TRUE(logged().empty());

    EXPECT_FALSE(OWXMLParser::nodesForQuery("./event[", root));
    auto lines = logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("XML parsing error: ", 0), 0u) << lines[0];

    // One line per failing query; the good ones still count.
    auto both = OWXMLParser::node(root, std::vector<std::string>{"./a[", "./event", "./b["});
    EXPECT_EQ(both.size(), 2u);
    EXPECT_EQ(logged().size(), 3u);
}

TEST_F(OWXMLParserQueries, ValuesComeInDocumentOrder) {
    Document doc = parse(kLibrary);
    Node root = doc.rootElement();
    auto ids = OWXMLParser::stringValuesForQuery(".//clip/@id", root);
    ASSERT_TRUE(ids);
    EXPECT_EQ(*ids, (std::vector<std::string>{"c%E9", "inner", "plain%2"}));
    EXPECT_EQ(OWXMLParser::stringValueForQuery(".//clip/@id", root), "c%E9");
    // The step unions of FCPXML queries work through every operation.
    auto firsts = OWXMLParser::nodesForQuery("//(gap[1] | clip[1])", doc.documentNode());
    ASSERT_TRUE(firsts);
    EXPECT_EQ(firsts->size(), 3u);  // the first clip of the event and of the outer clip
    EXPECT_EQ(OWXMLParser::nodeForQuery("//(gap[1] | clip[1])", root).name(), "clip");
}

TEST_F(OWXMLParserQueries, UnionOfQueriesKeepsFirstPlaces) {
    Document doc = parse(kLibrary);
    Node event = doc.rootElement().children()[0];
    auto nodes = OWXMLParser::node(event, std::vector<std::string>{"./gap", ".//clip", "./clip"});
    EXPECT_EQ(values(nodes).size(), 4u);
    EXPECT_EQ(nodes[0].name(), "gap");
    EXPECT_EQ(OWXMLParser::stringValueForQuery("./@id", nodes[1]), "c%E9");
    EXPECT_EQ(OWXMLParser::stringValueForQuery("./@id", nodes[2]), "inner");
    EXPECT_EQ(OWXMLParser::stringValueForQuery("./@id", nodes[3]), "plain%2");
    EXPECT_TRUE(OWXMLParser::node(event, std::vector<std::string>{}).empty());

    // queryNodes keeps duplicates and gives nothing for no nodes.
    auto clips = OWXMLParser::nodesForQuery(".//clip", event).value();
    EXPECT_EQ(OWXMLParser::queryNodes(clips, "./ancestor::event").size(), 3u);
    EXPECT_TRUE(OWXMLParser::queryNodes({}, "//event").empty());
}

TEST_F(OWXMLParserQueries, EscapingFollowsItsRules) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"a &amp; b", "a &amp; b"},
        {"a & b", "a &amp; b"},
        {"a&", "a&amp;"},
        {"x&amp", "x&amp;amp"},  // fewer than five units left
        {"a\rb", "a&#13;b"},
        {"caf\xC3\xA9", "caf&#233;"},
        {"\xC2\xA0", "&#160;"},
        {"\xC2\x9F", "\xC2\x9F"},                  // 159 is copied
        {"\xF0\x9F\x98\x80", "&#55357;&#56832;"},  // two UTF-16 units
        {"\x14 stays", "\x14 stays"},
        {"./a[@b='1']", "./a[@b='1']"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OWXMLParser::escapeQueryString(c.in), c.out) << c.in;
    }
    EXPECT_TRUE(logged().empty());
    EXPECT_EQ(OWXMLParser::escapeQueryString("a\tb\nc\x13"), "abc");
    auto lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind("Stripped character", 0), 0u) << line;
    }
}

TEST_F(OWXMLParserQueries, NamesUuidsAndIds) {
    Document doc = parse(kLibrary);
    Node event = doc.rootElement().children()[0];
    auto clips = OWXMLParser::nodesForQuery("./clip", event).value();
    Node gap = OWXMLParser::nodeForQuery("./gap", event);
    Node second = doc.rootElement().children()[1];

    EXPECT_EQ(OWXMLParser::nameForNode(event), "My Event");
    EXPECT_EQ(OWXMLParser::nameForNode(clips[0]), "caf%C3%A9");  // not ASCII: raw
    EXPECT_EQ(OWXMLParser::nameForNode(gap), "Deep Name");
    EXPECT_FALSE(OWXMLParser::nameForNode(gap, true));
    EXPECT_EQ(OWXMLParser::nameForNode(clips[1]), "plain%2");  // id fallback, raw
    EXPECT_EQ(OWXMLParser::nameForNode(second), "e2");
    EXPECT_FALSE(OWXMLParser::nameForNode(doc.rootElement().evaluate("./event/name").nodes[0]));

    EXPECT_EQ(OWXMLParser::uuidForNode(event), "U-1");
    EXPECT_EQ(OWXMLParser::uuidForNode(doc.rootElement()), "U-1");
    EXPECT_FALSE(OWXMLParser::uuidForNode(doc.rootElement(), true));
    EXPECT_FALSE(OWXMLParser::uuidForNode(second));

    EXPECT_EQ(OWXMLParser::idAttributeForNode(event), "ev 1");
    EXPECT_FALSE(OWXMLParser::idAttributeForNode(clips[0]));  // %E9 is not ASCII
    EXPECT_FALSE(OWXMLParser::idAttributeForNode(clips[1]));  // malformed escape
    EXPECT_FALSE(OWXMLParser::idAttributeForNode(gap));
    EXPECT_EQ(OWXMLParser::percentUnescape("caf\xC3\xA9%20%7e"), "caf\xC3\xA9 ~");
    EXPECT_FALSE(OWXMLParser::percentUnescape("%zz"));
    EXPECT_FALSE(OWXMLParser::percentUnescape("%8"));
}

TEST(OWXMLParserPaths, FilenamesFromURLTexts) {
    struct Case {
        const char* in;
        std::optional<std::string> out;
    } cases[] = {
        {"file:///Volumes/My%20Disk/a.mov", "/Volumes/My Disk/a.mov"},
        {"file://localhost/a/b/", "/a/b"},
        {"file:///", "/"},
        {"http://host:8080/p/q.mov?x=1#f", "/p/q.mov"},
        {"relative/path.mov", "relative/path.mov"},
        {"file:///caf%C3%A9.mov", "/caf\xC3\xA9.mov"},
        {"has space.mov", std::nullopt},
        {"file:///bad%2", std::nullopt},
        {"caf\xC3\xA9", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OWXMLParser::filenameFromPathURLString(c.in), c.out) << c.in;
    }
    EXPECT_FALSE(OWXMLParser::filenameFromPathURLString(std::nullopt));
}

TEST(OWXMLParserWalks, AncestorsAndSiblings) {
    Document doc =
        parse("<a>\n  <b>\n    <c>\n      <d/>\n    </c>\n    <e/>\n  </b>\n  <f><g/></f>\n</a>\n");
    Node d = doc.rootElement().evaluate(".//d").nodes.at(0);
    EXPECT_EQ(OWXMLParser::node(d, std::string("b")).name(), "b");
    EXPECT_EQ(OWXMLParser::node(d, std::string("a")).name(), "a");
    EXPECT_FALSE(OWXMLParser::node(d, std::string("a"), {"c"}));  // a limit stands below
    EXPECT_EQ(OWXMLParser::node(d, std::string("c"), {"b"}).name(), "c");
    EXPECT_FALSE(OWXMLParser::node(d, std::string("d")));  // starts at the parent
    EXPECT_FALSE(OWXMLParser::node(d, std::string("")));   // the document has no name

    EXPECT_EQ(OWXMLParser::nextSiblingForNode(d).name(), "e");  // via the parent
    Node e = OWXMLParser::nextSiblingForNode(d);
    EXPECT_EQ(OWXMLParser::nextSiblingForNode(e).name(), "f");
    Node g = doc.rootElement().evaluate(".//g").nodes.at(0);
    EXPECT_FALSE(OWXMLParser::nextSiblingForNode(g));
    EXPECT_FALSE(OWXMLParser::nextSiblingForNode(Node()));
}

// A track of an editing-interchange document: clips that start or end inside a
// transition say so with -1.
constexpr const char* kTrack = R"(<track>
    <clipitem id="A"><start>10</start><end>-1</end></clipitem>
    <transitionitem id="T1"><start>40</start><end>60</end></transitionitem>
    <clipitem id="B"><start>-1</start><end>-1</end></clipitem>
    <transitionitem id="T2"><start>70</start><end>80</end></transitionitem>
    <clipitem id="C"><start>-1</start><end>90</end></clipitem>
    <clipitem id="D"><start>95</start><end>120</end></clipitem>
    <transitionitem id="T3"><start>120</start><end>130</end></transitionitem>
    <clipitem id="E"><start>130</start><end>-1</end></clipitem>
</track>)";

std::string chainOf(const std::vector<Node>& nodes) {
    std::string ids;
    for (const Node& n : nodes) {
        ids += OWXMLParser::stringValueForQuery("./@id", n).value_or("?");
    }
    return ids;
}

TEST(OWXMLParserClips, ChainsFollowTransitions) {
    Document doc = parse(kTrack);
    auto clip = [&](const char* id) {
        return OWXMLParser::nodeForQuery(std::string("./clipitem[@id='") + id + "']",
                                         doc.rootElement());
    };
    int64_t start = 7, end = 7;
    EXPECT_EQ(chainOf(OWXMLParser::affectedNodesForClip(clip("B"), &start, &end)), "AT1BT2C");
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 90);

    EXPECT_EQ(chainOf(OWXMLParser::affectedNodesForClip(clip("A"), &start, &end)), "AT1BT2C");
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 90);

    EXPECT_EQ(chainOf(OWXMLParser::affectedNodesForClip(clip("D"), &start, &end)), "D");
    EXPECT_EQ(start, 95);
    EXPECT_EQ(end, 120);

    // The walk runs out of siblings while still inside a transition.
    EXPECT_EQ(chainOf(OWXMLParser::affectedNodesForClip(clip("E"), &start, &end)), "E");
    EXPECT_EQ(start, 130);
    EXPECT_EQ(end, -1);
    EXPECT_EQ(chainOf(OWXMLParser::affectedNodesForClip(clip("C"))), "AT1BT2C");
}

TEST(OWXMLParserClips, TransitionsWithoutAJoinedNeighbourEndTheWalk) {
    Document doc = parse(
        "<track><clipitem id='A'><start>0</start><end>5</end></clipitem>"
        "<transitionitem id='T'><start>5</start><end>9</end></transitionitem>"
        "<clipitem id='B'><start>-1</start></clipitem></track>");
    int64_t start = 7, end = 7;
    Node b = OWXMLParser::nodeForQuery("./clipitem[@id='B']", doc.rootElement());
    // A does not end with -1, so the transition's own start closes the range.
    EXPECT_EQ(chainOf(OWXMLParser::affectedNodesForClip(b, &start, &end)), "TB");
    EXPECT_EQ(start, 5);
    EXPECT_EQ(end, 0);  // no end text at all
}

}  // namespace
