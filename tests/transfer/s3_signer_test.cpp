// S3 signing against the published AWS examples and botocore's own signer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/system/ChildProcess.h"
#include "transfer/TXS3Signer.h"

namespace {

constexpr const char* kDocSecret = "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY";

std::chrono::system_clock::time_point at(std::time_t t) {
    return std::chrono::system_clock::from_time_t(t);
}

TEST(S3Signature, PublishedExamples) {
    struct Example {
        const char* method;
        const char* type;
        const char* date;
        const char* resource;
        const char* signature;
    } examples[] = {
        {"GET", "", "Tue, 27 Mar 2007 19:36:42 +0000", "/johnsmith/photos/puppy.jpg",
         "bWq2s1WEIj+Ydj0vQ697zp+IXMU="},
        {"PUT", "image/jpeg", "Tue, 27 Mar 2007 21:15:45 +0000", "/johnsmith/photos/puppy.jpg",
         "MyyxeRY7whkBe+bq8fHCL/2kKUg="},
        {"GET", "", "Tue, 27 Mar 2007 19:42:41 +0000", "/johnsmith/",
         "htDYFYduRNen8P9ZfE/s9SuKy0U="},
        {"GET", "", "Tue, 27 Mar 2007 19:44:46 +0000", "/johnsmith/?acl",
         "c2WLPFtWHVgbEmeEG93a4cG37dM="},
        {"DELETE", "", "Tue, 27 Mar 2007 21:20:26 +0000", "/johnsmith/photos/puppy.jpg",
         "lx3byBScXR6KzyMaifNkardMwNk="},
    };
    for (const auto& e : examples) {
        std::string text = TXS3Signer::stringToSign(e.method, e.type, e.date, "", e.resource);
        EXPECT_EQ(TXS3Signer::signature(kDocSecret, text), e.signature) << e.resource;
    }
    EXPECT_EQ(TXS3Signer::stringToSign("GET", "", "D", "", "/r"), "GET\n\n\nD\n/r");
    EXPECT_EQ(TXS3Signer::authorization("AKID", "sig="), "AWS AKID:sig=");
}

TEST(S3Signature, RequestDateHasNoLeadingZeroInTheDay) {
    EXPECT_EQ(TXS3Signer::requestDateString(at(1175024202)), "Tue, 27 Mar 2007 19:36:42 +0000");
    EXPECT_EQ(TXS3Signer::requestDateString(at(1796719643)), "Tue, 8 Dec 2026 08:47:23 +0000");
    EXPECT_EQ(TXS3Signer::requestDateString(at(0)), "Thu, 1 Jan 1970 00:00:00 +0000");
}

TEST(S3Signature, ResponseDatesReadOnlyWithZeroMilliseconds) {
    EXPECT_EQ(TXS3Signer::parseResponseDate("2026-12-08T08:47:23.000Z"), at(1796719643));
    EXPECT_EQ(TXS3Signer::parseResponseDate("2026-12-08T08:47:23.123Z"), std::nullopt);
    EXPECT_EQ(TXS3Signer::parseResponseDate("2026-13-08T08:47:23.000Z"), std::nullopt);
    EXPECT_EQ(TXS3Signer::parseResponseDate("2026-12-08 08:47:23.000Z"), std::nullopt);
    EXPECT_EQ(TXS3Signer::parseResponseDate(""), std::nullopt);
}

TEST(S3Signature, KeyPathsEscapeAllButSlashesAndUnreservedMarks) {
    EXPECT_EQ(TXS3Signer::stringByURLEncodingForS3Path(std::nullopt), "/");
    EXPECT_EQ(TXS3Signer::stringByURLEncodingForS3Path("uploads/ab12-My Film.mov"),
              "/uploads/ab12-My%20Film.mov");
    EXPECT_EQ(TXS3Signer::stringByURLEncodingForS3Path("/a+b/c~d"), "/a%2Bb/c%7Ed");
    EXPECT_EQ(TXS3Signer::stringByURLEncodingForS3Path(""), "/");
    EXPECT_EQ(TXS3Signer::stringByURLEncodingForS3Path("?#[]@!$&'()*,;=\"<>%{}|\\^`:"),
              "/%3F%23%5B%5D%40%21%24%26%27%28%29%2A%2C%3B%3D%22%3C%3E%25%7B%7D%7C%5C%5E%60%3A");
    EXPECT_EQ(TXS3Signer::stringByURLEncodingForS3Path("caf\xC3\xA9"), "/caf%C3%A9");
}

TEST(S3Signature, CanonicalHeadersSortByLowerCasedName) {
    EXPECT_EQ(TXS3Signer::canonicalHeaders({}), "");
    EXPECT_EQ(TXS3Signer::canonicalHeaders(
                  {{"x-amz-storage-class", "STANDARD"}, {"X-Amz-Acl", "public-read"}}),
              "x-amz-acl:public-read\nx-amz-storage-class:STANDARD\n");
    EXPECT_EQ(TXS3Signer::canonicalHeaders(
                  {{"x-amz-copy-source", "b/some/key"}, {"x-amz-acl", "private"}}),
              "x-amz-acl:private\nx-amz-copy-source:b/some/key\n");
}

// ---- botocore ---------------------------------------------------------------

constexpr const char* kBotocoreSigner = R"PY(
import sys
from urllib.parse import urlsplit
from botocore.auth import HmacV1Auth
from botocore.awsrequest import HTTPHeaders
from botocore.credentials import Credentials
method, url, date, ctype, secret = sys.argv[1:6]
class Signer(HmacV1Auth):
    def _get_date(self):
        return date
headers = HTTPHeaders()
if ctype:
    headers['Content-Type'] = ctype
for pair in sys.argv[6:]:
    name, value = pair.split(':', 1)
    headers[name] = value
split = urlsplit(url)
bucket = split.hostname.split('.')[0]
print(Signer(Credentials('AKID', secret)).get_signature(method, split, headers,
      auth_path='/' + bucket + split.path), end='')
)PY";

std::string botocoreSignature(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"-c", kBotocoreSigner};
    argv.insert(argv.end(), args.begin(), args.end());
    platform::system::ChildProcess child("/usr/bin/python3", argv);
    child.setStandardOutput(platform::system::ChildProcess::Stream::Pipe);
    if (!child.launch()) {
        return "";
    }
    std::string out;
    char buf[512];
    ssize_t n = 0;
    while ((n = ::read(child.standardOutputFd(), buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<size_t>(n));
    }
    child.wait(30);
    return out;
}

bool botocoreAvailable() {
    platform::system::ChildProcess child("/usr/bin/python3", {"-c", "import botocore.auth"});
    return child.launch() && child.wait(30) == 0;
}

TEST(S3Signature, AgreesWithBotocoreForEveryKindOfRequest) {
    if (!botocoreAvailable()) {
        if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true") {
            FAIL() << "python3-botocore is missing";
        }
        GTEST_SKIP() << "python3-botocore is missing";
    }
    const std::string secret = "Zx9/abc+DEF0123456789abcdefghijklmnopqrs";
    const std::string date = TXS3Signer::requestDateString(std::chrono::system_clock::now());
    struct Case {
        std::string method, key, sub, type;
        TXS3Signer::Headers amz;
    } cases[] = {
        {"PUT", "uploads/ab12-My Film+1.mov", "", "video/quicktime", {}},
        {"GET", "a/b.txt", "", "", {}},
        {"POST", "big.mov", "uploads", "", {}},
        {"PUT", "big.mov", "partNumber=3&uploadId=Xy.Z_9-~", "video/quicktime", {}},
        {"POST", "big.mov", "uploadId=Xy.Z_9-~", "", {}},
        {"DELETE", "big.mov", "uploadId=Xy.Z_9-~", "", {}},
        {"PUT",
         "copy",
         "",
         "",
         {{"x-amz-storage-class", "REDUCED_REDUNDANCY"},
          {"x-amz-acl", "public-read"},
          {"x-amz-copy-source", "src/some/key"}}},
    };
    for (const auto& c : cases) {
        std::string path = TXS3Signer::stringByURLEncodingForS3Path(c.key);
        std::string resource = "/bucket" + path + (c.sub.empty() ? "" : "?" + c.sub);
        std::string ours = TXS3Signer::signature(
            secret, TXS3Signer::stringToSign(c.method, c.type, date,
                                             TXS3Signer::canonicalHeaders(c.amz), resource));
        std::vector<std::string> args{
            c.method, "http://bucket.s3.example" + path + (c.sub.empty() ? "" : "?" + c.sub), date,
            c.type, secret};
        for (const auto& [name, value] : c.amz) {
            args.push_back(name + ":" + value);
        }
        EXPECT_EQ(ours, botocoreSignature(args)) << c.method << " " << c.key << "?" << c.sub;
    }
}

}  // namespace
