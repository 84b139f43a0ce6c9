#include "whmdocument.h"

#include <boost/json/parse.hpp>

namespace json = boost::json;

namespace {

const json::value* member(const json::value& doc, std::string_view key) {
    const json::object* object = doc.if_object();
    return object ? object->if_contains(key) : nullptr;
}

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

WhmDocument readWhmDocument(int status, const std::string& body) {
    json::parse_options options;
    options.max_depth = 48;
    options.allow_invalid_utf8 = true;
    json::error_code ec;
    json::value doc = json::parse(body, ec, {}, options);
    std::string reason = reasonIn(doc);
    if (status != 200) {
        std::string text = "WHM answered HTTP " + std::to_string(status);
        if (status == 401 || status == 403)
            text = "WHM refused the login (HTTP " + std::to_string(status) +
                   "): check the WHM user name and access key";
        if (!ec && !reason.empty())
            text += " (" + reason + ")";
        return {false, text, {}};
    }
    if (ec == json::error::too_deep)
        return {false, "WHM's answer nests deeper than 48 levels: it is not WHM API 1 JSON", {}};
    if (ec || !doc.is_object())
        return {false, "WHM's answer is not WHM API 1 JSON", {}};
    const json::value* meta = member(doc, "metadata");
    const json::value* result = meta ? member(*meta, "result") : nullptr;
    if (!result)
        return {false, reason.empty() ? "WHM's answer has no metadata.result" : reason, {}};
    if (!resultIsOne(*result))
        return {false, reason.empty() ? "WHM gave no reason" : reason, {}};
    const json::value* data = doc.get_object().if_contains("data");
    return {true, reason, data ? *data : json::value()};
}

WhmNames namesIn(const json::value& data, std::string_view arrayKey, std::string_view nameKey) {
    WhmNames result;
    const json::object* object = data.if_object();
    if (!object) {
        result.error = "WHM's answer has no data object";
        return result;
    }
    const json::value* list = object->if_contains(arrayKey);
    if (!list) // WHM leaves the list out when there is nothing in it
        return result;
    const json::array* entries = list->if_array();
    if (!entries) {
        result.error = "WHM's data." + std::string(arrayKey) + " is not a list";
        return result;
    }
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
