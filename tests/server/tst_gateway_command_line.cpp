// corvala-gateway's command line: the new limits, where plain HTTP may be served, files it
// cannot read, and the binary as systemd runs it.
#include "commandline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
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

TEST(GatewayCommandLine, UnreadableFilesAreNamedWithTheReason) {
    CommandLine line = parse({"--whm-ca", "/nonexistent.invalid/whm-ca.pem"});
    std::string why = line.unreadableFile(false);
    EXPECT_NE(why.find("--whm-ca /nonexistent.invalid/whm-ca.pem: No such file or directory"),
              std::string::npos)
        << why;
    EXPECT_EQ(why.find("LoadCredential"), std::string::npos);
    why = line.unreadableFile(true);
    EXPECT_NE(why.find("LoadCredential=whm-ca.pem:/nonexistent.invalid/whm-ca.pem"),
              std::string::npos)
        << why;
    EXPECT_NE(why.find("--whm-ca %d/whm-ca.pem"), std::string::npos) << why;
    why = parse({"--tls-cert", "/", "--tls-key", "/"}).unreadableFile(false);
    EXPECT_NE(why.find("--tls-cert /: Is a directory"), std::string::npos) << why;
    EXPECT_EQ(parse({}).unreadableFile(true), "");
}

// The binary as systemd runs it (Type=notify): ready once it listens, and a stop that
// returns from main.
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
    auto receive = [&] {
        char message[512] = {};
        return recv(notify, message, sizeof message - 1, 0) > 0 ? std::string(message) : "";
    };

    setenv("NOTIFY_SOCKET", path.c_str(), 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {CORVALA_GATEWAY_EXE, "--demo", "--listen", "127.0.0.1:0", nullptr};
    pid_t gateway = -1;
    ASSERT_EQ(posix_spawn(&gateway, argv[0], &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    unsetenv("NOTIFY_SOCKET");
    posix_spawn_file_actions_destroy(&actions);

    std::string ready = receive();
    EXPECT_EQ(ready.rfind("READY=1\nSTATUS=Serving http://127.0.0.1:", 0), 0u) << ready;
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
