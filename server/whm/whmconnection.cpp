#include "whmconnection.h"

#include "whmhostpolicy.h"
#include "whmresolver.h"
#include "whmresult.h"

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <poll.h>

#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
using error_code = boost::system::error_code;
using asio::ip::tcp;

WhmConnection::WhmConnection(const asio::any_io_executor& executor,
                             std::shared_ptr<asio::ssl::context> tls,
                             std::shared_ptr<std::atomic<std::size_t>> open)
    : m_tls(std::move(tls)), m_stream(executor, *m_tls), m_timer(executor),
      m_open(std::move(open)) {
    ++*m_open;
}

WhmConnection::~WhmConnection() {
    --*m_open;
}

void WhmConnection::arm(Clock::time_point deadline) {
    m_timedOut = false;
    m_armed = ++m_call;
    m_timer.expires_at(deadline);
    m_timer.async_wait([weak = weak_from_this(), call = m_call](error_code ec) {
        std::shared_ptr<WhmConnection> self = weak.lock();
        // Not this call's deadline any more: the connection may be back in the pool.
        if (ec || !self || self->m_armed != call)
            return;
        self->m_timedOut = true;
        error_code ignored;
        self->socket().close(ignored);
    });
}

void WhmConnection::disarm() {
    m_armed = 0;
    m_timer.cancel();
}

bool WhmConnection::quiet() {
    SSL* ssl = m_stream.native_handle();
    if (stale || m_buffer.size() > 0 || SSL_has_pending(ssl) ||
        BIO_ctrl_pending(SSL_get_rbio(ssl)) > 0)
        return false;
    pollfd idle{socket().native_handle(), POLLIN, 0};
    return ::poll(&idle, 1, 0) == 0;
}

asio::awaitable<void> WhmConnection::open(const WhmPlace& place, WhmResolver& resolver,
                                          const WhmHostPolicy& policy) {
    const std::string& host = place.host;
    auto onError = [](error_code& ec) { return asio::redirect_error(asio::use_awaitable, ec); };
    auto fail = [](const std::string& reason) { return WhmError(WhmResult::Failed, reason); };

    error_code ec;
    std::vector<asio::ip::address> addresses;
    asio::ip::address literal = asio::ip::make_address(host, ec);
    const bool isAddress = !ec;
    if (isAddress)
        addresses.push_back(literal);
    else
        addresses = co_await resolver.resolve(host, place.deadline);
    if (Clock::now() >= place.deadline || m_timedOut)
        throw fail("No connection to WHM at " + place.where + " in the time allowed");
    // Every address it leads to is checked, so a name cannot smuggle in a local one.
    for (const asio::ip::address& address : addresses)
        if (std::string refusal = policy.refusalOfAddress(host, address); !refusal.empty())
            throw fail(refusal);

    // Each address in turn, until one answers or the deadline (which closes the socket).
    ec = asio::error::host_not_found;
    for (const asio::ip::address& address : addresses) {
        error_code ignored;
        socket().close(ignored);
        co_await socket().async_connect({address, static_cast<unsigned short>(place.port)},
                                        onError(ec));
        if (!ec || m_timedOut || ec == asio::error::operation_aborted)
            break;
    }
    if (m_timedOut)
        throw fail("No connection to WHM at " + place.where + " in the time allowed");
    if (ec)
        throw fail("Could not connect to WHM at " + place.where + " (" + ec.message() + ")");
    socket().set_option(tcp::no_delay(true), ec);

    // The certificate must hold the name or address asked for; names also go out as SNI.
    // Unset, any trusted certificate would do: a failure here ends the call.
    SSL* ssl = m_stream.native_handle();
    const bool nameSet =
        isAddress ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1
                  : SSL_set_tlsext_host_name(ssl, host.c_str()) && SSL_set1_host(ssl, host.c_str());
    if (!nameSet)
        throw fail("No secure connection to WHM at " + place.where);

    co_await m_stream.async_handshake(asio::ssl::stream_base::client, onError(ec));
    if (ec) {
        long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK)
            throw fail("The certificate of WHM at " + place.where + " is not trusted (" +
                       X509_verify_cert_error_string(verify) + ")");
        if (m_timedOut)
            throw fail("No secure connection to WHM at " + place.where + " in the time allowed");
        throw fail("No secure connection to WHM at " + place.where + " (" + ec.message() + ")");
    }
}
