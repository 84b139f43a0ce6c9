#include "httpswhmapi.h"

#include "textrules.h"
#include "whmanswerreader.h"
#include "whmexchange.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

#include <optional>

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;

namespace {

// A strand for one connection. On an io_context's own executor rather than on the
// type-erased one: every operation asks its strand for work tracking, and through two
// layers of type erasure that costs more than reading a TLS record.
asio::any_io_executor strandOf(const asio::any_io_executor& executor) {
    if (const auto* plain = executor.target<asio::io_context::executor_type>())
        return asio::make_strand(*plain);
    return asio::make_strand(executor);
}

// What WHM connections trust: certificates verified against the system's store, or against
// the one CA or self-signed certificate in caFile.
std::shared_ptr<asio::ssl::context> makeTrust(const std::string& caFile, std::string& error) {
    auto tls = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    tls->set_verify_mode(asio::ssl::verify_peer);
    tls->set_options(asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                     asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
    boost::system::error_code ec;
    if (caFile.empty())
        tls->set_default_verify_paths(ec);
    else
        tls->load_verify_file(caFile, ec);
    if (ec)
        error = "The trusted certificates could not be loaded" +
                (caFile.empty() ? std::string() : " from " + caFile) + " (" + ec.message() + ")";
    return tls;
}

// Appends text percent-encoded, straight into the secret.
void appendEncoded(Secret& out, std::string_view text) {
    const std::size_t size = boost::urls::encoded_size(text, boost::urls::unreserved_chars);
    const std::size_t at = out.size();
    out.text().resize(at + size);
    boost::urls::encode(out.text().data() + at, size, text, boost::urls::unreserved_chars);
}

} // namespace

HttpsWhmApi::HttpsWhmApi(asio::any_io_executor executor, Options options)
    : m_executor(std::move(executor)), m_options(std::move(options)),
      m_policy(m_options.allowedHosts),
      m_budget(m_options.maxCallsInFlight, m_options.maxBytesInFlight),
      m_resolver(m_options.lookupThreads, m_options.lookup),
      m_tls(makeTrust(m_options.caFile, m_tlsError)),
      m_pool(WhmPool::make(m_executor, m_options.idle)) {}

HttpsWhmApi::~HttpsWhmApi() {
    m_pool->clear();
}

std::uint64_t HttpsWhmApi::connectionsOpened() const {
    return m_pool->openedCount();
}

WhmUsage HttpsWhmApi::usage() const {
    return {m_pool->openCount(), m_pool->idleCount(), m_budget.callsInUse(), m_budget.bytesInUse()};
}

std::shared_ptr<asio::ssl::context> HttpsWhmApi::trust() const {
    std::lock_guard lock(m_trustMutex);
    return m_tls;
}

std::string HttpsWhmApi::reloadTrust() {
    std::string error;
    std::shared_ptr<asio::ssl::context> tls = makeTrust(m_options.caFile, error);
    if (!error.empty())
        return error;
    std::lock_guard lock(m_trustMutex);
    m_tls = std::move(tls);
    m_tlsError.clear();
    return {};
}

Secret HttpsWhmApi::pathFor(const WhmRequest& request) {
    // Every byte outside the unreserved set is encoded: WHM reads '+' as a blank.
    Secret path("/json-api/");
    appendEncoded(path, request.function);
    path.text().append("?api.version=1");
    for (const auto& [key, value] : request.params) {
        path.text().append("&");
        appendEncoded(path, key);
        path.text().append("=");
        appendEncoded(path, value);
    }
    return path;
}

asio::awaitable<void> HttpsWhmApi::send(const WhmRequest& request, std::string_view authorization,
                                        WhmCallKind kind, WhmAnswerReader& reader) {
    if (std::lock_guard lock(m_trustMutex); !m_tlsError.empty())
        throw WhmError(WhmResult::Failed, m_tlsError);
    // Before any look-up or connection.
    if (std::string refusal = m_policy.refusalOfName(request.host); !refusal.empty())
        throw WhmError(WhmResult::Failed, refusal);
    std::string busy;
    std::optional<WhmBudget::Ticket> ticket = m_budget.admit(WhmConnection::readBufferBytes, busy);
    if (!ticket)
        throw WhmError(WhmResult::Busy, busy);
    reader.chargeTo(std::move(*ticket));

    const std::string where = request.host + ":" + std::to_string(m_options.port);
    WhmCall call{{request.host, m_options.port, where, Clock::now() + request.timeout},
                 {},
                 reader,
                 request.timeout,
                 kind == WhmCallKind::List ? m_options.maxListAnswerBytes
                                           : m_options.maxCommandAnswerBytes,
                 lowerCase(request.host)};
    // HTTP/1.1 keeps the connection alive unless told otherwise.
    WipedString& bytes = call.request.text();
    bytes.append("GET ").append(pathFor(request).text()).append(" HTTP/1.1\r\nHost: ");
    bytes.append(m_options.port == 443 ? request.host : where);
    bytes.append("\r\nAuthorization: ").append(authorization.data(), authorization.size());
    bytes.append("\r\nUser-Agent: corvala-gateway/" CORVALA_VERSION "\r\n\r\n");

    WhmExchangeContext services{m_resolver, m_policy, *m_pool, m_budget};
    bool retried = false;
    for (;;) {
        // A command never takes a kept connection: one WHM dropped meanwhile would leave
        // it not knowing whether WHM had it, and it is never sent twice.
        std::shared_ptr<WhmConnection> connection =
            kind == WhmCallKind::List && !retried ? m_pool->take(call.key) : nullptr;
        const bool reused = connection != nullptr;
        if (!connection)
            connection =
                std::make_shared<WhmConnection>(strandOf(m_executor), m_tls, m_pool->openCounter());
        // Each connection's I/O and its deadline timer run on its own strand, whatever
        // executor the caller runs on; a cancellation of the call follows it there.
        WhmAttempt attempt = co_await asio::co_spawn(connection->stream().get_executor(),
                                                     exchange(*connection, reused, call, services),
                                                     asio::use_awaitable);
        switch (attempt) {
        case WhmAttempt::Stale: // nothing was sent on it: the next one
            continue;
        case WhmAttempt::Retry:
            retried = true;
            continue;
        case WhmAttempt::Answered:
            co_return;
        }
    }
}
