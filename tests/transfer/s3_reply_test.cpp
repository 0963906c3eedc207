// S3's XML replies: error replies read by events, initiate replies with and
// without S3's namespace, the complete request's body and upload ids.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transfer/TXS3MultipartXml.h"
#include "transfer/TXS3ReplyParser.h"

namespace {

using Ended = std::vector<std::string>;

Ended endedElements(std::string_view xml, TXS3ReplyParser::Outcome* outcome = nullptr,
                    const std::string& stopAt = "") {
    Ended ended;
    auto result = TXS3ReplyParser::parse(xml, [&](const std::string& name, const std::string& text,
                                                  const std::vector<std::string>&) {
        ended.push_back(name + "=" + text);
        return name != stopAt;
    });
    if (outcome != nullptr) {
        *outcome = result;
    }
    return ended;
}

TEST(S3ReplyParser, ReportsEveryElementEndWithItsText) {
    TXS3ReplyParser::Outcome outcome;
    auto ended = endedElements(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>NoSuchKey</Code>"
        "<Message>The specified key does not exist.</Message><Key>a &amp; b</Key></Error>",
        &outcome);
    EXPECT_FALSE(outcome.error);
    EXPECT_FALSE(outcome.stopped);
    ASSERT_EQ(ended.size(), 4u);
    EXPECT_EQ(ended[0], "Code=NoSuchKey");
    EXPECT_EQ(ended[1], "Message=The specified key does not exist.");
    EXPECT_EQ(ended[2], "Key=a & b");
}

TEST(S3ReplyParser, StopsWhenTheHandlerSaysSo) {
    TXS3ReplyParser::Outcome outcome;
    auto ended = endedElements("<Error><Code>RequestTimeout</Code><Message>m</Message></Error>",
                               &outcome, "Code");
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(ended, Ended{"Code=RequestTimeout"});
}

TEST(S3ReplyParser, NamesKeepTheirPrefixes) {
    auto ended = endedElements("<s3:Error xmlns:s3=\"urn:x\"><s3:Code>C</s3:Code></s3:Error>");
    EXPECT_EQ(ended.front(), "s3:Code=C");
}

TEST(S3ReplyParser, BadInputIsAnErrorNeverACrash) {
    for (std::string_view bad : {"<Error><Code>x</Error>", "not xml", "<a>", "<a></a><b></b>",
                                 "\xEF\xBB\xBF<a>&undefined;</a>"}) {
        TXS3ReplyParser::Outcome outcome;
        endedElements(bad, &outcome);
        EXPECT_TRUE(outcome.error.has_value()) << bad;
    }
    std::string deep;
    for (int i = 0; i < 200; ++i) deep += "<a>";
    TXS3ReplyParser::Outcome outcome;
    endedElements(deep, &outcome);
    EXPECT_TRUE(outcome.error.has_value());
}

TEST(S3ReplyParser, EntitiesNeverExpandAndFilesAreNeverRead) {
    TXS3ReplyParser::Outcome outcome;
    auto ended = endedElements(
        "<!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/passwd\"><!ENTITY y \"yyyy\">]>"
        "<e><Message>&x;&y;</Message></e>",
        &outcome);
    for (const auto& e : ended) {
        EXPECT_EQ(e.find("root:"), std::string::npos);
        EXPECT_EQ(e.find("yyyy"), std::string::npos);
    }
}

TEST(S3ReplyParser, OversizedRepliesAreRefused) {
    std::string big = "<a>" + std::string(TXS3ReplyParser::kMaxReplyBytes, 'x') + "</a>";
    TXS3ReplyParser::Outcome outcome;
    EXPECT_TRUE(endedElements(big, &outcome).empty());
    EXPECT_TRUE(outcome.error.has_value());
}

// ---- initiate replies -------------------------------------------------------

TEST(S3InitiateReply, ReadsTheUploadIdWithAndWithoutS3Namespace) {
    auto plain = TXS3MultipartXml::parseInitiateReply(
        "<?xml version=\"1.0\"?><InitiateMultipartUploadResult><Bucket>b</Bucket><Key>k</Key>"
        "<UploadId>VXBsb2FkIElE</UploadId></InitiateMultipartUploadResult>");
    EXPECT_EQ(plain.uploadID, "VXBsb2FkIElE");
    EXPECT_NE(plain.documentText.find("InitiateMultipartUploadResult"), std::string::npos);

    auto namespaced = TXS3MultipartXml::parseInitiateReply(
        "<InitiateMultipartUploadResult xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">\n"
        "  <Bucket>b</Bucket>\n  <Key>k</Key>\n  <UploadId>abc.DEF_1-2~</UploadId>\n"
        "</InitiateMultipartUploadResult>");
    EXPECT_EQ(namespaced.uploadID, "abc.DEF_1-2~");
    EXPECT_FALSE(namespaced.problem);
}

TEST(S3InitiateReply, ErrorRepliesAndMissingIdsAreProblems) {
    auto error = TXS3MultipartXml::parseInitiateReply(
        "<Error><Code>AccessDenied</Code><UploadId>no</UploadId></Error>");
    EXPECT_FALSE(error.uploadID);
    EXPECT_EQ(error.problem, "Unable to find upload ID");

    auto missing = TXS3MultipartXml::parseInitiateReply(
        "<InitiateMultipartUploadResult><Bucket>b</Bucket></InitiateMultipartUploadResult>");
    EXPECT_EQ(missing.problem, "Unable to find upload ID");

    // Only a child of the root counts.
    auto nested = TXS3MultipartXml::parseInitiateReply(
        "<InitiateMultipartUploadResult><x><UploadId>a</UploadId></x>"
        "</InitiateMultipartUploadResult>");
    EXPECT_FALSE(nested.uploadID);

    auto broken = TXS3MultipartXml::parseInitiateReply("<InitiateMultipartUploadResult>");
    ASSERT_TRUE(broken.problem);
    EXPECT_EQ(broken.problem->rfind("Error loading XML response: ", 0), 0u);
    EXPECT_TRUE(broken.documentText.empty());
}

TEST(S3ErrorReply, OnlyAnErrorRootIsAFailure) {
    EXPECT_EQ(TXS3MultipartXml::errorMessage(
                  "<Error><Code>InternalError</Code><Message>We encountered an internal "
                  "error. Please try again.</Message></Error>"),
              "We encountered an internal error. Please try again.");
    EXPECT_EQ(
        TXS3MultipartXml::errorMessage(
            "<Error xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\"><Code>X</Code></Error>"),
        "X");
    EXPECT_EQ(TXS3MultipartXml::errorMessage("<CompleteMultipartUploadResult><ETag>\"e\"</ETag>"
                                             "</CompleteMultipartUploadResult>"),
              std::nullopt);
    EXPECT_EQ(TXS3MultipartXml::errorMessage(""), std::nullopt);
    EXPECT_EQ(
        TXS3MultipartXml::errorMessage("<Result><Error><Message>m</Message></Error></Result>"),
        std::nullopt);
}

// ---- the complete request's body --------------------------------------------

TEST(S3CompleteBody, ListsPartsInAscendingOrderWhateverOrderTheyArrived) {
    std::map<uint64_t, std::string> etags;
    etags[3] = "\"c\"";
    etags[1] = "\"a\"";
    etags[2] = "\"b\"";
    EXPECT_EQ(TXS3MultipartXml::completeBody(etags, 3),
              "<CompleteMultipartUpload>"
              "<Part><PartNumber>1</PartNumber><ETag>\"a\"</ETag></Part>"
              "<Part><PartNumber>2</PartNumber><ETag>\"b\"</ETag></Part>"
              "<Part><PartNumber>3</PartNumber><ETag>\"c\"</ETag></Part>"
              "</CompleteMultipartUpload>");
}

TEST(S3CompleteBody, EscapesMarkupInETagsAndRefusesGaps) {
    std::map<uint64_t, std::string> etags{{1, "\"a&b<c>\""}};
    EXPECT_EQ(TXS3MultipartXml::completeBody(etags, 1),
              "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber>"
              "<ETag>\"a&amp;b&lt;c&gt;\"</ETag></Part></CompleteMultipartUpload>");
    EXPECT_EQ(TXS3MultipartXml::completeBody({{1, "a"}, {3, "c"}}, 3), std::nullopt);
}

TEST(S3UploadId, OnlyUnreservedCharactersMayGoIntoAURL) {
    EXPECT_TRUE(TXS3MultipartXml::isValidUploadID("AbC.d_e~f-09"));
    for (std::string_view bad : {"", "a b", "a&b", "a/b", "a%20", "a?b", "a+b", "\xC3\xA9"}) {
        EXPECT_FALSE(TXS3MultipartXml::isValidUploadID(bad)) << bad;
    }
}

}  // namespace
