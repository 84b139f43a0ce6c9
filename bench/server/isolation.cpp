#include "isolation.h"

#include <boost/asio/steady_timer.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace asio = boost::asio;

bool isolate(char** argv) {
    if (!std::getenv("CORVALA_BENCH_ISOLATED")) {
        setenv("CORVALA_BENCH_ISOLATED", "1", 1);
        std::string self = std::filesystem::read_symlink("/proc/self/exe");
        std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>("-rnm"),
                                   const_cast<char*>("--"), self.data()};
        for (char** arg = argv + 1; *arg; ++arg)
            args.push_back(*arg);
        args.push_back(nullptr);
        execvp("unshare", args.data());
        std::perror("unshare");
        return false;
    }
    // An address besides loopback's, so look-ups still ask for IPv4 addresses.
    if (std::system("ip link set lo up && ip addr add 10.255.0.1/32 dev lo") != 0)
        return false;
    char resolv[] = "/tmp/corvala-bench-resolv-XXXXXX";
    int fd = mkstemp(resolv);
    const std::string text = "nameserver 127.0.0.1\noptions timeout:10 attempts:1\n";
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        return false;
    close(fd);
    bool mounted = mount(resolv, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    unlink(resolv);
    return mounted;
}

SlowDns::SlowDns(std::chrono::milliseconds delay)
    : m_delay(delay), m_socket(m_context, {asio::ip::make_address("127.0.0.1"), 53}) {
    receive();
    m_thread = std::thread([this] { m_context.run(); });
}

SlowDns::~SlowDns() {
    m_context.stop();
    m_thread.join();
}

void SlowDns::receive() {
    m_socket.async_receive_from(asio::buffer(m_query), m_from,
                                [this](boost::system::error_code ec, std::size_t n) {
                                    if (!ec && n > 12)
                                        answerLater(std::string(m_query.data(), n), m_from);
                                    receive();
                                });
}

void SlowDns::answerLater(std::string query, asio::ip::udp::endpoint to) {
    // The question runs from byte 12 to the end of its name, then type and class.
    std::size_t end = 12;
    while (end < query.size() && query[end] != 0)
        end += static_cast<unsigned char>(query[end]) + 1;
    if (end + 5 > query.size())
        return;
    const bool isA = query[end + 1] == 0 && query[end + 2] == 1;
    std::string reply = query.substr(0, end + 5);
    reply[2] = static_cast<char>(0x81); // an answer, recursion wanted
    reply[3] = static_cast<char>(0x80); // recursion available, no error
    reply[6] = 0;
    reply[7] = isA ? 1 : 0;
    reply[8] = reply[9] = reply[10] = reply[11] = 0;
    if (isA)
        reply +=
            std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x00\x00\x00\x04\x7F\x00\x00\x01", 16);
    auto timer = std::make_shared<asio::steady_timer>(m_context, m_delay);
    timer->async_wait([this, timer, to, reply = std::move(reply)](boost::system::error_code) {
        boost::system::error_code ignored;
        m_socket.send_to(asio::buffer(reply), to, 0, ignored);
    });
}
