#include "gatewaymetrics.h"

#include "requestlog.h"

#include <cstdio>

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void header(std::string& out, const char* name, const char* type, const char* help) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// One sample: name{labels} value.
void sample(std::string& out, std::string_view name, const std::string& labels,
            const std::string& value) {
    out.append(name);
    if (!labels.empty())
        out.append("{").append(labels).append("}");
    out.append(" ").append(value).append("\n");
}

std::string label(std::string_view name, std::string_view value) {
    return std::string(name) + "=\"" + std::string(value) + "\"";
}

void gauge(std::string& out, const char* name, const char* help, std::uint64_t value) {
    header(out, name, "gauge", help);
    sample(out, name, {}, std::to_string(value));
}

} // namespace

void GatewayMetrics::countRequest(const Route* route, int status) {
    std::lock_guard lock(m_mutex);
    ++m_requests[{route ? std::string(route->path) : "other", status}];
}

void GatewayMetrics::countWhmCall(std::string_view function, WhmResult result,
                                  std::chrono::steady_clock::duration took) {
    const double seconds = std::chrono::duration<double>(took).count();
    std::lock_guard lock(m_mutex);
    // One word for every function: a list that came back is "done" too.
    ++m_calls[{std::string(function), std::string(wordFor(result, RouteKind::Command))}];
    Durations& durations = m_durations[std::string(function)];
    for (std::size_t i = 0; i < buckets.size(); ++i)
        durations.counts[i] += seconds <= buckets[i];
    ++durations.count;
    durations.sum += seconds;
}

void GatewayMetrics::countRefusedConnection(Cap cap) {
    ++m_refused[cap == Cap::Total ? 0 : 1];
}

std::string GatewayMetrics::render(const Now& now) const {
    std::string out;
    std::lock_guard lock(m_mutex);
    const char* requests = "corvala_gateway_requests_total";
    header(out, requests, "counter",
           "Requests answered, by path (other: a path not served) and HTTP status.");
    for (const auto& [key, count] : m_requests)
        sample(out, requests,
               label("path", key.first) + "," + label("status", std::to_string(key.second)),
               std::to_string(count));
    const char* calls = "corvala_gateway_whm_calls_total";
    header(out, calls, "counter", "WHM calls, by function and outcome.");
    for (const auto& [key, count] : m_calls)
        sample(out, calls, label("function", key.first) + "," + label("outcome", key.second),
               std::to_string(count));
    const std::string durations = "corvala_gateway_whm_call_duration_seconds";
    header(out, durations.c_str(), "histogram", "How long WHM calls took, by function.");
    for (const auto& [function, taken] : m_durations) {
        const std::string of = label("function", function);
        for (std::size_t i = 0; i < buckets.size(); ++i)
            sample(out, durations + "_bucket", of + "," + label("le", number(buckets[i])),
                   std::to_string(taken.counts[i]));
        sample(out, durations + "_bucket", of + "," + label("le", "+Inf"),
               std::to_string(taken.count));
        sample(out, durations + "_sum", of, number(taken.sum));
        sample(out, durations + "_count", of, std::to_string(taken.count));
    }
    const char* refused = "corvala_gateway_client_connections_refused_total";
    header(out, refused, "counter",
           "Client connections refused as they arrived, by the cap they met.");
    sample(out, refused, label("cap", "total"), std::to_string(m_refused[0]));
    sample(out, refused, label("cap", "address"), std::to_string(m_refused[1]));
    gauge(out, "corvala_gateway_client_connections", "Client connections open.",
          now.clientConnections);
    gauge(out, "corvala_gateway_whm_connections", "Connections to WHM servers open.",
          now.whm.connectionsOpen);
    gauge(out, "corvala_gateway_whm_connections_idle", "Kept-alive WHM connections idle.",
          now.whm.connectionsIdle);
    gauge(out, "corvala_gateway_whm_budget_calls", "WHM calls holding a place in the budget.",
          now.whm.callsInFlight);
    gauge(out, "corvala_gateway_whm_budget_bytes",
          "Bytes of WHM answers charged to the budget, until written to their clients.",
          now.whm.bytesInFlight);
    const char* dropped = "corvala_gateway_log_lines_dropped_total";
    header(out, dropped, "counter",
           "Log lines dropped as the log could not keep up (never a command's).");
    sample(out, dropped, {}, std::to_string(now.logLinesDropped));
    return out;
}
