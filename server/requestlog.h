#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

// The service's log: one line per request and one per WHM failure, to a stream shared by
// all request threads. Secrets never reach it: the access key and the new account's
// password are redacted from every logged request.
class RequestLog {
public:
    explicit RequestLog(std::ostream& out);

    void request(std::string_view remoteAddress, std::string_view method, std::string_view target,
                 int status);
    void whmFailure(std::string_view function, std::string_view host, std::string_view reason);
    void note(std::string_view text);

    // The target as it may be logged.
    static std::string redactedTarget(std::string_view target);

private:
    void write(const std::string& line);

    std::ostream& m_out;
    std::mutex m_mutex;
};
