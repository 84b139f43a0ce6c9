// The demo's simulated WHM: WHM's rules for new accounts, its refusal of a missing login,
// and the whole create / suspend / unsuspend / terminate cycle through the gateway.
#include "awaitnow.h"
#include "whmsimulator.h"
#ifdef CORVALA_GATEWAY_UNDER_TEST
#include "gatewayundertest.h"
#endif

#include <boost/json/parse.hpp>

#include <algorithm>
#include <gtest/gtest.h>

namespace {

WhmRequest createRequest(const std::string& user, const std::string& domain,
                         const std::string& plan = "gold", const std::string& password = "pw") {
    return {"server.example",
            "root",
            "KEY",
            "createacct",
            {{"username", user}, {"domain", domain}, {"password", password}, {"plan", plan}}};
}

std::vector<std::string> userNames(const WhmSimulator& whm) {
    std::vector<std::string> names;
    for (const auto& account : whm.accounts())
        names.push_back(account.user);
    return names;
}

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(WhmSimulator, UserNameRules) {
    struct Case {
        std::string user;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"shop", true},
        {"a1234567890123456", false}, // 17 characters
        {"a123456789012345", true},   // 16 characters
        {"Shop", false},
        {"shop_1", false},
        {"shop-1", false},
        {"1shop", false},
        {"test", false},
        {"testshop", false},
        {"mytest", true},
        {"", false},
        {"alice", false}, // taken by a sample account
    };
    WhmSimulator whm;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        std::string domain = "site" + std::to_string(++n) + ".example";
        WhmOutcome outcome = callNow(whm, createRequest(c.user, domain));
        EXPECT_EQ(outcome.done(), c.accepted) << outcome.reason;
        EXPECT_EQ(has(userNames(whm), c.user), c.accepted || c.user == "alice");
        if (!c.accepted) {
            EXPECT_FALSE(outcome.reason.empty());
        }
    }
}

TEST(WhmSimulator, DomainPackageAndPasswordRules) {
    struct Case {
        std::string domain;
        std::string plan;
        std::string password;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"fresh.example", "gold", "pw", true},
        {"sub.fresh2.example", "default", "pw", true},
        {"my-site.example", "bronze", "pw", true},
        {"localhost", "gold", "pw", false},
        {"-bad.example", "gold", "pw", false},
        {"bad-.example", "gold", "pw", false},
        {"two..dots.example", "gold", "pw", false},
        {"under_score.example", "gold", "pw", false},
        {"blank space.example", "gold", "pw", false},
        {"site.example.", "gold", "pw", false},
        {"numeric.123", "gold", "pw", false},
        {"", "gold", "pw", false},
        {"alice-bakery.example", "gold", "pw", false}, // a sample account's domain
        {"ALICE-BAKERY.example", "gold", "pw", false},
        {"nopackage.example", "platinum", "pw", false},
        {"nopackage2.example", "", "pw", false},
        {"nopassword.example", "gold", "", false},
    };
    WhmSimulator whm;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.domain + " / " + c.plan + " / " + c.password);
        std::string user = "user" + std::to_string(++n);
        WhmOutcome outcome = callNow(whm, createRequest(user, c.domain, c.plan, c.password));
        EXPECT_EQ(outcome.done(), c.accepted) << outcome.reason;
        EXPECT_EQ(has(userNames(whm), user), c.accepted);
    }
}

TEST(WhmSimulator, MissingLoginIsRefusedLikeABadLogin) {
    WhmSimulator whm;
    for (const auto& [user, key] : std::vector<std::pair<std::string, std::string>>{
             {"", "KEY"}, {"root", ""}, {"root", "\r\n\r\n"}}) {
        WhmRequest request = createRequest("shop", "shop.example");
        request.user = user;
        request.key = key;
        EXPECT_EQ(whm.answer(request).status, 403);
        WhmOutcome outcome = callNow(whm, request);
        EXPECT_EQ(outcome.result, WhmResult::Refused);
        EXPECT_NE(outcome.reason.find("refused the login"), std::string::npos);
    }
    EXPECT_FALSE(has(userNames(whm), "shop")) << "a refused login changes nothing";
}

TEST(WhmSimulator, CommandsOnUnknownAccountsFail) {
    WhmSimulator whm;
    for (const auto& [function, key] : std::vector<std::pair<std::string, std::string>>{
             {"suspendacct", "user"}, {"unsuspendacct", "user"}, {"removeacct", "username"}}) {
        SCOPED_TRACE(function);
        WhmOutcome outcome =
            callNow(whm, {"server.example", "root", "KEY", function, {{key, "nobody"}}});
        EXPECT_EQ(outcome.result, WhmResult::Refused);
        EXPECT_NE(outcome.reason.find("nobody"), std::string::npos);
        // A name that is not UTF-8 comes back in the reason, never as a failed answer.
        outcome = callNow(whm, {"server.example", "root", "KEY", function, {{key, "n\xff\xfe"}}});
        EXPECT_EQ(outcome.result, WhmResult::Refused);
        EXPECT_NE(outcome.reason.find("n\xff\xfe"), std::string::npos) << outcome.reason;
    }
    EXPECT_FALSE(callNow(whm, {"server.example", "root", "KEY", "gethostname", {}}).done());
    EXPECT_EQ(whm.accounts().size(), 4u);
}

TEST(WhmSimulator, ListAccountsHonoursWant) {
    WhmSimulator whm;
    WhmResponse answer =
        whm.answer({"server.example", "root", "KEY", "listaccts", {{"want", "user"}}});
    ASSERT_EQ(answer.status, 200);
    boost::json::value data = boost::json::parse(answer.body).at("data");
    const auto& first = data.at("acct").at(0).as_object();
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(first.at("user").as_string(), "alice");

    data = boost::json::parse(whm.answer({"server.example", "root", "KEY", "listaccts", {}}).body)
               .at("data");
    EXPECT_EQ(data.at("acct").at(3).at("suspended").to_number<int>(), 1) << "dave starts suspended";
}

#ifdef CORVALA_GATEWAY_UNDER_TEST
TEST(WhmSimulator, DemoGatewayRunsTheWholeAccountCycle) {
    WhmSimulator whm;
    GatewayUnderTest gateway(whm);
    const std::vector<std::pair<std::string, std::string>> login = {
        {"user", "root"}, {"host", "demo.example"}, {"accesshash", "KEY\r\nLINE2"}};

    auto clients = [&] { return gateway.get("/clients.php", login)->body; };
    EXPECT_EQ(clients(), "alice<BR>bob<BR>carol<BR>dave");
    EXPECT_EQ(gateway.get("/paks.php", login)->body, "default<BR>bronze<BR>silver<BR>gold");

    auto created = gateway.get("/ad.php", {{"acctdomain", "shop.example"},
                                           {"acctuser", "shop"},
                                           {"acctpass", "pw&more"},
                                           {"acctplan", "silver"},
                                           {"user", "root"},
                                           {"host", "demo.example"},
                                           {"accesshash", "KEY\r\nLINE2"}});
    ASSERT_TRUE(created);
    EXPECT_NE(created->body.find("Account shop created"), std::string::npos);
    EXPECT_EQ(clients(), "alice<BR>bob<BR>carol<BR>dave<BR>shop");

    auto command = [&](const std::string& path, const std::string& accountKey) {
        auto res = gateway.get(path, {{"host", "demo.example"},
                                      {"user", "root"},
                                      {"accesshash", "KEY"},
                                      {accountKey, "shop"}});
        return res ? res->body : std::string();
    };
    EXPECT_NE(command("/sus.php", "suspenduser").find("Account shop suspended"), std::string::npos);
    EXPECT_TRUE(whm.accounts().back().suspended);
    EXPECT_NE(command("/unsus.php", "usr").find("Account shop unsuspended"), std::string::npos);
    EXPECT_FALSE(whm.accounts().back().suspended);
    EXPECT_NE(command("/term.php", "usr").find("Account shop terminated"), std::string::npos);
    EXPECT_EQ(clients(), "alice<BR>bob<BR>carol<BR>dave");
    EXPECT_NE(command("/term.php", "usr").find("Account shop not terminated"), std::string::npos);

    // Creating the same account twice: the second is refused with WHM's reason.
    auto again = [&] {
        return gateway
            .get("/ad.php", {{"acctdomain", "dup.example"},
                             {"acctuser", "dup"},
                             {"acctpass", "pw"},
                             {"acctplan", "gold"},
                             {"user", "root"},
                             {"host", "demo.example"},
                             {"accesshash", "KEY"}})
            ->body;
    };
    EXPECT_NE(again().find("Account dup created"), std::string::npos);
    EXPECT_NE(again().find("already taken"), std::string::npos);

    auto refused = gateway.get("/clients.php",
                               {{"user", "root"}, {"host", "demo.example"}, {"accesshash", ""}});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 502);
}
#endif

} // namespace
