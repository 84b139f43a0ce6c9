// When WHM refuses, cannot be reached or cannot be trusted, a list request gets HTTP 502
// with the reason as plain text and a command gets a page that states the reason. The
// access key never reaches the log.
#include "fakewhm.h"
#include "gatewayundertest.h"
#include "httpswhmapi.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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
    httplib::Result list;
    httplib::Result command;
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
    EXPECT_NE(answers.command->body.find("Account not suspended: bob"), std::string::npos)
        << answers.command->body;
    EXPECT_NE(answers.command->body.find(reason), std::string::npos) << answers.command->body;
}

TEST(GatewayFailures, WhmRefusalGivesItsReason) {
    FakeWhm whm;
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    GatewayUnderTest gateway(api);

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
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    GatewayUnderTest gateway(api);

    whm.answer(403, R"({"cpanelresult":{"error":"Access denied","data":{"result":"0"}}})");
    expectFailure(askBoth(gateway), "WHM refused the login (HTTP 403)");

    whm.answer(403, "<html>Forbidden</html>");
    expectFailure(askBoth(gateway), "WHM refused the login (HTTP 403)");

    whm.answer(500, "Internal Server Error");
    expectFailure(askBoth(gateway), "WHM answered HTTP 500");

    whm.answer(200, R"({"cpanelresult":{"error":"Token denied","data":{"result":"0"}}})");
    expectFailure(askBoth(gateway), "Token denied");

    whm.answer(200, "<html><body>Login page</body></html>");
    expectFailure(askBoth(gateway), "not WHM API 1 JSON");

    whm.answer(200, R"({"metadata":{"result":1},"data":{"acct":"not a list"}})");
    auto list =
        gateway.get("/clients.php", {{"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "K"}});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 502);
}

TEST(GatewayFailures, RefusedConnection) {
    HttpsWhmApi api({closedPort(), ""});
    GatewayUnderTest gateway(api);
    expectFailure(askBoth(gateway), "Could not connect to WHM at 127.0.0.1:");
}

TEST(GatewayFailures, WhmThatDoesNotAnswerInTime) {
    FakeWhm whm;
    whm.delay(std::chrono::milliseconds(2500));
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    using std::chrono::seconds;
    GatewayUnderTest gateway(api, {seconds(1), seconds(1), seconds(1)});
    expectFailure(askBoth(gateway), "gave no answer within 1 s");
}

TEST(GatewayFailures, UntrustedCertificateIsRefused) {
    FakeWhm whm;
    // The system's store does not hold the fake's self-signed certificate.
    HttpsWhmApi api({whm.port(), ""});
    GatewayUnderTest gateway(api);
    expectFailure(askBoth(gateway), "is not trusted");
    EXPECT_TRUE(whm.seen().empty()) << "no request may be sent over an untrusted connection";
}

TEST(GatewayFailures, CertificateForAnotherNameIsRefused) {
    FakeWhm whm; // its certificate names 127.0.0.1 only
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    GatewayUnderTest gateway(api);
    expectFailure(askBoth(gateway, "localhost"), "is not trusted");
    EXPECT_TRUE(whm.seen().empty());
}

TEST(GatewayFailures, HostThatIsNotAHostNameIsNotContacted) {
    FakeWhm whm;
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    GatewayUnderTest gateway(api);
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
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    GatewayUnderTest gateway(api);
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
    // The key's name itself encoded differently must not slip past the redaction.
    httplib::Client client("127.0.0.1", gateway.port());
    client.set_url_encode(false);
    client.Get("/term.php?user=root&host=127.0.0.1&access%68ash=SECRETKEYLINEONE&usr=bob");

    std::string log = gateway.stopAndReadLog();
    EXPECT_EQ(log.find("SECRETKEY"), std::string::npos) << log;
    EXPECT_EQ(log.find(password), std::string::npos) << log;
    EXPECT_NE(log.find("/ad.php?"), std::string::npos) << "requests are logged";
    EXPECT_NE(log.find("accesshash=[redacted]"), std::string::npos) << log;
    EXPECT_NE(log.find("WHM createacct on 127.0.0.1 failed: nope"), std::string::npos) << log;
}

} // namespace
