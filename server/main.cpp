#include "commandline.h"
#include "gatewayservice.h"
#include "httpswhmapi.h"
#include "processlimits.h"
#include "requestlog.h"
#include "servicecontext.h"
#include "systemdnotify.h"
#include "whmsimulator.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <pthread.h>
#include <thread>

int main(int argc, char** argv) {
    // Requests carry access keys and passwords: no core dump, no ptrace by others.
    ProcessLimits::makeUndumpable();
    // SIGINT, SIGTERM (stop) and SIGHUP (reload) are taken by one thread with sigwait, so
    // the service is stopped or reloaded from an ordinary thread rather than from a signal
    // handler. Blocked before any other thread starts, so every thread inherits the mask.
    sigset_t signalsTaken;
    sigemptyset(&signalsTaken);
    sigaddset(&signalsTaken, SIGINT);
    sigaddset(&signalsTaken, SIGTERM);
    sigaddset(&signalsTaken, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signalsTaken, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
#ifdef __GLIBC__
    // Each list passes a few hundred KB through malloc (WHM's answer, the list sent on).
    // With glibc's defaults those blocks are mapped, or the heap trimmed, and given back
    // after every request, so the next one pays again in page faults: keep blocks of up
    // to a few MB in the heap and trim only a large free top.
    mallopt(M_MMAP_THRESHOLD, 8 << 20);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif

    CommandLine line = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (line.showHelp) {
        std::cout << CommandLine::usage();
        return 0;
    }
    if (line.showVersion) {
        std::cout << "corvala-gateway " CORVALA_VERSION "\n";
        return 0;
    }
    if (!line.error.empty()) {
        std::cerr << "corvala-gateway: " << line.error << "\n(corvala-gateway --help lists "
                  << "the options)\n";
        return 2;
    }
    if (std::string why = line.unreadableFile(std::getenv("INVOCATION_ID") != nullptr);
        !why.empty()) {
        std::cerr << "corvala-gateway: " << why << "\n";
        return 2;
    }

    // Declared in the order they depend on one another, so they go in the reverse: the
    // service before the WHM client it calls, both before the context their sockets live
    // on, and the log last. run() returns only once nothing on the context uses them.
    RequestLog::Options logOptions;
    logOptions.pageHits = line.logPageHits;
    RequestLog log(std::cerr, logOptions);
    // One context for the listener and the WHM client: their sockets share its threads.
    ServiceContext context;
    std::unique_ptr<WhmApi> whm;
    HttpsWhmApi::Options whmOptions;
    // Client connections, WHM connections and a margin for the rest (the listener, the
    // event loop's own, standard streams) must fit the open-files limit.
    std::size_t descriptors = line.maxConnections + 64;
    if (!line.demo)
        descriptors += whmOptions.maxDescriptors();
    if (std::string why = ProcessLimits::fitDescriptors(
            descriptors, "--max-connections " + std::to_string(line.maxConnections));
        !why.empty()) {
        std::cerr << "corvala-gateway: " << why << "\n";
        return 2;
    }
    if (line.demo) {
        auto simulator = std::make_unique<WhmSimulator>(line.demoAccounts < 0);
        if (line.demoAccounts > 0)
            simulator->addGeneratedAccounts(line.demoAccounts);
        whm = std::move(simulator);
    } else {
        whmOptions.port = line.whmPort;
        whmOptions.caFile = line.whmCaFile;
        whmOptions.allowedHosts = line.whmHosts;
        whm = std::make_unique<HttpsWhmApi>(context.get_executor(), std::move(whmOptions));
    }

    GatewayService::Options options;
    if (line.whmTimeout > 0) {
        std::chrono::seconds all(line.whmTimeout);
        options.timeouts = {all, all, all};
    }
    options.limits.maxConnections = line.maxConnections;
    options.limits.maxConnectionsPerAddress = line.maxConnectionsPerAddress;
    options.tlsCertificateFile = line.tlsCertificateFile;
    options.tlsKeyFile = line.tlsKeyFile;
    options.trustedProxies = line.trustedProxies;
    options.watchdog = SystemdNotify::watchdogInterval();

    GatewayService service(context, *whm, log, options);
    int port = -1;
    try {
        port = service.bind(line.listenHost, line.listenPort);
    } catch (const std::exception& e) {
        std::cerr << "corvala-gateway: " << e.what() << "\n";
        return 2;
    }
    if (port < 0) {
        std::cerr << "corvala-gateway: cannot listen on " << line.listenHost << ":"
                  << line.listenPort << ": " << service.bindError() << "\n";
        return 1;
    }
    // Scripts that start the gateway on port 0 read the port from this line.
    std::string host = line.listenHost.find(':') != std::string::npos ? "[" + line.listenHost + "]"
                                                                      : line.listenHost;
    std::string address = (line.tls() ? "https://" : "http://") + host + ":" + std::to_string(port);
    std::cout << "corvala-gateway listening on " << address
              << (line.demo ? " (demo: simulated WHM)" : "") << std::endl;
    SystemdNotify::ready("Serving " + address + (line.demo ? " (demo: simulated WHM)" : ""));

    const std::string status = "Serving " + address + (line.demo ? " (demo: simulated WHM)" : "");
    std::thread signals([&, signalsTaken] {
        for (int signal = 0; sigwait(&signalsTaken, &signal) == 0;) {
            if (signal != SIGHUP) {
                // Requests under way finish within the stop timeout; then the rest is cancelled.
                SystemdNotify::stopping();
                service.stop(std::chrono::seconds(line.stopTimeout));
                return;
            }
            SystemdNotify::reloading();
            std::string why = service.reload();
            const char* read = line.tls() ? "the TLS certificate and the trusted WHM "
                                            "certificates were read again"
                                          : "the trusted WHM certificates were read again";
            log.note(why.empty() ? std::string("reloaded: ") + read
                                 : "reload: " + why + "; what was in use stays in use");
            SystemdNotify::ready(status);
        }
    });
    bool served = service.run();
    if (!served)
        pthread_kill(signals.native_handle(), SIGTERM); // ends the wait above
    signals.join();
    return served ? 0 : 1;
}
