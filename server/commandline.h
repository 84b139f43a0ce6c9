#pragma once

#include <string>
#include <vector>

// corvala-gateway's command line.
struct CommandLine {
    std::string listenHost = "127.0.0.1";
    int listenPort = 8717;
    bool demo = false;
    int demoAccounts = -1; // -1: the demo's sample accounts; otherwise this many generated
    int whmPort = 2087;
    std::string whmCaFile;
    bool showHelp = false;
    std::string error; // set when the arguments cannot be used

    static CommandLine parse(const std::vector<std::string>& args);
    static std::string usage();
};
