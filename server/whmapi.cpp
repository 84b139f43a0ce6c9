#include "whmapi.h"

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>

#include <algorithm>
#include <cstdint>

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

// What an answer says about itself, however it was read.
struct Verdict {
    json::error_code error;
    bool isObject = false;
    bool hasResult = false;
    bool resultIsOne = false;
    std::string reason; // metadata.reason, else WHM's older error text
};

WhmOutcome outcomeOf(int status, Verdict v) {
    if (status != 200) {
        std::string reason = v.error ? std::string() : std::move(v.reason);
        std::string text = "WHM answered HTTP " + std::to_string(status);
        if (status == 401 || status == 403)
            text = "WHM refused the login (HTTP " + std::to_string(status) +
                   "): check the WHM user name and access key";
        if (!reason.empty())
            text += " (" + reason + ")";
        return {false, text, {}};
    }
    if (v.error == json::error::too_deep)
        return {false,
                "WHM's answer nests deeper than " + std::to_string(maxJsonDepth) +
                    " levels: it is not WHM API 1 JSON",
                {}};
    if (v.error || !v.isObject)
        return {false, "WHM's answer is not WHM API 1 JSON", {}};
    if (!v.hasResult) {
        // Some refusals come in WHM's older error shape even with status 200.
        return {false, v.reason.empty() ? "WHM's answer has no metadata.result" : v.reason, {}};
    }
    if (!v.resultIsOne && v.reason.empty())
        v.reason = "WHM gave no reason";
    return {v.resultIsOne, std::move(v.reason), {}};
}

// Why a list answer is not one; the same words whichever way the answer was read.
constexpr const char* noDataObject = "WHM's answer has no data object";

std::string notAList(std::string_view arrayKey) {
    return "WHM's data." + std::string(arrayKey) + " is not a list";
}

std::string entryWithoutName(std::string_view arrayKey, std::string_view nameKey) {
    return "WHM's data." + std::string(arrayKey) + " holds an entry without a " +
           std::string(nameKey) + " text";
}

// Reads a list answer as it is parsed, keeping only the verdict's parts and the names; no
// document is built. Where a key comes twice the last one counts, as in a parsed document.
class ListReader {
public:
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);

    ListReader(std::string_view arrayKey, std::string_view nameKey, std::size_t bodySize)
        : m_arrayKey(arrayKey), m_nameKey(nameKey) {
        m_open.reserve(maxJsonDepth + 1);
        // Names are a fraction of the answer; one reservation spares regrowing.
        text.reserve(bodySize / 2);
    }

    std::string text;
    std::vector<std::size_t> ends;

    Verdict verdict(json::error_code ec) {
        Verdict v;
        v.error = ec;
        v.isObject = m_rootIsObject;
        v.hasResult = m_metaIsObject && m_hasResult;
        v.resultIsOne = m_resultIsOne;
        if (m_metaIsObject && m_hasMetaReason)
            v.reason = std::move(m_metaReason);
        else if (m_legacyIsObject && m_hasLegacyError)
            v.reason = std::move(m_legacyError);
        return v;
    }

    // Why the data is not a list of names, or empty when it is.
    std::string shapeError() const {
        if (m_data != Data::Object)
            return noDataObject;
        if (m_list == List::Missing) // WHM leaves the list out when there is nothing in it
            return {};
        if (m_list == List::NotArray)
            return notAList(m_arrayKey);
        if (m_badEntry)
            return entryWithoutName(m_arrayKey, m_nameKey);
        return {};
    }

    bool on_document_begin(json::error_code&) { return true; }
    bool on_document_end(json::error_code&) { return true; }

    bool on_object_begin(json::error_code&) {
        Role role = Role::Other;
        Slot slot = begin();
        switch (slot) {
        case Slot::Root:
            m_rootIsObject = true;
            role = Role::Root;
            break;
        case Slot::Metadata:
            m_metaIsObject = true;
            m_hasResult = m_resultIsOne = m_hasMetaReason = false;
            role = Role::Metadata;
            break;
        case Slot::Legacy:
            m_legacyIsObject = true;
            m_hasLegacyError = false;
            role = Role::Legacy;
            break;
        case Slot::Data:
            m_data = Data::Object;
            m_list = List::Missing;
            clearNames();
            role = Role::Data;
            break;
        case Slot::Entry:
            m_entryStart = text.size();
            m_entryHasName = false;
            role = Role::Entry;
            break;
        default:
            wrongKind(slot);
        }
        m_open.push_back(role);
        return true;
    }

    bool on_object_end(std::size_t, json::error_code&) {
        if (m_open.back() == Role::Entry) {
            if (m_entryHasName) {
                ends.push_back(text.size());
            } else {
                text.resize(m_entryStart);
                m_badEntry = true;
            }
        }
        m_open.pop_back();
        return true;
    }

    bool on_array_begin(json::error_code&) {
        Slot slot = begin();
        if (slot == Slot::List) {
            m_list = List::Array;
            clearNames();
            m_open.push_back(Role::List);
        } else {
            m_open.push_back(Role::Other);
            wrongKind(slot);
        }
        return true;
    }

    bool on_array_end(std::size_t, json::error_code&) {
        m_open.pop_back();
        return true;
    }

    bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
        if (keyMatters())
            m_key.append(s.data(), s.size());
        return true;
    }

    bool on_key(json::string_view s, std::size_t, json::error_code&) {
        m_next = Slot::None;
        if (!keyMatters())
            return true;
        std::string_view key(s.data(), s.size());
        if (!m_key.empty()) {
            m_key.append(key);
            key = m_key;
        }
        switch (m_open.back()) {
        case Role::Root:
            m_next = key == "metadata"       ? Slot::Metadata
                     : key == "cpanelresult" ? Slot::Legacy
                     : key == "data"         ? Slot::Data
                                             : Slot::None;
            break;
        case Role::Metadata:
            m_next = key == "result" ? Slot::Result : key == "reason" ? Slot::Reason : Slot::None;
            break;
        case Role::Legacy:
            m_next = key == "error" ? Slot::LegacyError : Slot::None;
            break;
        case Role::Data:
            m_next = key == m_arrayKey ? Slot::List : Slot::None;
            break;
        case Role::Entry:
            m_next = key == m_nameKey ? Slot::Name : Slot::None;
            break;
        default:
            break;
        }
        m_key.clear();
        return true;
    }

    bool on_string_part(json::string_view s, std::size_t, json::error_code&) {
        if (!m_inString) {
            m_inString = true;
            m_stringSlot = beginString();
        }
        appendString(s);
        return true;
    }

    bool on_string(json::string_view s, std::size_t, json::error_code&) {
        if (!m_inString)
            m_stringSlot = beginString();
        m_inString = false;
        appendString(s);
        if (m_stringSlot == Slot::Result)
            m_resultIsOne = m_resultText == "1";
        return true;
    }

    bool on_number_part(json::string_view, json::error_code&) { return true; }
    bool on_int64(std::int64_t i, json::string_view, json::error_code&) { return scalar(i == 1); }
    bool on_uint64(std::uint64_t u, json::string_view, json::error_code&) { return scalar(u == 1); }
    bool on_double(double, json::string_view, json::error_code&) { return scalar(false); }
    bool on_bool(bool b, json::error_code&) { return scalar(b); }
    bool on_null(json::error_code&) { return scalar(false); }
    bool on_comment_part(json::string_view, json::error_code&) { return true; }
    bool on_comment(json::string_view, json::error_code&) { return true; }

private:
    // What an open object or array is to the reader.
    enum class Role : unsigned char { Other, Root, Metadata, Legacy, Data, List, Entry };
    // What the value about to begin is to the reader.
    enum class Slot : unsigned char {
        None,
        Root,
        Metadata,
        Legacy,
        Data,
        List,
        Entry,
        Result,
        Reason,
        LegacyError,
        Name
    };
    enum class Data : unsigned char { Missing, Object, Other };
    enum class List : unsigned char { Missing, Array, NotArray };

    bool keyMatters() const {
        Role role = m_open.back();
        return role != Role::Other && role != Role::List;
    }

    // The slot of the value that begins now.
    Slot begin() {
        if (m_open.empty())
            return Slot::Root;
        Role parent = m_open.back();
        if (parent == Role::List)
            return Slot::Entry;
        Slot slot = m_next;
        m_next = Slot::None;
        return slot;
    }

    void clearNames() {
        text.clear();
        ends.clear();
        m_badEntry = false;
    }

    Slot beginString() {
        Slot slot = begin();
        switch (slot) {
        case Slot::Result:
            m_hasResult = true;
            m_resultIsOne = false;
            m_resultText.clear();
            break;
        case Slot::Reason:
            m_hasMetaReason = true;
            m_metaReason.clear();
            break;
        case Slot::LegacyError:
            m_hasLegacyError = true;
            m_legacyError.clear();
            break;
        case Slot::Name:
            text.resize(m_entryStart);
            m_entryHasName = true;
            break;
        default:
            wrongKind(slot);
        }
        return slot;
    }

    void appendString(json::string_view s) {
        switch (m_stringSlot) {
        case Slot::Result:
            m_resultText.append(s.data(), s.size());
            break;
        case Slot::Reason:
            m_metaReason.append(s.data(), s.size());
            break;
        case Slot::LegacyError:
            m_legacyError.append(s.data(), s.size());
            break;
        case Slot::Name:
            text.append(s.data(), s.size());
            break;
        default:
            break;
        }
    }

    // A number, true, false or null.
    bool scalar(bool isOne) {
        Slot slot = begin();
        if (slot == Slot::Result) {
            m_hasResult = true;
            m_resultIsOne = isOne;
        } else {
            wrongKind(slot);
        }
        return true;
    }

    // A value of the wrong kind took slot: what the slot wanted is missing, as if its key
    // were not there (a result of the wrong kind is there, and is not 1).
    void wrongKind(Slot slot) {
        switch (slot) {
        case Slot::Root:
            m_rootIsObject = false;
            break;
        case Slot::Metadata:
            m_metaIsObject = false;
            break;
        case Slot::Legacy:
            m_legacyIsObject = false;
            break;
        case Slot::Data:
            m_data = Data::Other;
            clearNames();
            break;
        case Slot::List:
            m_list = List::NotArray;
            clearNames();
            break;
        case Slot::Entry:
            m_badEntry = true;
            break;
        case Slot::Result:
            m_hasResult = true; // present, but not 1
            m_resultIsOne = false;
            break;
        case Slot::Reason:
            m_hasMetaReason = false;
            break;
        case Slot::LegacyError:
            m_hasLegacyError = false;
            break;
        case Slot::Name:
            text.resize(m_entryStart);
            m_entryHasName = false;
            break;
        case Slot::None:
            break;
        }
    }

    std::string_view m_arrayKey;
    std::string_view m_nameKey;
    std::vector<Role> m_open;
    std::string m_key;
    Slot m_next = Slot::None;
    Slot m_stringSlot = Slot::None;
    bool m_inString = false;

    bool m_rootIsObject = false;
    bool m_metaIsObject = false;
    bool m_hasResult = false;
    bool m_resultIsOne = false;
    std::string m_resultText;
    bool m_hasMetaReason = false;
    std::string m_metaReason;
    bool m_legacyIsObject = false;
    bool m_hasLegacyError = false;
    std::string m_legacyError;
    Data m_data = Data::Missing;
    List m_list = List::Missing;
    bool m_badEntry = false;
    std::size_t m_entryStart = 0;
    bool m_entryHasName = false;
};

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
    Verdict verdict;
    verdict.error = ec;
    verdict.isObject = doc.is_object();
    verdict.reason = reasonIn(doc);
    const json::value* meta = member(doc, "metadata");
    const json::value* result = meta ? member(*meta, "result") : nullptr;
    verdict.hasResult = result != nullptr;
    verdict.resultIsOne = result && resultIsOne(*result);
    WhmOutcome outcome = outcomeOf(response.status, std::move(verdict));
    if (outcome.ok) {
        // Moved, never copied: constructed from the parsed value, data keeps its arena.
        json::value* data = doc.get_object().if_contains("data");
        outcome.data = data ? json::value(std::move(*data)) : json::value();
    }
    return outcome;
}

boost::asio::awaitable<WhmList>
WhmApi::callList(const WhmRequest& request, std::string_view arrayKey, std::string_view nameKey) {
    try {
        co_return readList(co_await send(request), arrayKey, nameKey);
    } catch (const WhmError& e) {
        co_return WhmList{false, e.what(), {}, {}};
    } catch (const std::exception& e) {
        co_return WhmList{false, std::string("The call to WHM failed: ") + e.what(), {}, {}};
    }
}

WhmList WhmApi::readList(const WhmResponse& response, std::string_view arrayKey,
                         std::string_view nameKey) {
    json::parse_options options;
    options.max_depth = maxJsonDepth;
    options.allow_invalid_utf8 = true;
    json::basic_parser<ListReader> parser(options, arrayKey, nameKey, response.body.size());
    json::error_code ec;
    const std::size_t used =
        parser.write_some(false, response.body.data(), response.body.size(), ec);
    if (!ec && used < response.body.size())
        ec = json::error::extra_data;
    ListReader& reader = parser.handler();
    WhmOutcome outcome = outcomeOf(response.status, reader.verdict(ec));
    WhmList list{outcome.ok, std::move(outcome.reason), {}, {}};
    if (!list.ok)
        return list;
    if (std::string error = reader.shapeError(); !error.empty()) {
        list.ok = false;
        list.reason = std::move(error);
        return list;
    }
    list.text = std::move(reader.text);
    list.ends = std::move(reader.ends);
    return list;
}

WhmNames namesIn(const json::value& data, std::string_view arrayKey, std::string_view nameKey) {
    WhmNames result;
    const json::object* object = data.if_object();
    if (!object) {
        result.error = noDataObject;
        return result;
    }
    const json::value* list = object->if_contains(arrayKey);
    if (!list) {
        // WHM leaves the list out when there is nothing in it.
        return result;
    }
    const json::array* entries = list->if_array();
    if (!entries) {
        result.error = notAList(arrayKey);
        return result;
    }
    result.names.reserve(entries->size());
    for (const json::value& entry : *entries) {
        const json::value* name = member(entry, nameKey);
        if (!name || !name->is_string()) {
            result.error = entryWithoutName(arrayKey, nameKey);
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
