#include "commandline.h"

#include "trustedproxies.h"

#include <boost/asio/ip/address.hpp>
#include <boost/program_options/options_description.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/variables_map.hpp>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace po = boost::program_options;

namespace {

// Every option, with its default as the part it configures has it.
po::options_description options() {
    const CommandLine d;
    const std::string listen = d.listenHost + ":" + std::to_string(d.listenPort);
    po::options_description all("Options");
    auto text = [] { return po::value<std::string>(); };
    po::options_description_easy_init add = all.add_options();
    add("listen", text()->value_name("HOST:PORT")->default_value(listen),
        "address to serve on (port 0 picks a free one and prints it). An address other than "
        "loopback needs --tls-cert and --tls-key");
    add("tls-cert", text()->value_name("FILE"),
        "serve HTTPS with the certificate chain in FILE (PEM); read again on SIGHUP");
    add("tls-key", text()->value_name("FILE"), "the private key of that certificate (PEM)");
    add("max-connections", text()->value_name("N")->default_value(std::to_string(d.maxConnections)),
        "client connections served at once; more are refused");
    add("max-connections-per-address",
        text()->value_name("N")->default_value(std::to_string(d.maxConnectionsPerAddress)),
        "client connections served at once from one address (an IPv6 /64); more from it are "
        "refused while others are served");
    add("whm-host", po::value<std::vector<std::string>>()->value_name("NAME"),
        "allow WHM requests to NAME only (repeat for more hosts); needed to reach a WHM on "
        "loopback or link-local addresses");
    add("whm-port", text()->value_name("PORT")->default_value(std::to_string(d.whmPort)),
        "WHM's HTTPS port");
    add("whm-ca", text()->value_name("FILE"),
        "trust the CA or self-signed certificate in FILE (PEM) for WHM instead of the "
        "system's store; read again on SIGHUP");
    add("whm-timeout", text()->value_name("SECONDS"),
        "the most one WHM call may take, from connecting to the last byte (default 50 s, "
        "240 s for account creation)");
    add("trusted-proxy", po::value<std::vector<std::string>>()->value_name("ADDRESS[/PREFIX]"),
        "a reverse proxy in front of the gateway (repeat for more): from it alone a PROXY "
        "protocol header (v1 or v2) or the last X-Forwarded-For hop names the client, whose "
        "address the caps and the log then use");
    add("stop-timeout", text()->value_name("SECONDS")->default_value(std::to_string(d.stopTimeout)),
        "on SIGTERM, how long requests under way may take to finish before they are "
        "cancelled; the listener closes at once");
    add("demo", po::bool_switch(), "answer from a simulated WHM server held in memory");
    add("demo-accounts", text()->value_name("N"),
        "the demo holds N generated accounts (user00001, ...) instead of the sample ones; "
        "implies --demo");
    add("log-page-hits", po::bool_switch(),
        "log every page served too, not only lists and commands");
    add("config", text()->value_name("FILE"),
        "read options from FILE: the same names without \"--\", \"name = value\" a line, "
        "'#' comments; the command line wins");
    add("version", "print the version and exit");
    add("help,h", "print this help and exit");
    return all;
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

// The options a --config file gives, each with the line it stands on.
struct ConfigFile {
    po::parsed_options parsed;
    std::map<std::string, int> lines; // the first line of each name
};

// Reads path as "name = value" lines; an unknown name or a line that is none of these
// stops here, with the file and the line.
ConfigFile readConfig(const std::string& path, const po::options_description& known) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read --config " + path + ": " + std::strerror(errno));
    ConfigFile file{po::parsed_options(&known), {}};
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (std::size_t hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        auto trim = [](std::string text) {
            const char* blanks = " \t\r";
            text.erase(0, text.find_first_not_of(blanks));
            text.erase(text.find_last_not_of(blanks) + 1);
            return text;
        };
        line = trim(line);
        if (line.empty())
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            throw std::runtime_error(where + "\"" + line + "\" is not \"name = value\"");
        const std::string name = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        const po::option_description* option = known.find_nothrow(name, false);
        if (!option || name == "config" || name == "help" || name == "version")
            throw std::runtime_error(where + "unknown option \"" + name + "\"");
        po::option entry(name, {value});
        if (option->semantic()->max_tokens() == 0) {
            // A switch: on or off.
            if (value == "no" || value == "false" || value == "off" || value == "0")
                continue;
            if (value != "yes" && value != "true" && value != "on" && value != "1")
                throw std::runtime_error(where + name + " wants yes or no, not \"" + value + "\"");
            entry.value.clear();
        }
        entry.original_tokens = {name, value};
        file.parsed.options.push_back(std::move(entry));
        file.lines.emplace(name, number);
    }
    return file;
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
    CommandLine line;
    const po::options_description known = options();
    po::variables_map given;
    po::parsed_options fromCommandLine(&known);
    ConfigFile fromFile{po::parsed_options(&known), {}};
    // Where an option's value came from, for the messages: the command line wins.
    auto origin = [&](const std::string& name) {
        for (const po::option& option : fromCommandLine.options)
            if (option.string_key == name)
                return "--" + name;
        auto it = fromFile.lines.find(name);
        return it == fromFile.lines.end()
                   ? "--" + name
                   : line.configFile + ":" + std::to_string(it->second) + ": " + name;
    };
    std::string current; // the option being read, for a message
    try {
        fromCommandLine = po::command_line_parser(args).options(known).run();
        po::store(fromCommandLine, given);
        if (given.count("help"))
            line.showHelp = true;
        if (given.count("version"))
            line.showVersion = true;
        if (line.showHelp || line.showVersion)
            return line;
        if (given.count("config")) {
            line.configFile = given["config"].as<std::string>();
            fromFile = readConfig(line.configFile, known);
            po::store(fromFile.parsed, given);
        }
        po::notify(given);
    } catch (const po::error& e) {
        line.error = e.what();
        return line;
    } catch (const std::runtime_error& e) {
        line.error = e.what();
        return line;
    }

    auto fail = [&](const std::string& name, const std::string& why) {
        if (line.error.empty())
            line.error = origin(name) + " " + why;
    };
    auto text = [&](const char* name) -> std::string {
        return given.count(name) ? given[name].as<std::string>() : std::string();
    };
    auto flag = [&](const char* name) { return given[name].as<bool>(); };
    auto count = [&](const char* name, long long low, long long high, auto& out) {
        if (!given.count(name))
            return;
        long long value = 0;
        if (!parseCount(text(name), value, low, high))
            fail(name, "wants a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not \"" + text(name) + "\"");
        else
            out = static_cast<std::remove_reference_t<decltype(out)>>(value);
    };

    const std::string listen = text("listen");
    const std::size_t colon = listen.rfind(':');
    long long port = -1;
    if (colon == std::string::npos || colon == 0 ||
        !parseCount(listen.substr(colon + 1), port, 0, 65535)) {
        fail("listen", "wants HOST:PORT, not \"" + listen + "\"");
    } else {
        line.listenPort = static_cast<int>(port);
        line.listenHost = listen.substr(0, colon);
        if (line.listenHost.size() > 2 && line.listenHost.front() == '[' &&
            line.listenHost.back() == ']')
            line.listenHost = line.listenHost.substr(1, line.listenHost.size() - 2);
    }
    count("whm-port", 1, 65535, line.whmPort);
    count("whm-timeout", 1, 24 * 3600, line.whmTimeout);
    count("max-connections", 1, 1'000'000, line.maxConnections);
    count("max-connections-per-address", 1, 1'000'000, line.maxConnectionsPerAddress);
    count("demo-accounts", 0, 10'000'000, line.demoAccounts);
    count("stop-timeout", 0, 3600, line.stopTimeout);
    if (given.count("trusted-proxy"))
        line.trustedProxies = given["trusted-proxy"].as<std::vector<std::string>>();
    for (const std::string& proxy : line.trustedProxies)
        if (!TrustedProxies().add(proxy))
            fail("trusted-proxy", "wants an address or ADDRESS/PREFIX, not \"" + proxy + "\"");
    line.demo = flag("demo") || line.demoAccounts >= 0;
    line.logPageHits = flag("log-page-hits");
    line.whmCaFile = text("whm-ca");
    line.tlsCertificateFile = text("tls-cert");
    line.tlsKeyFile = text("tls-key");
    if (given.count("whm-host"))
        line.whmHosts = given["whm-host"].as<std::vector<std::string>>();
    for (const std::string& host : line.whmHosts)
        if (host.empty())
            fail("whm-host", "wants a host name");
    if (!line.error.empty())
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
            // The service's throw-away user reads only what anyone may, and a private key
            // through the group ssl-cert.
            why += std::string(option) == "--tls-key"
                       ? "\nRun by systemd, the service reads a private key through the group "
                         "ssl-cert: chgrp ssl-cert and chmod 0640 it (in /etc/ssl/private), and "
                         "install the drop-in corvala-gateway-tls.conf (see "
                         "/etc/corvala/gateway.conf)"
                       : "\nRun by systemd, the service runs as a throw-away user: a certificate "
                         "is no secret, make it readable by all (see /etc/corvala/gateway.conf)";
        }
        return why;
    }
    return {};
}

std::string CommandLine::usage() {
    std::ostringstream out;
    out << "Usage: corvala-gateway [OPTION]...\n"
           "       corvala-gateway --version | --help\n"
           "\n"
           "The gateway between the Corvala desktop program and a WHM server.\n"
           "\n"
        << options();
    return out.str();
}
