#include "whmapi.h"

#include <algorithm>

namespace {

// WHM's own reason when it refuses a request outright, in either of its error shapes.
std::string reasonIn(const nlohmann::json& doc) {
    if (!doc.is_object())
        return {};
    if (auto meta = doc.find("metadata"); meta != doc.end() && meta->is_object()) {
        if (auto reason = meta->find("reason"); reason != meta->end() && reason->is_string())
            return reason->get<std::string>();
    }
    if (auto legacy = doc.find("cpanelresult"); legacy != doc.end() && legacy->is_object()) {
        if (auto error = legacy->find("error"); error != legacy->end() && error->is_string())
            return error->get<std::string>();
    }
    return {};
}

bool resultIsOne(const nlohmann::json& result) {
    if (result.is_number_integer())
        return result.get<long long>() == 1;
    if (result.is_boolean())
        return result.get<bool>();
    if (result.is_string())
        return result.get<std::string>() == "1";
    return false;
}

} // namespace

WhmOutcome WhmApi::call(const WhmRequest& request) {
    try {
        return readResponse(send(request));
    } catch (const WhmError& e) {
        return {false, e.what(), {}};
    }
}

WhmOutcome WhmApi::readResponse(const WhmResponse& response) {
    nlohmann::json doc = nlohmann::json::parse(response.body, nullptr, false);
    if (response.status != 200) {
        std::string reason = doc.is_discarded() ? std::string() : reasonIn(doc);
        std::string text = "WHM answered HTTP " + std::to_string(response.status);
        if (response.status == 401 || response.status == 403)
            text = "WHM refused the login (HTTP " + std::to_string(response.status) +
                   "): check the WHM user name and access key";
        if (!reason.empty())
            text += " (" + reason + ")";
        return {false, text, {}};
    }
    if (doc.is_discarded() || !doc.is_object())
        return {false, "WHM's answer is not WHM API 1 JSON", {}};
    auto meta = doc.find("metadata");
    if (meta == doc.end() || !meta->is_object() || !meta->contains("result")) {
        // Some refusals come in WHM's older error shape even with status 200.
        std::string reason = reasonIn(doc);
        return {false, reason.empty() ? "WHM's answer has no metadata.result" : reason, {}};
    }
    WhmOutcome outcome;
    outcome.ok = resultIsOne((*meta)["result"]);
    outcome.reason = reasonIn(doc);
    if (!outcome.ok && outcome.reason.empty())
        outcome.reason = "WHM gave no reason";
    if (auto data = doc.find("data"); data != doc.end())
        outcome.data = *data;
    return outcome;
}

std::string whmKeyWithoutLineBreaks(const std::string& key) {
    std::string line = key;
    std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
    return line;
}
