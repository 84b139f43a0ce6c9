#include "whmapi.h"

#include <boost/asio/this_coro.hpp>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>

#include <algorithm>

namespace json = boost::json;

namespace {

// WHM API 1 answers nest five or six levels; anything far deeper is not WHM's.
constexpr std::size_t maxJsonDepth = 48;

const json::value* member(const json::value& doc, std::string_view key) {
    const json::object* object = doc.if_object();
    return object ? object->if_contains(key) : nullptr;
}

// WHM's own reason when it refuses a request outright, in either of its error shapes.
std::string reasonIn(const json::value& doc) {
    if (const json::value* meta = member(doc, "metadata")) {
        if (const json::value* reason = member(*meta, "reason"); reason && reason->is_string())
            return std::string(reason->get_string());
    }
    if (const json::value* legacy = member(doc, "cpanelresult")) {
        if (const json::value* error = member(*legacy, "error"); error && error->is_string())
            return std::string(error->get_string());
    }
    return {};
}

bool resultIsOne(const json::value& result) {
    if (result.is_int64())
        return result.get_int64() == 1;
    if (result.is_uint64())
        return result.get_uint64() == 1;
    if (result.is_bool())
        return result.get_bool();
    if (result.is_string())
        return result.get_string() == "1";
    return false;
}

} // namespace

boost::asio::awaitable<WhmOutcome> WhmApi::call(const WhmRequest& request) {
    try {
        co_return readResponse(co_await send(request));
    } catch (const WhmError& e) {
        co_return WhmOutcome{false, e.what(), {}};
    } catch (const std::exception& e) {
        // Anything else (out of memory, a socket option) is still a failed call, not a
        // failed service.
        co_return WhmOutcome{false, std::string("The call to WHM failed: ") + e.what(), {}};
    }
}

WhmOutcome WhmApi::readResponse(const WhmResponse& response) {
    json::parse_options options;
    options.max_depth = maxJsonDepth;
    // Names travel as WHM gave them, even in an encoding other than UTF-8.
    options.allow_invalid_utf8 = true;
    json::error_code ec;
    // The parser keeps its own stack, so a deep answer is an error, never a deep recursion.
    // One arena for the whole answer, sized from it: no allocation per value, and freed at
    // once when the outcome's data goes.
    const std::size_t arena = std::min<std::size_t>(response.body.size() * 2 + 1024, 32u << 20);
    json::value doc = json::parse(
        response.body, ec, json::make_shared_resource<json::monotonic_resource>(arena), options);
    if (response.status != 200) {
        std::string reason = ec ? std::string() : reasonIn(doc);
        std::string text = "WHM answered HTTP " + std::to_string(response.status);
        if (response.status == 401 || response.status == 403)
            text = "WHM refused the login (HTTP " + std::to_string(response.status) +
                   "): check the WHM user name and access key";
        if (!reason.empty())
            text += " (" + reason + ")";
        return {false, text, {}};
    }
    if (ec == json::error::too_deep)
        return {false,
                "WHM's answer nests deeper than " + std::to_string(maxJsonDepth) +
                    " levels: it is not WHM API 1 JSON",
                {}};
    if (ec || !doc.is_object())
        return {false, "WHM's answer is not WHM API 1 JSON", {}};
    const json::value* meta = member(doc, "metadata");
    const json::value* result = meta ? member(*meta, "result") : nullptr;
    if (!result) {
        // Some refusals come in WHM's older error shape even with status 200.
        std::string reason = reasonIn(doc);
        return {false, reason.empty() ? "WHM's answer has no metadata.result" : reason, {}};
    }
    bool ok = resultIsOne(*result);
    std::string reason = reasonIn(doc);
    if (!ok && reason.empty())
        reason = "WHM gave no reason";
    // Moved, never copied: constructed from the parsed value, data keeps its arena.
    json::value* data = doc.get_object().if_contains("data");
    return {ok, std::move(reason), data ? json::value(std::move(*data)) : json::value()};
}

WhmNames namesIn(const json::value& data, std::string_view arrayKey, std::string_view nameKey) {
    WhmNames result;
    const json::object* object = data.if_object();
    if (!object) {
        result.error = "WHM's answer has no data object";
        return result;
    }
    const json::value* list = object->if_contains(arrayKey);
    if (!list) {
        // WHM leaves the list out when there is nothing in it.
        return result;
    }
    const json::array* entries = list->if_array();
    if (!entries) {
        result.error = "WHM's data." + std::string(arrayKey) + " is not a list";
        return result;
    }
    result.names.reserve(entries->size());
    for (const json::value& entry : *entries) {
        const json::value* name = member(entry, nameKey);
        if (!name || !name->is_string()) {
            result.error = "WHM's data." + std::string(arrayKey) + " holds an entry without a " +
                           std::string(nameKey) + " text";
            result.names.clear();
            return result;
        }
        result.names.emplace_back(name->get_string());
    }
    return result;
}

std::string whmKeyWithoutLineBreaks(const std::string& key) {
    std::string line = key;
    std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
    return line;
}
