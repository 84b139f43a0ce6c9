#include "commandline.h"

#include <charconv>

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
        } else if (arg == "--demo") {
            line.demo = true;
        } else if (arg == "--demo-accounts") {
            if (!value(text))
                break;
            int count = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), count);
            if (ec != std::errc() || end != text.data() + text.size() || count < 0 ||
                count > 1'000'000) {
                line.error = "--demo-accounts wants a count up to 1000000, not \"" + text + "\"";
                break;
            }
            line.demoAccounts = count;
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
        } else {
            line.error = "unknown argument \"" + arg + "\"";
            break;
        }
    }
    return line;
}

std::string CommandLine::usage() {
    return "Usage: corvala-gateway [--listen HOST:PORT] [--demo [--demo-accounts N]] "
           "[--whm-port PORT] [--whm-ca FILE]\n"
           "\n"
           "The gateway between the Corvala desktop program and a WHM server.\n"
           "\n"
           "  --listen HOST:PORT  address to serve on (default 127.0.0.1:8717; port 0 picks\n"
           "                      a free one and prints it)\n"
           "  --demo              answer from a simulated WHM server held in memory\n"
           "  --demo-accounts N   the demo starts with N generated accounts instead of its\n"
           "                      samples\n"
           "  --whm-port PORT     WHM's HTTPS port (default 2087)\n"
           "  --whm-ca FILE       trust the CA or self-signed certificate in FILE (PEM) for\n"
           "                      WHM instead of the system's store\n";
}
