// The WHM side's own costs, each measured side by side in one run, printed, never asserted:
//  - reading a 10,000-account listaccts answer (JSON parse, data, names);
//  - one WHM call on a kept-alive connection against one on a new TLS connection;
//  - 10,000-account lists per second from the WHM stand-in with 4 concurrent callers.
// Loopback only.
#include "fakewhm.h"
#include "httpswhmapi.h"
#include "whmsimulator.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

#ifdef CORVALA_BENCH_NLOHMANN
#include <nlohmann/json.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace asio = boost::asio;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

WhmRequest listRequest(std::vector<std::pair<std::string, std::string>> params) {
    return {"127.0.0.1", "root", "KEY", "listaccts", std::move(params)};
}

void parseCost(WhmSimulator& simulator) {
    std::printf("Reading a 10,000-account listaccts answer (median of 60, ms):\n");
    for (const auto& [label, params] :
         std::vector<std::pair<const char*, std::vector<std::pair<std::string, std::string>>>>{
             {"want=user (the gateway's call)", {{"want", "user"}}}, {"every field", {}}}) {
        const std::string body = simulator.answer(listRequest(params)).body;
        std::vector<double> boost, parseOnly, nlohmann;
        size_t names = 0;
        // Blocks of ten alternate, so each reader runs warm and both share the run's noise.
        for (int block = 0; block < 6; ++block) {
            for (int round = 0; round < 10; ++round) {
                auto start = Clock::now();
                WhmOutcome outcome = WhmApi::readResponse({200, body});
                parseOnly.push_back(msSince(start));
                names += namesIn(outcome.data, "acct", "user").names.size();
                boost.push_back(msSince(start));
            }
#ifdef CORVALA_BENCH_NLOHMANN
            // The former reading: parse, then a deep copy of data, then the names.
            for (int round = 0; round < 10; ++round) {
                auto start = Clock::now();
                nlohmann::json doc = nlohmann::json::parse(body);
                nlohmann::json data = doc["data"];
                for (const auto& entry : data["acct"])
                    names += entry["user"].get<std::string>().size() > 0;
                nlohmann.push_back(msSince(start));
            }
#endif
        }
        std::printf("  %-32s %7zu bytes  Boost.JSON %.3f (reading %.3f)", label, body.size(),
                    median(boost), median(parseOnly));
        if (!nlohmann.empty())
            std::printf("  nlohmann+copy %.3f  ratio %.1f", median(nlohmann),
                        median(nlohmann) / median(boost));
        std::printf("  (%zu names)\n", names);
    }
}

template <typename Make> auto runOn(asio::io_context& context, Make make) {
    auto future = asio::co_spawn(context, make(), asio::use_future);
    context.restart();
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        context.run_one();
    return future.get();
}

void keptAliveAgainstNew() {
    FakeWhm whm;
    HttpsWhmApi::Options options;
    options.port = whm.port();
    options.caFile = whm.certificate().certificateFile();
    options.allowedHosts = {"127.0.0.1"};
    asio::io_context context;
    HttpsWhmApi kept(context.get_executor(), options);
    const WhmRequest request = listRequest({{"want", "user"}});
    runOn(context, [&] { return kept.call(request); }); // opens the kept connection
    std::vector<double> keptTimes, newTimes;
    for (int round = 0; round < 200; ++round) {
        auto start = Clock::now();
        bool ok = runOn(context, [&] { return kept.call(request); }).ok;
        keptTimes.push_back(msSince(start));
        start = Clock::now();
        HttpsWhmApi fresh(context.get_executor(), options);
        ok = runOn(context, [&] { return fresh.call(request); }).ok && ok;
        newTimes.push_back(msSince(start));
        if (!ok)
            std::printf("  a call failed\n");
    }
    std::printf("Small WHM call, median of 200 interleaved (ms): kept-alive %.3f  new TLS "
                "connection %.3f  ratio %.1f  (connections opened by the kept client: %llu)\n",
                median(keptTimes), median(newTimes), median(newTimes) / median(keptTimes),
                static_cast<unsigned long long>(kept.connectionsOpened()));
}

// read: whether each answer is also read (parsed, names taken), as the gateway does.
void listsPerSecond(WhmSimulator& simulator, bool read) {
    FakeWhm whm;
    whm.answer(200, simulator.answer(listRequest({{"want", "user"}})).body);
    HttpsWhmApi::Options options;
    options.port = whm.port();
    options.caFile = whm.certificate().certificateFile();
    options.allowedHosts = {"127.0.0.1"};
    asio::io_context context;
    HttpsWhmApi api(context.get_executor(), options);
    const WhmRequest request = listRequest({{"want", "user"}});
    constexpr int callers = 4;
    constexpr auto span = std::chrono::seconds(3);
    int done = 0, failed = 0, finished = 0;
    auto start = Clock::now();
    for (int i = 0; i < callers; ++i)
        asio::co_spawn(
            context,
            [&]() -> asio::awaitable<void> {
                while (Clock::now() - start < span) {
                    bool ok;
                    if (read) {
                        WhmOutcome outcome = co_await api.call(request);
                        ok = outcome.ok &&
                             namesIn(outcome.data, "acct", "user").names.size() == 10000;
                    } else {
                        ok = (co_await api.send(request)).body.size() > 200000;
                    }
                    ++(ok ? done : failed);
                }
            },
            [&](std::exception_ptr) { ++finished; });
    while (finished < callers)
        context.run_one();
    double seconds = msSince(start) / 1000.0;
    std::printf("10,000-account lists from the stand-in, 4 callers on one client thread, "
                "kept-alive, %s: %.0f per second (%d lists, %d failed, %llu connections)\n",
                read ? "answers read" : "answers only received", done / seconds, done, failed,
                static_cast<unsigned long long>(api.connectionsOpened()));
}

} // namespace

int main() {
    WhmSimulator simulator(false);
    simulator.addGeneratedAccounts(10000);
    parseCost(simulator);
    keptAliveAgainstNew();
    listsPerSecond(simulator, false);
    listsPerSecond(simulator, true);
    return 0;
}
