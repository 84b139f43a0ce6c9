// What a hostile WHM costs the gateway, through the real corvala-gateway binary: its peak
// memory growth for one call and for 8 at once, its memory 10 s after, its log and answers
// for millions of names holding <BR> or a huge reason, and the time 12 calls naming
// slow-resolving hosts take. Every figure is printed, never asserted; several builds are
// compared side by side in one run (CORVALA_GATEWAY=a:b).
//
// It runs in a network namespace of its own with loopback only (re-executing itself under
// `unshare -rnm`), with a DNS stand-in on 127.0.0.1:53 that answers slowly: nothing it
// does can leave the machine.
#include "fakewhm.h"
#include "gatewayprocess.h"
#include "gatewayundertest.h"
#include "isolation.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string login = "user=root&host=127.0.0.1&accesshash=KEY";
const std::string clients = "/clients.php?" + login;
const std::string suspend = "/sus.php?" + login + "&suspenduser=bob";

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A hostile answer: head, then piece `repeat` times, then tail, sent as WHM's answer.
struct Hostile {
    const char* name;
    std::string head, piece, tail;
    std::size_t repeat = 0;
    std::string target;
    bool eightAtOnce = false; // also measured with 8 calls at once
};

// A JSON answer of prefix, piece `repeat` times and suffix, with its length.
Hostile jsonAnswer(const char* name, const std::string& target, const std::string& prefix,
                   std::string piece, std::size_t repeat, const std::string& suffix) {
    std::size_t length = prefix.size() + piece.size() * repeat + suffix.size();
    return {name,
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(length) + "\r\n\r\n" + prefix,
            std::move(piece),
            suffix,
            repeat,
            target};
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

std::vector<Hostile> hostileAnswers() {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string okList = R"({"metadata":{"result":1},"data":{"acct":[]}})";
    char size[16];
    std::snprintf(size, sizeof size, "%zx", okList.size());
    const std::string lastChunks = size + ("\r\n" + okList + "\r\n0\r\n");
    std::vector<Hostile> answers;
    answers.push_back(jsonAnswer("62 MiB of tiny objects, to a command", suspend,
                                 R"({"metadata":{"result":1,"reason":"OK"},"data":{"x":[)",
                                 repeated(R"({"a":1},)", 1024), 8000, "{}]}}"));
    answers.push_back(jsonAnswer("61 MiB of tiny names, to a list", clients,
                                 R"({"metadata":{"result":1},"data":{"acct":[)",
                                 repeated(R"({"user":"a"},)", 630), 7900, R"({"user":"z"}]}})"));
    answers.push_back(jsonAnswer("one 60 MiB name, to a list", clients,
                                 R"({"metadata":{"result":1},"data":{"acct":[{"user":")",
                                 std::string(64 << 10, 'n'), 960, R"("}]}})"));
    for (Hostile& answer : answers)
        answer.eightAtOnce = true;
    answers.push_back(jsonAnswer("a 60 MiB reason, to a list", clients,
                                 R"({"metadata":{"result":0,"reason":")",
                                 std::string(64 << 10, 'r'), 960, R"("}})"));
    answers.push_back({"a 600 MiB chunk extension, to a list",
                       chunked + "1;x=", std::string(64 << 10, 'e'),
                       "\r\n \r\n" + lastChunks + "\r\n", 9600, clients});
    answers.push_back({"600 MiB of trailers, to a list", chunked + lastChunks,
                       "X-T: " + std::string((64 << 10) - 7, 't') + "\r\n", "\r\n", 9600, clients});
    answers.push_back(jsonAnswer("2,000,000 names holding <BR>, to a list", clients,
                                 R"({"metadata":{"result":1},"data":{"acct":[)",
                                 repeated(R"({"user":"a<BR>b"},)", 1000), 2000,
                                 R"({"user":"z"}]}})"));
    return answers;
}

struct Result {
    double peakGrowth = 0;  // MiB over the resident memory before the calls
    double afterGrowth = 0; // likewise, 10 s after the calls ended
    double seconds = 0;
    int status = 0;
    std::size_t body = 0;
    std::size_t logLines = 0, logBytes = 0;
    double versionSeconds = -1; // an unrelated request made while the calls ran
};

Result measure(const std::string& exe, FakeWhm& whm, const std::string& target, int calls) {
    const std::string log = "/tmp/corvala-bench-gateway-log";
    Result result;
    {
        GatewayProcess gateway(exe,
                               {"--whm-host", "127.0.0.1", "--whm-port", std::to_string(whm.port()),
                                "--whm-ca", whm.certificate().certificateFile()},
                               log);
        httpGet(gateway.port(), "/version.txt");
        const double before = gateway.residentMiB();
        gateway.resetPeak();
        auto start = Clock::now();
        std::vector<std::thread> threads;
        std::atomic<int> finished{0};
        for (int i = 0; i < calls; ++i)
            threads.emplace_back([&, i] {
                HttpResult answer = httpGet(gateway.port(), target, {}, std::chrono::seconds(120));
                if (i == 0 && answer) {
                    result.status = answer->status;
                    result.body = answer->body.size();
                }
                ++finished;
            });
        // A request of another client, while these calls are under way (when they last).
        std::this_thread::sleep_for(300ms);
        if (auto asked = Clock::now();
            finished < calls && httpGet(gateway.port(), "/version.txt", {}, 120s))
            result.versionSeconds = secondsSince(asked);
        for (std::thread& thread : threads)
            thread.join();
        result.seconds = secondsSince(start);
        result.peakGrowth = gateway.peakMiB() - before;
        std::this_thread::sleep_for(10s);
        result.afterGrowth = gateway.residentMiB() - before;
    }
    std::ifstream file(log, std::ios::binary);
    for (std::istreambuf_iterator<char> it(file), end; it != end; ++it) {
        ++result.logBytes;
        result.logLines += *it == '\n';
    }
    std::remove(log.c_str());
    return result;
}

void print(const std::string& exe, const Result& r) {
    std::printf("  %-45s peak +%7.1f MiB  10 s after +%6.1f MiB  %5.1f s  HTTP %d, %zu bytes  "
                "log %zu lines, %zu bytes",
                exe.c_str(), r.peakGrowth, r.afterGrowth, r.seconds, r.status, r.body, r.logLines,
                r.logBytes);
    if (r.versionSeconds >= 0)
        std::printf("  /version.txt meanwhile %.3f s", r.versionSeconds);
    std::printf("\n");
}

void slowLookups(const std::vector<std::string>& gateways, FakeWhm& whm) {
    constexpr int calls = 12;
    SlowDns dns(400ms);
    std::printf("\n%d calls naming hosts that take 0.4 s each to look up, at once "
                "(each answers 502: the stand-in's certificate names 127.0.0.1 only):\n",
                calls);
    for (const std::string& exe : gateways) {
        std::vector<std::string> args = {"--whm-port", std::to_string(whm.port()), "--whm-ca",
                                         whm.certificate().certificateFile()};
        for (int i = 1; i <= calls; ++i)
            args.insert(args.end(), {"--whm-host", "slow" + std::to_string(i) + ".corvala.test"});
        GatewayProcess gateway(exe, args);
        std::vector<double> took(calls);
        std::vector<std::thread> threads;
        auto start = Clock::now();
        for (int i = 0; i < calls; ++i)
            threads.emplace_back([&, i] {
                httpGet(gateway.port(), "/clients.php?user=root&host=slow" + std::to_string(i + 1) +
                                            ".corvala.test&accesshash=KEY");
                took[static_cast<std::size_t>(i)] = secondsSince(start);
            });
        for (std::thread& thread : threads)
            thread.join();
        std::sort(took.begin(), took.end());
        std::printf("  %-45s all done in %.2f s; each: ", exe.c_str(), took.back());
        for (double t : took)
            std::printf("%.2f ", t);
        std::printf("\n");
    }
}

} // namespace

int main(int, char** argv) {
    if (!isolate(argv)) {
        std::fprintf(stderr, "cannot set up a network namespace with loopback only\n");
        return 1;
    }
    const std::vector<std::string> gateways = GatewayProcess::underTest(CORVALA_GATEWAY_EXE);
    std::printf("corvala-gateway against a hostile WHM (loopback only; resident memory of the "
                "gateway process, from /proc)\n");
    FakeWhm whm;
    for (const Hostile& hostile : hostileAnswers()) {
        whm.answerRaw(hostile.head, hostile.piece, hostile.repeat, hostile.tail);
        std::printf("\n%s, one call:\n", hostile.name);
        for (const std::string& exe : gateways) {
            Result one = measure(exe, whm, hostile.target, 1);
            print(exe, one);
            if (!hostile.eightAtOnce)
                continue;
            // Eight at once, unless one alone already took more than the machine can spare
            // eight times over.
            if (one.peakGrowth > 400) {
                std::printf("  %-45s 8 at once: not run, one call alone grew %.0f MiB\n",
                            exe.c_str(), one.peakGrowth);
                continue;
            }
            std::printf("  8 at once:\n");
            print(exe, measure(exe, whm, hostile.target, 8));
        }
    }
    slowLookups(gateways, whm);
    return 0;
}
