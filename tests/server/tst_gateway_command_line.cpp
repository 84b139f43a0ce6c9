// corvala-gateway's command line: the new limits and where plain HTTP may be served.
#include "commandline.h"

#include <gtest/gtest.h>

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

} // namespace
