#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

// A blocking socket to the gateway with a receive time limit.
class RawClient {
public:
    // receiveBuffer: the socket's receive buffer in bytes, or 0 for the system's; from: the
    // loopback address it connects from, or empty for the system's choice.
    explicit RawClient(int port,
                       std::chrono::milliseconds receiveLimit = std::chrono::milliseconds(3000),
                       int receiveBuffer = 0, const char* from = nullptr) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (from) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &local.sin_addr);
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        timeval tv{static_cast<time_t>(receiveLimit.count() / 1000),
                   static_cast<suseconds_t>(receiveLimit.count() % 1000 * 1000)};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    // Whether a byte of an answer has come, without reading it.
    bool answerBegun() {
        char byte;
        return ::recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
    }
    // Sends a FIN and goes on reading, as `nc -N` does.
    void shutdownSending() { ::shutdown(m_fd, SHUT_WR); }
    bool send(const std::string& data) {
        return ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(data.size());
    }
    // Everything until the peer closes or the receive limit passes; with a pause, a read
    // of at most 16 KiB at a time, each after the pause.
    std::string readAll(bool* closed = nullptr,
                        std::chrono::milliseconds pause = std::chrono::milliseconds(0)) {
        std::string text;
        char chunk[16384];
        for (;;) {
            if (pause.count() > 0)
                std::this_thread::sleep_for(pause);
            ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                if (closed)
                    *closed = n == 0 || errno == ECONNRESET;
                return text;
            }
            text.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};
