// Form bodies byte for byte, and read back by Python's email parser, which
// nobody here wrote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "platform/crypto/Digest.h"
#include "platform/system/ChildProcess.h"
#include "tests/helpers/TempDir.h"
#include "transfer/TXFormBodyWriter.h"

namespace {

using testsupport::TempDir;

// A sink that keeps the body in memory, reading file parts from disk.
struct MemorySink {
    std::string body;
    TXFormBodyWriter::Sink sink() {
        return {[this](std::string_view b) {
                    body.append(b);
                    return true;
                },
                [this](const std::string& path) {
                    std::ifstream in(path, std::ios::binary);
                    if (!in) {
                        return false;
                    }
                    body.append(std::istreambuf_iterator<char>(in), {});
                    return true;
                }};
    }
};

std::string multipart(const std::vector<TXFormField>& fields, const std::vector<TXFormFile>& files,
                      TXStringEncoding encoding = TXUTF8StringEncoding) {
    MemorySink out;
    EXPECT_TRUE(TXFormBodyWriter::writeMultipart(fields, files, "B", encoding, out.sink()));
    return out.body;
}

base::Data bytes(std::string_view s) {
    return base::Data(s.begin(), s.end());
}

TEST(FormURLEncoding, EscapesEverythingButLettersDigitsAndThreeMarks) {
    EXPECT_EQ(TXFormBodyWriter::encodeURL("A B", TXUTF8StringEncoding), "A%20B");
    EXPECT_EQ(TXFormBodyWriter::encodeURL("azAZ09-_.", TXUTF8StringEncoding), "azAZ09-_.");
    EXPECT_EQ(TXFormBodyWriter::encodeURL(":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`", TXUTF8StringEncoding),
              "%3A%2F%3F%23%5B%5D%40%21%24%20%26%27%28%29%2A%2B%2C%3B%3D%22%3C%3E%25%7B%7D%7C%5C%5E"
              "%7E%60");
    EXPECT_EQ(TXFormBodyWriter::encodeURL("\r\n\t", TXUTF8StringEncoding), "%0D%0A%09");
}

TEST(FormURLEncoding, EscapesTheBytesOfTheFormsEncoding) {
    EXPECT_EQ(TXFormBodyWriter::encodeURL("caf\xC3\xA9", TXUTF8StringEncoding), "caf%C3%A9");
    EXPECT_EQ(TXFormBodyWriter::encodeURL("caf\xC3\xA9", TXISOLatin1StringEncoding), "caf%E9");
    EXPECT_EQ(TXFormBodyWriter::encodeURL("caf\xC3\xA9", TXMacOSRomanStringEncoding), "caf%8E");
    // A character with no form in the encoding gives the empty text, never a guess.
    EXPECT_EQ(TXFormBodyWriter::encodeURL("caf\xC3\xA9", TXASCIIStringEncoding), "");
    EXPECT_EQ(TXFormBodyWriter::encodeURL("\xFF", TXUTF8StringEncoding), "");
    EXPECT_EQ(TXFormBodyWriter::encodeURL("x", 99999), "");
}

TEST(FormURLEncoding, CharsetNames) {
    EXPECT_EQ(TXFormBodyWriter::charsetName(TXUTF8StringEncoding), "utf-8");
    EXPECT_EQ(TXFormBodyWriter::charsetName(TXISOLatin1StringEncoding), "iso-8859-1");
    EXPECT_EQ(TXFormBodyWriter::charsetName(777), std::nullopt);
}

TEST(FormURLEncodedBody, JoinsPairsWithoutTrailingAmpersand) {
    EXPECT_EQ(
        TXFormBodyWriter::urlEncodedBody({{"title", "A B"}, {"n", "5"}}, TXUTF8StringEncoding),
        "title=A%20B&n=5");
    EXPECT_EQ(TXFormBodyWriter::urlEncodedBody({{"a", ""}}, TXUTF8StringEncoding), "a=");
    EXPECT_EQ(TXFormBodyWriter::urlEncodedBody({}, TXUTF8StringEncoding), "");
    EXPECT_EQ(
        TXFormBodyWriter::urlEncodedBody({{"a+b", "x&y=z"}, {"a+b", "2"}}, TXUTF8StringEncoding),
        "a%2Bb=x%26y%3Dz&a%2Bb=2");
}

TEST(FormURLEncodedBody, AValueTheEncodingCannotHoldFailsTheBody) {
    EXPECT_EQ(TXFormBodyWriter::urlEncodedBody({{"name", "\xC3\xA9"}}, TXASCIIStringEncoding),
              std::nullopt);
    EXPECT_EQ(TXFormBodyWriter::urlEncodedBody({{"\xC3\xA9", "x"}}, TXASCIIStringEncoding),
              std::nullopt);
}

TEST(FormMultipartBody, TextFieldsOnlyEndDirectlyWithTheClosingBoundary) {
    EXPECT_EQ(multipart({{"a", "1"}, {"b", "two"}}, {}),
              "--B\r\n"
              "Content-Disposition: form-data; name=\"a\"\r\n\r\n1"
              "\r\n--B\r\n"
              "Content-Disposition: form-data; name=\"b\"\r\n\r\ntwo"
              "\r\n--B--\r\n");
}

TEST(FormMultipartBody, FileFieldsOnlyStartAtOnceAfterTheFirstBoundary) {
    TXFormFile one{"f", "a.txt", "text/plain", bytes("AAA")};
    TXFormFile two{"g", "b.bin", "application/octet-stream", bytes(std::string("\0\r\n", 3))};
    EXPECT_EQ(multipart({}, {one, two}),
              "--B\r\n"
              "Content-Disposition: form-data; name=\"f\"; filename=\"a.txt\"\r\n"
              "Content-Type: text/plain\r\n\r\nAAA"
              "\r\n--B\r\n"
              "Content-Disposition: form-data; name=\"g\"; filename=\"b.bin\"\r\n"
              "Content-Type: application/octet-stream\r\n\r\n" +
                  std::string("\0\r\n", 3) + "\r\n--B--\r\n");
}

TEST(FormMultipartBody, MixedFormReadsFileFromDisk) {
    TempDir dir;
    std::string path = dir.write("movie.mov", "MOOV");
    EXPECT_EQ(multipart({{"project", "7"}}, {{"file", "movie.mov", "video/quicktime", path}}),
              "--B\r\n"
              "Content-Disposition: form-data; name=\"project\"\r\n\r\n7"
              "\r\n--B\r\n"
              "Content-Disposition: form-data; name=\"file\"; filename=\"movie.mov\"\r\n"
              "Content-Type: video/quicktime\r\n\r\nMOOV"
              "\r\n--B--\r\n");
}

TEST(FormMultipartBody, QuotesAndLineBreaksInNamesCannotForgeHeaders) {
    std::string body =
        multipart({{"a\"b", "v"}}, {{"f\r\nX: y", "evil\".txt\r\n", "text/plain", bytes("")}});
    EXPECT_NE(body.find("name=\"a%22b\""), std::string::npos);
    EXPECT_NE(body.find("name=\"f%0D%0AX: y\"; filename=\"evil%22.txt%0D%0A\""), std::string::npos);
    EXPECT_EQ(body.find("\r\nX: y"), std::string::npos);
    // Other bytes, non-ASCII included, are written as they are.
    EXPECT_NE(multipart({{"caf\xC3\xA9 \\;", "v"}}, {}).find("name=\"caf\xC3\xA9 \\;\""),
              std::string::npos);
}

TEST(FormMultipartBody, TextIsWrittenInTheFormsEncoding) {
    std::string body =
        multipart({{"caf\xC3\xA9", "\xC3\xA9t\xC3\xA9"}}, {}, TXISOLatin1StringEncoding);
    EXPECT_NE(body.find("name=\"caf\xE9\"\r\n\r\n\xE9t\xE9\r\n"), std::string::npos);
    MemorySink out;
    EXPECT_FALSE(TXFormBodyWriter::writeMultipart({{"n", "\xC3\xA9"}}, {}, "B",
                                                  TXASCIIStringEncoding, out.sink()));
}

TEST(FormMultipartBody, AFileThatCannotBeReadFailsTheBody) {
    TempDir dir;
    MemorySink out;
    EXPECT_FALSE(TXFormBodyWriter::writeMultipart(
        {{"a", "1"}}, {{"file", "gone.mov", "video/quicktime", dir.file("gone.mov")}}, "B",
        TXUTF8StringEncoding, out.sink()));
    // Nothing after the failed part is written.
    EXPECT_EQ(out.body.find("--B--"), std::string::npos);
}

TEST(FormMultipartBody, EveryBoundaryIsNew) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::string b = TXFormBodyWriter::newBoundary();
        ASSERT_EQ(b.size(), 16u + 36u);
        EXPECT_EQ(b.rfind("0xKhTmLbOuNdArY-", 0), 0u);
        EXPECT_TRUE(seen.insert(b).second);
    }
}

// ---- read back by Python's email parser --------------------------------------

std::string runPython(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    platform::system::ChildProcess child("/usr/bin/python3", argv);
    child.setStandardOutput(platform::system::ChildProcess::Stream::Pipe);
    if (!child.launch()) {
        return "launch failed";
    }
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(child.standardOutputFd(), buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
    }
    child.wait(30);
    return out;
}

constexpr const char* kEmailParser = R"PY(
import sys, hashlib, email.parser, email.policy
body = open(sys.argv[1], 'rb').read()
msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
    b'Content-Type: multipart/form-data; charset=utf-8; boundary=' + sys.argv[2].encode() +
    b'\r\n\r\n' + body)
assert msg.is_multipart() and not msg.defects, msg.defects
for part in msg.iter_parts():
    assert not part.defects, part.defects
    payload = part.get_payload(decode=True)
    print(part.get_param('name', header='content-disposition'),
          part.get_filename(), part.get_content_type(),
          len(payload), hashlib.md5(payload).hexdigest())
)PY";

std::string md5(std::string_view text) {
    using platform::crypto::Digest;
    return Digest::hex(Digest::of(Digest::Algorithm::MD5, text));
}

bool pythonAvailable() {
    return ::access("/usr/bin/python3", X_OK) == 0;
}

TEST(FormMultipartBody, PythonEmailParserReadsEveryPartBack) {
    if (!pythonAvailable()) {
        if (std::getenv("CI")) {
            FAIL() << "/usr/bin/python3 is missing";
        }
        GTEST_SKIP() << "/usr/bin/python3 is missing";
    }
    TempDir dir;
    // A file whose bytes contain CR LF, dashes and something like a boundary.
    std::string content;
    for (int i = 0; i < 70000; ++i) {
        content.push_back(static_cast<char>((i * 7919) & 0xFF));
    }
    content += "\r\n--0xKhTmLbOuNdArY\r\n";
    std::string path = dir.write("clip.mov", content);
    std::string boundary = TXFormBodyWriter::newBoundary();
    MemorySink out;
    ASSERT_TRUE(TXFormBodyWriter::writeMultipart(
        {{"project", "7"}, {"title", "My Film"}},
        {{"file", "clip.mov", "video/quicktime", path}, {"thumb", "t.png", "image/png", bytes("")}},
        boundary, TXUTF8StringEncoding, out.sink()));
    std::string bodyPath = dir.write("body", out.body);
    std::string result = runPython(kEmailParser, {bodyPath, boundary});
    EXPECT_EQ(result, "project None text/plain 1 " + md5("7") + "\n" + "title None text/plain 7 " +
                          md5("My Film") + "\n" + "file clip.mov video/quicktime " +
                          std::to_string(content.size()) + " " + md5(content) + "\n" +
                          "thumb t.png image/png 0 " + md5("") + "\n");
}

}  // namespace
