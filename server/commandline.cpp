#include "commandline.h"

#include <boost/asio/ip/address.hpp>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool parsePort(const std::string& text, int& port, bool allowZero) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < (allowZero ? 0 : 1) ||
        value > 65535)
        return false;
    port = value;
    return true;
}

bool parseCount(const std::string& text, long long& count, long long low, long long high) {
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return false;
    count = value;
    return true;
}

bool isLoopback(const std::string& host) {
    if (host == "localhost")
        return true;
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(host, ec);
    return !ec && address.is_loopback();
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
    CommandLine line;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                line.error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            line.showHelp = true;
        } else if (arg == "--version") {
            line.showVersion = true;
        } else if (arg == "--demo") {
            line.demo = true;
        } else if (arg == "--listen") {
            if (!value(text))
                break;
            size_t colon = text.rfind(':');
            if (colon == std::string::npos || colon == 0 ||
                !parsePort(text.substr(colon + 1), line.listenPort, true)) {
                line.error = "--listen wants HOST:PORT, not \"" + text + "\"";
                break;
            }
            line.listenHost = text.substr(0, colon);
            if (line.listenHost.size() > 2 && line.listenHost.front() == '[' &&
                line.listenHost.back() == ']')
                line.listenHost = line.listenHost.substr(1, line.listenHost.size() - 2);
        } else if (arg == "--whm-port") {
            if (!value(text))
                break;
            if (!parsePort(text, line.whmPort, false)) {
                line.error = "--whm-port wants a port number, not \"" + text + "\"";
                break;
            }
        } else if (arg == "--whm-ca") {
            if (!value(line.whmCaFile))
                break;
        } else if (arg == "--whm-host") {
            if (!value(text))
                break;
            if (text.empty()) {
                line.error = "--whm-host wants a host name";
                break;
            }
            line.whmHosts.push_back(text);
        } else if (arg == "--whm-timeout" || arg == "--max-connections" ||
                   arg == "--max-connections-per-address" || arg == "--demo-accounts") {
            if (!value(text))
                break;
            long long count = 0;
            if (arg == "--whm-timeout" && parseCount(text, count, 1, 24 * 3600)) {
                line.whmTimeout = static_cast<int>(count);
            } else if (arg == "--max-connections" && parseCount(text, count, 1, 1'000'000)) {
                line.maxConnections = static_cast<std::size_t>(count);
            } else if (arg == "--max-connections-per-address" &&
                       parseCount(text, count, 1, 1'000'000)) {
                line.maxConnectionsPerAddress = static_cast<std::size_t>(count);
            } else if (arg == "--demo-accounts" && parseCount(text, count, 0, 10'000'000)) {
                line.demoAccounts = static_cast<int>(count);
                line.demo = true;
            } else {
                line.error = arg + " wants a whole number, not \"" + text + "\"";
                break;
            }
        } else if (arg == "--tls-cert") {
            if (!value(line.tlsCertificateFile))
                break;
        } else if (arg == "--tls-key") {
            if (!value(line.tlsKeyFile))
                break;
        } else {
            line.error = "unknown argument \"" + arg + "\"";
            break;
        }
    }
    if (!line.error.empty() || line.showHelp || line.showVersion)
        return line;
    if (line.tlsCertificateFile.empty() != line.tlsKeyFile.empty()) {
        line.error = "--tls-cert and --tls-key go together";
    } else if (!line.tls() && !isLoopback(line.listenHost)) {
        line.error = "will not listen on " + line.listenHost +
                     " without TLS: every request carries the WHM access key in its query, "
                     "readable by anyone on the network. Give --tls-cert and --tls-key, or "
                     "listen on 127.0.0.1";
    }
    return line;
}

std::string CommandLine::unreadableFile(bool runBySystemd) const {
    const std::pair<const char*, const std::string&> files[] = {
        {"--whm-ca", whmCaFile}, {"--tls-cert", tlsCertificateFile}, {"--tls-key", tlsKeyFile}};
    for (const auto& [option, file] : files) {
        if (file.empty())
            continue;
        // Read, not only opened: a folder opens, and fails only when read.
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        char byte;
        int error = fd < 0 || ::read(fd, &byte, 1) < 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
        if (error == 0)
            continue;
        std::string why =
            std::string("cannot read ") + option + " " + file + ": " + std::strerror(error);
        if (runBySystemd) {
            // The service's throw-away user reads nothing that is root's alone.
            std::string name = file.substr(file.rfind('/') + 1);
            why += "\nRun by systemd, the service reads files in root-only folders through "
                   "its credentials: put LoadCredential=" +
                   name + ":" + file + " in a drop-in and give " + option + " %d/" + name +
                   " (see corvala-gateway(1))";
        }
        return why;
    }
    return {};
}

std::string CommandLine::usage() {
    return "Usage: corvala-gateway [--listen HOST:PORT] [--tls-cert FILE --tls-key FILE]\n"
           "                       [--max-connections N] [--max-connections-per-address N]\n"
           "                       [--whm-host NAME]... [--whm-port PORT]\n"
           "                       [--whm-ca FILE] [--whm-timeout SECONDS]\n"
           "                       [--demo] [--demo-accounts N]\n"
           "       corvala-gateway --version | --help\n"
           "\n"
           "The gateway between the Corvala desktop program and a WHM server.\n"
           "\n"
           "  --listen HOST:PORT     address to serve on (default 127.0.0.1:8717; port 0 picks\n"
           "                         a free one and prints it). An address other than\n"
           "                         loopback needs --tls-cert and --tls-key\n"
           "  --tls-cert FILE        serve HTTPS with the certificate chain in FILE (PEM)\n"
           "  --tls-key FILE         the private key of that certificate (PEM)\n"
           "  --max-connections N    connections served at once; more are refused (default 512)\n"
           "  --max-connections-per-address N\n"
           "                         connections served at once from one peer address; more\n"
           "                         from it are refused while others are served (default 64)\n"
           "  --whm-host NAME        allow WHM requests to NAME only (repeat for more hosts);\n"
           "                         needed to reach a WHM on loopback or link-local addresses\n"
           "  --whm-port PORT        WHM's HTTPS port (default 2087)\n"
           "  --whm-ca FILE          trust the CA or self-signed certificate in FILE (PEM) for\n"
           "                         WHM instead of the system's store. Under systemd, hand a\n"
           "                         root-only file over with LoadCredential=whm-ca.pem:FILE\n"
           "                         and give --whm-ca %d/whm-ca.pem\n"
           "  --whm-timeout SECONDS  the most one WHM call may take, from connecting to the\n"
           "                         last byte (default 50 s, 240 s for account creation)\n"
           "  --demo                 answer from a simulated WHM server held in memory\n"
           "  --demo-accounts N      the demo holds N generated accounts (user00001, ...)\n"
           "                         instead of the sample ones; implies --demo\n"
           "  --version              print the version and exit\n"
           "  -h, --help             print this help and exit\n";
}
