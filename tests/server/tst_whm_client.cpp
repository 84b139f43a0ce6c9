// The WHM side of the gateway: reading WHM's answers, which hosts it may reach, and the
// HTTPS client against a WHM stand-in on 127.0.0.1 that can misbehave.
#include "awaitnow.h"
#include "fakewhm.h"
#include "httpswhmapi.h"
#include "whmhostpolicy.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/json/parse.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(WhmAnswers, DeepNestingFailsWithoutCrashing) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    for (const std::string& body : {deep, R"({"metadata":{"result":1},"data":)" + deep + "}"}) {
        WhmOutcome outcome = WhmApi::readResponse({200, body});
        EXPECT_FALSE(outcome.ok);
        EXPECT_FALSE(outcome.reason.empty());
    }
    // Ordinary WHM depth still reads.
    WhmOutcome outcome = WhmApi::readResponse(
        {200, R"({"metadata":{"result":1},"data":{"acct":[{"user":"a","x":[[[[1]]]]}]}})"});
    EXPECT_TRUE(outcome.ok) << outcome.reason;
}

TEST(WhmAnswers, WrongShapesAreErrorsNeverEmptyLists) {
    struct Case {
        const char* data;
        bool fails;
        size_t names;
    };
    const Case cases[] = {
        {R"({"acct":[{"user":"a & b"},{"user":"c"}]})", false, 2},
        {R"({})", false, 0}, // WHM leaves an empty list out
        {R"([{"user":"a"}])", true, 0},
        {R"("a")", true, 0},
        {R"(null)", true, 0},
        {R"({"acct":"a"})", true, 0},
        {R"({"acct":{"user":"a"}})", true, 0},
        {R"({"acct":[{"user":"a"},{"user":7}]})", true, 0},
        {R"({"acct":[{"user":"a"},"b"]})", true, 0},
        {R"({"acct":[{"name":"a"}]})", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        WhmNames names = namesIn(boost::json::parse(c.data), "acct", "user");
        EXPECT_EQ(!names.error.empty(), c.fails);
        if (!c.fails) {
            EXPECT_EQ(names.names.size(), c.names);
        }
    }
    EXPECT_EQ(namesIn(boost::json::parse(cases[0].data), "acct", "user").names[0], "a & b");
}

// The list path reads names without a document; it must judge every answer as the
// document and namesIn do.
TEST(WhmAnswers, ListReadInOnePassAgreesWithTheDocument) {
    const std::string longName = std::string(3000, 'x') + "\\u00e9\\\"" + std::string(5000, 'y');
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    std::vector<std::pair<int, std::string>> answers;
    for (const char* data :
         {R"({"acct":[{"user":"a & b"},{"user":"c\u0041"}]})", R"({})", R"([{"user":"a"}])",
          R"("a")", R"(null)", R"({"acct":"a"})", R"({"acct":null})", R"({"acct":{"user":"a"}})",
          R"({"acct":[{"user":"a"},{"user":7}]})", R"({"acct":[{"user":"a"},"b"]})",
          R"({"acct":[{"name":"a"}]})",
          R"({"acct":[{"user":"a","user":"b"},{"user":1,"user":"c"}]})",
          R"({"acct":[{"user":"a","x":{"user":"no"}}],"acct":[{"user":"d"}]})",
          R"({"acct":[{"user":"a"}],"acct":5})", R"({"acct":[{"user":"a","user":[]}]})"})
        answers.push_back(
            {200, std::string(R"({"metadata":{"result":1,"reason":"OK"},"data":)") + data + "}"});
    for (const char* body :
         {R"({"metadata":{"result":"1"},"data":{"acct":[]}})",
          R"({"metadata":{"result":true},"data":{"acct":[]}})",
          R"({"metadata":{"result":1.0},"data":{}})", R"({"metadata":{"result":0}})",
          R"({"metadata":{"result":{"a":1},"reason":7}})", R"({"metadata":[1],"data":{}})",
          R"({"metadata":{"result":1},"metadata":{"reason":"later"},"data":{}})",
          R"({"cpanelresult":{"error":"Access denied"}})", R"({"data":{"acct":[]}})",
          R"({"metadata":{"result":1}})", R"({"metadata":{"result":1},"data":{}} x)", R"([])",
          R"({"metadata":{"result":1},"data":{)"})
        answers.push_back({200, body});
    answers.push_back({200, R"({"metadata":{"result":1},"data":{"acct":[{"user":")" + longName +
                                R"("},{"us\u0065r":"k"}]}})"});
    answers.push_back({200, R"({"metadata":{"result":1},"data":)" + deep + "}"});
    answers.push_back({200, std::string(200, '{')});
    answers.push_back({403, R"({"cpanelresult":{"error":"Access denied"}})"});
    answers.push_back({500, R"({"metadata":{"result":0,"reason":"broken"}} x)"});
    for (const auto& [status, body] : answers) {
        SCOPED_TRACE(body.substr(0, 120));
        WhmOutcome outcome = WhmApi::readResponse({status, body});
        WhmNames names = outcome.ok ? namesIn(outcome.data, "acct", "user") : WhmNames{};
        const bool ok = outcome.ok && names.error.empty();
        WhmList list = WhmApi::readList({status, body}, "acct", "user");
        EXPECT_EQ(list.ok, ok);
        EXPECT_EQ(list.reason, outcome.ok && !ok ? names.error : outcome.reason);
        ASSERT_EQ(list.size(), ok ? names.names.size() : 0u);
        for (size_t i = 0; i < list.size(); ++i)
            EXPECT_EQ(list.name(i), names.names[i]);
    }
}

TEST(WhmAnswers, OlderErrorShapeAndStatus) {
    const std::string legacy =
        R"({"cpanelresult":{"error":"Access denied","data":{"result":"0"}}})";
    WhmOutcome outcome = WhmApi::readResponse({200, legacy});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, "Access denied");
    outcome = WhmApi::readResponse({403, legacy});
    EXPECT_TRUE(has(outcome.reason, "refused the login") && has(outcome.reason, "Access denied"));
    outcome = WhmApi::readResponse({200, R"({"metadata":{"result":"1","reason":"OK"},"data":7})"});
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.data.as_int64(), 7);
    EXPECT_FALSE(WhmApi::readResponse({200, R"({"metadata":{"result":0}})"}).reason.empty());
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

// A client on its own single-threaded context, trusting the stand-in's certificate.
struct Client {
    explicit Client(const FakeWhm& whm, HttpsWhmApi::Options options = {}) {
        options.port = whm.port();
        options.caFile = whm.certificate().certificateFile();
        if (options.allowedHosts.empty())
            options.allowedHosts = {"127.0.0.1"};
        api.emplace(context.get_executor(), std::move(options));
    }
    WhmOutcome call(WhmRequest request) {
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

TEST(HttpsWhmClient, KeepsOneConnectionPerHostAndSendsEachLogin) {
    FakeWhm whm;
    Client client(whm);
    // A finished call's deadline passing later must not close the kept connection.
    EXPECT_TRUE(client.call(listRequest("root", 300ms)).ok);
    client.context.run_for(400ms);
    for (const char* user : {"root", "reseller", "root"})
        EXPECT_TRUE(client.call(listRequest(user)).ok);
    EXPECT_EQ(whm.connections(), 1);
    EXPECT_EQ(client.api->connectionsOpened(), 1u);
    auto seen = whm.seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].authorization, "whm reseller:KEY");
    EXPECT_EQ(seen[3].path, "/json-api/listaccts");
    EXPECT_EQ(seen[3].params.find("search")->second, "a+b &c");

    // An answer that is not clean (here an error status still has a body) still leaves
    // the connection usable; a failed call does not.
    whm.answer(500, "oops");
    EXPECT_FALSE(client.call(listRequest()).ok);
    whm.trickle(50ms);
    EXPECT_FALSE(client.call(listRequest("root", 200ms)).ok);
    whm.answer(200, R"({"metadata":{"result":1}})");
    EXPECT_TRUE(client.call(listRequest()).ok);
    EXPECT_EQ(whm.connections(), 2) << "the timed-out connection is never reused";
}

// A WHM whose answer names the login it was sent, so mixed-up answers show.
struct EchoWhm : WhmApi {
    boost::asio::awaitable<WhmResponse> send(const WhmRequest& request) override {
        co_return WhmResponse{200, R"({"metadata":{"result":1,"reason":")" + request.user + "\"}}"};
    }
};

TEST(HttpsWhmClient, ConcurrentCallsOfManyUsersNeverMixAnswers) {
    EchoWhm echo;
    FakeWhm whm(&echo);
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
                    right += (co_await api.call(request)).reason == user;
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

TEST(HttpsWhmClient, StaleConnectionsAreRetriedOnlyWhenNoAnswerCame) {
    FakeWhm whm;
    whm.closeAfterAnswer(true);
    HttpsWhmApi::Options options;
    options.idleLimit = 300ms;
    Client client(whm, options);
    EXPECT_TRUE(client.call(listRequest()).ok);
    EXPECT_TRUE(client.call(listRequest()).ok) << "WHM closed the kept connection";
    EXPECT_EQ(whm.seen().size(), 2u);

    whm.closeAfterAnswer(false);
    EXPECT_TRUE(client.call(listRequest()).ok);
    whm.cutAnswers();
    EXPECT_FALSE(client.call(listRequest()).ok);
    EXPECT_EQ(whm.seen().size(), 4u) << "half an answer came: never sent again";

    // Idle beyond the limit, a kept connection is closed rather than reused.
    whm.answer(200, R"({"metadata":{"result":1}})");
    EXPECT_TRUE(client.call(listRequest()).ok);
    int connections = whm.connections();
    client.context.run_for(600ms);
    EXPECT_TRUE(client.call(listRequest()).ok);
    EXPECT_EQ(whm.connections(), connections + 1);
}

TEST(HttpsWhmClient, TotalTimeLimitHoldsAgainstATricklingWhm) {
    FakeWhm whm;
    whm.trickle(100ms); // a 100-byte answer would take 10 s
    Client client(whm);
    auto start = Clock::now();
    WhmOutcome outcome = client.call(listRequest("root", 700ms));
    auto took = Clock::now() - start;
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(has(outcome.reason, "within")) << outcome.reason;
    EXPECT_GE(took, 650ms);
    EXPECT_LT(took, 2500ms);
}

TEST(HttpsWhmClient, AnswerOverTheSizeCapFails) {
    FakeWhm whm;
    whm.endlessBody();
    Client client(whm);
    WhmOutcome outcome = client.call(listRequest());
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(has(outcome.reason, "larger than 64 MiB")) << outcome.reason;
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
    const WhmRequest slow = listRequest("root", 3s), quick = listRequest();
    int failed = 0;
    for (int i = 0; i < 16; ++i)
        boost::asio::co_spawn(context, toSilent.call(slow),
                              [&](std::exception_ptr, WhmOutcome o) { failed += !o.ok; });
    std::optional<Clock::duration> promptTook;
    auto start = Clock::now();
    boost::asio::co_spawn(context, toPrompt.call(quick), [&](std::exception_ptr, WhmOutcome o) {
        if (o.ok)
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
        EXPECT_TRUE(has(client.call(listRequest()).reason, "--whm-host"));
    }
    for (const char* host : {"localhost", "127.1", "2130706433"}) {
        HttpsWhmApi::Options options;
        options.port = whm.port();
        options.caFile = whm.certificate().certificateFile();
        boost::asio::io_context context;
        HttpsWhmApi api(context.get_executor(), options);
        WhmRequest request = listRequest();
        request.host = host;
        EXPECT_FALSE(awaitOn(context, [&] { return api.call(request); }).ok) << host;
    }
    EXPECT_EQ(whm.connections(), 0) << "refused before any connection";

    // Named, localhost reaches the stand-in, whose certificate holds only 127.0.0.1.
    Client named(whm, allowing("localhost"));
    WhmRequest request = listRequest();
    request.host = "localhost";
    WhmOutcome outcome = named.call(request);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(has(outcome.reason, "not trusted")) << outcome.reason;

    // Without the stand-in's certificate as CA, the system store does not trust it.
    HttpsWhmApi::Options options;
    options.port = whm.port();
    options.allowedHosts = {"127.0.0.1"};
    boost::asio::io_context context;
    HttpsWhmApi system(context.get_executor(), options);
    WhmRequest plain = listRequest();
    outcome = awaitOn(context, [&] { return system.call(plain); });
    EXPECT_TRUE(has(outcome.reason, "not trusted")) << outcome.reason;
    EXPECT_TRUE(whm.seen().empty());
}

} // namespace
