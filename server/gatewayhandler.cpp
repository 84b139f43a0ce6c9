#include "gatewayhandler.h"

#include "querytext.h"
#include "requestlog.h"
#include "sitepages.h"
#include "whmanswerreader.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/url/parse.hpp>

#include <map>

namespace asio = boost::asio;
namespace http = boost::beast::http;

namespace {

constexpr const char* htmlType = "text/html; charset=utf-8";
constexpr const char* textType = "text/plain; charset=utf-8";
// WHM's reason in the log: enough to act on, never a flood (pages and 502s carry the
// reason as the WHM client cut it, a few thousand characters at most).
constexpr std::size_t maxReasonInLog = 300;

using Query = std::vector<std::pair<std::string, std::string>>;
using Params = std::vector<std::pair<std::string, std::string>>;

// The first value of key, as the desktop program sends each key once.
std::string valueOf(const Query& query, std::string_view key) {
    for (const auto& [k, v] : query)
        if (k == key)
            return v;
    return {};
}

// The WHM call a request asks for, with the login it carries.
WhmRequest requestOf(const Query& query, std::string function, Params params,
                     std::chrono::seconds timeout) {
    return {valueOf(query, "host"), valueOf(query, "user"), valueOf(query, "accesshash"),
            std::move(function),    std::move(params),      timeout};
}

// Why the login in query cannot go to WHM, or empty. A control character has no place in
// a user or host name, nor in a key beyond the line breaks of a remote access key.
std::string refusalOfLogin(const Query& query) {
    static constexpr std::pair<const char*, const char*> fields[] = {
        {"user", "user name"}, {"host", "host"}, {"accesshash", "access key"}};
    for (const auto& [key, name] : fields)
        if (holdsControlCharacter(valueOf(query, key), std::string_view(key) == "accesshash"))
            return std::string("The WHM ") + name + " holds a control character.";
    return {};
}

void setBody(GatewayReply& reply, http::status status, const char* type, std::string body) {
    reply.message.result(status);
    reply.message.set(http::field::content_type, type);
    reply.message.body() = std::move(body);
}

bool isListPath(std::string_view path) {
    return path == "/clients.php" || path == "/paks.php";
}

bool callsWhm(std::string_view path) {
    return isListPath(path) || path == "/ad.php" || path == "/sus.php" || path == "/unsus.php" ||
           path == "/term.php";
}

} // namespace

GatewayHandler::GatewayHandler(WhmApi& whm, GatewayTimeouts timeouts)
    : m_whm(whm), m_timeouts(timeouts) {}

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
    RequestRecord& record = reply.record;
    record.clientAddress = request.clientAddress;
    record.method = std::string(message.method_string());
    record.target = RequestLog::harmlessTarget(target);

    const bool head = message.method() == http::verb::head;
    auto url = boost::urls::parse_origin_form(target);
    if (message.method() != http::verb::get && !head) {
        setBody(reply, http::status::method_not_allowed, textType,
                "Only GET requests are served here.\n");
        reply.message.set(http::field::allow, "GET, HEAD");
    } else if (!url) {
        setBody(reply, http::status::bad_request, textType,
                "The request's address cannot be read.\n");
    } else {
        boost::urls::encoding_opts form;
        form.space_as_plus = true; // a form-encoded blank
        Query query;
        for (auto param : url->params(form))
            query.emplace_back(param.key, param.value);
        const std::string path = url->path();
        co_await route(path, query, reply);
    }
    record.status = reply.message.result_int();
    // A HEAD answer states the body's length without sending it.
    const std::size_t length = reply.message.body().size();
    if (head)
        reply.message.body().clear();
    reply.message.content_length(length);
    co_return reply;
}

asio::awaitable<void> GatewayHandler::route(std::string_view path, const Query& query,
                                            GatewayReply& reply) {
    using PageFunction = std::string (*)();
    static const std::map<std::string_view, PageFunction> pages = {
        {"/", &SitePages::home},
        {"/help.php", &SitePages::help},
        {"/demolive.php", &SitePages::demoLive},
        {"/dl.php", &SitePages::download},
        {"/partner-hosting.php", &SitePages::partnerHosting},
        {"/partner-ssl.php", &SitePages::partnerSsl},
    };
    try {
        if (auto page = pages.find(path); page != pages.end()) {
            setBody(reply, http::status::ok, htmlType, page->second());
        } else if (path == "/tips.php") {
            setBody(reply, http::status::ok, htmlType, SitePages::tips(m_tipCount++));
        } else if (path == "/version.txt") { // compared whole by the program: no line break
            setBody(reply, http::status::ok, textType, CORVALA_VERSION);
        } else if (path == "/favicon.ico") {
            setBody(reply, http::status::ok, "image/png", std::string(SitePages::favicon()));
            reply.message.set(http::field::cache_control, "max-age=86400");
        } else if (!callsWhm(path)) {
            setBody(reply, http::status::not_found, htmlType, SitePages::notFound());
        } else if (std::string refusal = refusalOfLogin(query); !refusal.empty()) {
            // Refused before any WHM call: the value would end up in WHM's header.
            reply.record.detail = refusal;
            setBody(reply, http::status::bad_request, isListPath(path) ? textType : htmlType,
                    isListPath(path)
                        ? refusal + "\n"
                        : SitePages::commandResult(false, "The request was refused", refusal));
        } else if (path == "/clients.php") {
            // Parameter lists are built before co_await: g++ 12 cannot take braced lists there.
            Params params{{"want", "user"}};
            co_await list(query, "listaccts", std::move(params), "acct", "user", reply);
        } else if (path == "/paks.php") {
            co_await list(query, "listpkgs", Params(), "pkg", "name", reply);
        } else if (path == "/ad.php") {
            co_await create(query, reply);
        } else if (path == "/sus.php") {
            static constexpr CommandTexts texts{"suspended", false};
            co_await accountCommand(query, "suspenduser", "suspendacct", "user", texts, reply);
        } else if (path == "/unsus.php") {
            static constexpr CommandTexts texts{"unsuspended", false};
            co_await accountCommand(query, "usr", "unsuspendacct", "user", texts, reply);
        } else {
            static constexpr CommandTexts texts{"terminated", true};
            co_await accountCommand(query, "usr", "removeacct", "username", texts, reply);
        }
    } catch (const std::exception& e) {
        auto* error = dynamic_cast<const boost::system::system_error*>(&e);
        const bool cancelled = error && error->code() == asio::error::operation_aborted;
        std::string reason = cancelled ? "The request was cancelled."
                                       : std::string("The gateway failed: ") + e.what();
        reply.record.outcome =
            cancelled ? RequestRecord::Outcome::Cancelled : RequestRecord::Outcome::Failed;
        reply.record.detail = cutShort(reason, maxReasonInLog);
        if (isListPath(path))
            setBody(reply, http::status::bad_gateway, textType, reason);
        else
            setBody(reply, http::status::ok, htmlType,
                    SitePages::commandResult(false, "The request failed", reason));
    }
}

asio::awaitable<void> GatewayHandler::list(const Query& query, const char* function, Params params,
                                           const char* arrayKey, const char* nameKey,
                                           GatewayReply& reply) {
    WhmRequest request = requestOf(query, function, std::move(params), m_timeouts.list);
    WhmList names = co_await callList(request, arrayKey, nameKey, reply.record);
    if (reply.record.outcome == RequestRecord::Outcome::Cancelled) {
        setBody(reply, http::status::service_unavailable, textType, "The request was cancelled.\n");
        co_return;
    }
    if (names.status == WhmList::Status::Busy) {
        setBody(reply, http::status::service_unavailable, textType, names.reason + "\n");
        co_return;
    }
    // The desktop program treats an error status as a failed fetch, never as a list.
    if (!names.ok()) {
        setBody(reply, http::status::bad_gateway, textType, std::move(names.reason));
        co_return;
    }
    // One line for them all, however many: a list can hold millions.
    reply.record.detail = std::to_string(names.names) + " names";
    if (names.leftOut > 0)
        reply.record.detail += ", " + std::to_string(names.leftOut) +
                               " left out as they hold <BR> (such as " + names.leftOutExample + ")";
    setBody(reply, http::status::ok, textType, std::move(names.body));
}

asio::awaitable<void> GatewayHandler::create(const Query& query, GatewayReply& reply) {
    std::string user = valueOf(query, "acctuser");
    std::string domain = valueOf(query, "acctdomain");
    std::string plan = valueOf(query, "acctplan");
    Params params{{"username", user},
                  {"domain", domain},
                  {"password", valueOf(query, "acctpass")},
                  {"plan", plan}};
    WhmRequest request = requestOf(query, "createacct", std::move(params), m_timeouts.create);
    WhmOutcome outcome = co_await callCommand(request, reply.record);
    static constexpr CommandTexts texts{"created", true};
    commandPage(outcome, texts, user, "Domain " + domain + ", package " + plan, reply);
}

asio::awaitable<void> GatewayHandler::accountCommand(const Query& query, const char* accountKey,
                                                     const char* function, const char* whmUserKey,
                                                     const CommandTexts& texts,
                                                     GatewayReply& reply) {
    std::string account = valueOf(query, accountKey);
    if (account.empty()) {
        setBody(reply, http::status::ok, htmlType,
                SitePages::commandOutcome(WhmResult::Refused, texts, account,
                                          "No account was named: type a user name or "
                                          "click one in the Clients list."));
        co_return;
    }
    Params params{{whmUserKey, account}};
    WhmRequest request = requestOf(query, function, std::move(params), m_timeouts.command);
    WhmOutcome outcome = co_await callCommand(request, reply.record);
    commandPage(outcome, texts, account, {}, reply);
}

void GatewayHandler::commandPage(const WhmOutcome& outcome, const CommandTexts& texts,
                                 const std::string& account, const std::string& about,
                                 GatewayReply& reply) {
    setBody(
        reply,
        outcome.result == WhmResult::Busy ? http::status::service_unavailable : http::status::ok,
        htmlType, SitePages::commandOutcome(outcome.result, texts, account, outcome.reason, about));
}

asio::awaitable<WhmList> GatewayHandler::callList(const WhmRequest& request,
                                                  std::string_view arrayKey,
                                                  std::string_view nameKey, RequestRecord& record) {
    record.whmFunction = request.function;
    // Cancelled with the request, as when its client goes away: nobody waits for the list.
    WhmList names = co_await m_whm.callList(request, arrayKey, nameKey);
    asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
    if (state.cancelled() != asio::cancellation_type::none) {
        record.outcome = RequestRecord::Outcome::Cancelled;
    } else if (names.ok()) {
        record.outcome = RequestRecord::Outcome::Listed;
    } else if (names.status == WhmList::Status::Busy) {
        record.outcome = RequestRecord::Outcome::Busy;
        record.detail = cutShort(names.reason, maxReasonInLog);
    } else {
        record.outcome = RequestRecord::Outcome::Failed;
        record.detail = cutShort(names.reason, maxReasonInLog);
    }
    co_return names;
}

asio::awaitable<WhmOutcome> GatewayHandler::callCommand(const WhmRequest& request,
                                                        RequestRecord& record) {
    using Outcome = RequestRecord::Outcome;
    record.whmFunction = request.function;
    if (m_commands.cancelled()) {
        record.outcome = Outcome::Refused;
        record.detail = "the gateway is stopping: not sent";
        co_return WhmOutcome{WhmResult::Refused,
                             "The gateway is stopping: the command was not sent to WHM."};
    }
    // Not cancelled with the request: WHM may already be carrying the command out, and its
    // outcome belongs in the log even when the client has gone. Only stop() cancels it.
    auto executor = co_await asio::this_coro::executor;
    WhmOutcome outcome = co_await asio::co_spawn(executor, m_whm.call(request),
                                                 m_commands.adapt(executor, asio::use_awaitable));
    static constexpr Outcome outcomes[] = {Outcome::Done, Outcome::Refused, Outcome::NotKnown,
                                           Outcome::Busy};
    record.outcome = outcomes[static_cast<std::size_t>(outcome.result)];
    if (outcome.result != WhmResult::Done)
        record.detail = cutShort(outcome.reason, maxReasonInLog);
    co_return outcome;
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
