#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <array>
#include <chrono>
#include <string>
#include <thread>

// For benchmarks that must not reach beyond this machine: they re-execute themselves in
// a network namespace of their own with loopback only (`unshare -rnm`), where a DNS
// stand-in on 127.0.0.1:53 answers every name.

// Loopback only, and a resolver that asks 127.0.0.1. Returns false when the namespace
// cannot be set up.
bool isolate(char** argv);

// Answers every A query for a name on 127.0.0.1:53 with 127.0.0.1, after `delay`, and
// any other query with no address.
class SlowDns {
public:
    explicit SlowDns(std::chrono::milliseconds delay);
    ~SlowDns();

private:
    void receive();
    void answerLater(std::string query, boost::asio::ip::udp::endpoint to);

    std::chrono::milliseconds m_delay;
    boost::asio::io_context m_context;
    boost::asio::ip::udp::socket m_socket;
    boost::asio::ip::udp::endpoint m_from;
    std::array<char, 512> m_query{};
    std::thread m_thread;
};
