// When WHM refuses, cannot be reached or cannot be trusted, a list request gets HTTP 502
// with the reason as plain text and a command gets a page that states the reason. The
// access key never reaches the log.
#include "fakewhm.h"
#include "gatewayundertest.h"
#include "httpswhmapi.h"
#include "rawclient.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The fake WHM answers on 127.0.0.1, which the gateway reaches only when told to.
HttpsWhmApi::Options optionsFor(int port, std::string caFile,
                                std::vector<std::string> hosts = {"127.0.0.1"}) {
    HttpsWhmApi::Options options;
    options.port = port;
    options.caFile = std::move(caFile);
    options.allowedHosts = std::move(hosts);
    return options;
}

// A loopback port with nothing listening on it.
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

using Query = std::vector<std::pair<std::string, std::string>>;

// The list answer and the suspend page for the same failure.
struct Answers {
    HttpResult list;
    HttpResult command;
};

Answers askBoth(GatewayUnderTest& gateway, const std::string& host = "127.0.0.1") {
    auto list =
        gateway.get("/clients.php", {{"user", "root"}, {"host", host}, {"accesshash", "KEY"}});
    auto command = gateway.get(
        "/sus.php",
        {{"host", host}, {"user", "root"}, {"accesshash", "KEY"}, {"suspenduser", "bob"}});
    return {std::move(list), std::move(command)};
}

void expectFailure(const Answers& answers, const std::string& reason) {
    ASSERT_TRUE(answers.list);
    EXPECT_EQ(answers.list->status, 502);
    EXPECT_NE(answers.list->get_header_value("Content-Type").find("text/plain"), std::string::npos);
    EXPECT_NE(answers.list->body.find(reason), std::string::npos) << answers.list->body;
    EXPECT_EQ(answers.list->body.find("<BR>"), std::string::npos);

    ASSERT_TRUE(answers.command);
    EXPECT_NE(answers.command->body.find("Account bob not suspended"), std::string::npos)
        << answers.command->body;
    EXPECT_NE(answers.command->body.find(reason), std::string::npos) << answers.command->body;
}

// WHM had the command's request, but its answer did not come whole: the page says the
// outcome is not known, never that the command failed.
void expectNotKnown(const Answers& answers, const std::string& reason) {
    ASSERT_TRUE(answers.list);
    EXPECT_EQ(answers.list->status, 502);
    EXPECT_NE(answers.list->body.find(reason), std::string::npos) << answers.list->body;
    ASSERT_TRUE(answers.command);
    const std::string& page = answers.command->body;
    EXPECT_NE(page.find("Not known whether bob was suspended: look it up in WHM"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("WHM received the request"), std::string::npos) << page;
    EXPECT_NE(page.find(reason), std::string::npos) << page;
    EXPECT_EQ(page.find("Account bob not suspended"), std::string::npos) << page;
    EXPECT_EQ(page.find("Failed"), std::string::npos) << "nor in its title: " << page;
}

TEST(GatewayFailures, WhmRefusalGivesItsReason) {
    FakeWhm whm;
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), whm.certificate().certificateFile()));
    GatewayUnderTest gateway(api, {}, &io);

    whm.answer(200, R"({"metadata":{"result":0,"reason":"Permission denied for this reseller"}})");
    expectFailure(askBoth(gateway), "Permission denied for this reseller");

    // result given as a string, as some WHM versions do
    whm.answer(200, R"({"metadata":{"result":"0","reason":"No such user"}})");
    expectFailure(askBoth(gateway), "No such user");

    whm.answer(200, R"({"metadata":{"result":0}})");
    expectFailure(askBoth(gateway), "WHM gave no reason");
}

TEST(GatewayFailures, RefusedLoginAndBrokenAnswers) {
    FakeWhm whm;
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), whm.certificate().certificateFile()));
    GatewayUnderTest gateway(api, {}, &io);

    whm.answer(403, R"({"cpanelresult":{"error":"Access denied","data":{"result":"0"}}})");
    expectFailure(askBoth(gateway), "WHM refused the login (HTTP 403)");

    whm.answer(403, "<html>Forbidden</html>");
    expectFailure(askBoth(gateway), "WHM refused the login (HTTP 403)");

    whm.answer(500, "Internal Server Error");
    expectNotKnown(askBoth(gateway), "WHM answered HTTP 500");

    whm.answer(200, R"({"cpanelresult":{"error":"Token denied","data":{"result":"0"}}})");
    expectFailure(askBoth(gateway), "Token denied");

    whm.answer(200, "<html><body>Login page</body></html>");
    expectNotKnown(askBoth(gateway), "not WHM API 1 JSON");

    // A list answer of the wrong shape is a failure with its reason, never an empty list.
    for (const char* data :
         {R"({"acct":"not a list"})", "[]", R"("text")", R"({"acct":[{"user":1}]})"}) {
        SCOPED_TRACE(data);
        whm.answer(200, std::string(R"({"metadata":{"result":1},"data":)") + data + "}");
        auto list = gateway.get("/clients.php",
                                {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}});
        ASSERT_TRUE(list);
        EXPECT_EQ(list->status, 502);
        EXPECT_FALSE(list->body.empty());
    }
}

TEST(GatewayFailures, RefusedConnection) {
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(closedPort(), ""));
    GatewayUnderTest gateway(api, {}, &io);
    expectFailure(askBoth(gateway), "Could not connect to WHM at 127.0.0.1:");
}

TEST(GatewayFailures, WhmThatDoesNotAnswerInTime) {
    FakeWhm whm;
    whm.delay(std::chrono::milliseconds(2500));
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), whm.certificate().certificateFile()));
    using std::chrono::seconds;
    GatewayService::Options options;
    options.timeouts = {seconds(1), seconds(1), seconds(1)};
    options.threads = 2;
    GatewayUnderTest gateway(api, options, &io);
    expectNotKnown(askBoth(gateway), "gave no complete answer within 1 s");

    // WHM calls wait without holding a thread: many of them leave the service free.
    std::vector<std::thread> waiting;
    for (int i = 0; i < 24; ++i)
        waiting.emplace_back([&] { askBoth(gateway); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto start = std::chrono::steady_clock::now();
    auto version = gateway.get("/version.txt");
    EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(1));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->body, "1.7");
    for (std::thread& t : waiting)
        t.join();
}

TEST(GatewayFailures, BusyGatewayAnswers503) {
    FakeWhm whm;
    IoThread io;
    HttpsWhmApi::Options options = optionsFor(whm.port(), whm.certificate().certificateFile());
    options.maxCallsInFlight = 0;
    HttpsWhmApi api(io.executor(), options);
    GatewayUnderTest gateway(api, {}, &io);
    Answers answers = askBoth(gateway);
    ASSERT_TRUE(answers.list && answers.command);
    EXPECT_EQ(answers.list->status, 503);
    EXPECT_EQ(answers.command->status, 503);
    EXPECT_NE(answers.command->body.find("Try again in a moment"), std::string::npos);
    EXPECT_TRUE(whm.seen().empty());
}

// A list's answer keeps its place in the budget until it is written: a client that never
// reads holds it until the write stalls out, and a slow one that reads gets it whole.
TEST(GatewayFailures, ListsHoldTheirBudgetUntilWritten) {
    using namespace std::chrono_literals;
    WhmSimulator names;
    names.addGeneratedAccounts(800'000); // a list of 11 MB
    FakeWhm whm([&](const WhmRequest& request) { return names.answer(request); });
    IoThread io;
    HttpsWhmApi::Options options = optionsFor(whm.port(), whm.certificate().certificateFile());
    options.maxCallsInFlight = 1;
    HttpsWhmApi api(io.executor(), options);
    GatewayService::Options service;
    service.limits.writeStall = 600ms;
    GatewayUnderTest gateway(api, service, &io);
    const std::string request =
        "GET /clients.php?user=root&host=127.0.0.1&accesshash=K HTTP/1.1\r\nHost: x\r\n\r\n";

    // Once its answer is being written, WHM's call is over; the answer still holds it.
    RawClient stalled(gateway.port(), 5s, 16 << 10);
    stalled.send(request);
    for (int i = 0; i < 3000 && !stalled.answerBegun(); ++i)
        std::this_thread::sleep_for(10ms);
    auto busy =
        gateway.get("/clients.php", {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}});
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 503) << "the unread list holds the budget";
    EXPECT_NE(busy->body.find("busy"), std::string::npos) << busy->body;
    for (int i = 0; i < 300 && api.budget().callsInUse() > 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(api.budget().callsInUse(), 0u) << "given back once the write stalled out";

    RawClient slow(gateway.port(), 5s, 16 << 10);
    slow.send(request);
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = slow.readAll(nullptr, 3ms);
    EXPECT_GT(std::chrono::steady_clock::now() - start, 2 * service.limits.writeStall);
    EXPECT_TRUE(answer.ends_with("user799999<BR>user800000")) << answer.size();
}

TEST(GatewayFailures, UntrustedCertificateIsRefused) {
    FakeWhm whm;
    // The system's store does not hold the fake's self-signed certificate.
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), ""));
    GatewayUnderTest gateway(api, {}, &io);
    expectFailure(askBoth(gateway), "is not trusted");
    EXPECT_TRUE(whm.seen().empty()) << "no request may be sent over an untrusted connection";
}

TEST(GatewayFailures, CertificateForAnotherNameIsRefused) {
    FakeWhm whm; // its certificate names 127.0.0.1 only
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), whm.certificate().certificateFile(),
                                              {"127.0.0.1", "localhost"}));
    GatewayUnderTest gateway(api, {}, &io);
    expectFailure(askBoth(gateway, "localhost"), "is not trusted");
    EXPECT_TRUE(whm.seen().empty());
}

TEST(GatewayFailures, HostThatIsNotAHostNameIsNotContacted) {
    FakeWhm whm;
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), whm.certificate().certificateFile()));
    GatewayUnderTest gateway(api, {}, &io);
    for (const std::string host : {"https://127.0.0.1", "127.0.0.1/json-api", "127.0.0.1:2087",
                                   "user@127.0.0.1", "127.0.0.1 x"}) {
        SCOPED_TRACE(host);
        expectFailure(askBoth(gateway, host), "not valid");
    }
    expectFailure(askBoth(gateway, ""), "No WHM host name");
    EXPECT_TRUE(whm.seen().empty());
}

TEST(GatewayFailures, AccessKeyAndPasswordNeverReachTheLog) {
    FakeWhm whm;
    IoThread io;
    HttpsWhmApi api(io.executor(), optionsFor(whm.port(), whm.certificate().certificateFile()));
    GatewayUnderTest gateway(api, {}, &io);
    const std::string key = "SECRETKEYLINEONE\r\nSECRETKEYLINETWO\r\n";
    const std::string password = "VerySecretPassword";
    Query login = {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", key}};

    gateway.get("/clients.php", login);
    whm.answer(403, "{}");
    gateway.get("/paks.php", login);
    whm.answer(200, R"({"metadata":{"result":0,"reason":"nope"}})");
    gateway.get("/ad.php", {{"acctdomain", "d.example"},
                            {"acctuser", "newone"},
                            {"acctpass", password},
                            {"acctplan", "gold"},
                            {"user", "root"},
                            {"host", "127.0.0.1"},
                            {"accesshash", key}});
    // The key's name spelled otherwise, whether or not the service reads it as the key.
    for (const char* spelling : {"access%68ash", "%u0061ccesshash", "%09accesshash%09",
                                 "accesshash%00", "ACCESSHASH", "accesshash%20"})
        gateway.getRaw(std::string("/term.php?user=root&host=127.0.0.1&") + spelling +
                       "=SECRETKEYLINEONE&usr=bob");

    std::string log = gateway.stopAndReadLog();
    EXPECT_EQ(log.find("SECRETKEY"), std::string::npos) << log;
    EXPECT_EQ(log.find(password), std::string::npos) << log;
    EXPECT_NE(
        log.find("/ad.php 200 createacct account=newone refused: nope | "
                 "acctdomain=d.example&acctuser=newone&acctplan=gold&user=root&host=127.0.0.1\n"),
        std::string::npos)
        << "requests are logged with their harmless parameters and WHM's outcome\n"
        << log;
}

} // namespace
