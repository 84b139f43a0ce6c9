#include "httpswhmapi.h"

#include "querytext.h"

#include <httplib.h>
#include <openssl/x509.h>

HttpsWhmApi::HttpsWhmApi(Options options) : m_options(std::move(options)) {}

std::string HttpsWhmApi::pathFor(const WhmRequest& request) {
    std::string path = "/json-api/" + percentEncode(request.function) + "?api.version=1";
    for (const auto& [key, value] : request.params)
        path += "&" + percentEncode(key) + "=" + percentEncode(value);
    return path;
}

WhmResponse HttpsWhmApi::send(const WhmRequest& request) {
    if (request.host.empty())
        throw WhmError("No WHM host name is set");
    if (!isPlainHostName(request.host))
        throw WhmError("The WHM host name is not valid: give the host name alone, without "
                       "http:// or a port");

    httplib::SSLClient client(request.host, m_options.port);
    client.enable_server_certificate_verification(true);
    if (!m_options.caFile.empty())
        client.set_ca_cert_path(m_options.caFile);
    client.set_connection_timeout(m_options.connectTimeout);
    client.set_read_timeout(request.readTimeout);
    client.set_write_timeout(m_options.connectTimeout);
    client.set_keep_alive(false);
    client.set_follow_location(false);
    client.set_url_encode(false); // pathFor() has encoded every value already

    // A CR or LF in a header would let the sender add headers of its own.
    std::string user = whmKeyWithoutLineBreaks(request.user);
    httplib::Headers headers{
        {"Authorization", "whm " + user + ":" + whmKeyWithoutLineBreaks(request.key)}};

    auto result = client.Get(pathFor(request), headers);
    if (!result) {
        std::string where = request.host + ":" + std::to_string(m_options.port);
        switch (result.error()) {
        case httplib::Error::SSLServerVerification: {
            long verify = client.get_openssl_verify_result();
            std::string why = verify != X509_V_OK ? X509_verify_cert_error_string(verify)
                                                  : "its name does not match the host";
            throw WhmError("The certificate of WHM at " + where + " is not trusted (" + why + ")");
        }
        case httplib::Error::Connection:
            throw WhmError("Could not connect to WHM at " + where);
        case httplib::Error::ConnectionTimeout:
            throw WhmError("No connection to WHM at " + where + " within " +
                           std::to_string(m_options.connectTimeout.count()) + " s");
        case httplib::Error::Read:
            throw WhmError("WHM at " + where + " gave no answer within " +
                           std::to_string(request.readTimeout.count()) + " s");
        case httplib::Error::SSLConnection:
            throw WhmError("No secure connection to WHM at " + where);
        case httplib::Error::SSLLoadingCerts:
            throw WhmError(
                "The trusted certificates could not be loaded" +
                (m_options.caFile.empty() ? std::string() : " from " + m_options.caFile));
        default:
            throw WhmError("The request to WHM at " + where +
                           " failed: " + httplib::to_string(result.error()));
        }
    }
    return {result->status, result->body};
}
