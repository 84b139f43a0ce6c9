#pragma once

#include "requestrecord.h"
#include "sitepages.h"
#include "taskgroup.h"
#include "whmapi.h"

#include <boost/asio/awaitable.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// How long one WHM call may take, from connecting to the answer's last byte, per kind of
// call: below the desktop program's own limits for lists and commands, while account
// creation can take minutes.
struct GatewayTimeouts {
    std::chrono::seconds list{50};
    std::chrono::seconds command{50};
    std::chrono::seconds create{240};
};

// A request as a client sent it.
struct GatewayRequest {
    boost::beast::http::request<boost::beast::http::string_body> message;
    std::string clientAddress;
};

// The answer to send back, and what the log keeps of the request.
struct GatewayReply {
    boost::beast::http::response<boost::beast::http::string_body> message;
    RequestRecord record;
};

// Turns a request into its reply without touching a socket: routes it, builds the page,
// the list or the command's outcome (calling WHM for the desktop program's requests) and
// the request's record for the log.
//
// Cancelling handle() (terminal, through the awaiting coroutine's cancellation state, as
// when the client goes away) cancels a list call at once. An account command already
// started goes on to its end, so that its outcome reaches the log: only stop() cancels it.
class GatewayHandler {
public:
    explicit GatewayHandler(WhmApi& whm, GatewayTimeouts timeouts = {});
    GatewayHandler(const GatewayHandler&) = delete;
    GatewayHandler& operator=(const GatewayHandler&) = delete;

    boost::asio::awaitable<GatewayReply> handle(const GatewayRequest& request);

    // The reply to a connection whose request cannot be served: one that could not be
    // read, or plain HTTP on the HTTPS port. It closes the connection.
    static GatewayReply refusal(boost::beast::http::status status, std::string_view text,
                                std::string clientAddress);

    // Cancels the account commands in flight, and refuses new ones: the service stops.
    void stop();
    std::size_t commandsInFlight() const;

private:
    using Query = std::vector<std::pair<std::string, std::string>>;
    using Params = std::vector<std::pair<std::string, std::string>>;

    boost::asio::awaitable<void> route(std::string_view path, const Query& query,
                                       GatewayReply& reply);
    boost::asio::awaitable<void> list(const Query& query, const char* function, Params params,
                                      const char* arrayKey, const char* nameKey,
                                      GatewayReply& reply);
    boost::asio::awaitable<void> create(const Query& query, GatewayReply& reply);
    // What a command's page calls it, for each of WHM's outcomes.
    using CommandTexts = SitePages::CommandWords;

    boost::asio::awaitable<void> accountCommand(const Query& query, const char* accountKey,
                                                const char* function, const char* whmUserKey,
                                                const CommandTexts& texts, GatewayReply& reply);
    static void commandPage(const WhmOutcome& outcome, const CommandTexts& texts,
                            const std::string& account, const std::string& about,
                            GatewayReply& reply);

    // The two places that reach WHM, for a list and for a command. Each turns WHM's
    // outcome into the words of the log.
    boost::asio::awaitable<WhmList> callList(const WhmRequest& request, std::string_view arrayKey,
                                             std::string_view nameKey, RequestRecord& record);
    boost::asio::awaitable<WhmOutcome> callCommand(const WhmRequest& request,
                                                   RequestRecord& record);

    WhmApi& m_whm;
    GatewayTimeouts m_timeouts;
    TaskGroup m_commands;
    std::atomic<unsigned> m_tipCount{0};
};
