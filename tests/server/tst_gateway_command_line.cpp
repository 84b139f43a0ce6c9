// corvala-gateway's command line: the new limits, where plain HTTP may be served, files it
// cannot read, and the binary as systemd runs it.
#include "commandline.h"
#include "fakewhm.h"
#include "gatewayprocess.h"
#include "gatewayundertest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

CommandLine parse(std::vector<std::string> args) {
    return CommandLine::parse(args);
}

TEST(GatewayCommandLine, PlainHttpOnlyOnLoopback) {
    for (const char* listen : {"127.0.0.1:0", "localhost:8717", "[::1]:8717", "127.0.0.2:1"})
        EXPECT_EQ(parse({"--listen", listen}).error, "") << listen;
    for (const char* listen : {"0.0.0.0:8717", "[::]:8717", "gate/way:443"}) {
        CommandLine line = parse({"--listen", listen});
        EXPECT_NE(line.error.find("access key"), std::string::npos) << listen << ": " << line.error;
        line = parse({"--listen", listen, "--tls-cert", "c.pem", "--tls-key", "k.pem"});
        EXPECT_EQ(line.error, "") << listen;
    }
    EXPECT_NE(parse({"--tls-cert", "c.pem"}).error, "") << "a certificate needs its key";
}

TEST(GatewayCommandLine, LimitsAndAllowList) {
    CommandLine line = parse({"--whm-timeout", "7", "--whm-host", "localhost", "--whm-host",
                              "127.0.0.1", "--max-connections", "9", "--demo-accounts", "10000",
                              "--max-connections-per-address", "3"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.whmTimeout, 7);
    EXPECT_EQ(line.whmHosts, (std::vector<std::string>{"localhost", "127.0.0.1"}));
    EXPECT_EQ(line.maxConnections, 9u);
    EXPECT_EQ(line.maxConnectionsPerAddress, 3u);
    EXPECT_EQ(line.demoAccounts, 10000);
    EXPECT_TRUE(line.demo);
    for (const auto& bad :
         std::vector<std::vector<std::string>>{{"--whm-timeout", "0"},
                                               {"--whm-timeout", "5s"},
                                               {"--max-connections", "-1"},
                                               {"--max-connections-per-address", "0"},
                                               {"--demo-accounts", "x"},
                                               {"--whm-host", ""}})
        EXPECT_NE(parse(bad).error, "") << bad[0] << " " << bad[1];
}

// --config takes the same options, a "name = value" line each; the command line wins, and
// what the file gets wrong is named with its line.
TEST(GatewayCommandLine, ConfigurationFile) {
    const std::string path = testing::TempDir() + "gateway-" + std::to_string(getpid()) + ".conf";
    auto write = [&](const std::string& text) { std::ofstream(path) << text; };
    write("# the team's gateway\n"
          "max-connections = 9   # one per desk\n"
          "\n"
          "whm-host = localhost\n"
          "whm-host=127.0.0.1\n"
          "demo = yes\n"
          "trusted-proxy = 127.0.0.0/8\n"
          "stop-timeout = 3\n");
    CommandLine line = parse({"--config", path, "--max-connections", "5"});
    EXPECT_EQ(line.error, "");
    EXPECT_EQ(line.maxConnections, 5u) << "the command line wins";
    EXPECT_EQ(line.whmHosts, (std::vector<std::string>{"localhost", "127.0.0.1"}));
    EXPECT_TRUE(line.demo);
    EXPECT_EQ(line.trustedProxies, (std::vector<std::string>{"127.0.0.0/8"}));
    EXPECT_EQ(line.stopTimeout, 3);
    for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
             {"demo = yes\nunknown-thing = 1\n", ":2: unknown option \"unknown-thing\""},
             {"\nmax-connections = lots\n", ":2: max-connections wants a whole number"},
             {"listen\n", ":1: \"listen\" is not \"name = value\""},
             {"demo = perhaps\n", ":1: demo wants yes or no"},
             {"trusted-proxy = 10.0.0.0/33\n", ":1: trusted-proxy wants an address"},
             {"config = /etc/other.conf\n", ":1: unknown option \"config\""}}) {
        write(text);
        EXPECT_NE(parse({"--config", path}).error.find(path + error), std::string::npos)
            << text << parse({"--config", path}).error;
    }
    std::remove(path.c_str());
    EXPECT_NE(parse({"--config", path}).error.find("cannot read --config " + path),
              std::string::npos);
}

TEST(GatewayCommandLine, UnreadableFilesAreNamedWithTheReason) {
    CommandLine line = parse({"--whm-ca", "/nonexistent.invalid/whm-ca.pem"});
    std::string why = line.unreadableFile(false);
    EXPECT_NE(why.find("--whm-ca /nonexistent.invalid/whm-ca.pem: No such file or directory"),
              std::string::npos)
        << why;
    EXPECT_EQ(why.find("systemd"), std::string::npos);
    why = line.unreadableFile(true);
    EXPECT_NE(why.find("make it readable by all"), std::string::npos) << why;
    why = parse({"--tls-cert", "/", "--tls-key", "/"}).unreadableFile(false);
    EXPECT_NE(why.find("--tls-cert /: Is a directory"), std::string::npos) << why;
    why = parse({"--tls-cert", "/dev/null", "--tls-key", "/"}).unreadableFile(true);
    EXPECT_NE(why.find("group ssl-cert"), std::string::npos) << why;
    EXPECT_EQ(parse({}).unreadableFile(true), "");
}

// The open-files soft limit is raised to the hard one at start; when the connections asked
// for do not fit even so, the gateway says so and does not start; nor when its address is
// taken, which it names.
TEST(GatewayCommandLine, RefusesToStartWhatCannotServe) {
    auto start = [](std::vector<std::string> args, rlim_t hardLimit, std::string& said) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        pid_t child = fork();
        if (child == 0) {
            rlimit limit{256, hardLimit};
            setrlimit(RLIMIT_NOFILE, &limit);
            dup2(out[1], 2);
            dup2(out[1], 1);
            args.insert(args.begin(), {CORVALA_GATEWAY_EXE, "--demo"});
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        said.clear();
        char text[512];
        for (ssize_t n;
             said.find('\n') == std::string::npos && (n = read(out[0], text, sizeof text)) > 0;)
            said.append(text, static_cast<std::size_t>(n));
        std::string limits = "/proc/" + std::to_string(child) + "/limits";
        std::string soft;
        if (FILE* file = fopen(limits.c_str(), "r")) {
            char line[256];
            while (fgets(line, sizeof line, file))
                if (std::string(line).rfind("Max open files", 0) == 0)
                    soft = line;
            fclose(file);
        }
        kill(child, SIGTERM);
        int status = -1;
        waitpid(child, &status, 0);
        close(out[0]);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, soft);
    };
    const std::vector<std::string> anyPort = {"--listen", "127.0.0.1:0", "--max-connections"};
    auto with = [](std::vector<std::string> args, const char* last) {
        args.push_back(last);
        return args;
    };
    std::string said;
    auto [refused, ignored] = start(with(anyPort, "2000"), 1024, said);
    EXPECT_EQ(refused, 2);
    EXPECT_NE(said.find("--max-connections 2000 needs about 2064 open files, and this process "
                        "may open 1024"),
              std::string::npos)
        << said;
    auto [served, soft] = start(with(anyPort, "2000"), 4096, said);
    EXPECT_EQ(served, 0) << said;
    EXPECT_NE(said.find("listening on http://127.0.0.1:"), std::string::npos) << said;
    EXPECT_NE(soft.find("4096                 4096"), std::string::npos) << soft;

    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    listen(taken, 1);
    getsockname(taken, reinterpret_cast<sockaddr*>(&where), &length);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(where.sin_port));
    auto [inUse, unused] = start({"--listen", address}, 4096, said);
    close(taken);
    EXPECT_EQ(inUse, 1);
    EXPECT_NE(said.find("cannot listen on " + address +
                        ": Address already in use: another "
                        "program listens there"),
              std::string::npos)
        << said;
}

// The gateway's memory holds access keys and passwords: it cannot be dumped or read by
// other processes of its user, and what held a secret is wiped when freed, so that neither
// a core dump nor a read of the process finds one after its requests are over.
TEST(GatewayCommandLine, SecretsLeaveNoTraceInTheProcess) {
    FakeWhm whm;
    const std::string key = "KEY" + std::to_string(getpid()) + "qwpyzzlrkt1234567890abcdefghij";
    const std::string password = "PW" + std::to_string(getpid()) + "mnbvcxzlkjh";
    const std::string port = std::to_string(whm.port());
    GatewayProcess gateway(CORVALA_GATEWAY_EXE, {"--whm-host", "127.0.0.1", "--whm-port", port,
                                                 "--whm-ca", whm.certificate().certificateFile()});
    const std::string login = "user=root&host=127.0.0.1&accesshash=";
    EXPECT_TRUE(httpGet(gateway.port(), "/clients.php?" + login + key));
    EXPECT_TRUE(httpGet(gateway.port(), "/ad.php?acctdomain=d.example&acctuser=u&acctpass=" +
                                            password + "&acctplan=gold&" + login + key));
    ASSERT_EQ(whm.seen().size(), 2u);
    for (int i = 0; i < 200; ++i)
        httpGet(gateway.port(), i % 2 ? "/version.txt" : "/paks.php?" + login + "OTHERKEY");

    struct stat mem {};
    const std::string proc = "/proc/" + std::to_string(gateway.pid());
    ASSERT_EQ(stat((proc + "/mem").c_str(), &mem), 0);
    EXPECT_EQ(mem.st_uid, 0u) << "not dumpable: its /proc entries are root's";
    if (geteuid() != 0)
        GTEST_SKIP() << "reading another process's memory needs root";
    std::ifstream maps(proc + "/maps");
    int fd = open((proc + "/mem").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::size_t scanned = 0;
    for (std::string line; std::getline(maps, line);) {
        unsigned long from = 0, to = 0;
        char perms[5] = {};
        // Regions of terabytes are a sanitizer's shadow memory, not the gateway's own.
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) != 3 || perms[0] != 'r' ||
            perms[1] != 'w' || to - from > (16ul << 30))
            continue;
        // In pieces that overlap by a secret's length, so none is missed at a seam.
        constexpr std::size_t piece = 16 << 20;
        std::string bytes(piece + key.size(), '\0');
        for (unsigned long at = from; at < to; at += piece) {
            ssize_t n = pread(fd, bytes.data(), std::min<unsigned long>(bytes.size(), to - at),
                              static_cast<off_t>(at));
            if (n <= 0)
                break;
            const std::string_view read(bytes.data(), static_cast<std::size_t>(n));
            scanned += std::min<std::size_t>(read.size(), piece);
            EXPECT_EQ(read.find(key), std::string::npos) << line;
            EXPECT_EQ(read.find(password), std::string::npos) << line;
        }
    }
    close(fd);
    EXPECT_GT(scanned, 1u << 20) << "the heap was read";
}

// The binary as systemd runs it (Type=notify): ready once it listens, its event loop
// feeding the watchdog at half its interval, a reload on SIGHUP, and a stop that returns
// from main.
TEST(GatewayCommandLine, NotifiesSystemdAndStopsOnSigterm) {
    FILE* version = popen(CORVALA_GATEWAY_EXE " --version", "r");
    char text[64] = {};
    ASSERT_TRUE(fgets(text, sizeof text, version));
    EXPECT_STREQ(text, "corvala-gateway " CORVALA_VERSION "\n");
    EXPECT_EQ(pclose(version), 0);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = testing::TempDir() + "notify-" + std::to_string(getpid());
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    unlink(path.c_str());
    int notify = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval limit{5, 0};
    setsockopt(notify, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    int pings = 0;
    auto receive = [&] {
        for (;;) {
            char message[512] = {};
            if (recv(notify, message, sizeof message - 1, 0) <= 0)
                return std::string();
            if (std::string(message) != "WATCHDOG=1")
                return std::string(message);
            ++pings;
        }
    };

    setenv("NOTIFY_SOCKET", path.c_str(), 1);
    setenv("WATCHDOG_USEC", "200000", 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {CORVALA_GATEWAY_EXE, "--demo", "--listen", "127.0.0.1:0", nullptr};
    pid_t gateway = -1;
    ASSERT_EQ(posix_spawn(&gateway, argv[0], &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    posix_spawn_file_actions_destroy(&actions);

    std::string ready = receive();
    EXPECT_EQ(ready.rfind("READY=1\nSTATUS=Serving http://127.0.0.1:", 0), 0u) << ready;
    std::this_thread::sleep_for(std::chrono::milliseconds(550));
    kill(gateway, SIGHUP);
    EXPECT_EQ(receive().rfind("RELOADING=1", 0), 0u);
    EXPECT_EQ(receive(), ready) << "ready again, and still running";
    EXPECT_GE(pings, 4) << "every 100 ms";
    EXPECT_LE(pings, 8);
    kill(gateway, SIGTERM);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(receive().rfind("STOPPING=1", 0), 0u);
    int status = -1;
    waitpid(gateway, &status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    close(notify);
    unlink(path.c_str());
}

} // namespace
