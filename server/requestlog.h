#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

// The service's log: one line per request and one per WHM failure, to a stream shared by
// all threads. Secrets never reach it: a request is logged by its path and the
// parameters known to be harmless (see harmlessTarget), never the key or a password.
class RequestLog {
public:
    explicit RequestLog(std::ostream& out);

    // Logs only what harmlessTarget() keeps of target.
    void request(std::string_view remoteAddress, std::string_view method, std::string_view target,
                 int status);
    void whmFailure(std::string_view function, std::string_view host, std::string_view reason);
    void note(std::string_view text);

    // The target as it may be logged: its path and only the user, host and account-name
    // parameters; a target that cannot be read loses its whole query.
    static std::string harmlessTarget(std::string_view target);

private:
    void write(const std::string& line);

    std::ostream& m_out;
    std::mutex m_mutex;
};
