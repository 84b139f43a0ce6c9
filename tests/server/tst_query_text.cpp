// Query text handling: the encoding of query values, and what of a request reaches the log.
#include "awaitnow.h"
#include "gatewayhandler.h"
#include "requestlog.h"
#include "textrules.h"
#include "whmsimulator.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

TEST(QueryText, PercentEncodingKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(percentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(percentEncode("a b&c=d+e#f%g/h?i"), "a%20b%26c%3Dd%2Be%23f%25g%2Fh%3Fi");
    EXPECT_EQ(percentEncode("\r\n"), "%0D%0A");
    EXPECT_EQ(percentEncode("\xC3\xBC"), "%C3%BC");
}

// The handler's reply to a request ("METHOD target", GET when no method is given) to the
// demo's WHM.
GatewayReply replyTo(const std::string& request) {
    WhmSimulator whm;
    GatewayHandler handler(whm);
    GatewayRequest message;
    const std::size_t blank = request.find(' ');
    message.message.method_string(blank == std::string::npos ? "GET" : request.substr(0, blank));
    message.message.target(blank == std::string::npos ? request : request.substr(blank + 1));
    message.clientAddress = "127.0.0.1";
    return awaitNow([&] { return handler.handle(message); });
}

std::string loggedLine(const std::string& request) {
    return RequestLog::lineOf(replyTo(request).record);
}

TEST(QueryText, LogKeepsTheParametersItsPathUsesAsUsed) {
    const std::string victim =
        "/term.php?user=root&host=h&accesshash=K&suspenduser=" + std::string(2100, 'A') +
        "&usr=victim";
    const std::pair<std::string, std::string> cases[] = {
        {"/clients.php?user=root&host=h&accesshash=ABC%0D%0ADEF&acctpass=pw",
         "GET /clients.php 200 listaccts listed 4 names | user=root&host=h"},
        // Spellings that decode to the key are dropped all the same.
        {"/paks.php?access%68ash=A&%09accesshash%09=B&ACCESSHASH=C&accesshash&user=bob",
         "| user=bob"},
        {"/sus.php?user=a+b%26c&suspenduser=s&acctuser=n&y=1&host=h",
         "suspendacct account=s refused: WHM refused the login (HTTP 403): check the WHM user "
         "name and access key (Access denied) | host=h&user=a%20b%26c&suspenduser=s"},
        // WHM gets the first of a repeated key, and so does the log.
        {"/term.php?usr=first&usr=second&user=root&host=h&accesshash=K",
         "removeacct account=first refused: The account \"first\" does not exist. | "
         "user=root&host=h&usr=first"},
        // A long harmless parameter hides neither the command nor its outcome.
        {victim, "removeacct account=victim refused: The account \"victim\" does not exist. | "
                 "user=root&host=h&usr=victim"},
        {"/term.php?usr=" + std::string(300, 'B') + "&user=root",
         "removeacct account=" + std::string(96, 'B') + "\xE2\x80\xA6 refused"},
        {"/unsus.php?usr=vic%00tim&user=root&host=h&accesshash=K",
         "400 unsuspendacct account=vic%00tim not sent: The account holds a control character."},
        {"/ad.php?acctdomain=d.example&acctuser=u&acctpass=p%00w&acctplan=gold&user=r&host=h",
         "400 createacct account=u not sent: The password holds a control character. | "
         "acctdomain=d.example&acctuser=u&acctplan=gold&user=r&host=h"},
        {"/x.php?user=root", "GET /x.php 404"},
        // Only GET acts: link checkers and prefetchers send HEAD.
        {"HEAD /term.php?usr=bob&user=root&host=h&accesshash=K",
         "HEAD /term.php 405 removeacct account=bob not sent | user=root&host=h&usr=bob"},
        {"POST /clients.php?user=root", "POST /clients.php 405 listaccts not sent"},
        {"HEAD /version.txt", "HEAD /version.txt 200"},
        {"/ad.php#acctpass=KEY", "GET /ad.php 400"},
        {"/x?%u0061ccesshash=KEY&user=root", "GET /x 400"},
        {"//x?usr=a%2Bb+c", "GET //x 404"},
    };
    for (const auto& [target, expected] : cases) {
        const std::string line = loggedLine(target);
        EXPECT_NE(line.find(expected), std::string::npos) << target.substr(0, 80) << "\n" << line;
        for (const char* secret : {"K", "ABC", "pw", "p%00w", "KEY"})
            EXPECT_EQ(line.find(std::string("=") + secret + "&"), std::string::npos) << line;
        EXPECT_LT(line.size(), 1024u);
    }
    EXPECT_EQ(replyTo("HEAD /ad.php?acctuser=u").message[boost::beast::http::field::allow], "GET");
}

TEST(QueryText, LogLinesCannotBeForgedAndAreBounded) {
    std::ostringstream out;
    {
        RequestLog log(out);
        RequestRecord record;
        record.clientAddress = "127.0.0.1";
        record.method = "GET";
        record.path = "/sus.php";
        record.params = "suspenduser=bob";
        record.status = 200;
        record.routed = true;
        record.kind = RouteKind::Command;
        record.whmFunction = "suspendacct";
        record.account = "bob";
        record.outcome = WhmResult::Refused;
        record.detail = "bad\nfake\xC2\x85line\xE2\x80\xA8or\xE2\x80\xA9this";
        log.request(record);
        record.detail = std::string(1'000'000, '\n');
        log.request(record);
    }
    std::istringstream lines(out.str());
    std::string forged, huge, extra;
    std::getline(lines, forged);
    std::getline(lines, huge);
    EXPECT_FALSE(std::getline(lines, extra)) << out.str().substr(0, 4096);
    EXPECT_NE(forged.find("/sus.php 200 suspendacct account=bob refused: "
                          "bad\\x0Afake\\u0085line\\u2028or\\u2029this | suspenduser=bob"),
              std::string::npos)
        << forged;
    EXPECT_LE(huge.size(), RequestLog::maxLineBytes + 32) << "time stamp and line";
    EXPECT_NE(huge.find("suspendacct account=bob refused: \\x0A"), std::string::npos);
    EXPECT_TRUE(huge.ends_with(" | suspenduser=bob")) << "the detail is cut, not the line";
}

// Standard error read by a journal that does not keep up: every write waits for release().
class StalledBuffer : public std::stringbuf {
public:
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_wake.notify_all();
    }

protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_released; });
        return std::stringbuf::xsputn(text, size);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_released = false;
};

// Lists crowd a stalled log; commands have their places held and lose no line.
TEST(QueryText, AStalledLogHoldsNoRequestUpAndLosesNoCommand) {
    using namespace std::chrono_literals;
    StalledBuffer stalled;
    std::ostream out(&stalled);
    RequestLog::Options options;
    options.maxReserved = 250;
    RequestLog log(out, options);
    std::thread releaser([&] {
        std::this_thread::sleep_for(2s);
        stalled.release();
    });
    RequestRecord list, command;
    list.routed = command.routed = true;
    list.kind = RouteKind::List;
    list.path = "/clients.php";
    command.kind = RouteKind::Command;
    command.whmFunction = "removeacct";
    command.outcome = WhmResult::Done;
    auto start = std::chrono::steady_clock::now();
    int commands = 0;
    for (int i = 0; i < 20'000; ++i) {
        log.request(list);
        if (i % 100 == 0) {
            command.account = "c" + std::to_string(i);
            std::optional<RequestLog::Reservation> place = log.reserve();
            ASSERT_TRUE(place);
            log.request(command, std::move(place));
            ++commands;
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    std::vector<RequestLog::Reservation> places;
    while (auto place = log.reserve())
        places.push_back(std::move(*place));
    EXPECT_EQ(places.size() + commands, 250u) << "no place beyond the cap";
    places.pop_back();
    EXPECT_TRUE(log.reserve()) << "a place given back unused is free again";
    places.clear();
    releaser.join();
    log.flush();
    const std::string text = stalled.str();
    EXPECT_NE(text.find(" log lines dropped: the log could not keep up\n"), std::string::npos);
    for (int i = 0; i < 20'000; i += 100)
        EXPECT_NE(text.find("account=c" + std::to_string(i) + " done"), std::string::npos) << i;
    list.path = "/paks.php";
    log.request(list);
    log.flush();
    EXPECT_NE(stalled.str().find("/paks.php 0"), std::string::npos) << "the log goes on";
}

} // namespace
