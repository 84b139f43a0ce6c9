// The WHM side's own costs, each measured side by side in one run, printed, never asserted:
//  - reading a 10,000-account listaccts answer with the gateway's streaming reader, in the
//    pieces a TLS connection hands over, against the whole answer at once;
//  - one WHM list call on a kept-alive connection against one on a new TLS connection;
//  - 10,000-account lists per second from the WHM stand-in with 4 concurrent callers.
// Loopback only.
#include "fakewhm.h"
#include "httpswhmapi.h"
#include "whmanswerreader.h"
#include "whmsimulator.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>

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

WhmRequest listRequest(std::vector<std::pair<std::string, Secret>> params) {
    return {"127.0.0.1", "root", "KEY", "listaccts", std::move(params)};
}

// As the gateway reads it: the answer in pieces of at most one TLS record.
std::size_t readInPieces(const std::string& body) {
    WhmAnswerReader reader("acct", "user");
    reader.begin(200);
    for (std::size_t at = 0; at < body.size(); at += 16384)
        reader.write(std::string_view(body).substr(at, 16384));
    reader.end();
    return reader.list().names;
}

void parseCost(WhmSimulator& simulator) {
    std::printf("Reading a 10,000-account listaccts answer into the list sent on "
                "(median of 60, ms):\n");
    for (const auto& [label, params] :
         std::vector<std::pair<const char*, std::vector<std::pair<std::string, Secret>>>>{
             {"want=user (the gateway's call)", {{"want", "user"}}}, {"every field", {}}}) {
        const std::string body = simulator.answer(listRequest(params)).body;
        std::vector<double> pieces, whole;
        size_t names = 0;
        // Blocks of ten alternate, so each way runs warm and both share the run's noise.
        for (int block = 0; block < 6; ++block) {
            for (int round = 0; round < 10; ++round) {
                auto start = Clock::now();
                names += readInPieces(body);
                pieces.push_back(msSince(start));
            }
            for (int round = 0; round < 10; ++round) {
                auto start = Clock::now();
                names += WhmAnswerReader::readList(200, body, "acct", "user").names;
                whole.push_back(msSince(start));
            }
        }
        std::printf("  %-32s %7zu bytes  in 16 KiB pieces %.3f  whole %.3f  (%zu names)\n", label,
                    body.size(), median(pieces), median(whole), names);
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
    auto list = [&](HttpsWhmApi& api) {
        return runOn(context, [&] { return api.callList(request, "acct", "user"); }).ok();
    };
    list(kept); // opens the kept connection
    std::vector<double> keptTimes, newTimes;
    for (int round = 0; round < 200; ++round) {
        auto start = Clock::now();
        bool ok = list(kept);
        keptTimes.push_back(msSince(start));
        start = Clock::now();
        HttpsWhmApi fresh(context.get_executor(), options);
        ok = list(fresh) && ok;
        newTimes.push_back(msSince(start));
        if (!ok)
            std::printf("  a call failed\n");
    }
    std::printf("Small WHM call, median of 200 interleaved (ms): kept-alive %.3f  new TLS "
                "connection %.3f  ratio %.1f  (connections opened by the kept client: %llu)\n",
                median(keptTimes), median(newTimes), median(newTimes) / median(keptTimes),
                static_cast<unsigned long long>(kept.connectionsOpened()));
}

void listsPerSecond(WhmSimulator& simulator) {
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
                    WhmList list = co_await api.callList(request, "acct", "user");
                    ++(list.ok() && list.names == 10000 ? done : failed);
                }
            },
            [&](std::exception_ptr) { ++finished; });
    while (finished < callers)
        context.run_one();
    double seconds = msSince(start) / 1000.0;
    std::printf("10,000-account lists from the stand-in, 4 callers on one client thread, "
                "kept-alive, read as the gateway reads them: %.0f per second (%d lists, %d failed, "
                "%llu connections)\n",
                done / seconds, done, failed,
                static_cast<unsigned long long>(api.connectionsOpened()));
}

} // namespace

int main() {
    WhmSimulator simulator(false);
    simulator.addGeneratedAccounts(10000);
    parseCost(simulator);
    keptAliveAgainstNew();
    listsPerSecond(simulator);
    return 0;
}
