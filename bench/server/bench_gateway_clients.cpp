// What the gateway adds to WHM's time and how many requests it serves, through the paths a
// user's requests take: the real corvala-gateway process, clients that send the desktop
// program's Qt headers (compression offered, keep-alive), and a WHM stand-in over HTTPS on
// 127.0.0.1. Every figure is printed, never asserted, and each comparison is measured side
// by side in one run.
#include "fakewhm.h"
#include "gatewayprocess.h"
#include "whmsimulator.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/zlib/deflate_stream.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr int accountCount = 10000;
const std::string login = "user=root&host=127.0.0.1&accesshash=KEY";

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A client on one connection, kept alive, sending what the desktop program's Qt client
// sends. With a CA file it speaks HTTPS and sends a WHM login instead.
class Client {
public:
    // abortive: close with a reset, so thousands of short connections leave no TIME_WAIT.
    Client(int port, const std::string& caFile = {}, bool abortive = false) : m_port(port) {
        tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"),
                               static_cast<unsigned short>(port));
        if (caFile.empty()) {
            m_plain.emplace(m_context);
            m_plain->connect(endpoint);
            m_plain->socket().set_option(tcp::no_delay(true));
            if (abortive)
                m_plain->socket().set_option(asio::socket_base::linger(true, 0));
            return;
        }
        m_tlsContext.load_verify_file(caFile);
        m_tls.emplace(m_context, m_tlsContext);
        m_tls->set_verify_mode(asio::ssl::verify_peer);
        m_tls->set_verify_callback(asio::ssl::host_name_verification("127.0.0.1"));
        m_tls->next_layer().connect(endpoint);
        m_tls->next_layer().socket().set_option(tcp::no_delay(true));
        m_tls->handshake(asio::ssl::stream_base::client);
    }

    // The body; throws when the answer is not 200.
    std::string get(const std::string& target) {
        http::request<http::empty_body> req(http::verb::get, target, 11);
        req.set(http::field::host, "127.0.0.1:" + std::to_string(m_port));
        if (m_tls) {
            req.set(http::field::authorization, "whm root:KEY");
        } else {
            req.set(http::field::connection, "Keep-Alive");
            req.set(http::field::accept_encoding, "gzip, deflate, br");
            req.set(http::field::accept_language, "en-US,*");
            req.set(http::field::user_agent, "Mozilla/5.0");
        }
        http::response_parser<http::string_body> parser;
        parser.body_limit(64 * 1024 * 1024);
        if (m_tls) {
            http::write(*m_tls, req);
            http::read(*m_tls, m_buffer, parser);
        } else {
            http::write(*m_plain, req);
            http::read(*m_plain, m_buffer, parser);
        }
        if (parser.get().result_int() != 200)
            throw std::runtime_error("HTTP " + std::to_string(parser.get().result_int()));
        return std::move(parser.get().body());
    }

private:
    int m_port;
    asio::io_context m_context;
    asio::ssl::context m_tlsContext{asio::ssl::context::tls_client};
    std::optional<beast::tcp_stream> m_plain;
    std::optional<beast::ssl_stream<beast::tcp_stream>> m_tls;
    beast::flat_buffer m_buffer;
};

double ownCpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Load {
    double perSecond;
    double p50;
};

// `clients` threads asking for target for `seconds`, each on one kept-alive connection or
// on a new connection per request.
Load load(int port, const std::string& target, int clients, bool keepAlive, double seconds) {
    std::atomic<bool> stop{false};
    std::vector<std::vector<double>> times(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    auto start = Clock::now();
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            std::optional<Client> client;
            while (!stop) {
                auto begin = Clock::now();
                if (!client || !keepAlive)
                    client.emplace(port, std::string(), !keepAlive);
                client->get(target);
                times[static_cast<size_t>(i)].push_back(millisecondsSince(begin));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (std::thread& t : threads)
        t.join();
    double elapsed = millisecondsSince(start) / 1000.0;
    std::vector<double> all;
    for (auto& t : times)
        all.insert(all.end(), t.begin(), t.end());
    return {static_cast<double>(all.size()) / elapsed, median(all)};
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    // "quick" runs only the last part, for a profiler attached to its gateway.
    const bool quickOnly = argc > 1 && std::string_view(argv[1]) == "quick";
    // CORVALA_GATEWAY=a:b compares builds side by side, each part for each in turn.
    const std::vector<std::string> gateways = GatewayProcess::underTest(CORVALA_GATEWAY_EXE);
    std::printf("corvala-gateway figures (loopback; timings are noisy when other work "
                "shares the machine)\n");
    for (const std::string& exe : gateways)
        std::printf("  gateway: %s\n", exe.c_str());
    std::printf("\n");

    WhmSimulator simulator(false);
    simulator.addGeneratedAccounts(accountCount);
    FakeWhm whm([&](const WhmRequest& request) { return simulator.answer(request); });
    const std::string ca = whm.certificate().certificateFile();
    const std::string port = std::to_string(whm.port());
    const std::string clients = "/clients.php?" + login;
    const std::string listaccts = "/json-api/listaccts?api.version=1&want=user";

    // 1. /clients.php through the gateway against the same listaccts straight to WHM, each
    // on its own kept-alive connection, the two taking turns.
    for (const std::string& exe : quickOnly ? std::vector<std::string>() : gateways) {
        GatewayProcess gateway(exe,
                               {"--whm-host", "127.0.0.1", "--whm-port", port, "--whm-ca", ca});
        Client viaGateway(gateway.port());
        Client direct(whm.port(), ca);
        viaGateway.get(clients);
        direct.get(listaccts);
        std::vector<double> through, straight;
        for (int round = 0; round < 60; ++round) {
            auto start = Clock::now();
            viaGateway.get(clients);
            through.push_back(millisecondsSince(start));
            start = Clock::now();
            direct.get(listaccts);
            straight.push_back(millisecondsSince(start));
        }
        std::printf("[%s]\n", exe.c_str());
        std::printf("%d accounts, kept-alive connections, median of 60:\n", accountCount);
        std::printf("  /clients.php through the gateway  %7.2f ms\n", median(through));
        std::printf("  listaccts straight to WHM (HTTPS) %7.2f ms\n", median(straight));
        std::printf("  ratio                             %7.2f\n",
                    median(through) / median(straight));

        // 2. The gateway's own CPU per list, asked for with the Qt client's headers.
        const int lists = 100;
        double before = gateway.cpuMilliseconds();
        for (int i = 0; i < lists; ++i)
            viaGateway.get(clients);
        std::printf("gateway CPU per %d-account list (Qt client headers, keep-alive): "
                    "%.2f ms (over %d lists)\n",
                    accountCount, (gateway.cpuMilliseconds() - before) / lists, lists);

        // What gzip at its fastest level would add to each such list, against what it saves:
        // the answer goes uncompressed.
        const std::string body = viaGateway.get(clients);
        std::string packed(body.size() + 1024, '\0');
        size_t packedSize = 0;
        auto start = Clock::now();
        for (int i = 0; i < lists; ++i) {
            beast::zlib::deflate_stream deflate;
            deflate.reset(1, 15, 8, beast::zlib::Strategy::normal);
            beast::zlib::z_params z;
            z.next_in = body.data();
            z.avail_in = body.size();
            z.next_out = packed.data();
            z.avail_out = packed.size();
            beast::error_code ec;
            deflate.write(z, beast::zlib::Flush::finish, ec);
            packedSize = z.total_out;
        }
        std::printf("  deflate at level 1 would cost %.2f ms more per list, %zu -> %zu bytes\n\n",
                    millisecondsSince(start) / lists, body.size(), packedSize);
    }

    // 3. A small list from the demo: kept-alive clients against a new connection per request.
    for (const std::string& exe : quickOnly ? std::vector<std::string>() : gateways) {
        GatewayProcess demo(exe, {"--demo"});
        std::printf("[%s]\nsmall list (4 accounts, demo), requests/s and p50:\n", exe.c_str());
        for (int n : {4, 16}) {
            Load kept = load(demo.port(), clients, n, true, 1.5);
            Load fresh = load(demo.port(), clients, n, false, 1.0);
            std::printf("  %2d clients  keep-alive %8.0f/s p50 %.3f ms   new connection "
                        "%8.0f/s p50 %.3f ms\n",
                        n, kept.perSecond, kept.p50, fresh.perSecond, fresh.p50);
        }
        std::printf("\n");
    }

    // 4. Four clients against a WHM stand-in that answers at once: a fixed listaccts answer,
    // no simulator or lock behind it.
    WhmResponse answer =
        simulator.answer({"127.0.0.1", "root", "KEY", "listaccts", {{"want", "user"}}});
    FakeWhm quick;
    quick.answer(answer.status, answer.body);
    for (const std::string& exe : gateways) {
        GatewayProcess front(exe,
                             {"--whm-host", "127.0.0.1", "--whm-port", std::to_string(quick.port()),
                              "--whm-ca", quick.certificate().certificateFile()});
        double gatewayBefore = front.cpuMilliseconds();
        double benchBefore = ownCpuMilliseconds();
        Load kept = load(front.port(), clients, 4, true, 3.0);
        double requests = kept.perSecond * 3.0;
        std::printf("[%s]\n4 clients, %d accounts, WHM stand-in answering at once: %.0f "
                    "requests/s, p50 %.2f ms\n"
                    "  CPU per request: gateway %.2f ms, clients and stand-in %.2f ms (%u cores)\n",
                    exe.c_str(), accountCount, kept.perSecond, kept.p50,
                    (front.cpuMilliseconds() - gatewayBefore) / requests,
                    (ownCpuMilliseconds() - benchBefore) / requests,
                    std::thread::hardware_concurrency());
    }
    return 0;
}
