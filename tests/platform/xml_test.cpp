#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/xml/Document.h"
#include "platform/xml/Node.h"
#include "platform/xml/XPathRewriter.h"
#include "tests/helpers/RunTool.h"

namespace {

using platform::xml::Document;
using platform::xml::Node;
using platform::xml::XPathRewriter;
using testsupport::runTool;

Document parseOrDie(std::string_view text) {
    auto parsed = Document::parse(text);
    EXPECT_TRUE(parsed.document.has_value()) << parsed.error;
    return *parsed.document;
}

std::vector<std::string> names(const std::vector<Node>& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes) {
        out.push_back(n.name() + "=" + n.stringValue().value_or("?"));
    }
    return out;
}

bool haveTool(const char* name) {
    return runTool({"sh", "-c", std::string("command -v ") + name}).status == 0;
}

void skipOrFailWithout(const char* tool) {
    if (haveTool(tool)) {
        return;
    }
    const char* ci = std::getenv("CI");
    if (ci != nullptr && std::string(ci) == "true") {
        FAIL() << tool << " is required in CI";
    }
    GTEST_SKIP() << tool << " not installed";
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "xmltest-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string write(const std::string& name, const std::string& text) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// ---------------------------------------------------------------- rewriter

TEST(XPathRewriter, RewritesStepUnionsIntoUnionsOfPaths) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"//(clip[1] | mc-clip[1] | ref-clip[1] | sync-clip[1] | asset-clip[1])",
         "(//clip[1] | //mc-clip[1] | //ref-clip[1] | //sync-clip[1] | //asset-clip[1])"},
        {"./a/(b | c)/d", "(./a/b/d | ./a/c/d)"},
        {"./spine[1]//(clip | gap)/marker", "(./spine[1]//clip/marker | ./spine[1]//gap/marker)"},
        {"/(a)", "(/a)"},
        // Predicates and literals holding the special characters stay whole.
        {"a[@x='/(|)']/(b|c[@y=\"|\"])", "(a[@x='/(|)']/b | a[@x='/(|)']/c[@y=\"|\"])"},
        // Only the path holding the union is rewritten, not its neighbours.
        {"x | a/(b|c)", "x | (a/b | a/c)"},
        {"count(a/(b|c)) > 1", "count((a/b | a/c)) > 1"},
        {"e[a/(b|c)]/f", "e[(a/b | a/c)]/f"},
        // A union inside a union, and two unions in one path.
        {"a/(b | c/(d | e))", "(a/b | (a/c/d | a/c/e))"},
        {"a/(b|c)/(d|e)", "((a/b/d | a/b/e) | (a/c/d | a/c/e))"},
        // A filter expression as the start of the path.
        {"(x|y)/(b|c)", "((x|y)/b | (x|y)/c)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XPathRewriter::rewrite(c.in), c.out) << c.in;
    }
}

TEST(XPathRewriter, LeavesEverythingElseAlone) {
    const char* unchanged[] = {
        "",
        "./fcpxml[1]/resources[1]/format/@frameDuration[1]",
        "(a | b)/c",
        "./name[1]/text()",
        "a/(b|c)[1]",        // a predicate on the union has no path-wise form
        "a/(b|c",            // unbalanced
        "a/('unterminated",  // unreadable
        "a/()",
        "a/(b||c)",
        "a div (b|c)",
        "2 * (3)",
        "//*[name() = 'x']/(@y)[1]",
    };
    for (const char* q : unchanged) {
        EXPECT_EQ(XPathRewriter::rewrite(q), q) << q;
    }
}

TEST(XPathRewriter, GivesUpOnExplosiveInput) {
    std::string q = "a";
    for (int i = 0; i < 20; ++i) {
        q += "/(b|c)";
    }
    EXPECT_EQ(XPathRewriter::rewrite(q), q);  // 2^20 paths would be far over the cap
}

// ---------------------------------------------------------------- parsing

TEST(XmlDocument, ParsesAndReportsErrors) {
    auto good = Document::parse("<?xml version=\"1.0\"?><r a=\"1\">t</r>");
    ASSERT_TRUE(good.document);
    EXPECT_EQ(good.document->rootElement().name(), "r");
    EXPECT_EQ(good.document->documentNode().kind(), Node::Kind::Document);

    for (const char* bad : {"", "<r>", "<r></s>", "not xml", "<r a=1/>"}) {
        auto parsed = Document::parse(bad);
        EXPECT_FALSE(parsed.document) << bad;
        EXPECT_FALSE(parsed.error.empty()) << bad;
    }
}

TEST(XmlDocument, RefusesExternalEntitiesAndOversizedInput) {
    TempDir dir;
    const std::string secret = dir.write("secret.txt", "TOPSECRET");
    const std::string doc = "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + secret + "\">]><r>&e;</r>";
    auto parsed = Document::parse(doc);
    if (parsed.document) {
        EXPECT_EQ(parsed.document->rootElement().stringValue()->find("TOPSECRET"),
                  std::string::npos);
        EXPECT_EQ(parsed.document->xmlString().find("TOPSECRET"), std::string::npos);
    }
    const std::string dtd = "<!DOCTYPE r SYSTEM \"file://" + secret + "\"><r/>";
    auto withDtd = Document::parse(dtd);
    ASSERT_TRUE(withDtd.document);
    EXPECT_EQ(withDtd.document->xmlString().find("TOPSECRET"), std::string::npos);

    std::string laughs = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'k'; ++c) {
        laughs += std::string("<!ENTITY ") + c + " \"";
        for (int i = 0; i < 10; ++i) {
            laughs += std::string("&") + static_cast<char>(c - 1) + ";";
        }
        laughs += "\">";
    }
    laughs += "]><r>&k;</r>";
    auto bomb = Document::parse(laughs);
    EXPECT_FALSE(bomb.document);

    std::string huge(Document::kMaxDocumentBytes + 1, ' ');
    EXPECT_FALSE(Document::parse(huge).document);
}

TEST(XmlDocument, ParsesFilesWithinTheCap) {
    TempDir dir;
    auto ok = Document::parseFile(dir.write("a.xml", "<r><x/></r>"));
    ASSERT_TRUE(ok.document);
    EXPECT_EQ(ok.document->rootElement().children().size(), 1u);
    EXPECT_FALSE(Document::parseFile(dir.path() + "/missing.xml").document);
    EXPECT_FALSE(Document::parseFile(dir.path()).document);  // a folder
}

// ---------------------------------------------------------------- nodes

constexpr const char* kIndented = R"(<?xml version="1.0"?>
<!DOCTYPE library>
<library>
    <event name="one">
        <clip id="c1"> padded  text </clip>
        <!-- note -->
        <clip id="c2"/>
    </event>
    <event name="two"/>
</library>
)";

TEST(XmlNode, WalksSkipIndentationButValuesStayExact) {
    Document doc = parseOrDie(kIndented);
    Node root = doc.rootElement();
    auto events = root.children();
    ASSERT_EQ(events.size(), 2u);
    Node c1 = events[0].children()[0];
    EXPECT_EQ(c1.stringValue(), " padded  text ");
    Node comment = c1.nextSibling();
    EXPECT_EQ(comment.kind(), Node::Kind::Comment);
    Node c2 = comment.nextSibling();
    EXPECT_EQ(c2.name(), "clip");
    EXPECT_FALSE(c2.nextSibling());
    EXPECT_EQ(c2.previousSibling(), comment);
    EXPECT_FALSE(c1.previousSibling());
    EXPECT_EQ(events[0].nextSibling(), events[1]);
    // The root's only neighbour is the document type declaration, which is skipped.
    EXPECT_FALSE(root.previousSibling());
    EXPECT_FALSE(root.nextSibling());
    EXPECT_EQ(root.parent().kind(), Node::Kind::Document);
    EXPECT_FALSE(root.parent().parent());
}

TEST(XmlNode, AttributesHaveAParentButNoSiblings) {
    Document doc = parseOrDie("<r><e a=\"1\" b=\"x &amp; y\"/></r>");
    auto attrs = doc.rootElement().evaluate("./e/@*");
    ASSERT_TRUE(attrs.ok());
    ASSERT_EQ(attrs.nodes.size(), 2u);
    EXPECT_EQ(attrs.nodes[0].kind(), Node::Kind::Attribute);
    EXPECT_EQ(attrs.nodes[1].stringValue(), "x & y");
    EXPECT_EQ(attrs.nodes[0].parent().name(), "e");
    EXPECT_FALSE(attrs.nodes[0].nextSibling());
    EXPECT_FALSE(attrs.nodes[1].previousSibling());
}

TEST(XmlNode, NodesKeepTheirDocumentAlive) {
    Node kept;
    {
        Document doc = parseOrDie("<r><x>value</x></r>");
        kept = doc.rootElement().evaluate("./x").nodes.at(0);
    }
    EXPECT_EQ(kept.stringValue(), "value");
    EXPECT_EQ(kept.parent().name(), "r");
}

// ---------------------------------------------------------------- XPath

TEST(XmlXPath, EvaluatesRelativeToTheNode) {
    Document doc = parseOrDie(kIndented);
    Node event = doc.rootElement().children()[0];
    EXPECT_EQ(names(event.evaluate("./clip/@id").nodes),
              (std::vector<std::string>{"id=c1", "id=c2"}));
    EXPECT_EQ(names(event.evaluate("./@name[1]").nodes), (std::vector<std::string>{"name=one"}));
    EXPECT_TRUE(event.evaluate("./missing").ok());
    EXPECT_TRUE(event.evaluate("./missing").nodes.empty());
    // The whole document is reachable from any node.
    EXPECT_EQ(event.evaluate("//event").nodes.size(), 2u);
}

TEST(XmlXPath, StepUnionsGiveDocumentOrder) {
    Document doc = parseOrDie(
        "<s><spine><gap n='1'><marker v='a'/></gap><clip n='2'><marker v='b'/>"
        "<title><marker v='deep'/></title></clip><title n='3'><marker v='c'/></title>"
        "<gap n='4'/></spine></s>");
    Node s = doc.rootElement();
    auto direct = s.evaluate("./spine[1]/(clip | title | gap)/marker/@v");
    ASSERT_TRUE(direct.ok()) << *direct.error;
    EXPECT_EQ(names(direct.nodes), (std::vector<std::string>{"v=a", "v=b", "v=c"}));
    auto anyDepth = s.evaluate("./spine[1]//(clip | title | gap)/marker/@v");
    EXPECT_EQ(names(anyDepth.nodes), (std::vector<std::string>{"v=a", "v=b", "v=deep", "v=c"}));
    auto firsts = s.evaluate("//(title[1] | gap[1])");
    EXPECT_EQ(names(firsts.nodes), (std::vector<std::string>{"gap=", "title=", "title="}));
}

TEST(XmlXPath, ReportsErrors) {
    Document doc = parseOrDie("<r/>");
    using namespace std::string_view_literals;
    for (std::string_view bad :
         {"./["sv, "a/(b|c)[1]"sv, "count(//r)"sv, "unknown-function()"sv, "//r["sv, "r\0b"sv}) {
        auto result = doc.rootElement().evaluate(bad);
        EXPECT_FALSE(result.ok()) << bad;
        EXPECT_TRUE(result.nodes.empty());
    }
    EXPECT_FALSE(Node().evaluate(".").ok());
}

TEST(XmlXPath, CostlyQueriesStop) {
    std::string text = "<r>";
    for (int i = 0; i < 2000; ++i) {
        text += "<a/>";
    }
    text += "</r>";
    Document doc = parseOrDie(text);
    auto result = doc.rootElement().evaluate("//a[count(//a[count(//a) > 0]) > 0]");
    EXPECT_FALSE(result.ok());
}

TEST(XmlXPath, ThreadsWorkOnTheirOwnDocuments) {
    // Error capture is per thread: one thread's failures never show up in another's.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 200; ++i) {
                auto parsed = Document::parse(t % 2 == 0 ? "<r><a/><b/></r>" : "<r><a/>");
                if (t % 2 == 1) {
                    wrong += parsed.document.has_value() || parsed.error.empty() ? 1 : 0;
                    continue;
                }
                Node root = parsed.document->rootElement();
                wrong += root.evaluate("./(a | b)").nodes.size() == 2 ? 0 : 1;
                wrong += root.evaluate("./[").ok() ? 1 : 0;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

TEST(XmlXPath, RewrittenQueriesMatchXmllint) {
    skipOrFailWithout("xmllint");
    TempDir dir;
    const std::string text =
        "<fcpxml><library><event><project><sequence><spine>\n"
        "  <clip name='c'><marker value='m1'/><clip name='inner'><marker "
        "value='m2'/></clip></clip>\n"
        "  <gap name='g'><title name='t'><marker value='m3'/></title></gap>\n"
        "  <ref-clip name='r'><marker value='m4'/></ref-clip>\n"
        "</spine></sequence></project></event></library></fcpxml>\n";
    const std::string file = dir.write("doc.xml", text);
    Document doc = parseOrDie(text);
    const char* queries[] = {
        "//(clip[1] | mc-clip[1] | ref-clip[1] | sync-clip[1] | asset-clip[1])",
        "/fcpxml[1]/library[1]//project[1]/sequence[1]/spine[1]/(clip | ref-clip | gap)/marker",
        "/fcpxml[1]/library[1]//project[1]/sequence[1]/spine[1]//(clip | title | ref-clip)/marker",
        "//(gap | clip)/(title | clip)",
    };
    for (const char* q : queries) {
        // xmllint refuses the original form, and agrees with us on the rewritten one.
        EXPECT_NE(runTool({"xmllint", "--xpath", q, file}).status, 0) << q;
        auto [rc, expected] = runTool({"xmllint", "--xpath", XPathRewriter::rewrite(q), file});
        ASSERT_EQ(rc, 0) << q;
        auto ours = doc.documentNode().evaluate(q);
        ASSERT_TRUE(ours.ok()) << q;
        std::string dumped;
        for (const auto& n : ours.nodes) {
            dumped += n.xmlString() + "\n";
        }
        EXPECT_EQ(dumped, expected) << q;
    }
}

}  // namespace
