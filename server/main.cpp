#include "commandline.h"
#include "gatewayservice.h"
#include "httpswhmapi.h"
#include "requestlog.h"
#include "whmsimulator.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    // SIGINT and SIGTERM are taken by one thread with sigwait, so the service is stopped
    // from an ordinary thread rather than from a signal handler. Blocked before any other
    // thread starts, so every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    CommandLine line = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (line.showHelp) {
        std::cout << CommandLine::usage();
        return 0;
    }
    if (!line.error.empty()) {
        std::cerr << "corvala-gateway: " << line.error << "\n\n" << CommandLine::usage();
        return 2;
    }
    if (!line.whmCaFile.empty() && !std::ifstream(line.whmCaFile)) {
        std::cerr << "corvala-gateway: cannot read " << line.whmCaFile << "\n";
        return 2;
    }

    std::unique_ptr<WhmApi> whm;
    if (line.demo) {
        auto simulator = std::make_unique<WhmSimulator>(line.demoAccounts < 0);
        if (line.demoAccounts > 0)
            simulator->addGeneratedAccounts(line.demoAccounts);
        whm = std::move(simulator);
    } else
        whm = std::make_unique<HttpsWhmApi>(HttpsWhmApi::Options{line.whmPort, line.whmCaFile});

    RequestLog log(std::cerr);
    GatewayService service(*whm, log);
    int port = service.bind(line.listenHost, line.listenPort);
    if (port < 0) {
        std::cerr << "corvala-gateway: cannot listen on " << line.listenHost << ":"
                  << line.listenPort << "\n";
        return 1;
    }
    // Scripts that start the gateway on port 0 read the port from this line.
    std::cout << "corvala-gateway listening on http://" << line.listenHost << ":" << port
              << (line.demo ? " (demo: simulated WHM)" : "") << std::endl;

    std::thread([&service, stopSignals] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        service.stop();
    }).detach();
    bool ok = service.run();
    return ok ? 0 : 1;
}
