// Query text handling: the encoding of query values, and what of a request reaches the log.
#include "querytext.h"
#include "requestlog.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

TEST(QueryText, PercentEncodingKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(percentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(percentEncode("a b&c=d+e#f%g/h?i"), "a%20b%26c%3Dd%2Be%23f%25g%2Fh%3Fi");
    EXPECT_EQ(percentEncode("\r\n"), "%0D%0A");
    EXPECT_EQ(percentEncode("\xC3\xBC"), "%C3%BC");
}

TEST(QueryText, LoggedTargetKeepsOnlyHarmlessParametersWhateverTheKeySpelling) {
    EXPECT_EQ(RequestLog::harmlessTarget(
                  "/clients.php?user=root&host=h&accesshash=ABC%0D%0ADEF&acctpass=pw"),
              "/clients.php?user=root&host=h");
    // Spellings that decode to the key, or to something near it, are dropped all the same.
    EXPECT_EQ(RequestLog::harmlessTarget(
                  "/x?access%68ash=A&%09accesshash%09=B&ACCESSHASH=C&accesshash&usr=bob"),
              "/x?usr=bob");
    EXPECT_EQ(RequestLog::harmlessTarget("/x?%u0061ccesshash=KEY&user=root"), "/x")
        << "a query that cannot be read is left out whole";
    EXPECT_EQ(RequestLog::harmlessTarget("/version.txt"), "/version.txt");
    EXPECT_EQ(RequestLog::harmlessTarget("/x?user=a+b%26c&suspenduser=s&acctuser=n&y=1"),
              "/x?user=a%20b%26c&suspenduser=s&acctuser=n");
}

TEST(QueryText, LogLinesCannotBeForged) {
    std::ostringstream out;
    RequestLog log(out);
    log.whmFailure("listaccts", "host", "bad\nfake line");
    EXPECT_EQ(out.str().find('\n'), out.str().size() - 1) << out.str();
    EXPECT_NE(out.str().find("bad\\x0Afake line"), std::string::npos);
}

} // namespace
