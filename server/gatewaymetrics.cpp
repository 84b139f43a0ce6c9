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

void gauge(std::string& out, const char* name, const char* help, std::uint64_t value) {
    header(out, name, "gauge", help);
    out.append(name).append(" ").append(std::to_string(value)).append("\n");
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
    header(out, "corvala_gateway_requests_total", "counter",
           "Requests answered, by path (other: a path not served) and HTTP status.");
    for (const auto& [key, count] : m_requests)
        out.append("corvala_gateway_requests_total{path=\"")
            .append(key.first)
            .append("\",status=\"")
            .append(std::to_string(key.second))
            .append("\"} ")
            .append(std::to_string(count))
            .append("\n");
    header(out, "corvala_gateway_whm_calls_total", "counter",
           "WHM calls, by function and outcome.");
    for (const auto& [key, count] : m_calls)
        out.append("corvala_gateway_whm_calls_total{function=\"")
            .append(key.first)
            .append("\",outcome=\"")
            .append(key.second)
            .append("\"} ")
            .append(std::to_string(count))
            .append("\n");
    header(out, "corvala_gateway_whm_call_duration_seconds", "histogram",
           "How long WHM calls took, by function.");
    for (const auto& [function, durations] : m_durations) {
        const std::string label = "function=\"" + function + "\"";
        for (std::size_t i = 0; i < buckets.size(); ++i)
            out.append("corvala_gateway_whm_call_duration_seconds_bucket{" + label + ",le=\"")
                .append(number(buckets[i]))
                .append("\"} ")
                .append(std::to_string(durations.counts[i]))
                .append("\n");
        out.append("corvala_gateway_whm_call_duration_seconds_bucket{" + label + ",le=\"+Inf\"} ")
            .append(std::to_string(durations.count))
            .append("\n");
        out.append("corvala_gateway_whm_call_duration_seconds_sum{" + label + "} ")
            .append(number(durations.sum))
            .append("\n");
        out.append("corvala_gateway_whm_call_duration_seconds_count{" + label + "} ")
            .append(std::to_string(durations.count))
            .append("\n");
    }
    header(out, "corvala_gateway_client_connections_refused_total", "counter",
           "Client connections refused as they arrived, by the cap they met.");
    out.append("corvala_gateway_client_connections_refused_total{cap=\"total\"} ")
        .append(std::to_string(m_refused[0]))
        .append("\n");
    out.append("corvala_gateway_client_connections_refused_total{cap=\"address\"} ")
        .append(std::to_string(m_refused[1]))
        .append("\n");
    gauge(out, "corvala_gateway_client_connections", "Client connections open.",
          now.clientConnections);
    gauge(out, "corvala_gateway_whm_connections", "Connections to WHM servers open.",
          now.whmConnectionsOpen);
    gauge(out, "corvala_gateway_whm_connections_idle", "Kept-alive WHM connections idle.",
          now.whmConnectionsIdle);
    gauge(out, "corvala_gateway_whm_budget_calls", "WHM calls holding a place in the budget.",
          now.whmCallsInFlight);
    gauge(out, "corvala_gateway_whm_budget_bytes",
          "Bytes of WHM answers charged to the budget, until written to their clients.",
          now.whmBytesInFlight);
    header(out, "corvala_gateway_log_lines_dropped_total", "counter",
           "Log lines dropped as the log could not keep up (never a command's).");
    out.append("corvala_gateway_log_lines_dropped_total ")
        .append(std::to_string(now.logLinesDropped))
        .append("\n");
    return out;
}
