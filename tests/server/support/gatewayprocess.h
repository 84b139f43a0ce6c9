#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// corvala-gateway as its own process on 127.0.0.1:<free port>, for figures taken through
// the real binary. Its log is thrown away, or kept in a file.
class GatewayProcess {
public:
    // exe: the binary; args follow "--listen 127.0.0.1:0" unless they name where to listen.
    // Its log goes to logFile, or to
    // the descriptor logFd when one is given.
    GatewayProcess(const std::string& exe, std::vector<std::string> args,
                   const std::string& logFile = {}, int logFd = -1);
    ~GatewayProcess();
    GatewayProcess(const GatewayProcess&) = delete;
    GatewayProcess& operator=(const GatewayProcess&) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    // User and system CPU time the process has used, in milliseconds.
    double cpuMilliseconds() const;
    // Resident memory now and its peak since start or resetPeak(), in MiB.
    double residentMiB() const;
    double peakMiB() const;
    void resetPeak() const;

    // The gateways to compare, side by side: CORVALA_GATEWAY, a list separated by ':',
    // else the one built with the benchmarks.
    static std::vector<std::string> underTest(const char* builtOne);

private:
    double statusMiB(const char* field) const;

    pid_t m_pid = -1;
    int m_port = -1;
};
