#pragma once

#include "whmapi.h"

#include <chrono>
#include <string>

// Reaches a real WHM server: https://HOST:PORT/json-api/FUNCTION?api.version=1&...
// with "Authorization: whm USER:KEY". The server's certificate is always verified, against
// the system's store or, when given, against one CA or self-signed certificate file.
class HttpsWhmApi : public WhmApi {
public:
    struct Options {
        int port = 2087;
        std::string caFile; // empty: the system's trust store
        std::chrono::seconds connectTimeout{30};
    };

    explicit HttpsWhmApi(Options options);

    WhmResponse send(const WhmRequest& request) override;

    // The path and query of a call, values percent-encoded: /json-api/F?api.version=1&k=v...
    static std::string pathFor(const WhmRequest& request);

private:
    Options m_options;
};
