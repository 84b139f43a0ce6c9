#include "gatewayprocess.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

GatewayProcess::GatewayProcess(const std::string& exe, std::vector<std::string> args,
                               const std::string& logFile, int logFd) {
    if (std::find(args.begin(), args.end(), "--listen") == args.end())
        args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
    args.insert(args.begin(), exe);
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (logFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, logFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2,
                                         logFile.empty() ? "/dev/null" : logFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    size_t colon = line.rfind("127.0.0.1:");
    if (colon == std::string::npos)
        throw std::runtime_error("the gateway did not start: " + line);
    m_port = std::stoi(line.substr(colon + 10));
}

GatewayProcess::~GatewayProcess() {
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
}

double GatewayProcess::cpuMilliseconds() const {
    std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double GatewayProcess::statusMiB(const char* field) const {
    std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(line.find(':') + 1)) / 1024.0;
    return 0;
}

double GatewayProcess::residentMiB() const {
    return statusMiB("VmRSS:");
}

double GatewayProcess::peakMiB() const {
    return statusMiB("VmHWM:");
}

void GatewayProcess::resetPeak() const {
    std::ofstream("/proc/" + std::to_string(m_pid) + "/clear_refs") << "5";
}

std::vector<std::string> GatewayProcess::underTest(const char* builtOne) {
    std::vector<std::string> gateways;
    const char* listed = std::getenv("CORVALA_GATEWAY");
    std::istringstream paths(listed && *listed ? listed : builtOne);
    for (std::string path; std::getline(paths, path, ':');)
        if (!path.empty())
            gateways.push_back(path);
    return gateways;
}
