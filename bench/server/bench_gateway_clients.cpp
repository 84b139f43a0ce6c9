// How much the gateway adds to a WHM account list, and how many lists it serves per second.
//
// The demo's simulated WHM holds 10,000 accounts and is served over HTTPS on 127.0.0.1 as a
// standalone WHM. The gateway runs in this process in front of it. A request to
// /clients.php is timed against the same listaccts call made directly to that WHM.
#include "fakewhm.h"
#include "gatewayundertest.h"
#include "httpswhmapi.h"
#include "whmsimulator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int accountCount = 10000;
constexpr int sequentialRounds = 40;
constexpr int clientCount = 4;
constexpr int requestsPerClient = 30;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Figures {
    double median;
    double mean;
};

Figures summarise(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    double mean = std::accumulate(times.begin(), times.end(), 0.0) / times.size();
    return {times[times.size() / 2], mean};
}

} // namespace

int main() {
    WhmSimulator simulator(false);
    simulator.addGeneratedAccounts(accountCount);
    FakeWhm whm(&simulator);
    HttpsWhmApi api({whm.port(), whm.certificate().certificateFile()});
    GatewayUnderTest gateway(api);
    const std::vector<std::pair<std::string, std::string>> login = {
        {"user", "root"}, {"host", "127.0.0.1"}, {"accesshash", "KEY"}};

    // The same call the gateway makes, from a client of its own: one HTTPS connection per
    // call, as the gateway opens one per request.
    auto direct = [&] {
        httplib::SSLClient client("127.0.0.1", whm.port());
        client.set_ca_cert_path(whm.certificate().certificateFile());
        client.enable_server_certificate_verification(true);
        auto res = client.Get("/json-api/listaccts?api.version=1&want=user",
                              {{"Authorization", "whm root:KEY"}});
        return res && res->status == 200 ? res->body.size() : 0;
    };
    auto throughGateway = [&] {
        auto res = gateway.get("/clients.php", login);
        return res && res->status == 200 ? res->body.size() : 0;
    };

    size_t directBytes = direct();
    size_t gatewayBytes = throughGateway();
    if (directBytes == 0 || gatewayBytes == 0) {
        std::fprintf(stderr, "bench: a warm-up request failed\n");
        return 1;
    }

    std::vector<double> directTimes, gatewayTimes;
    for (int i = 0; i < sequentialRounds; ++i) {
        auto start = Clock::now();
        direct();
        directTimes.push_back(millisecondsSince(start));
        start = Clock::now();
        throughGateway();
        gatewayTimes.push_back(millisecondsSince(start));
    }
    Figures d = summarise(directTimes), g = summarise(gatewayTimes);

    std::atomic<int> failures{0};
    auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < clientCount; ++c)
        clients.emplace_back([&] {
            for (int i = 0; i < requestsPerClient; ++i)
                if (throughGateway() != gatewayBytes)
                    ++failures;
        });
    for (auto& t : clients)
        t.join();
    double concurrentSeconds = millisecondsSince(start) / 1000.0;
    int total = clientCount * requestsPerClient;

    std::printf("/clients.php with %d accounts (WHM answer %zu bytes of JSON, gateway answer "
                "%zu bytes)\n",
                accountCount, directBytes, gatewayBytes);
    std::printf("  direct listaccts over HTTPS: median %.2f ms, mean %.2f ms (%d calls)\n",
                d.median, d.mean, sequentialRounds);
    std::printf("  through the gateway:         median %.2f ms, mean %.2f ms (%d requests)\n",
                g.median, g.mean, sequentialRounds);
    std::printf("  gateway / direct:            %.2f (median), %.2f (mean)\n", g.median / d.median,
                g.mean / d.mean);
    std::printf("  %d concurrent clients:        %.1f requests/s (%d requests in %.2f s, %d "
                "failed)\n",
                clientCount, total / concurrentSeconds, total, concurrentSeconds, failures.load());
    return failures == 0 ? 0 : 1;
}
