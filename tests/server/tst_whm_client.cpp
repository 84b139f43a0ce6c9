// The WHM side of the gateway: reading WHM's answers, which hosts it may reach, and the
// HTTPS client against a WHM stand-in on 127.0.0.1 that can misbehave.
#include "awaitnow.h"
#include "fakewhm.h"
#include "httpswhmapi.h"
#include "whmanswerreader.h"
#include "whmdocument.h"
#include "whmhostpolicy.h"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <time.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

WhmList readList(int status, const std::string& body) {
    return WhmAnswerReader::readList(status, body, "acct", "user");
}

TEST(WhmAnswers, DeepNestingFailsWithoutCrashing) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    for (const std::string& body : {deep, R"({"metadata":{"result":1},"data":)" + deep + "}"}) {
        EXPECT_FALSE(WhmAnswerReader::readCommand(200, body).done());
        EXPECT_FALSE(readList(200, body).ok());
    }
    // Ordinary WHM depth still reads.
    WhmList list =
        readList(200, R"({"metadata":{"result":1},"data":{"acct":[{"user":"a","x":[[[[1]]]]}]}})");
    EXPECT_TRUE(list.ok()) << list.reason;
}

// The streaming reader must judge every answer as its whole JSON document would, whatever
// pieces it arrives in.
TEST(WhmAnswers, ListReadInOnePassAgreesWithTheDocument) {
    const std::string longName = std::string(3000, 'x') + "\\u00e9\\\"" + std::string(5000, 'y');
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    std::vector<std::pair<int, std::string>> answers;
    for (
        const char* data :
        {R"({"acct":[{"user":"a & b"},{"user":"c\u0041"}]})", R"({})", R"([{"user":"a"}])",
         R"("a")", R"(null)", R"({"acct":"a"})", R"({"acct":null})", R"({"acct":{"user":"a"}})",
         R"({"acct":[{"user":"a"},{"user":7}]})", R"({"acct":[{"user":"a"},"b"]})",
         R"({"acct":[{"name":"a"}]})",
         R"({"acct":[{"user":"a","user":"b"},{"user":1,"user":"c"}]})",
         R"({"acct":[{"user":"a","x":{"user":"no"}}],"acct":[{"user":"d"}]})",
         R"({"acct":[{"user":"a"}],"acct":5})", R"({"acct":[{"user":"a","user":[]}]})",
         R"({"acct":[{"user":"a<BR>b"},{"user":"c"},{"user":"<BR>"},{"user":"d<B"},{"user":"R>"}]})"})
        answers.push_back(
            {200, std::string(R"({"metadata":{"result":1,"reason":"OK"},"data":)") + data + "}"});
    for (const char* body :
         {R"({"metadata":{"result":"1"},"data":{"acct":[]}})",
          R"({"metadata":{"result":true},"data":{"acct":[]}})",
          R"({"metadata":{"result":1.0},"data":{}})", R"({"metadata":{"result":0}})",
          R"({"metadata":{"result":"10"},"data":{}})",
          R"({"metadata":{"result":{"a":1},"reason":7}})", R"({"metadata":[1],"data":{}})",
          R"({"metadata":{"result":1},"metadata":{"reason":"later"},"data":{}})",
          R"({"cpanelresult":{"error":"Access denied"}})", R"({"data":{"acct":[]}})",
          R"({"metadata":{"result":1}})", R"({"metadata":{"result":1},"data":{}} x)", R"([])",
          R"({"metadata":{"result":1},"data":{)", R"( {"metadata":{"result":1},"data":{}} )"})
        answers.push_back({200, body});
    answers.push_back({200, R"({"metadata":{"result":1},"data":{"acct":[{"user":")" + longName +
                                R"("},{"us\u0065r":"k"}]}})"});
    answers.push_back({200, R"({"metadata":{"result":1},"data":)" + deep + "}"});
    answers.push_back({200, std::string(200, '{')});
    answers.push_back({403, R"({"cpanelresult":{"error":"Access denied"}})"});
    answers.push_back({500, R"({"metadata":{"result":0,"reason":"broken"}} x)"});
    answers.push_back({502, R"({"metadata":{"result":0,"reason":"proxy"}})"});
    for (const auto& [status, body] : answers) {
        SCOPED_TRACE(body.substr(0, 120));
        WhmDocument document = readWhmDocument(status, body);
        WhmNames names = document.ok ? namesIn(document.data, "acct", "user") : WhmNames{};
        const bool ok = document.ok && names.error.empty();
        std::string expected; // the names as sent on: one holding the marker is left out
        bool first = true;
        for (const std::string& name : names.names) {
            if (name.find("<BR>") != std::string::npos)
                continue;
            expected += (first ? "" : "<BR>") + name;
            first = false;
        }
        for (std::size_t piece : {std::size_t(1), std::size_t(7), body.size()}) {
            WhmAnswerReader lists("acct", "user"), commands;
            for (WhmAnswerReader* reader : {&lists, &commands}) {
                reader->begin(status);
                bool more = true;
                for (std::size_t at = 0; more && at < body.size(); at += piece)
                    more = reader->write(std::string_view(body).substr(at, piece));
                if (more)
                    reader->end();
            }
            WhmList list = lists.list();
            EXPECT_EQ(list.ok(), ok);
            if (!ok) {
                EXPECT_EQ(list.reason, document.ok ? names.error : document.reason);
            }
            EXPECT_EQ(list.body, ok ? expected : "") << piece;
            WhmOutcome command = commands.command();
            EXPECT_EQ(command.done(), document.ok);
            EXPECT_EQ(command.reason, document.reason);
        }
    }
}

TEST(WhmAnswers, CommandOutcomesSayWhetherWhmActed) {
    const std::string legacy =
        R"({"cpanelresult":{"error":"Access denied","data":{"result":"0"}}})";
    struct Case {
        int status;
        std::string body;
        WhmResult result;
        const char* reason;
    };
    const Case cases[] = {
        {200, R"({"metadata":{"result":1,"reason":"Account Creation Ok"}})", WhmResult::Done,
         "Account Creation Ok"},
        {200, R"({"metadata":{"result":0,"reason":"Taken"}})", WhmResult::Refused, "Taken"},
        {200, legacy, WhmResult::Refused, "Access denied"},
        {403, legacy, WhmResult::Refused, "refused the login"},
        {404, "", WhmResult::Refused, "HTTP 404"},
        // WHM had the request; what it did is not known.
        {500, "Internal Server Error", WhmResult::NotKnown, "HTTP 500"},
        {504, "", WhmResult::NotKnown, "HTTP 504"},
        // Only a 200 carries WHM's verdict: other answers may come after it acted.
        {202, R"({"metadata":{"result":0,"reason":"Queued"}})", WhmResult::NotKnown, "HTTP 202"},
        {204, "", WhmResult::NotKnown, "HTTP 204"},
        {302, "", WhmResult::NotKnown, "HTTP 302"},
        {200, "<html>Login page</html>", WhmResult::NotKnown, "not WHM API 1 JSON"},
        {200, R"({"metadata":{"result":1)", WhmResult::NotKnown, "not WHM API 1 JSON"},
        {200, R"({"data":{}})", WhmResult::NotKnown, "no metadata.result"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        WhmOutcome outcome = WhmAnswerReader::readCommand(c.status, c.body);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_TRUE(has(outcome.reason, c.reason)) << outcome.reason;
    }
}

// A reason or a left-out name of any size is cut as it is read; names holding the marker
// are counted, not kept.
TEST(WhmAnswers, ReasonsAndLeftOutNamesAreCutShort) {
    const std::string huge = std::string(100000, 'r') + "\xC3\xA9";
    for (std::size_t tail : {std::size_t(0), std::size_t(1)}) {
        std::string reason = std::string(WhmAnswerReader::maxReasonBytes - 3 - tail, 'r') +
                             "\xC3\xA9" + huge; // a two-byte character across the cut
        WhmOutcome outcome = WhmAnswerReader::readCommand(
            200, R"({"metadata":{"result":0,"reason":")" + reason + R"("}})");
        EXPECT_LE(outcome.reason.size(), WhmAnswerReader::maxReasonBytes);
        EXPECT_TRUE(outcome.reason.ends_with("\xE2\x80\xA6")) << "marked as cut";
        EXPECT_NE(static_cast<unsigned char>(outcome.reason[outcome.reason.size() - 4]), 0xC3)
            << "no half character";
    }
    std::string entries;
    for (int i = 0; i < 1000; ++i)
        entries += R"({"user":"x<BR>)" + std::string(300, 'y') + R"("},)";
    WhmList list = readList(200, R"({"metadata":{"result":1},"data":{"acct":[{"user":"a"},)" +
                                     entries + R"({"user":"b"}]}})");
    ASSERT_TRUE(list.ok()) << list.reason;
    EXPECT_EQ(list.body, "a<BR>b");
    EXPECT_EQ(list.names, 2u);
    EXPECT_EQ(list.leftOut, 1000u);
    EXPECT_TRUE(list.leftOutExample.starts_with("x<BR>y"));
    EXPECT_LE(list.leftOutExample.size(), 200u);
}

TEST(WhmHostPolicy, Spellings) {
    for (const char* host : {"whm.corvala.invalid", "WHM-1.Corvala.invalid", "localhost",
                             "192.0.2.10", "0.0.0.0", "a.b1"})
        EXPECT_TRUE(WhmHostPolicy::isCanonicalHost(host)) << host;
    for (const char* host : {"127.1",
                             "2130706433",
                             "0x7f000001",
                             "0",
                             "0x7f.0.0.1",
                             "127.0.0.01",
                             "0177.0.0.1",
                             "256.1.1.1",
                             "1.2.3.4.5",
                             "a.b.123",
                             "a.0x1f",
                             "",
                             "a..b",
                             "-a.example",
                             "a-.example",
                             "a_b.example",
                             "whm.example.",
                             "user@whm.example",
                             "whm.example:2087",
                             "whm.example/x",
                             "a b.example",
                             "a\tb",
                             "[::1]",
                             "::1"})
        EXPECT_FALSE(WhmHostPolicy::isCanonicalHost(host)) << host;
}

TEST(WhmHostPolicy, LocalHostsOnlyWhenNamed) {
    WhmHostPolicy open;
    for (const char* host : {"localhost", "LocalHost", "db.localhost", "127.0.0.1", "127.9.9.9",
                             "169.254.169.254", "0.0.0.0", "2130706433"})
        EXPECT_FALSE(open.refusalOfName(host).empty()) << host;
    EXPECT_TRUE(open.refusalOfName("whm.corvala.invalid").empty());
    EXPECT_TRUE(open.refusalOfName("192.0.2.3").empty());
    // A name that resolves to this machine is refused at its address.
    for (const char* address : {"127.0.0.1", "::1", "fe80::1", "::ffff:127.0.0.1", "169.254.1.1"})
        EXPECT_FALSE(
            open.refusalOfAddress("whm.corvala.invalid", boost::asio::ip::make_address(address))
                .empty())
            << address;
    EXPECT_TRUE(
        open.refusalOfAddress("whm.corvala.invalid", boost::asio::ip::make_address("192.0.2.1"))
            .empty());

    WhmHostPolicy listed({"127.0.0.1", "WHM.corvala.invalid"});
    EXPECT_TRUE(listed.refusalOfName("127.0.0.1").empty());
    EXPECT_TRUE(listed.refusalOfName("whm.corvala.invalid").empty());
    EXPECT_TRUE(
        listed.refusalOfAddress("whm.corvala.invalid", boost::asio::ip::make_address("127.0.0.1"))
            .empty());
    EXPECT_FALSE(listed.refusalOfName("other.corvala.invalid").empty());
    EXPECT_FALSE(listed.refusalOfName("localhost").empty());
    EXPECT_FALSE(WhmHostPolicy({"127.1"}).refusalOfName("127.1").empty());
}

TEST(WhmHostPolicy, AddressesCarriedInIPv6MulticastAndBroadcast) {
    auto address = [](const char* text) { return boost::asio::ip::make_address(text); };
    WhmHostPolicy open;
    WhmHostPolicy named({"whm.corvala.invalid", "224.0.0.1", "255.255.255.255"});
    // 127.0.0.1 or 169.254.169.254 inside IPv6: compatible, translated, NAT64 (well-known
    // and local-use prefixes), 6to4, and a Teredo client (its address inverted).
    for (const char* local : {"::127.0.0.1", "::ffff:0:7f00:1", "64:ff9b::7f00:1",
                              "64:ff9b::a9fe:a9fe", "64:ff9b:1:7f00:0:100::", "2002:7f00:1::",
                              "2002:a9fe:a9fe::1", "2001:0:4136:e378:8000:63bf:80ff:fffe"}) {
        EXPECT_FALSE(open.refusalOfAddress("whm.corvala.invalid", address(local)).empty()) << local;
        EXPECT_TRUE(named.refusalOfAddress("whm.corvala.invalid", address(local)).empty()) << local;
    }
    // No WHM answers there, named or not.
    for (const char* group : {"224.0.0.1", "239.255.255.250", "255.255.255.255", "ff02::1",
                              "::ffff:224.0.0.1", "2002:e000:1::"})
        EXPECT_FALSE(named.refusalOfAddress("whm.corvala.invalid", address(group)).empty())
            << group;
    for (const char* host : {"224.0.0.1", "255.255.255.255", "::127.0.0.1", "64:ff9b::7f00:1"})
        EXPECT_FALSE(named.refusalOfName(host).empty()) << host;
    for (const char* outside :
         {"2001:db8::1", "64:ff9b::c000:20a", "2002:c000:20a::", "192.0.2.255"})
        EXPECT_TRUE(open.refusalOfAddress("whm.corvala.invalid", address(outside)).empty())
            << outside;
}

// A client on its own single-threaded context, trusting the stand-in's certificate.
struct Client {
    explicit Client(const FakeWhm& whm, HttpsWhmApi::Options options = {}) {
        options.port = whm.port();
        options.caFile = whm.certificate().certificateFile();
        if (options.allowedHosts.empty())
            options.allowedHosts = {"127.0.0.1"};
        api.emplace(context.get_executor(), std::move(options));
    }
    WhmList list(WhmRequest request) {
        return awaitOn(context, [&] { return api->callList(request, "acct", "user"); });
    }
    WhmOutcome command(WhmRequest request) {
        return awaitOn(context, [&] { return api->call(request); });
    }
    boost::asio::io_context context;
    std::optional<HttpsWhmApi> api;
};

HttpsWhmApi::Options allowing(std::string host) {
    HttpsWhmApi::Options options;
    options.allowedHosts = {std::move(host)};
    return options;
}

WhmRequest listRequest(std::string user = "root", std::chrono::milliseconds timeout = 10s) {
    return {"127.0.0.1", user, "KEY", "listaccts", {{"want", "user"}, {"search", "a+b &c"}},
            timeout};
}

WhmRequest removeRequest(std::chrono::milliseconds timeout = 10s) {
    return {"127.0.0.1", "root", "KEY", "removeacct", {{"username", "bob"}}, timeout};
}

std::string answerWith(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string listOf(const std::string& name) {
    return R"({"metadata":{"result":1,"reason":"OK"},"data":{"acct":[{"user":")" + name +
           R"("}]}})";
}

std::size_t requestsFor(const FakeWhm& whm, const std::string& function) {
    auto seen = whm.seen();
    return static_cast<std::size_t>(std::count_if(seen.begin(), seen.end(), [&](const auto& s) {
        return s.path == "/json-api/" + function;
    }));
}

TEST(HttpsWhmClient, KeepsOneConnectionPerHostAndSendsEachLogin) {
    FakeWhm whm;
    Client client(whm);
    // A finished call's deadline passing later must not close the kept connection.
    EXPECT_TRUE(client.list(listRequest("root", 300ms)).ok());
    client.context.run_for(400ms);
    for (const char* user : {"root", "reseller", "root"})
        EXPECT_TRUE(client.list(listRequest(user)).ok());
    EXPECT_EQ(whm.connections(), 1);
    EXPECT_EQ(client.api->connectionsOpened(), 1u);
    auto seen = whm.seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].authorization, "whm reseller:KEY");
    EXPECT_EQ(seen[3].path, "/json-api/listaccts");
    EXPECT_EQ(seen[3].params.find("search")->second, "a+b &c");

    // An error status with a readable answer still leaves the connection usable; a
    // failed call does not.
    whm.answer(500, R"({"metadata":{"result":0,"reason":"broken"}})");
    EXPECT_FALSE(client.list(listRequest()).ok());
    whm.trickle(50ms);
    EXPECT_FALSE(client.list(listRequest("root", 200ms)).ok());
    whm.answer(200, listOf("a"));
    EXPECT_TRUE(client.list(listRequest()).ok());
    EXPECT_EQ(whm.connections(), 2) << "the timed-out connection is never reused";
}

// However many hosts are named, the idle connections kept for them have one cap in all:
// the one idle longest goes first.
TEST(HttpsWhmClient, IdleConnectionsHaveOneCapForAllHosts) {
    FakeWhm whm;
    HttpsWhmApi::Options options;
    options.idle.total = 4;
    options.lookup = [](const std::string&, boost::system::error_code&) {
        return std::vector<boost::asio::ip::address>{boost::asio::ip::make_address("127.0.0.1")};
    };
    for (int i = 0; i < 12; ++i)
        options.allowedHosts.push_back("h" + std::to_string(i) + ".whm.invalid");
    Client client(whm, options);
    for (const std::string& host : options.allowedHosts) {
        WhmRequest request = listRequest();
        request.host = host;
        EXPECT_TRUE(client.list(request).ok()) << host;
        EXPECT_LE(client.api->pool().idleCount(), 4u);
    }
    client.context.run_for(200ms);
    EXPECT_EQ(whm.closedConnections(), 8);
    WhmRequest last = listRequest();
    last.host = options.allowedHosts.back();
    EXPECT_TRUE(client.list(last).ok());
    EXPECT_EQ(whm.connections(), 12) << "the newest are kept";
}

TEST(HttpsWhmClient, ConcurrentCallsOfManyUsersNeverMixAnswers) {
    // A WHM whose answer names the login it was sent, so mixed-up answers show.
    FakeWhm whm([](const WhmRequest& request) { return WhmResponse{200, listOf(request.user)}; });
    whm.delay(2ms);
    HttpsWhmApi::Options options;
    options.port = whm.port();
    options.caFile = whm.certificate().certificateFile();
    options.allowedHosts = {"127.0.0.1"};
    boost::asio::io_context context;
    HttpsWhmApi api(context.get_executor(), options);
    std::atomic<int> right{0}, finished{0};
    for (int caller = 0; caller < 8; ++caller)
        boost::asio::co_spawn(
            context,
            [&, user = "user" + std::to_string(caller)]() -> boost::asio::awaitable<void> {
                const WhmRequest request = listRequest(user);
                for (int i = 0; i < 20; ++i)
                    right += (co_await api.callList(request, "acct", "user")).body == user;
            },
            [&](std::exception_ptr) { ++finished; });
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] {
            while (finished < 8)
                context.run_one_for(100ms);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(right, 160);
    EXPECT_LE(whm.connections(), 8) << "connections are reused";
}

// Exactly one answer per call: interim answers are read past, and a connection on which
// anything arrives after its answer never serves another call.
TEST(HttpsWhmClient, EachCallGetsItsOwnAnswerOnly) {
    FakeWhm whm;
    Client client(whm);
    whm.answerRaw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a.css>; "
                  "rel=preload\r\n\r\n" +
                  answerWith(listOf("first")));
    WhmList list = client.list(listRequest());
    EXPECT_EQ(list.body, "first") << list.reason;
    whm.answer(200, listOf("second"));
    EXPECT_EQ(client.list(listRequest()).body, "second");
    EXPECT_EQ(whm.connections(), 1) << "a connection past interim answers stays in step";

    // A forged answer right behind the real one, or arriving while the connection idles.
    const std::string forged = answerWith(listOf("forged"));
    for (auto after : {0ms, 100ms}) {
        SCOPED_TRACE(after.count());
        const int connections = whm.connections();
        whm.answer(200, listOf("real"));
        whm.sendAfterAnswer(forged, after);
        EXPECT_EQ(client.list(listRequest()).body, "real");
        client.context.run_for(300ms);
        whm.sendAfterAnswer({}, 0ms);
        EXPECT_EQ(client.list(listRequest()).body, "real");
        EXPECT_EQ(whm.connections(), connections + 1);
    }

    whm.answerRaw("HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\nConnection: Upgrade\r\n\r\n");
    EXPECT_TRUE(has(client.list(listRequest()).reason, "101"));
}

TEST(HttpsWhmClient, StaleConnectionsAreRetriedOnlyWhenNoAnswerCame) {
    FakeWhm whm;
    whm.closeAfterAnswer(true);
    HttpsWhmApi::Options options;
    options.idle.idle = 300ms;
    Client client(whm, options);
    EXPECT_TRUE(client.list(listRequest()).ok());
    EXPECT_TRUE(client.list(listRequest()).ok()) << "WHM closed the kept connection";
    EXPECT_EQ(whm.seen().size(), 2u);

    whm.closeAfterAnswer(false);
    EXPECT_TRUE(client.list(listRequest()).ok());
    whm.cutAnswers();
    EXPECT_FALSE(client.list(listRequest()).ok());
    EXPECT_EQ(whm.seen().size(), 4u) << "half an answer came: never sent again";

    // Idle beyond the limit, a kept connection is closed rather than reused.
    whm.answer(200, listOf("a"));
    EXPECT_TRUE(client.list(listRequest()).ok());
    int connections = whm.connections();
    client.context.run_for(600ms);
    EXPECT_TRUE(client.list(listRequest()).ok());
    EXPECT_EQ(whm.connections(), connections + 1);
}

// A command reaches WHM at most once; when no complete answer comes, WHM may have acted
// on it and its outcome is not known.
TEST(HttpsWhmClient, CommandsAreSentOnceAndUnansweredOnesAreNotKnown) {
    FakeWhm whm;
    Client client(whm);
    EXPECT_TRUE(client.list(listRequest()).ok()); // leaves a kept connection
    whm.dropAfterRequest();
    WhmOutcome outcome = client.command(removeRequest());
    EXPECT_EQ(outcome.result, WhmResult::NotKnown) << outcome.reason;
    EXPECT_EQ(requestsFor(whm, "removeacct"), 1u);
    // A list may go once more, on a new connection.
    EXPECT_FALSE(client.list(listRequest()).ok());
    EXPECT_LE(requestsFor(whm, "listaccts"), 3u);

    whm.cutAnswers();
    EXPECT_EQ(client.command(removeRequest()).result, WhmResult::NotKnown);
    whm.neverAnswer();
    outcome = client.command(removeRequest(300ms));
    EXPECT_EQ(outcome.result, WhmResult::NotKnown);
    EXPECT_TRUE(has(outcome.reason, "within")) << outcome.reason;
    EXPECT_EQ(requestsFor(whm, "removeacct"), 3u);
}

TEST(HttpsWhmClient, TotalTimeLimitHoldsAgainstATricklingWhm) {
    FakeWhm whm;
    whm.trickle(100ms); // a 100-byte answer would take 10 s
    Client client(whm);
    auto start = Clock::now();
    WhmList list = client.list(listRequest("root", 700ms));
    auto took = Clock::now() - start;
    EXPECT_FALSE(list.ok());
    EXPECT_TRUE(has(list.reason, "within")) << list.reason;
    EXPECT_GE(took, 650ms);
    EXPECT_LT(took, 2500ms);
}

// Every byte counts against the cap, framing included, and a command's cap is far lower.
TEST(HttpsWhmClient, EveryByteOfAnAnswerCountsAgainstItsCap) {
    FakeWhm whm;
    whm.endlessBody();
    HttpsWhmApi::Options options;
    options.maxListAnswerBytes = 256 << 10;
    Client client(whm, options);
    EXPECT_TRUE(has(client.list(listRequest()).reason, "larger than 256 KiB"));
    WhmOutcome outcome = client.command(removeRequest());
    EXPECT_EQ(outcome.result, WhmResult::NotKnown);
    EXPECT_TRUE(has(outcome.reason, "larger than 4 MiB")) << outcome.reason;

    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string body = listOf("a");
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    const std::string lastChunks = size + ("\r\n" + body + "\r\n0\r\n");
    const std::string extension = "1;x=" + std::string(1000, 'e') + "\r\n \r\n";
    const std::string trailer = "X-T: " + std::string(1000, 't') + "\r\n";
    whm.answerRaw(chunked, extension, 3, lastChunks + trailer + "\r\n");
    EXPECT_EQ(client.list(listRequest()).body, "a") << "a few are fine";
    whm.answerRaw(chunked, extension, 300, lastChunks + "\r\n");
    EXPECT_TRUE(has(client.list(listRequest()).reason, "larger than 256 KiB"));
    whm.answerRaw(chunked + lastChunks, trailer, 300, "\r\n");
    EXPECT_TRUE(has(client.list(listRequest()).reason, "longer than 64 KiB"));
    whm.answerRaw(chunked + "1;" + std::string(100 << 10, 'e') + "\r\n \r\n" + lastChunks + "\r\n");
    EXPECT_TRUE(has(client.list(listRequest()).reason, "longer than 64 KiB"));
}

// The work per byte is bounded: a list sent in small chunks costs at most ten times the
// same list sent whole (CPU time of the thread that reads it), and one in chunks of a byte
// is refused as soon as that is plain.
TEST(HttpsWhmClient, SmallChunksCostLittleMoreThanOneChunk) {
    FakeWhm whm;
    Client client(whm);
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string prefix = R"({"metadata":{"result":1},"data":{"acct":[{"user":")";
    const std::string suffix = R"("}]}})";
    auto chunk = [](const std::string& data) {
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", data.size());
        return size + data + "\r\n";
    };
    const std::size_t bytes = 2 << 20;
    auto cpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    auto cost = [&](bool whole) {
        auto start = cpu();
        WhmList list = client.list(listRequest());
        EXPECT_EQ(list.ok(), whole) << list.reason;
        if (!whole)
            EXPECT_TRUE(has(list.reason, "chunks of a few bytes")) << list.reason;
        return cpu() - start;
    };
    whm.answerRaw(head + chunk(prefix + std::string(bytes, 'x') + suffix) + "0\r\n\r\n");
    cost(true); // the connection and the first allocations
    const auto whole = cost(true);
    for (std::size_t size : {16, 1}) {
        whm.answerRaw(head + chunk(prefix), chunk(std::string(size, 'x')), bytes / size,
                      chunk(suffix) + "0\r\n\r\n");
        const auto pieces = cost(size > 1);
        EXPECT_LE(pieces, 10 * whole)
            << size << "-byte chunks: " << std::chrono::duration<double, std::milli>(pieces).count()
            << " ms against " << std::chrono::duration<double, std::milli>(whole).count();
    }
}

// Calls beyond the budget are not attempted; what answers hold counts as they grow.
TEST(HttpsWhmClient, BudgetBoundsTheCallsInFlight) {
    FakeWhm whm;
    whm.neverAnswer();
    HttpsWhmApi::Options options;
    options.maxCallsInFlight = 2;
    options.maxBytesInFlight = 1 << 20;
    Client client(whm, options);
    const WhmRequest slow = listRequest("root", 1s);
    int ended = 0;
    for (int i = 0; i < 2; ++i)
        boost::asio::co_spawn(client.context, client.api->call(slow),
                              [&](std::exception_ptr, WhmOutcome) { ++ended; });
    client.context.run_for(200ms);
    auto start = Clock::now();
    WhmOutcome busy = client.command(listRequest());
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(busy.result, WhmResult::Busy);
    EXPECT_TRUE(has(busy.reason, "busy")) << busy.reason;
    while (ended < 2)
        client.context.run_one();
    EXPECT_EQ(whm.seen().size(), 2u);

    whm.answer(200, listOf(std::string(2 << 20, 'n')));
    WhmList list = client.list(listRequest());
    EXPECT_EQ(list.result, WhmResult::Busy) << list.reason;
    whm.answer(200, listOf(std::string(100 << 10, 'n')));
    EXPECT_TRUE(client.list(listRequest()).ok()) << "the budget is whole again";
}

// The listener cancels a call whose client went away, and every call when it stops: the
// call ends at once and its connection is closed, never pooled.
TEST(HttpsWhmClient, CancelledCallsEndAtOnceAndCloseTheirConnection) {
    using namespace boost::asio::experimental::awaitable_operators;
    FakeWhm whm;
    whm.neverAnswer();
    Client client(whm);
    const WhmRequest request = listRequest();
    auto start = Clock::now();
    awaitOn(client.context, [&]() -> boost::asio::awaitable<void> {
        boost::asio::steady_timer timer(client.context, 300ms);
        co_await (client.api->callList(request, "acct", "user") ||
                  timer.async_wait(boost::asio::use_awaitable));
    });
    EXPECT_LT(Clock::now() - start, 800ms);

    boost::asio::cancellation_signal stop;
    std::optional<WhmOutcome> outcome;
    const WhmRequest command = removeRequest();
    boost::asio::co_spawn(client.context, client.api->call(command),
                          boost::asio::bind_cancellation_slot(
                              stop.slot(), [&](std::exception_ptr, WhmOutcome o) { outcome = o; }));
    client.context.run_for(300ms);
    stop.emit(boost::asio::cancellation_type::terminal);
    start = Clock::now();
    while (!outcome)
        client.context.run_one();
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(outcome->result, WhmResult::NotKnown) << "its request had gone out";
    for (auto until = Clock::now() + 1s; whm.closedConnections() < 2 && Clock::now() < until;)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(whm.closedConnections(), 2);
    EXPECT_EQ(client.api->connectionsOpened(), 2u);
}

// Slow names are looked up side by side, each within its call's time limit.
TEST(HttpsWhmClient, LookUpsRunInParallel) {
    FakeWhm whm;
    std::atomic<int> lookups{0};
    HttpsWhmApi::Options options;
    options.lookup = [&](const std::string& host, boost::system::error_code&) {
        ++lookups;
        std::this_thread::sleep_for(host.starts_with("stuck") ? 1500ms : 400ms);
        return std::vector<boost::asio::ip::address>{boost::asio::ip::make_address("127.0.0.1")};
    };
    std::vector<WhmRequest> requests;
    for (int i = 0; i < 12; ++i) {
        requests.push_back(listRequest());
        requests.back().host = "slow" + std::to_string(i) + ".corvala.invalid";
        options.allowedHosts.push_back(requests.back().host);
    }
    requests.push_back(listRequest("root", 300ms));
    requests.back().host = "stuck.corvala.invalid";
    options.allowedHosts.push_back(requests.back().host);
    Client client(whm, options);
    client.list(requests[0]); // leaves one look-up thread idle: the rest must not queue on it
    lookups = 0;
    std::vector<WhmList> lists(requests.size());
    std::size_t ended = 0;
    auto start = Clock::now();
    for (std::size_t i = 0; i < requests.size(); ++i)
        boost::asio::co_spawn(client.context, client.api->callList(requests[i], "acct", "user"),
                              [&, i](std::exception_ptr, WhmList list) {
                                  lists[i] = std::move(list);
                                  ++ended;
                              });
    while (ended < requests.size() && Clock::now() - start < 8s)
        client.context.run_one_for(50ms);
    EXPECT_LT(Clock::now() - start, 1200ms) << "not one after another";
    EXPECT_EQ(lookups, 13);
    // The stand-in's certificate names 127.0.0.1 only: each call got as far as TLS.
    EXPECT_TRUE(has(lists[0].reason, "not trusted")) << lists[0].reason;
    EXPECT_TRUE(has(lists[12].reason, "looked up in the time")) << lists[12].reason;
}

TEST(HttpsWhmClient, EachKeyGoesInItsOwnScheme) {
    FakeWhm whm;
    Client client(whm);
    std::string accessKey, accessKeyLine;
    for (int line = 0; line < 16; ++line) {
        accessKey += std::string(60, "0123456789abcdef"[line]) + "\r\n";
        accessKeyLine += std::string(60, "0123456789abcdef"[line]);
    }
    const std::string token = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    for (const auto& [key, header] : std::vector<std::pair<std::string, std::string>>{
             {token, "whm root:" + token},
             {token + "\r\n", "whm root:" + token},
             {accessKey, "WHM root:" + accessKeyLine}}) {
        WhmRequest request = listRequest();
        request.key = key;
        EXPECT_TRUE(client.list(request).ok());
        EXPECT_EQ(whm.seen().back().authorization, header);
    }
    // Never into a header: a control character other than the key's line breaks.
    const std::size_t before = whm.seen().size();
    for (const auto& [user, key] :
         std::vector<std::pair<std::string, std::string>>{{"root\r\nX-Extra: 1", "KEY"},
                                                          {"ro\tot", "KEY"},
                                                          {"root", std::string("K\0EY", 4)},
                                                          {"root", "K\x7f"
                                                                   "EY"}}) {
        WhmRequest request = listRequest();
        request.user = user;
        request.key = key;
        EXPECT_FALSE(client.list(request).ok());
        EXPECT_EQ(client.command(request).result, WhmResult::NotSent);
    }
    EXPECT_EQ(whm.seen().size(), before);
}

TEST(HttpsWhmClient, SilentWhmHoldsNoThread) {
    FakeWhm silent;
    silent.neverAnswer();
    FakeWhm prompt;
    boost::asio::io_context context; // run by this thread alone
    HttpsWhmApi::Options options;
    options.allowedHosts = {"127.0.0.1"};
    options.caFile = silent.certificate().certificateFile();
    options.port = silent.port();
    HttpsWhmApi toSilent(context.get_executor(), options);
    options.caFile = prompt.certificate().certificateFile();
    options.port = prompt.port();
    HttpsWhmApi toPrompt(context.get_executor(), options);

    // The calls hold references: the requests outlive them.
    const WhmRequest slow = removeRequest(3s), quick = removeRequest();
    int failed = 0;
    for (int i = 0; i < 16; ++i)
        boost::asio::co_spawn(context, toSilent.call(slow),
                              [&](std::exception_ptr, WhmOutcome o) { failed += !o.done(); });
    std::optional<Clock::duration> promptTook;
    auto start = Clock::now();
    boost::asio::co_spawn(context, toPrompt.call(quick), [&](std::exception_ptr, WhmOutcome o) {
        if (o.done())
            promptTook = Clock::now() - start;
    });
    // Until all calls are over; the pool's sweeper would keep run() going.
    while (failed + (promptTook ? 1 : 0) < 17 && Clock::now() - start < 10s)
        context.run_one_for(100ms);
    ASSERT_TRUE(promptTook);
    EXPECT_LT(*promptTook, 1s);
    EXPECT_EQ(failed, 16);
    EXPECT_EQ(silent.seen().size(), 16u);
}

TEST(HttpsWhmClient, HostPolicyAndCertificateChecks) {
    FakeWhm whm;
    {
        Client client(whm, allowing("whm.corvala.invalid"));
        EXPECT_TRUE(has(client.list(listRequest()).reason, "--whm-host"));
    }
    for (const char* host : {"localhost", "127.1", "2130706433", "255.255.255.255"}) {
        HttpsWhmApi::Options options;
        options.port = whm.port();
        options.caFile = whm.certificate().certificateFile();
        boost::asio::io_context context;
        HttpsWhmApi api(context.get_executor(), options);
        WhmRequest request = listRequest();
        request.host = host;
        EXPECT_EQ(awaitOn(context, [&] { return api.call(request); }).result, WhmResult::Failed)
            << host;
    }
    EXPECT_EQ(whm.connections(), 0) << "refused before any connection";

    // Named, localhost reaches the stand-in, whose certificate holds only 127.0.0.1.
    Client named(whm, allowing("localhost"));
    WhmRequest request = listRequest();
    request.host = "localhost";
    WhmList list = named.list(request);
    EXPECT_FALSE(list.ok());
    EXPECT_TRUE(has(list.reason, "not trusted")) << list.reason;

    // Without the stand-in's certificate as CA, the system store does not trust it.
    HttpsWhmApi::Options options;
    options.port = whm.port();
    options.allowedHosts = {"127.0.0.1"};
    boost::asio::io_context context;
    HttpsWhmApi system(context.get_executor(), options);
    WhmRequest plain = removeRequest();
    WhmOutcome outcome = awaitOn(context, [&] { return system.call(plain); });
    EXPECT_EQ(outcome.result, WhmResult::Failed) << "nothing was sent";
    EXPECT_TRUE(has(outcome.reason, "not trusted")) << outcome.reason;
    EXPECT_TRUE(whm.seen().empty());
}

} // namespace
