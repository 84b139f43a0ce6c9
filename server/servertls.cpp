#include "servertls.h"

#include <openssl/ssl.h>

namespace ssl = boost::asio::ssl;

ServerTls::ServerTls(std::string certificateFile, std::string keyFile)
    : m_certificateFile(std::move(certificateFile)), m_keyFile(std::move(keyFile)) {}

std::string ServerTls::load() {
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                         ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                         ssl::context::no_tlsv1_1);
    // Requests carry access keys: no copy of one stays in OpenSSL's read buffer.
    SSL_CTX_set_options(context->native_handle(), SSL_OP_CLEANSE_PLAINTEXT);
    boost::system::error_code ec;
    context->use_certificate_chain_file(m_certificateFile, ec);
    if (!ec)
        context->use_private_key_file(m_keyFile, ssl::context::pem, ec);
    // A key that is not the certificate's fails here, before any client sees it.
    if (!ec && SSL_CTX_check_private_key(context->native_handle()) != 1)
        ec = boost::asio::error::invalid_argument;
    if (ec)
        return "cannot use the TLS certificate " + m_certificateFile + " with the key " +
               m_keyFile + ": " +
               (ec == boost::asio::error::invalid_argument ? "the key is not the certificate's"
                                                           : ec.message());
    std::lock_guard lock(m_mutex);
    m_context = std::move(context);
    return {};
}

std::shared_ptr<ssl::context> ServerTls::current() const {
    std::lock_guard lock(m_mutex);
    return m_context;
}
