#include "gatewayhandler.h"

#include "sitepages.h"
#include "textrules.h"
#include "whmanswerreader.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/url/grammar/string_token.hpp>
#include <boost/url/parse.hpp>

#include <utility>
#include <vector>

namespace asio = boost::asio;
namespace http = boost::beast::http;

namespace {

constexpr const char* htmlType = "text/html; charset=utf-8";
constexpr const char* textType = "text/plain; charset=utf-8";
// WHM's reason in the log: enough to act on, never a flood (pages and 502s carry the
// reason as the WHM client cut it, a few thousand characters at most).
constexpr std::size_t maxReasonInLog = 300;

void setBody(GatewayReply& reply, http::status status, std::string_view type, std::string body) {
    reply.message.result(status);
    reply.message.set(http::field::content_type, type);
    reply.message.body() = std::move(body);
}

bool cancelled(const asio::cancellation_state& state) {
    return state.cancelled() != asio::cancellation_type::none;
}

// Account creation names a new account, takes more than its name, and more time.
bool creates(const Route& route) {
    return route.whmFunction == "createacct";
}

} // namespace

// The query as the handler reads it: every parameter decoded (a '+' is a blank), the
// values kept as secrets, as a key and a password travel among them. A key that comes
// twice counts by its first value, as the desktop program sends each key once.
class GatewayHandler::Query {
public:
    explicit Query(const boost::urls::url_view& url) {
        boost::urls::encoding_opts form;
        form.space_as_plus = true;
        for (auto param : url.encoded_params()) {
            std::string key = param.key.decode(form);
            Secret value;
            param.value.decode(form, boost::urls::string_token::append_to(value.text()));
            m_params.emplace_back(std::move(key), std::move(value));
        }
    }

    std::string_view first(std::string_view key) const {
        for (const auto& [k, v] : m_params)
            if (k == key)
                return v.view();
        return {};
    }
    bool has(std::string_view key) const {
        for (const auto& param : m_params)
            if (param.first == key)
                return true;
        return false;
    }

    // The route's parameters that may be logged, each as it was used.
    std::string logged(const Route& route) const {
        std::string out;
        for (const RouteParam& param : route.params) {
            if (param.secret || !has(param.key))
                continue;
            out.append(out.empty() ? "" : "&").append(param.key).append("=");
            out.append(loggedValue(first(param.key)));
        }
        return out;
    }

    // Why a value the route reads cannot go to WHM, or empty. A control character has no
    // place in a name, a password or a header, nor in a key beyond a remote access key's
    // line breaks.
    std::string refusal(const Route& route) const {
        for (const RouteParam& param : route.params)
            if (holdsControlCharacter(first(param.key), param.lineBreaks))
                return "The " + std::string(param.what) + " holds a control character.";
        return {};
    }

    // The WHM call the route asks for, with the login the query carries.
    WhmRequest whmRequest(const Route& route, std::vector<std::pair<std::string, Secret>> params,
                          std::chrono::seconds timeout) const {
        return {std::string(first("host")),  std::string(first("user")),
                Secret(first("accesshash")), std::string(route.whmFunction),
                std::move(params),           timeout};
    }

private:
    std::vector<std::pair<std::string, Secret>> m_params;
};

GatewayHandler::GatewayHandler(WhmApi& whm, Options options, RequestLog* log,
                               GatewayMetrics* metrics)
    : m_whm(whm), m_options(options), m_log(log), m_metrics(metrics),
      m_whmCalls(options.whmCallsPerAddress) {}

void GatewayHandler::countCall(const Route& route, WhmResult result,
                               std::chrono::steady_clock::time_point start) {
    if (m_metrics)
        m_metrics->countWhmCall(route.whmFunction, result,
                                std::chrono::steady_clock::now() - start);
}

void GatewayHandler::stop() {
    m_commands.cancelAll();
}

std::size_t GatewayHandler::commandsInFlight() const {
    return m_commands.size();
}

asio::awaitable<GatewayReply> GatewayHandler::handle(const GatewayRequest& request) {
    const auto& message = request.message;
    GatewayReply reply;
    reply.message.version(message.version());
    reply.message.keep_alive(message.keep_alive());
    reply.message.set(http::field::server, "corvala-gateway");
    const std::string_view target(message.target().data(), message.target().size());
    const std::string_view method(message.method_string().data(), message.method_string().size());
    RequestRecord& record = reply.record;
    record.clientAddress = request.clientAddress;
    record.method = std::string(method);

    auto url = boost::urls::parse_origin_form(target);
    const Route* route = url ? routeFor(url->path()) : nullptr;
    if (!url) {
        // No query, nor anything after a '#', can be read from it: none is kept.
        record.path = std::string(target.substr(0, target.find_first_of("?#")));
        setBody(reply, http::status::bad_request, textType,
                "The request's address cannot be read.\n");
    } else if (!route) {
        record.path = std::string(url->encoded_path());
        setBody(reply, http::status::not_found, htmlType, SitePages::notFound());
    } else {
        record.path = std::string(url->encoded_path());
        const Query query(*url);
        record.routed = true;
        record.kind = route->kind;
        record.whmFunction = std::string(route->whmFunction);
        record.account = std::string(query.first(route->accountKey));
        record.params = query.logged(*route);
        co_await serve(*route, method, query, reply);
    }
    record.status = reply.message.result_int();
    if (m_metrics)
        m_metrics->countRequest(route, record.status);
    // A HEAD answer states the body's length without sending it.
    const std::size_t length = reply.message.body().size();
    if (message.method() == http::verb::head)
        reply.message.body().clear();
    reply.message.content_length(length);
    co_return reply;
}

asio::awaitable<void> GatewayHandler::serve(const Route& route, std::string_view method,
                                            const Query& query, GatewayReply& reply) {
    RequestRecord& record = reply.record;
    const bool isList = route.kind == RouteKind::List;
    // A list's failure is plain text, as the desktop program reads lists; a command's is
    // the page its result pane shows.
    auto refuse = [&](http::status status, WhmResult result, const std::string& why) {
        record.outcome = result;
        record.detail = why;
        if (isList)
            setBody(reply, status, textType, why + "\n");
        else
            setBody(reply, status, htmlType,
                    SitePages::commandOutcome(result, route.words, record.account, why));
    };

    if (!route.allows(method)) {
        // Link checkers and prefetchers send HEAD: only a GET acts on WHM.
        reply.message.set(http::field::allow, route.allowHeader());
        if (route.callsWhm())
            record.outcome = WhmResult::NotSent;
        setBody(reply, http::status::method_not_allowed, textType,
                "Only " + std::string(route.allowHeader()) + " requests are served here.\n");
        co_return;
    }
    if (route.kind == RouteKind::Page && !route.page) { // the metrics
        GatewayMetrics::Now now;
        if (m_metrics && m_metrics->connections)
            now.clientConnections = m_metrics->connections->inUse();
        now.whm = m_whm.usage();
        now.logLinesDropped = m_log ? m_log->droppedLines() : 0;
        setBody(reply, http::status::ok, route.contentType,
                m_metrics ? m_metrics->render(now) : std::string());
        co_return;
    }
    if (route.kind == RouteKind::Page) {
        setBody(reply, http::status::ok, route.contentType, route.page(m_pageHits++));
        if (route.contentType == "image/png")
            reply.message.set(http::field::cache_control, "max-age=86400");
        co_return;
    }

    // A command is carried out only with a place for its line in the audit trail.
    if (route.kind == RouteKind::Command && m_log) {
        reply.logPlace = m_log->reserve();
        if (!reply.logPlace) {
            refuse(http::status::service_unavailable, WhmResult::Busy,
                   "The gateway is busy: its log is not keeping up, so the command was not "
                   "sent to WHM. Try again in a moment.");
            co_return;
        }
    }
    // Refused before any WHM call: the value would end up in WHM's request or header.
    if (std::string why = query.refusal(route); !why.empty()) {
        refuse(http::status::bad_request, WhmResult::NotSent, why);
        co_return;
    }
    if (route.kind == RouteKind::Command && !creates(route) && record.account.empty()) {
        refuse(http::status::ok, WhmResult::NotSent,
               "No account was named: type a user name or click one in the Clients list.");
        co_return;
    }
    std::optional<AddressSlots::Slot> share = m_whmCalls.take(record.clientAddress);
    if (!share) {
        refuse(http::status::service_unavailable, WhmResult::Busy,
               "The gateway is busy: " + std::to_string(m_whmCalls.perAddress()) +
                   " WHM calls from this address are under way, its share. Try again in a "
                   "moment.");
        co_return;
    }

    try {
        if (isList)
            co_await list(route, query, reply);
        else
            co_await command(route, query, reply);
    } catch (const std::exception& e) {
        auto* error = dynamic_cast<const boost::system::system_error*>(&e);
        const bool stopped = error && error->code() == asio::error::operation_aborted;
        std::string reason =
            stopped ? "The request was cancelled." : std::string("The gateway failed: ") + e.what();
        record.outcome = stopped ? WhmResult::Cancelled : WhmResult::Failed;
        record.detail = cutShort(reason, maxReasonInLog);
        if (isList)
            setBody(reply, http::status::bad_gateway, textType, reason);
        else
            setBody(reply, http::status::ok, htmlType,
                    SitePages::commandResult(false, "The request failed", reason));
    }
}

asio::awaitable<void> GatewayHandler::list(const Route& route, const Query& query,
                                           GatewayReply& reply) {
    std::vector<std::pair<std::string, Secret>> params;
    if (route.whmFunction == "listaccts")
        params.emplace_back("want", "user");
    WhmRequest request = query.whmRequest(route, std::move(params), m_options.timeouts.list);
    // Cancelled with the request, as when its client goes away: nobody waits for the list.
    const auto start = std::chrono::steady_clock::now();
    WhmList names = co_await m_whm.callList(request, route.arrayKey, route.nameKey);
    RequestRecord& record = reply.record;
    record.outcome = cancelled(co_await asio::this_coro::cancellation_state) ? WhmResult::Cancelled
                                                                             : names.result;
    countCall(route, *record.outcome, start);
    http::status status = http::status::ok;
    switch (*record.outcome) {
    case WhmResult::Done:
        break;
    case WhmResult::Busy:
    case WhmResult::Cancelled:
        status = http::status::service_unavailable;
        break;
    case WhmResult::NotSent:
        status = http::status::bad_request;
        break;
    case WhmResult::Refused:
    case WhmResult::Failed:
    case WhmResult::NotKnown:
        // The desktop program treats an error status as a failed fetch, never as a list.
        status = http::status::bad_gateway;
        break;
    }
    if (status != http::status::ok) {
        // A cancelled call's line says why no answer went out; nothing more to say.
        if (*record.outcome == WhmResult::Cancelled)
            names.reason = "The request was cancelled.";
        else
            record.detail = cutShort(names.reason, maxReasonInLog);
        setBody(reply, status, textType, std::move(names.reason) + "\n");
        co_return;
    }
    // One line for them all, however many: a list can hold millions.
    record.detail = std::to_string(names.names) + " names";
    if (names.leftOut > 0)
        record.detail += ", " + std::to_string(names.leftOut) +
                         " left out as they hold <BR> (such as " + names.leftOutExample + ")";
    setBody(reply, status, textType, std::move(names.body));
    // The names stay charged to the budget until they have been written to the client.
    reply.charge = std::move(names.charge);
}

asio::awaitable<void> GatewayHandler::command(const Route& route, const Query& query,
                                              GatewayReply& reply) {
    const bool create = creates(route);
    std::vector<std::pair<std::string, Secret>> params;
    params.emplace_back(std::string(route.whmAccountKey), query.first(route.accountKey));
    if (create) {
        params.emplace_back("domain", query.first("acctdomain"));
        params.emplace_back("password", query.first("acctpass"));
        params.emplace_back("plan", query.first("acctplan"));
    }
    WhmRequest request = query.whmRequest(
        route, std::move(params), create ? m_options.timeouts.create : m_options.timeouts.command);
    const auto start = std::chrono::steady_clock::now();
    WhmOutcome outcome = co_await callCommand(request);
    RequestRecord& record = reply.record;
    record.outcome = outcome.result;
    countCall(route, outcome.result, start);
    if (outcome.result != WhmResult::Done)
        record.detail = cutShort(outcome.reason, maxReasonInLog);
    std::string about;
    if (create)
        about = "Domain " + std::string(query.first("acctdomain")) + ", package " +
                std::string(query.first("acctplan"));
    commandPage(route, outcome, about, reply);
}

asio::awaitable<WhmOutcome> GatewayHandler::callCommand(const WhmRequest& request) {
    if (m_commands.cancelled())
        co_return WhmOutcome{WhmResult::Cancelled,
                             "The gateway is stopping: the command was not sent to WHM."};
    // Not cancelled with the request: WHM may already be carrying the command out, and its
    // outcome belongs in the log even when the client has gone. Only stop() cancels it.
    auto executor = co_await asio::this_coro::executor;
    co_return co_await asio::co_spawn(executor, m_whm.call(request),
                                      m_commands.adapt(executor, asio::use_awaitable));
}

void GatewayHandler::commandPage(const Route& route, const WhmOutcome& outcome,
                                 const std::string& about, GatewayReply& reply) {
    http::status status = http::status::ok;
    switch (outcome.result) {
    case WhmResult::Busy:
    case WhmResult::Cancelled: // try again in a moment
        status = http::status::service_unavailable;
        break;
    case WhmResult::Done:
    case WhmResult::Refused:
    case WhmResult::Failed:
    case WhmResult::NotKnown:
    case WhmResult::NotSent:
        break;
    }
    setBody(reply, status, htmlType,
            SitePages::commandOutcome(outcome.result, route.words, reply.record.account,
                                      outcome.reason, about));
}

GatewayReply GatewayHandler::refusal(http::status status, std::string_view text,
                                     std::string clientAddress) {
    GatewayReply reply;
    reply.message.version(11);
    reply.message.set(http::field::server, "corvala-gateway");
    setBody(reply, status, textType, std::string(text) + "\n");
    reply.message.keep_alive(false);
    reply.message.prepare_payload();
    reply.record.clientAddress = std::move(clientAddress);
    reply.record.status = static_cast<int>(status);
    reply.record.detail = std::string(text);
    return reply;
}
