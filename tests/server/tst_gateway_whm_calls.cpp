// Each request of the desktop program becomes the right WHM API 1 call, with the right
// parameters and login, and WHM's answer comes back in the form the program reads.
#include "fakewhm.h"
#include "gatewayundertest.h"
#include "httpswhmapi.h"

#include <gtest/gtest.h>
#include <tuple>

namespace {

using Params = std::multimap<std::string, std::string>;

class GatewayWhmCalls : public ::testing::Test {
protected:
    static HttpsWhmApi::Options options(const FakeWhm& whm) {
        HttpsWhmApi::Options options;
        options.port = whm.port();
        options.caFile = whm.certificate().certificateFile();
        options.allowedHosts = {"127.0.0.1"};
        return options;
    }

    FakeWhm whm;
    IoThread io;
    HttpsWhmApi api{io.executor(), options(whm)};
    GatewayUnderTest gateway{api, {}, &io};
};

TEST_F(GatewayWhmCalls, EachRequestBecomesItsWhmFunctionWithItsParameters) {
    struct Case {
        std::string path;
        std::vector<std::pair<std::string, std::string>> query;
        std::string function;
        Params params;
    };
    const std::vector<Case> cases = {
        {"/clients.php",
         {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "KEY"}},
         "listaccts",
         {{"want", "user"}}},
        {"/paks.php",
         {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "KEY"}},
         "listpkgs",
         {}},
        {"/ad.php",
         {{"acctdomain", "shop.example"},
          {"acctuser", "shop"},
          {"acctpass", "s3cret"},
          {"acctplan", "gold"},
          {"user", "root"},
          {"host", "127.0.0.1"},
          {"accesshash", "KEY"}},
         "createacct",
         {{"username", "shop"},
          {"domain", "shop.example"},
          {"password", "s3cret"},
          {"plan", "gold"}}},
        {"/sus.php",
         {{"host", "127.0.0.1"}, {"user", "root"}, {"accesshash", "KEY"}, {"suspenduser", "bob"}},
         "suspendacct",
         {{"user", "bob"}}},
        {"/unsus.php",
         {{"host", "127.0.0.1"}, {"user", "root"}, {"accesshash", "KEY"}, {"usr", "bob"}},
         "unsuspendacct",
         {{"user", "bob"}}},
        {"/term.php",
         {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "KEY"}, {"usr", "bob"}},
         "removeacct",
         {{"username", "bob"}}},
    };
    // An empty data object: a list with nothing in it, and a command's bare outcome.
    whm.answer(200, R"({"metadata":{"result":1,"reason":"OK"},"data":{}})");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        size_t before = whm.seen().size();
        auto res = gateway.get(c.path, c.query);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        auto seen = whm.seen();
        ASSERT_EQ(seen.size(), before + 1) << "exactly one WHM call per request";
        const FakeWhm::Seen& call = seen.back();
        EXPECT_EQ(call.path, "/json-api/" + c.function);
        EXPECT_EQ(call.authorization, "whm root:KEY");
        Params expected = c.params;
        expected.emplace("api.version", "1");
        EXPECT_EQ(call.params, expected);
    }
}

TEST_F(GatewayWhmCalls, KeyLineBreaksAreRemovedAndOtherControlCharactersRefused) {
    const std::string accessKey = std::string(70, 'a') + "\r\n" + std::string(70, 'b') + "\r\n";
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"0123ABCD\r\n4567EFGH\r\n89AB\r\n", "whm root:0123ABCD4567EFGH89AB"},
        {"0123\n4567\r89AB", "whm root:0123456789AB"},
        {"single", "whm root:single"},
        {accessKey, "WHM root:" + std::string(70, 'a') + std::string(70, 'b')},
    };
    for (const auto& [key, header] : keys) {
        auto res = gateway.get("/paks.php",
                               {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", key}});
        ASSERT_TRUE(res);
        EXPECT_EQ(whm.seen().back().authorization, header);
    }
    // Anything else that would end up raw in WHM's header, or start a header of its own.
    const size_t before = whm.seen().size();
    for (const auto& [user, host, key] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"root\r\nX-Extra: 1", "127.0.0.1", "K"},
             {"root", std::string("127.0.0.1\0", 10), "K"},
             {"root", "127.0.0.1", "K\x01"},
             {"root", "127.0.0.1", "K\x7f"}}) {
        for (const char* path : {"/paks.php", "/term.php"}) {
            auto res = gateway.get(
                path, {{"user", user}, {"host", host}, {"accesshash", key}, {"usr", "bob"}});
            ASSERT_TRUE(res);
            EXPECT_EQ(res->status, 400) << path;
            EXPECT_NE(res->body.find("control character"), std::string::npos) << res->body;
        }
    }
    EXPECT_EQ(whm.seen().size(), before) << "no such value reaches WHM";
}

TEST_F(GatewayWhmCalls, ValuesWithReservedCharactersReachWhmUnchanged) {
    const std::string password = "p&ss=w+rd #%?/ \xC3\xBC";
    const std::string domain = "caf\xC3\xA9.example";
    auto res = gateway.get("/ad.php", {{"acctdomain", domain},
                                       {"acctuser", "cafe"},
                                       {"acctpass", password},
                                       {"acctplan", "plan with blanks"},
                                       {"user", "root"},
                                       {"host", "127.0.0.1"},
                                       {"accesshash", "K"}});
    ASSERT_TRUE(res);
    const Params params = whm.seen().back().params;
    EXPECT_EQ(params.find("password")->second, password);
    EXPECT_EQ(params.find("domain")->second, domain);
    EXPECT_EQ(params.find("plan")->second, "plan with blanks");
    EXPECT_EQ(params.count("password"), 1u) << "the '&' must not split the value";
}

TEST_F(GatewayWhmCalls, ListsAreNamesJoinedByTheMarker) {
    const std::vector<std::pair<std::string, std::string>> login = {
        {"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}};

    whm.answer(200, R"({"metadata":{"result":1,"reason":"OK"},
        "data":{"acct":[{"user":"alice","domain":"a.example"},{"user":"bob"},{"user":"carol"}]}})");
    auto res = gateway.get("/clients.php", login);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "alice<BR>bob<BR>carol") << "no marker after the last name";

    whm.answer(
        200,
        R"({"metadata":{"result":1,"reason":"OK"},"data":{"pkg":[{"name":"default"},{"name":"gold plan"}]}})");
    res = gateway.get("/paks.php", login);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "default<BR>gold plan");

    // An empty server lists nothing at all: an empty body, which the program reads as no item.
    whm.answer(200, R"({"metadata":{"result":1,"reason":"OK"},"data":{"acct":[]}})");
    res = gateway.get("/clients.php", login);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "");

    whm.answer(200, R"({"metadata":{"result":1,"reason":"OK"},"data":{"acct":[{"user":"solo"}]}})");
    res = gateway.get("/clients.php", login);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "solo");
}

TEST_F(GatewayWhmCalls, ListNamesTravelUnchangedAndPagesEscapeWhatTheyEcho) {
    whm.answer(200, R"({"metadata":{"result":1,"reason":"OK"},"data":{"pkg":[
        {"name":"Bronze & Silver"},{"name":"a<BR>b"},{"name":"<i>x</i>"},{"name":"<BR>"}]}})");
    auto res =
        gateway.get("/paks.php", {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(res->body, "Bronze & Silver<BR><i>x</i>")
        << "names as WHM gave them; one holding the marker is left out, not split";

    whm.answer(200, R"({"metadata":{"result":1,"reason":"Done <img src=x onerror=alert(1)>"}})");
    res = gateway.get("/sus.php", {{"host", "127.0.0.1"},
                                   {"user", "root"},
                                   {"accesshash", "K"},
                                   {"suspenduser", "<script>alert(1)</script>\xFF\xC0\xAF"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body.find("<script>"), std::string::npos);
    EXPECT_EQ(res->body.find("<img"), std::string::npos);
    EXPECT_NE(res->body.find("&lt;script&gt;alert(1)&lt;/script&gt;\uFFFD\uFFFD\uFFFD"),
              std::string::npos)
        << "bytes that are not UTF-8 are replaced";
    EXPECT_NE(res->body.find("Done &lt;img"), std::string::npos);
    std::string log = gateway.stopAndReadLog();
    EXPECT_NE(log.find("listpkgs listed 2 names, 2 left out as they hold <BR> (such as a<BR>b)"),
              std::string::npos)
        << "one line for the left-out names\n"
        << log;
}

TEST_F(GatewayWhmCalls, CommandPagesStateWhmsOutcome) {
    whm.answer(200, R"({"metadata":{"result":1,"reason":"Account Creation Ok"}})");
    auto res = gateway.get("/ad.php", {{"acctdomain", "shop.example"},
                                       {"acctuser", "shop"},
                                       {"acctpass", "pw"},
                                       {"acctplan", "gold"},
                                       {"user", "root"},
                                       {"host", "127.0.0.1"},
                                       {"accesshash", "K"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(res->body.find("Account shop created: click Refresh All"), std::string::npos);
    EXPECT_NE(res->body.find("Account Creation Ok"), std::string::npos);

    whm.answer(200, R"({"metadata":{"result":1,"reason":"Account removed"}})");
    res =
        gateway.get("/term.php",
                    {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}, {"usr", "bob"}});
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("Account bob terminated"), std::string::npos);
}

TEST_F(GatewayWhmCalls, CommandWithoutAnAccountIsNotSentToWhm) {
    size_t before = whm.seen().size();
    auto res = gateway.get(
        "/term.php", {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}, {"usr", ""}});
    ASSERT_TRUE(res);
    EXPECT_EQ(whm.seen().size(), before);
    EXPECT_NE(res->body.find("Nothing terminated"), std::string::npos);
}

} // namespace
