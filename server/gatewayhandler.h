#pragma once

#include "addressslots.h"
#include "gatewaymetrics.h"
#include "httpswhmapi.h"
#include "requestlog.h"
#include "requestrecord.h"
#include "routes.h"
#include "secret.h"
#include "taskgroup.h"
#include "whmapi.h"

#include <boost/asio/awaitable.hpp>
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How long one WHM call may take, from connecting to the answer's last byte, per kind of
// call: below the desktop program's own limits for lists and commands, while account
// creation can take minutes.
struct GatewayTimeouts {
    std::chrono::seconds list{50};
    std::chrono::seconds command{50};
    std::chrono::seconds create{240};
};

// A request as a client sent it. Its target may hold the access key and a password: the
// memory of its fields is wiped when freed.
using RequestFields = boost::beast::http::basic_fields<WipingAllocator<char>>;
using RequestMessage = boost::beast::http::request<boost::beast::http::string_body, RequestFields>;
struct GatewayRequest {
    RequestMessage message;
    std::string clientAddress;
};

// The answer to send back, what the log keeps of the request, and what the answer holds
// until it has been written: its share of the WHM budget, and its line's place in the log.
struct GatewayReply {
    boost::beast::http::response<boost::beast::http::string_body> message;
    RequestRecord record;
    std::optional<WhmBudget::Ticket> charge;
    std::optional<RequestLog::Reservation> logPlace;
};

// Turns a request into its reply without touching a socket: routes it by the route table,
// builds the page, the list or the command's outcome (calling WHM for the desktop
// program's requests) and the request's record for the log.
//
// Cancelling handle() (terminal, through the awaiting coroutine's cancellation state, as
// when the client goes away) cancels a list call at once. An account command already
// started goes on to its end, so that its outcome reaches the log: only stop() cancels it.
struct GatewayHandlerOptions {
    GatewayTimeouts timeouts;
    // The WHM calls one client address (an IPv6 /64) may have in flight: a quarter of what
    // the WHM client takes at once, so that other addresses are served.
    std::size_t whmCallsPerAddress = HttpsWhmApi::Options().maxCallsInFlight / 4;
};

class GatewayHandler {
public:
    using Options = GatewayHandlerOptions;

    // With a log, a command is carried out only once its line has a place there; with
    // metrics, every request and WHM call is counted there, and /metrics shows them.
    explicit GatewayHandler(WhmApi& whm, Options options = {}, RequestLog* log = nullptr,
                            GatewayMetrics* metrics = nullptr);
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
    WhmApi& whm() { return m_whm; }

private:
    class Query;

    boost::asio::awaitable<void> serve(const Route& route, std::string_view method,
                                       const Query& query, GatewayReply& reply);
    boost::asio::awaitable<void> list(const Route& route, const Query& query, GatewayReply& reply);
    boost::asio::awaitable<void> command(const Route& route, const Query& query,
                                         GatewayReply& reply);
    // Reaches WHM for a command, cancelled only by stop().
    boost::asio::awaitable<WhmOutcome> callCommand(const WhmRequest& request);
    static void commandPage(const Route& route, const WhmOutcome& outcome, const std::string& about,
                            GatewayReply& reply);

    void countCall(const Route& route, WhmResult result,
                   std::chrono::steady_clock::time_point start);

    WhmApi& m_whm;
    const Options m_options;
    RequestLog* m_log;
    GatewayMetrics* m_metrics;
    AddressSlots m_whmCalls; // each address's share of the WHM calls in flight
    TaskGroup m_commands;
    std::atomic<unsigned> m_pageHits{0};
};
