#pragma once

#include "gatewayservice.h"
#include "httpswhmapi.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// corvala-gateway's options, from its command line and from the file --config names (the
// same names, "name = value" a line, '#' comments); the command line wins. Every default
// is the one of the part it configures, so the help shows what the gateway does.
struct CommandLine {
    std::string listenHost = "127.0.0.1";
    int listenPort = 8717;
    bool demo = false;
    int demoAccounts = -1; // generated demo accounts instead of the samples; -1: the samples
    int whmPort = HttpsWhmApi::Options().port;
    std::string whmCaFile;
    int whmTimeout = 0; // seconds for every WHM call; 0: the defaults per kind of call
    std::vector<std::string> whmHosts; // the only WHM hosts allowed; empty: any public one
    std::string tlsCertificateFile;
    std::string tlsKeyFile;
    std::size_t maxConnections = GatewayLimits().maxConnections;
    std::size_t maxConnectionsPerAddress = GatewayLimits().maxConnectionsPerAddress;
    bool logPageHits = false;
    std::vector<std::string> trustedProxies; // ADDRESS or ADDRESS/PREFIX
    int stopTimeout = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(GatewayLimits().stopTimeout).count());
    std::string configFile;
    bool showHelp = false;
    bool showVersion = false;
    std::string error; // set when the options cannot be used: what, and where it was given

    bool tls() const { return !tlsCertificateFile.empty(); }

    static CommandLine parse(const std::vector<std::string>& args);
    // Why a file named in the options cannot be read, naming the file and the system's
    // reason; empty when every one can be. Run by systemd, it adds how a file in a folder
    // only root reads reaches the service.
    std::string unreadableFile(bool runBySystemd) const;
    static std::string usage();
};
