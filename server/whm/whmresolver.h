#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Looks WHM host names up on a few threads of its own. Asio's resolver runs every look-up
// of an io_context on one private thread, so a slow name would hold up every other; here
// up to `threads` run at once and the rest queue. A look-up cannot be stopped once begun:
// a call stops waiting for it at its deadline or when cancelled, and it runs on unseen.
class WhmResolver {
public:
    // Looks one name up, blocking; sets ec when it cannot. The default asks the system.
    using Lookup = std::function<std::vector<boost::asio::ip::address>(
        const std::string& host, boost::system::error_code& ec)>;

    explicit WhmResolver(unsigned threads, Lookup lookup = {});
    // Look-ups under way finish on their own threads, which then end.
    ~WhmResolver();
    WhmResolver(const WhmResolver&) = delete;
    WhmResolver& operator=(const WhmResolver&) = delete;

    // The addresses of host, waiting no later than deadline. Throws WhmError (refused) when
    // the name is not found, the deadline passes or the awaiting call is cancelled.
    boost::asio::awaitable<std::vector<boost::asio::ip::address>>
    resolve(const std::string& host, std::chrono::steady_clock::time_point deadline);

private:
    // getaddrinfo, asking only for the address families this machine has.
    static std::vector<boost::asio::ip::address> systemLookup(const std::string& host,
                                                              boost::system::error_code& ec);

    struct Queue;
    std::shared_ptr<Queue> m_queue; // shared with its threads, which may outlive this object
};
