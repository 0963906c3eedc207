// Request bodies: form escaping and field order, the access token's place, and multipart
// bodies checked byte for byte and by Python's own MIME parser.
#include <gtest/gtest.h>

#include "client/OWQuorvaneRequest.h"
#include "client/json/QMJSON.h"
#include "tests/client/QuorvanePython.h"
#include "tests/helpers/TempDir.h"

namespace {

using R = OWQuorvaneRequest;

std::string text(const base::Data& data) {
    return std::string(data.begin(), data.end());
}

TEST(QuorvaneFormValue, EscapesWhatWouldEndOrSplitAField) {
    EXPECT_EQ(R::sanitizeURLParameter("a&b=c?d+e"), "a%26b%3Dc%3Fd%2Be");
    EXPECT_EQ(R::sanitizeURLParameter("two words"), "two%20words");
    EXPECT_EQ(R::sanitizeURLParameter("100% \"x\" <y>"), "100%25%20%22x%22%20%3Cy%3E");
    EXPECT_EQ(R::sanitizeURLParameter("caf\xc3\xa9"), "caf%C3%A9");
    EXPECT_EQ(R::sanitizeURLParameter("a#b{c}|d\\e^f`g[h]"), "a%23b%7Bc%7D%7Cd%5Ce%5Ef%60g%5Bh%5D");
    EXPECT_EQ(R::sanitizeURLParameter("line\r\nend\t"), "line%0D%0Aend%09");
}

TEST(QuorvaneFormValue, KeepsLettersDigitsAndTheMarksAURLAllows) {
    EXPECT_EQ(R::sanitizeURLParameter("AZaz09-_.!~*'();/:@$,"), "AZaz09-_.!~*'();/:@$,");
    EXPECT_EQ(R::sanitizeURLParameter(""), "");
}

TEST(QuorvaneFormBody, LeadingAmpersandFieldsInOrderTokenLast) {
    R request;
    request.params.set("project_id", int64_t{12});
    request.params.set("title", "A&B");
    request.params.set("flag", true);
    EXPECT_EQ(text(request.body("tok").bytes),
              "&project_id=12&title=A%26B&flag=1&access_token=tok");
    EXPECT_FALSE(request.body("tok").contentType);
    // No token held: no field for it.
    EXPECT_EQ(text(request.body(std::nullopt).bytes), "&project_id=12&title=A%26B&flag=1");
    EXPECT_EQ(text(R().body(std::nullopt).bytes), "");
}

TEST(QuorvaneFormBody, ATokenTheCallerPassedIsReplacedInItsPlace) {
    R request;
    request.params.set("access_token", "stale");
    request.params.set("file_id", "5");
    EXPECT_EQ(text(request.body("fresh").bytes), "&access_token=fresh&file_id=5");
}

TEST(QuorvaneFormBody, PythonDecodesEveryValueBackUnchanged) {
    testsupport::TempDir dir;
    R request;
    const std::vector<std::string> values = {"a&b=c?d+e",         "sp ace", "100%",
                                             "\xc3\xa9t\xc3\xa9", "q\"<>#", "semi;colon/slash"};
    for (size_t i = 0; i < values.size(); ++i) {
        request.params.set("f" + std::to_string(i), values[i]);
    }
    const std::string path = dir.write("form", text(request.body("t0k").bytes));
    const auto out = quorvanetest::runPython(
        "import sys, json, urllib.parse\n"
        "body = open(sys.argv[1], encoding='utf-8').read()\n"
        "print(json.dumps(urllib.parse.parse_qsl(body, keep_blank_values=True)))\n",
        path);
    ASSERT_TRUE(out);
    const auto pairs = JSONValue(*out);
    ASSERT_TRUE(pairs && pairs->array());
    ASSERT_EQ(pairs->size(), values.size() + 1);
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ((*pairs)[i][0].stringValue(), "f" + std::to_string(i));
        EXPECT_EQ((*pairs)[i][1].stringValue(), values[i]);
    }
    EXPECT_EQ((*pairs)[values.size()][1].stringValue(), "t0k");
}

TEST(QuorvaneFormBody, FieldLookupFindsEscapedValues) {
    const std::string body = "&file_id=12&metadata=a%3Db&access_token=x";
    EXPECT_EQ(R::formField(body, "file_id"), "12");
    EXPECT_EQ(R::formField(body, "metadata"), "a%3Db");
    EXPECT_EQ(R::formField(body, "file"), std::nullopt);
    EXPECT_EQ(R::formField("", "file_id"), std::nullopt);
}

class QuorvaneMultipart : public ::testing::Test {
  protected:
    R request() const {
        R r;
        r.params.set("file_id", "42");
        r.files = std::vector<R::File>{{"file", {0x00, 0xff, '\r', '\n', '-', '-'}, "t.jpg"}};
        r.mimeType = "image/jpeg";
        return r;
    }
    // The parts as Python's email package sees them, and its complaints.
    base::Value parse(const base::Data& body) {
        const std::string path = dir.write("multipart", text(body));
        const auto out = quorvanetest::runPython(
            "import sys, json\n"
            "from email.parser import BytesParser\n"
            "from email import policy\n"
            "raw = open(sys.argv[1], 'rb').read()\n"
            "head = b'Content-Type: multipart/form-data; boundary=axhTsLbOxNzArUD\\r\\n\\r\\n'\n"
            "msg = BytesParser(policy=policy.HTTP).parsebytes(head + raw)\n"
            "parts = [{'name': p.get_param('name', header='content-disposition'),\n"
            "          'filename': p.get_filename(), 'type': p.get_content_type(),\n"
            "          'data': p.get_payload(decode=True).hex()} for p in msg.iter_parts()]\n"
            "print(json.dumps({'defects': [type(d).__name__ for d in msg.defects],\n"
            "                  'parts': parts}))\n",
            path);
        EXPECT_TRUE(out);
        return JSONValue(out.value_or("{}")).value_or(base::Value());
    }
    testsupport::TempDir dir;
};

TEST_F(QuorvaneMultipart, ExactBytesFieldsThenFileAndOneClosingDelimiter) {
    const R::Body body = request().body("S3CRET");
    EXPECT_EQ(body.contentType, "multipart/form-data; boundary=axhTsLbOxNzArUD");
    const std::string expected =
        "--axhTsLbOxNzArUD\r\n"
        "Content-Disposition: form-data; name=\"file_id\"\r\n\r\n42"
        "\r\n--axhTsLbOxNzArUD\r\n"
        "Content-Disposition: form-data; name=\"access_token\"\r\n\r\nS3CRET"
        "\r\n--axhTsLbOxNzArUD\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"t.jpg\"\r\n"
        "Content-Type: image/jpeg\r\n"
        "Content-Transfer-Encoding: binary\r\n\r\n" +
        std::string("\x00\xff\r\n--", 6) + "\r\n--axhTsLbOxNzArUD--\r\n";
    EXPECT_EQ(text(body.bytes), expected);
    // Fields are not escaped in a multipart body, and the log never shows the token.
    EXPECT_NE(body.loggedParams.find("42"), std::string::npos);
    EXPECT_EQ(body.loggedParams.find("S3CRET"), std::string::npos);
}

TEST_F(QuorvaneMultipart, PythonReadsThreePartsTheFileLast) {
    const base::Value parsed = parse(request().body("tok").bytes);
    EXPECT_EQ(parsed["defects"].size(), 0u) << parsed.describe();
    ASSERT_EQ(parsed["parts"].size(), 3u);
    EXPECT_EQ(parsed["parts"][0]["name"].stringValue(), "file_id");
    EXPECT_EQ(parsed["parts"][1]["name"].stringValue(), "access_token");
    EXPECT_EQ(parsed["parts"][1]["data"].stringValue(), "746f6b");
    EXPECT_EQ(parsed["parts"][2]["filename"].stringValue(), "t.jpg");
    EXPECT_EQ(parsed["parts"][2]["type"].stringValue(), "image/jpeg");
    EXPECT_EQ(parsed["parts"][2]["data"].stringValue(), "00ff0d0a2d2d");
}

TEST_F(QuorvaneMultipart, BodiesWithoutFilesStillClose) {
    R r = request();
    r.files = std::vector<R::File>{};
    const base::Data body = r.body("tok").bytes;
    const std::string closing = "\r\n--axhTsLbOxNzArUD--\r\n";
    ASSERT_GE(body.size(), closing.size());
    EXPECT_EQ(text(body).substr(body.size() - closing.size()), closing);
    const base::Value parsed = parse(body);
    EXPECT_EQ(parsed["defects"].size(), 0u) << parsed.describe();
    EXPECT_EQ(parsed["parts"].size(), 2u);
    // Nothing at all: the closing delimiter alone.
    EXPECT_EQ(text(R::multipartBody({}, {}, "x/y", nullptr)), "--axhTsLbOxNzArUD--\r\n");
}

TEST_F(QuorvaneMultipart, SeveralFilesInTheOrderOfTheBytesDictionary) {
    const base::Dictionary data{{"small", base::Data{'s'}}, {"large", base::Data{'l'}}};
    const base::Dictionary names{{"large", "r-large.jpg"}, {"small", "r.jpg"}};
    const auto files = R::filesFrom(data, names);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].filename, "r.jpg");
    EXPECT_EQ(files[1].filename, "r-large.jpg");
    const base::Value parsed =
        parse(R::multipartBody({{"file_id", "1"}}, files, "image/jpeg", nullptr));
    ASSERT_EQ(parsed["parts"].size(), 3u);
    EXPECT_EQ(parsed["parts"][1]["name"].stringValue(), "small");
    EXPECT_EQ(parsed["parts"][2]["data"].stringValue(), "6c");
}

}  // namespace
