#include "base/Error.h"

#include <gtest/gtest.h>

namespace {

using base::Dictionary;
using base::Error;
using base::Value;

TEST(Error, LocalizedDescriptionFallsBackToTheGenericText) {
    const Error plain("TXHTTPRequestErrorDomain", 7);
    EXPECT_EQ(plain.localizedDescription(),
              "The operation couldn\u2019t be completed. (TXHTTPRequestErrorDomain error 7.)");
    EXPECT_EQ(Error("D", -1).localizedDescription(),
              "The operation couldn\u2019t be completed. (D error -1.)");
    // A description that is not a string does not count.
    const Error odd("D", 2, Dictionary{{Error::kLocalizedDescriptionKey, 5}});
    EXPECT_EQ(odd.localizedDescription(), "The operation couldn\u2019t be completed. (D error 2.)");

    const Error described = Error::withDescription("D", 3, "Disk full");
    EXPECT_EQ(described.localizedDescription(), "Disk full");
    EXPECT_EQ(described.domain(), "D");
    EXPECT_EQ(described.code(), 3);
    EXPECT_EQ(described.userInfo().size(), 1u);
}

TEST(Error, DescribeShowsDomainCodeDescriptionAndUserInfo) {
    EXPECT_EQ(Error("D", 4).describe(),
              "Error Domain=D Code=4 \"The operation couldn\u2019t be completed. (D error 4.)\"");
    Error e = Error::withDescription("OWQuorvaneErrorDomain", 0, "Not found");
    e.mutableUserInfo().set("status", 404);
    EXPECT_EQ(e.describe(),
              "Error Domain=OWQuorvaneErrorDomain Code=0 \"Not found\" "
              "UserInfo={NSLocalizedDescription=Not found, status=404}");
    e.setUnderlying(Error::withDescription("Inner", -5, "Socket closed"));
    EXPECT_EQ(e.describe(),
              "Error Domain=OWQuorvaneErrorDomain Code=0 \"Not found\" "
              "UserInfo={NSLocalizedDescription=Not found, status=404, "
              "NSUnderlyingError={Error Domain=Inner Code=-5 \"Socket closed\" "
              "UserInfo={NSLocalizedDescription=Socket closed}}}");
    ASSERT_NE(e.underlying(), nullptr);
    EXPECT_EQ(e.underlying()->code(), -5);
}

TEST(Error, EqualityIncludesUserInfoAndUnderlyingError) {
    Error a = Error::withDescription("D", 1, "x");
    Error b = Error::withDescription("D", 1, "x");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, Error::withDescription("D", 2, "x"));
    EXPECT_NE(a, Error::withDescription("E", 1, "x"));
    EXPECT_NE(a, Error::withDescription("D", 1, "y"));
    a.setUnderlying(Error("U", 1));
    EXPECT_NE(a, b);
    b.setUnderlying(Error("U", 2));
    EXPECT_NE(a, b);
    b.setUnderlying(Error("U", 1));
    EXPECT_EQ(a, b);

    // Copies share the underlying error but stay equal and independent in user info.
    Error c = a;
    c.mutableUserInfo().set("more", Value(true));
    EXPECT_NE(a, c);
    EXPECT_EQ(a.userInfo().size(), 1u);
}

}  // namespace
