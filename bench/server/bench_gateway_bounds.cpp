// The gateway bounded as a whole process, through the real corvala-gateway binary, builds
// side by side (CORVALA_GATEWAY=a:b): its peak memory for 30 clients that never read a
// 56 MiB list; lists to 1,100 host names and another client's command after them; 1,500
// clients with --max-connections 2000 under an open-files soft limit of 1,024 (systemd's
// default); command lines kept while 8,000 page hits flood a stalled log. Every figure is
// printed, never asserted.
//
// It runs in a network namespace of its own with loopback only, where a DNS stand-in
// answers every name with 127.0.0.1: nothing it does can leave the machine.
#include "fakewhm.h"
#include "gatewayprocess.h"
#include "gatewayundertest.h"
#include "isolation.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A client socket from a loopback address of its own, so that no per-address cap takes
// part; its request sent, not read.
int connectFrom(int port, std::uint32_t from, const std::string& request, int receiveBuffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The status line's code of what has come on fd so far without waiting, or 0.
int statusSoFar(int fd) {
    char head[16] = {};
    ssize_t n = ::recv(fd, head, sizeof head - 1, MSG_DONTWAIT | MSG_PEEK);
    return n >= 12 && std::string(head, 9) == "HTTP/1.1 " ? std::atoi(head + 9) : 0;
}

std::string getRequest(const std::string& target) {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
}

// The gateway starts under an open-files soft limit of 1,024, as systemd gives a service;
// the benchmark takes its hard limit for its own clients.
std::unique_ptr<GatewayProcess> startWithSoftLimit(const std::string& exe,
                                                   std::vector<std::string> args, int logFd = -1) {
    rlimit own{};
    getrlimit(RLIMIT_NOFILE, &own);
    rlimit low{std::min<rlim_t>(1024, own.rlim_max), own.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    std::unique_ptr<GatewayProcess> gateway;
    try {
        gateway = std::make_unique<GatewayProcess>(exe, std::move(args), std::string(), logFd);
    } catch (const std::exception& e) {
        std::printf("  %-45s did not start: %s\n", exe.c_str(), e.what());
    }
    rlimit high{own.rlim_max, own.rlim_max};
    setrlimit(RLIMIT_NOFILE, &high);
    return gateway;
}

std::size_t openDescriptors(const GatewayProcess& gateway) {
    std::size_t count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(
             "/proc/" + std::to_string(gateway.pid()) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

std::vector<std::string> whmArgs(const FakeWhm& whm) {
    return {"--whm-port", std::to_string(whm.port()), "--whm-ca",
            whm.certificate().certificateFile()};
}

void neverReadingClients(const std::vector<std::string>& gateways) {
    // 1.1 million names of 40 characters: 56 MiB of WHM's JSON, 48 MiB of list.
    std::string json = R"({"metadata":{"result":1},"data":{"acct":[)";
    const std::size_t names = 1'150'000;
    json.reserve(names * 52 + 64);
    for (std::size_t i = 0; i < names; ++i) {
        char entry[64];
        std::snprintf(entry, sizeof entry, "%s{\"user\":\"name%036zu\"}", i ? "," : "", i);
        json += entry;
    }
    json += "]}}";
    FakeWhm whm;
    whm.answer(200, json);
    std::printf("\n30 clients that never read a list of %.0f MiB (WHM's answer %.0f MiB), each "
                "from its own address, one after another (the next once the last one's answer "
                "began, or after 5 s); 20 s after the last:\n",
                static_cast<double>(names * 44) / (1 << 20),
                static_cast<double>(json.size()) / (1 << 20));
    for (const std::string& exe : gateways) {
        std::vector<std::string> args = whmArgs(whm);
        args.insert(args.end(), {"--whm-host", "127.0.0.1"});
        std::unique_ptr<GatewayProcess> gateway = startWithSoftLimit(exe, args);
        if (!gateway)
            continue;
        std::vector<int> clients;
        double peak = 0;
        auto watch = [&](Clock::duration span, int fd) {
            for (auto start = Clock::now(); Clock::now() - start < span;) {
                std::this_thread::sleep_for(100ms);
                peak = std::max(peak, gateway->peakMiB());
                if (fd >= 0 && statusSoFar(fd) != 0)
                    return;
            }
        };
        for (std::uint32_t i = 0; i < 30; ++i) {
            clients.push_back(connectFrom(gateway->port(), 0x7F000200 + i + 1,
                                          getRequest("/clients.php?user=root&host=127.0.0.1&"
                                                     "accesshash=KEY"),
                                          16 << 10));
            watch(5s, clients.back());
        }
        watch(20s, -1);
        int ok = 0, busy = 0, none = 0;
        for (int fd : clients) {
            int status = fd < 0 ? 0 : statusSoFar(fd);
            ok += status == 200;
            busy += status == 503;
            none += status == 0;
            ::close(fd);
        }
        std::printf("  %-45s peak RSS %6.0f MiB; answers begun: %d lists, %d busy (503), "
                    "%d none\n",
                    exe.c_str(), peak, ok, busy, none);
    }
}

void manyHostNames(const std::vector<std::string>& gateways) {
    constexpr int hosts = 1100;
    SlowDns dns(0ms);
    std::printf("\nOne client lists the packages of %d host names, 4 at a time (all named with "
                "--whm-host, looked up to 127.0.0.1); then another client terminates an "
                "account:\n",
                hosts);
    for (const std::string& exe : gateways) {
        WhmSimulator simulator;
        FakeWhm whm([&](const WhmRequest& request) { return simulator.answer(request); });
        std::vector<std::string> args = whmArgs(whm);
        for (int i = 1; i <= hosts; ++i)
            args.insert(args.end(), {"--whm-host", "h" + std::to_string(i) + ".whm.invalid"});
        std::unique_ptr<GatewayProcess> gateway = startWithSoftLimit(exe, args);
        if (!gateway)
            continue;
        std::atomic<int> next{1}, failed{0};
        std::string firstFailure;
        std::mutex mutex;
        std::vector<std::thread> threads;
        auto start = Clock::now();
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i; (i = next++) <= hosts;) {
                    HttpResult answer = httpGet(gateway->port(),
                                                "/paks.php?user=root&accesshash=KEY&host=h" +
                                                    std::to_string(i) + ".whm.invalid",
                                                {}, 30s);
                    if (!answer || answer->status != 200) {
                        ++failed;
                        std::lock_guard lock(mutex);
                        if (firstFailure.empty())
                            firstFailure = answer ? answer->body : "no answer";
                    }
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        const std::size_t descriptors = openDescriptors(*gateway);
        HttpResult command = httpGet(gateway->port(),
                                     "/term.php?user=root&host=h1.whm.invalid&accesshash=KEY&"
                                     "usr=bob",
                                     {}, 30s, "127.0.0.2");
        const bool terminated =
            command && command->body.find("Account terminated: bob") != std::string::npos;
        std::string page = command ? command->body : "";
        if (std::size_t headline = page.find("<b>"); headline != std::string::npos)
            page = page.substr(headline + 3, page.find("</b>", headline) - headline - 3);
        std::printf("  %-45s %d of %d lists failed in %.1f s; %zu descriptors open after; the "
                    "other client's removeacct: %s\n",
                    exe.c_str(), failed.load(), hosts, took, descriptors,
                    terminated ? "done"
                    : command  ? page.c_str()
                               : "no answer");
        if (!firstFailure.empty())
            std::printf("  %-45s first failure: %.120s\n", "", firstFailure.c_str());
    }
}

void manyClients(const std::vector<std::string>& gateways) {
    constexpr int clients = 1500;
    std::printf("\n%d clients with --max-connections 2000, each from its own address, each "
                "kept alive after its /version.txt; answers within 10 s:\n",
                clients);
    for (const std::string& exe : gateways) {
        std::unique_ptr<GatewayProcess> gateway =
            startWithSoftLimit(exe, {"--demo", "--max-connections", "2000"});
        if (!gateway)
            continue;
        std::vector<pollfd> fds;
        for (std::uint32_t i = 0; i < clients; ++i) {
            int fd = connectFrom(gateway->port(), 0x7F010000 + i + 1, getRequest("/version.txt"));
            if (fd >= 0)
                fds.push_back({fd, POLLIN, 0});
        }
        std::vector<int> status(fds.size(), 0);
        for (auto start = Clock::now(); Clock::now() - start < 10s;) {
            ::poll(fds.data(), fds.size(), 100);
            for (std::size_t i = 0; i < fds.size(); ++i)
                if (status[i] == 0 && (fds[i].revents & POLLIN))
                    status[i] = statusSoFar(fds[i].fd), fds[i].events = 0;
        }
        int ok = 0, busy = 0, none = 0;
        for (int s : status)
            (s == 200 ? ok : s == 503 ? busy : none)++;
        std::printf("  %-45s %d connected: %d answered, %d busy (503), %d no answer; %zu "
                    "descriptors open\n",
                    exe.c_str(), static_cast<int>(fds.size()), ok, busy, none,
                    openDescriptors(*gateway));
        for (const pollfd& p : fds)
            ::close(p.fd);
    }
    std::printf("  (with --max-connections 2000 and an open-files hard limit of 1,024, the "
                "gateway refuses to start:)\n");
    for (const std::string& exe : gateways) {
        rlimit own{};
        getrlimit(RLIMIT_NOFILE, &own);
        rlimit low{1024, 1024};
        const std::string log = "/tmp/corvala-bench-bounds-start";
        pid_t child = fork();
        if (child == 0) {
            setrlimit(RLIMIT_NOFILE, &low);
            int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            execl(exe.c_str(), exe.c_str(), "--demo", "--listen", "127.0.0.1:0",
                  "--max-connections", "2000", static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(500ms);
        kill(child, SIGTERM);
        int code = -1;
        waitpid(child, &code, 0);
        std::string said;
        if (FILE* file = std::fopen(log.c_str(), "r")) {
            char line[512] = {};
            if (std::fgets(line, sizeof line, file))
                said = line;
            std::fclose(file);
        }
        std::remove(log.c_str());
        std::printf("  %-45s exit %d: %s", exe.c_str(), WIFEXITED(code) ? WEXITSTATUS(code) : -1,
                    said.c_str());
    }
}

void pageFloodOnAStalledLog(const std::vector<std::string>& gateways) {
    std::printf("\n8,000 pipelined /version.txt, then a removeacct, on one connection, while "
                "nobody reads the gateway's standard error (a pipe):\n");
    for (const std::string& exe : gateways) {
        int log[2];
        if (pipe(log) != 0)
            return;
        std::unique_ptr<GatewayProcess> gateway = startWithSoftLimit(exe, {"--demo"}, log[1]);
        ::close(log[1]);
        if (!gateway) {
            ::close(log[0]);
            continue;
        }
        std::string flood;
        for (int i = 0; i < 8000; ++i)
            flood += getRequest("/version.txt");
        flood += "GET /term.php?user=root&host=h&accesshash=KEY&usr=alice HTTP/1.1\r\nHost: "
                 "x\r\nConnection: close\r\n\r\n";
        int fd = connectFrom(gateway->port(), 0x7F000002, flood);
        std::string answers;
        char buffer[65536];
        for (ssize_t n; fd >= 0 && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            answers.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        const bool terminated = answers.find("Account terminated: alice") != std::string::npos;
        // The log is read from now on; stopping the gateway writes whatever it kept.
        std::string lines;
        std::thread reader([&] {
            char text[65536];
            for (ssize_t n; (n = ::read(log[0], text, sizeof text)) > 0;)
                lines.append(text, static_cast<std::size_t>(n));
        });
        gateway.reset();
        reader.join();
        ::close(log[0]);
        std::size_t count = 0, commands = 0, dropped = 0;
        for (std::size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos;
             at = end + 1) {
            const std::string line = lines.substr(at, end - at);
            ++count;
            commands += line.find("removeacct") != std::string::npos;
            if (std::size_t mark = line.find(" log lines dropped"); mark != std::string::npos)
                dropped += std::stoul(line.substr(line.rfind(' ', mark - 1) + 1));
        }
        std::printf("  %-45s removeacct %s; log: %zu lines, %zu of them the removeacct, "
                    "%zu dropped\n",
                    exe.c_str(), terminated ? "carried out" : "not carried out", count, commands,
                    dropped);
    }
}

} // namespace

int main(int, char** argv) {
    if (!isolate(argv)) {
        std::fprintf(stderr, "cannot set up a network namespace with loopback only\n");
        return 1;
    }
    const std::vector<std::string> gateways = GatewayProcess::underTest(CORVALA_GATEWAY_EXE);
    std::printf("corvala-gateway bounded as a whole process (loopback only; memory and "
                "descriptors of the gateway process, from /proc)\n");
    pageFloodOnAStalledLog(gateways);
    manyClients(gateways);
    manyHostNames(gateways);
    neverReadingClients(gateways);
    return 0;
}
