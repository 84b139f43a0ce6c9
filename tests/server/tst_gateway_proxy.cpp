// The gateway behind a reverse proxy: the client's address from a trusted proxy's PROXY
// header (v1, v2) or X-Forwarded-For, never from anyone else's; and a real haproxy in
// front of two gateways on loopback, one of them restarted while clients fetch lists.
#include "gatewayprocess.h"
#include "gatewayundertest.h"
#include "proxyheader.h"
#include "rawclient.h"
#include "trustedproxies.h"
#include "whmsimulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;

TEST(GatewayProxy, ProxyHeadersAndForwardedAddresses) {
    const std::string v2Signature("\r\n\r\n\0\r\nQUIT\n", 12);
    const std::string v2Client =
        v2Signature +
        std::string("\x21\x11\x00\x0c\x7f\x00\x00\x09\x7f\x00\x00\x01\x15\xb3\x00\x50", 16);
    const struct {
        std::string bytes;
        ProxyHeader::State state;
        std::size_t length;
        const char* client;
    } cases[] = {
        {"PROXY TCP4 127.0.0.9 127.0.0.1 5555 80\r\nGET", ProxyHeader::State::Complete, 40,
         "127.0.0.9"},
        {"PROXY TCP6 ::1 ::1 5555 80\r\n", ProxyHeader::State::Complete, 28, "::1"},
        {"PROXY UNKNOWN\r\n", ProxyHeader::State::Complete, 15, ""},
        {"PROXY TCP4 127.0.0.9", ProxyHeader::State::Partial, 0, ""},
        {"PRO", ProxyHeader::State::Partial, 0, ""},
        {"POST / HTTP/1.1\r\n", ProxyHeader::State::Absent, 0, ""},
        {"\r\nGET / HTTP/1.1", ProxyHeader::State::Absent, 0, ""},
        {"PROXY TCP4 ::1 127.0.0.1 1 2\r\n", ProxyHeader::State::Broken, 0, ""},
        {"PROXY " + std::string(200, 'x'), ProxyHeader::State::Broken, 0, ""},
        {v2Client + "GET", ProxyHeader::State::Complete, 28, "127.0.0.9"},
        {v2Client.substr(0, 20), ProxyHeader::State::Partial, 0, ""},
        {v2Signature + std::string("\x20\x00\x00\x00", 4), ProxyHeader::State::Complete, 16, ""},
        {v2Signature + std::string("\x31\x11\x00\x00", 4), ProxyHeader::State::Broken, 0, ""},
    };
    for (const auto& c : cases) {
        ProxyHeader header = ProxyHeader::read(c.bytes);
        EXPECT_EQ(header.state, c.state) << c.bytes;
        EXPECT_EQ(header.length, c.length) << c.bytes;
        EXPECT_EQ(header.clientAddress, c.client) << c.bytes;
    }

    TrustedProxies proxies;
    EXPECT_TRUE(proxies.add("127.0.0.0/24") && proxies.add("::1"));
    EXPECT_FALSE(proxies.add("127.0.0.0/33") || proxies.add("proxy.invalid"));
    for (const char* inside : {"127.0.0.1", "127.0.0.255", "::1", "::ffff:127.0.0.7"})
        EXPECT_TRUE(proxies.contains(inside)) << inside;
    for (const char* outside : {"127.0.1.1", "::2", "nonsense"})
        EXPECT_FALSE(proxies.contains(outside)) << outside;
    EXPECT_EQ(TrustedProxies::lastHop("127.0.0.8, 127.0.0.7"), "127.0.0.7");
    EXPECT_EQ(TrustedProxies::lastHop(" [::1] "), "::1");
    EXPECT_EQ(TrustedProxies::lastHop("127.0.0.8, unknown"), "");

    // Through the gateway: only the trusted peer's word counts, and the log uses it.
    WhmSimulator whm;
    GatewayService::Options options;
    options.trustedProxies = {"127.0.0.2"};
    GatewayUnderTest gateway(whm, options);
    const std::string list = "GET /paks.php?user=root&host=h&accesshash=K HTTP/1.1\r\n";
    auto ask = [&](const char* from, const std::string& bytes) {
        RawClient client(gateway.port(), 2000ms, 0, from);
        client.send(bytes);
        return client.readAll();
    };
    EXPECT_NE(ask("127.0.0.2", "PROXY TCP4 127.0.0.9 127.0.0.1 5555 80\r\n" + list +
                                   "X-Forwarded-For: 127.0.0.6\r\nConnection: close\r\n\r\n")
                  .find("200 OK"),
              std::string::npos);
    EXPECT_NE(ask("127.0.0.2", list + "X-Forwarded-For: 127.0.0.8, 127.0.0.7\r\nConnection: "
                                      "close\r\n\r\n")
                  .find("200 OK"),
              std::string::npos);
    EXPECT_NE(ask("127.0.0.3", list + "X-Forwarded-For: 127.0.0.5\r\nConnection: close\r\n\r\n")
                  .find("200 OK"),
              std::string::npos);
    EXPECT_NE(ask("127.0.0.3", "PROXY TCP4 127.0.0.4 127.0.0.1 5555 80\r\n" + list + "\r\n")
                  .find("HTTP/1.1 400"),
              std::string::npos);
    const std::string log = gateway.stopAndReadLog();
    for (const char* line : {" 127.0.0.9 GET /paks.php 200", " 127.0.0.7 GET /paks.php 200",
                             " 127.0.0.3 GET /paks.php 200", " 127.0.0.3 - - 400 A PROXY header"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    for (const char* forged : {"127.0.0.6 GET", "127.0.0.5 GET", "127.0.0.4 "})
        EXPECT_EQ(log.find(forged), std::string::npos) << forged << "\n" << log;
}

// A loopback port nothing listens on now.
int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// haproxy in front of two gateways, one sent its client by PROXY v2 and one by
// X-Forwarded-For; four clients fetch lists while one gateway stops and starts again.
TEST(GatewayProxy, HaproxyInFrontOfTwoGatewaysThroughARestart) {
    if (std::system("command -v haproxy >/dev/null") != 0)
        GTEST_SKIP() << "haproxy (Debian haproxy) is not installed";
    const std::string folder = testing::TempDir();
    const std::string logA = folder + "gateway-a.log", logB = folder + "gateway-b.log";
    const int portA = freePort(), portB = freePort(), front = freePort();
    auto gateway = [&](int port, const std::string& log) {
        return std::make_unique<GatewayProcess>(
            CORVALA_GATEWAY_EXE,
            std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(port), "--demo",
                                     "--demo-accounts", "2000", "--trusted-proxy", "127.0.0.1",
                                     "--stop-timeout", "5"},
            log);
    };
    std::unique_ptr<GatewayProcess> a = gateway(portA, logA), b = gateway(portB, logB);
    const std::string config = folder + "haproxy-" + std::to_string(getpid()) + ".cfg";
    std::ofstream(config) << "global\n  maxconn 256\n"
                             "defaults\n  mode http\n  timeout connect 2s\n  timeout client 10s\n"
                             "  timeout server 10s\n  retries 3\n  option redispatch\n"
                             "  retry-on conn-failure empty-response\n"
                             "frontend corvala\n  bind 127.0.0.1:"
                          << front
                          << "\n  default_backend gateways\n"
                             "backend gateways\n  balance roundrobin\n  option forwardfor\n"
                             "  http-request disable-l7-retry if { path /ad.php /sus.php "
                             "/unsus.php /term.php }\n"
                             "  option httpchk GET /version.txt\n"
                             "  server a 127.0.0.1:"
                          << portA
                          << " check inter 200ms fall 1 rise 1 send-proxy-v2 check-send-proxy\n"
                             "  server b 127.0.0.1:"
                          << portB << " check inter 200ms fall 1 rise 1\n";
    const char* argv[] = {"haproxy", "-db", "-f", config.c_str(), nullptr};
    pid_t haproxy = -1;
    ASSERT_EQ(
        posix_spawnp(&haproxy, "haproxy", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    for (int i = 0; i < 100 && !httpGet(front, "/version.txt", {}, 1s); ++i)
        std::this_thread::sleep_for(50ms);

    std::atomic<bool> running{true};
    std::atomic<int> answered{0}, failed{0};
    std::vector<std::thread> clients;
    for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"})
        clients.emplace_back([&, from] {
            while (running) {
                HttpResult list =
                    httpGet(front, "/clients.php?user=root&host=h&accesshash=K", {}, 10s, from);
                if (list && list->status == 200 && list->body.ends_with("user02000"))
                    ++answered;
                else
                    ++failed;
            }
        });
    std::this_thread::sleep_for(1s);
    a.reset(); // SIGTERM: a graceful stop, waited for
    a = gateway(portA, logA + ".2");
    std::this_thread::sleep_for(1500ms);
    running = false;
    for (std::thread& client : clients)
        client.join();
    kill(haproxy, SIGTERM);
    waitpid(haproxy, nullptr, 0);
    std::remove(config.c_str());
    a.reset();
    b.reset();
    EXPECT_EQ(failed, 0) << answered << " answered";
    EXPECT_GT(answered, 40);

    // Each gateway names the clients, whether told by PROXY v2 or by X-Forwarded-For.
    for (const std::string& log : {logA, logB}) {
        std::ifstream file(log);
        const std::string text((std::istreambuf_iterator<char>(file)), {});
        EXPECT_NE(text.find(" 127.0.0.2 GET /clients.php 200 listaccts listed"), std::string::npos)
            << log << "\n"
            << text.substr(0, 2000);
        EXPECT_EQ(text.find(" 127.0.0.1 GET /clients.php"), std::string::npos) << log;
        std::remove(log.c_str());
    }
    std::remove((logA + ".2").c_str());
}

} // namespace
