// What one client connection may cost the gateway: bounded header size and time, idle
// keep-alive closed, pipelined answers in order, slow peers holding no one else up, a
// connection cap in all and per address, slots freed by clients that leave, a stop that
// ends everything, and HTTPS when asked for. Raw sockets on 127.0.0.0/8 only.
#include "addressslots.h"
#include "gatewayundertest.h"
#include "rawclient.h"
#include "selfsignedcertificate.h"
#include "slowwhm.h"
#include "whmsimulator.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

GatewayService::Options withLimits(std::chrono::milliseconds headerTime,
                                   std::chrono::milliseconds idleTime,
                                   std::size_t maxConnections = 512) {
    GatewayService::Options options;
    options.limits.headerTime = headerTime;
    options.limits.idleTime = idleTime;
    options.limits.maxConnections = maxConnections;
    return options;
}

TEST(GatewayConnections, HeaderSectionIsBoundedInSizeAndTime) {
    WhmSimulator whm;
    GatewayUnderTest gateway(whm, withLimits(400ms, 400ms));

    RawClient big(gateway.port());
    std::string request = "GET /version.txt HTTP/1.1\r\nHost: x\r\n";
    while (request.size() < 20 * 1024)
        request += "X-Padding: " + std::string(100, 'p') + "\r\n";
    big.send(request + "\r\n");
    std::string answer = big.readAll();
    EXPECT_EQ(answer.rfind("HTTP/1.1 431", 0), 0u) << answer.substr(0, 80);

    // One header line every 100 ms never completes a header section: cut off, unanswered.
    RawClient drip(gateway.port());
    drip.send("GET /version.txt HTTP/1.1\r\n");
    auto start = Clock::now();
    bool open = true;
    for (int i = 0; i < 30 && open; ++i) {
        std::this_thread::sleep_for(100ms);
        open = drip.send("X-Drip: " + std::to_string(i) + "\r\n");
    }
    bool closed = false;
    EXPECT_EQ(drip.readAll(&closed), "");
    EXPECT_TRUE(closed);
    EXPECT_LT(Clock::now() - start, 2500ms);

    // A kept-alive connection with nothing more to ask is closed after the idle limit.
    RawClient idle(gateway.port());
    idle.send("GET /version.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    start = Clock::now();
    closed = false;
    answer = idle.readAll(&closed);
    EXPECT_TRUE(closed);
    EXPECT_NE(answer.find("\r\n\r\n1.7"), std::string::npos) << answer;
    EXPECT_LT(Clock::now() - start, 2000ms);
}

TEST(GatewayConnections, HeaderFloodKeepsMemoryBounded) {
    WhmSimulator whm;
    GatewayUnderTest gateway(whm);
    long before = residentBytes();
    RawClient flood(gateway.port());
    flood.send("GET /version.txt HTTP/1.1\r\n");
    std::string lines;
    while (lines.size() < 64 * 1024)
        lines += "A: b\r\n";
    std::size_t sent = 0;
    while (sent < 40u * 1024 * 1024 && flood.send(lines))
        sent += lines.size();
    EXPECT_LT(sent, 40u * 1024 * 1024) << "the gateway read a 40 MB header section";
    EXPECT_LT(residentBytes() - before, 64l * 1024 * 1024);
}

TEST(GatewayConnections, PipelinedRequestsAreAnsweredInOrder) {
    WhmSimulator whm;
    GatewayUnderTest gateway(whm);
    RawClient client(gateway.port());
    client.send("GET /clients.php?user=root&host=localhost&accesshash=K HTTP/1.1\r\nHost: x\r\n\r\n"
                "GET /missing.php HTTP/1.1\r\nHost: x\r\n\r\n"
                "GET /version.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string answers = client.readAll();
    size_t list = answers.find("alice<BR>bob");
    size_t missing = answers.find("HTTP/1.1 404");
    size_t version = answers.rfind("\r\n\r\n1.7");
    ASSERT_NE(list, std::string::npos) << answers;
    ASSERT_NE(missing, std::string::npos) << answers;
    ASSERT_NE(version, std::string::npos) << answers;
    EXPECT_LT(list, missing);
    EXPECT_LT(missing, version);
}

TEST(GatewayConnections, DrippingClientsDoNotHoldUpOthers) {
    WhmSimulator whm;
    GatewayService::Options options;
    options.threads = 2;
    options.limits.maxConnectionsPerAddress = 512; // every client here comes from 127.0.0.1
    GatewayUnderTest gateway(whm, options);
    std::vector<std::unique_ptr<RawClient>> drips;
    for (int i = 0; i < 64; ++i) {
        drips.push_back(std::make_unique<RawClient>(gateway.port()));
        drips.back()->send("GET /version.txt HTTP/1.1\r\n");
    }
    std::atomic<bool> done{false};
    std::thread dripper([&] {
        for (int round = 0; round < 20 && !done; ++round) {
            for (auto& drip : drips)
                drip->send("X: y\r\n");
            std::this_thread::sleep_for(100ms);
        }
    });
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        auto res = gateway.get("/clients.php",
                               {{"user", "root"}, {"host", "localhost"}, {"accesshash", "K"}});
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_LT(Clock::now() - start, 1s);
    }
    done = true;
    dripper.join();
}

TEST(GatewayConnections, ConnectionsBeyondTheCapAreRefusedAtOnce) {
    WhmSimulator whm;
    GatewayUnderTest gateway(whm, withLimits(5s, 5s, 3));
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<RawClient>(gateway.port()));
        held.back()->send("GET /version.txt HTTP/1.1\r\nHost: x\r\n\r\n");
        // Answered, and kept alive: the connection still counts.
        std::this_thread::sleep_for(50ms);
    }
    auto start = Clock::now();
    RawClient extra(gateway.port());
    extra.send("GET /version.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    bool closed = false;
    std::string answer = extra.readAll(&closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.find("\r\n\r\n1.7"), std::string::npos) << answer;
    EXPECT_LT(Clock::now() - start, 1s);

    held.pop_back();
    std::this_thread::sleep_for(100ms);
    auto res = gateway.get("/version.txt");
    ASSERT_TRUE(res) << "a freed place is served again";
    EXPECT_EQ(res->body, "1.7");
}

// When descriptors run out anyway, accepting pauses rather than failing over and over,
// and the log says so at most once a second, with a count; then the gateway serves again.
TEST(GatewayConnections, RunningOutOfDescriptorsPausesAccepting) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "a sanitizer's runtime needs descriptors of its own to check and report";
#endif
    WhmSimulator whm;
    GatewayUnderTest gateway(whm);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    std::size_t open = 0;
    for (int fd = 0; fd < 4096; ++fd)
        open += fcntl(fd, F_GETFD) != -1;
    rlimit low{open + 24, saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 40; ++i)
        clients.push_back(std::make_unique<RawClient>(gateway.port(), 100ms));
    std::this_thread::sleep_for(1500ms);
    clients.clear();
    setrlimit(RLIMIT_NOFILE, &saved);
    std::this_thread::sleep_for(200ms);
    auto res = gateway.get("/version.txt");
    ASSERT_TRUE(res) << "served again";
    EXPECT_EQ(res->body, "1.7");
    const std::string log = gateway.stopAndReadLog();
    std::size_t notes = 0;
    for (std::size_t at = 0;
         (at = log.find("accepting connections paused", at)) != std::string::npos; ++at)
        ++notes;
    EXPECT_GE(notes, 1u) << log;
    EXPECT_LE(notes, 3u) << log;
    EXPECT_NE(log.find("paused: Too many open files ("), std::string::npos) << log;
}

TEST(GatewayConnections, OneAddressCannotTakeEverySlot) {
    WhmSimulator whm;
    SelfSignedCertificate certificate;
    GatewayService::Options options = withLimits(5s, 5s, 16);
    options.limits.maxConnectionsPerAddress = 4;
    options.tlsCertificateFile = certificate.certificateFile();
    options.tlsKeyFile = certificate.keyFile();
    GatewayUnderTest gateway(whm, options);
    // Silent TLS handshakes from 127.0.0.1 fill its places; one more is closed at once.
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 5; ++i)
        silent.push_back(std::make_unique<RawClient>(gateway.port(), 1000ms));
    bool closed = false;
    silent.back()->readAll(&closed);
    EXPECT_TRUE(closed);
    auto start = Clock::now();
    auto res =
        httpGet(gateway.port(), "/version.txt", certificate.certificateFile(), 5s, "127.0.0.2");
    ASSERT_TRUE(res) << "another address is served";
    EXPECT_EQ(res->body, "1.7");
    EXPECT_LT(Clock::now() - start, 1s);

    // Nor every WHM call in flight: one address holds its share, and others are served.
    SlowWhm slow(600ms);
    GatewayService::Options shared;
    shared.limits.whmCallsPerAddress = 2;
    GatewayUnderTest calls(slow, shared);
    const std::string list = "/paks.php?user=root&host=whm.invalid&accesshash=K";
    std::vector<std::unique_ptr<RawClient>> waiting;
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(std::make_unique<RawClient>(calls.port()));
        waiting.back()->send("GET " + list + " HTTP/1.1\r\nHost: x\r\n\r\n");
        for (int wait = 0; wait < 100 && slow.begun() < std::min(i + 1, 2); ++wait)
            std::this_thread::sleep_for(10ms);
    }
    std::string refused = waiting.back()->readAll();
    EXPECT_NE(refused.find("HTTP/1.1 503"), std::string::npos) << refused;
    EXPECT_NE(refused.find("WHM calls from this address"), std::string::npos) << refused;
    res = httpGet(calls.port(), list, {}, 5s, "127.0.0.2");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;

    // An IPv6 client counts by its /64; an IPv4-mapped one by its IPv4 address.
    AddressSlots slots(2);
    auto a = slots.take("fd12:3456:789a:1::1"), b = slots.take("fd12:3456:789a:1:ffff::2");
    EXPECT_TRUE(a && b);
    EXPECT_FALSE(slots.take("fd12:3456:789a:1:abcd:1:2:3")) << "the same /64";
    EXPECT_TRUE(slots.take("fd12:3456:789a:2::1")) << "the next /64";
    EXPECT_EQ(AddressSlots::keyOf("::ffff:127.0.0.1"), "127.0.0.1");
}

TEST(GatewayConnections, ClientsThatLeaveFreeTheirSlotsAtOnce) {
    SlowWhm whm(1500ms);
    GatewayUnderTest gateway(whm, withLimits(5s, 5s, 4));
    const std::string login = "user=root&host=whm.invalid&accesshash=K";
    // Sent, then closed at once: two list calls, which end with their clients, and two
    // commands, which go on to their outcome without holding a slot.
    for (const char* request :
         {"/clients.php?", "/paks.php?", "/sus.php?suspenduser=bob&", "/unsus.php?usr=bob&"}) {
        RawClient client(gateway.port());
        client.send(std::string("GET ") + request + login + " HTTP/1.1\r\nHost: x\r\n\r\n");
    }
    std::this_thread::sleep_for(200ms);
    auto res = gateway.get("/version.txt");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << "every slot is free again";
    EXPECT_EQ(whm.cancelled(), 2);

    // A client that only shuts its sending side still gets its answer, list or command.
    for (const char* request : {"/paks.php?", "/sus.php?suspenduser=carol&"}) {
        RawClient halfClosed(gateway.port(), 5000ms);
        halfClosed.send(std::string("GET ") + request + login + " HTTP/1.1\r\nHost: x\r\n\r\n");
        halfClosed.shutdownSending();
        std::string answer = halfClosed.readAll();
        EXPECT_EQ(answer.rfind("HTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 200 OK\r\n", 0), 0u)
            << answer;
        EXPECT_TRUE(answer.ends_with("default<BR>bronze<BR>silver<BR>gold") ||
                    answer.find("Account carol suspended") != std::string::npos)
            << answer;
    }
    EXPECT_EQ(whm.cancelled(), 2);

    // Bytes waiting behind a request are the next request, not a close: both are answered.
    RawClient pipelining(gateway.port(), 5000ms);
    pipelining.send("GET /paks.php?" + login + " HTTP/1.1\r\nHost: x\r\n\r\n" +
                    "GET /version.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string answers = pipelining.readAll();
    size_t list = answers.find("default<BR>bronze");
    ASSERT_NE(list, std::string::npos) << answers;
    EXPECT_LT(list, answers.rfind("\r\n\r\n1.7")) << answers;

    std::string log = gateway.stopAndReadLog();
    for (const char* line :
         {"- listaccts cancelled (no answer sent: the client went away)",
          "- suspendacct account=bob done (no answer sent: the client went away)",
          "- unsuspendacct account=bob done (no answer sent: the client went away)"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST(GatewayConnections, StopEndsSessionsAndWhmCallsInFlight) {
    SlowWhm whm(30s);
    GatewayUnderTest gateway(whm);
    RawClient silent(gateway.port());
    RawClient list(gateway.port());
    list.send("GET /clients.php?user=root&host=whm.invalid&accesshash=K HTTP/1.1\r\n\r\n");
    RawClient command(gateway.port());
    command.send("GET /term.php?user=root&host=whm.invalid&accesshash=K&usr=bob HTTP/1.1\r\n\r\n");
    for (int i = 0; i < 200 && whm.begun() < 2; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(whm.begun(), 2);
    auto start = Clock::now();
    std::string log = gateway.stopAndReadLog();
    EXPECT_LT(Clock::now() - start, 900ms) << "ended by the stop, not dropped after its grace";
    EXPECT_EQ(whm.cancelled(), 2);
    EXPECT_NE(log.find("removeacct account=bob not known"), std::string::npos) << log;
}

// A graceful stop, as SIGTERM makes it: the listener closes at once, idle connections
// close, and a request under way finishes and is answered.
TEST(GatewayConnections, GracefulStopFinishesWhatIsUnderWay) {
    SlowWhm whm(500ms);
    GatewayUnderTest gateway(whm);
    RawClient idle(gateway.port(), 2000ms);
    idle.send("GET /version.txt HTTP/1.1\r\nHost: x\r\n\r\n");
    std::this_thread::sleep_for(100ms);
    RawClient busy(gateway.port(), 5000ms);
    busy.send("GET /paks.php?user=root&host=whm.invalid&accesshash=K HTTP/1.1\r\nHost: x\r\n\r\n");
    while (whm.begun() == 0)
        std::this_thread::sleep_for(5ms);
    auto start = Clock::now();
    std::thread stopping([&] { gateway.stopGracefully(5s); });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(RawClient(gateway.port()).connected()) << "new connections are refused";
    bool closed = false;
    EXPECT_TRUE(idle.readAll(&closed).ends_with("\r\n\r\n1.7"));
    EXPECT_TRUE(closed);
    EXPECT_LT(Clock::now() - start, 1s) << "the idle connection closed at once";
    const std::string answer = busy.readAll();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos) << answer;
    EXPECT_TRUE(answer.ends_with("default<BR>bronze<BR>silver<BR>gold")) << answer;
    stopping.join();
    EXPECT_EQ(whm.cancelled(), 0);
}

TEST(GatewayConnections, StopDropsWhatIgnoresItAfterItsGrace) {
    SlowWhm whm(30s, false);
    GatewayService::Options options;
    options.limits.stopGrace = 200ms;
    GatewayUnderTest gateway(whm, options);
    RawClient list(gateway.port());
    list.send("GET /paks.php?user=root&host=whm.invalid&accesshash=K HTTP/1.1\r\n\r\n");
    for (int i = 0; i < 200 && whm.begun() < 1; ++i)
        std::this_thread::sleep_for(10ms);
    auto start = Clock::now();
    std::string log = gateway.stopAndReadLog();
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_NE(log.find("1 connections or WHM calls ignored the stop; dropped"), std::string::npos)
        << log;
}

TEST(GatewayConnections, HttpsWhenGivenACertificate) {
    WhmSimulator whm;
    SelfSignedCertificate certificate, renewed;
    GatewayService::Options options;
    options.tlsCertificateFile = certificate.folder() + "/served-cert.pem";
    options.tlsKeyFile = certificate.folder() + "/served-key.pem";
    auto install = [&](const SelfSignedCertificate& from) {
        using std::filesystem::copy_options;
        std::filesystem::copy_file(from.certificateFile(), options.tlsCertificateFile,
                                   copy_options::overwrite_existing);
        std::filesystem::copy_file(from.keyFile(), options.tlsKeyFile,
                                   copy_options::overwrite_existing);
    };
    install(certificate);
    GatewayUnderTest gateway(whm, options);
    auto res =
        gateway.get("/clients.php", {{"user", "root"}, {"host", "localhost"}, {"accesshash", "K"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "alice<BR>bob<BR>carol<BR>dave");
    auto plain = httpGet(gateway.port(), "/version.txt", {}, 2s);
    ASSERT_TRUE(plain) << "plain HTTP is answered, and told to use HTTPS";
    EXPECT_EQ(plain->status, 400);
    EXPECT_NE(plain->body.find("speaks HTTPS"), std::string::npos) << plain->body;

    // A renewed certificate is read on a reload: new handshakes get it, a request under
    // way on the old one finishes, and files that cannot be used leave it in use.
    SlowWhm slow(500ms);
    GatewayUnderTest renewing(slow, options);
    HttpResult underWay;
    std::thread during([&] {
        underWay = httpGet(renewing.port(), "/paks.php?user=root&host=h&accesshash=K",
                           certificate.certificateFile(), 5s);
    });
    while (slow.begun() == 0)
        std::this_thread::sleep_for(5ms);
    install(renewed);
    EXPECT_EQ(renewing.reload(), "");
    during.join();
    ASSERT_TRUE(underWay);
    EXPECT_EQ(underWay->status, 200);
    EXPECT_FALSE(httpGet(renewing.port(), "/version.txt", certificate.certificateFile(), 2s));
    EXPECT_TRUE(httpGet(renewing.port(), "/version.txt", renewed.certificateFile(), 2s));
    std::filesystem::copy_file(certificate.keyFile(), options.tlsKeyFile,
                               std::filesystem::copy_options::overwrite_existing);
    const std::string why = renewing.reload();
    EXPECT_NE(why.find("key values mismatch"), std::string::npos) << why;
    EXPECT_TRUE(httpGet(renewing.port(), "/version.txt", renewed.certificateFile(), 2s));

    options.tlsKeyFile = certificate.folder() + "/missing.pem";
    RequestLog log(std::cerr);
    ServiceContext context;
    GatewayService broken(context, whm, log, options);
    EXPECT_THROW(broken.bind("127.0.0.1", 0), std::runtime_error);
}

} // namespace
