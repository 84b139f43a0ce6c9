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
#include <thread>

namespace {

GatewayService* runningService = nullptr;

void stopOnSignal(int) {
    // httplib's stop() only flags the listener and shuts its socket down.
    if (runningService)
        runningService->stop();
}

} // namespace

int main(int argc, char** argv) {
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
    if (line.demo)
        whm = std::make_unique<WhmSimulator>();
    else
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

    runningService = &service;
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    bool ok = service.run();
    runningService = nullptr;
    return ok ? 0 : 1;
}
