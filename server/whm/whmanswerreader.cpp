#include "whmanswerreader.h"

#include "textrules.h"

#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace json = boost::json;

namespace {

// WHM API 1 answers nest five or six levels; anything far deeper is not WHM's.
constexpr std::size_t maxJsonDepth = 48;
constexpr std::string_view marker = "<BR>";
// A name left out is logged; the log needs only enough of it to recognise it.
constexpr std::size_t maxExampleBytes = 200;

// What an answer says about itself.
struct Verdict {
    json::error_code error;
    bool isObject = false;
    bool hasResult = false;
    bool resultIsOne = false;
    std::string reason; // metadata.reason, else WHM's older error text; cut short
};

// Why a list answer is not one.
constexpr const char* noDataObject = "WHM's answer has no data object";

std::string notAList(std::string_view arrayKey) {
    return "WHM's data." + std::string(arrayKey) + " is not a list";
}

std::string entryWithoutName(std::string_view arrayKey, std::string_view nameKey) {
    return "WHM's data." + std::string(arrayKey) + " holds an entry without a " +
           std::string(nameKey) + " text";
}

// Appends part to text, keeping at most limit bytes.
void appendUpTo(std::string& text, std::string_view part, std::size_t limit) {
    if (text.size() < limit)
        text.append(part.substr(0, limit - text.size()));
}

// Follows the answer as it is parsed, keeping only the verdict's parts and, for a list,
// the names joined by the marker.
class Handler {
public:
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);

    Handler(std::string_view arrayKey, std::string_view nameKey, bool list)
        : m_arrayKey(arrayKey), m_nameKey(nameKey), m_list(list),
          m_keyLimit(std::max({std::size_t(12), arrayKey.size(), nameKey.size()})) {
        m_open.reserve(maxJsonDepth + 1);
    }

    // The list as it will be sent, and what was left out of it.
    std::string body;
    std::size_t names = 0;
    std::size_t leftOut = 0;
    std::string leftOutExample;
    std::optional<WhmBudget::Ticket> ticket;
    bool overBudget = false;

    Verdict verdict(json::error_code ec) {
        Verdict v;
        v.error = ec;
        v.isObject = m_rootIsObject;
        v.hasResult = m_metaIsObject && m_hasResult;
        v.resultIsOne = m_resultIsOne;
        if (m_metaIsObject && m_hasMetaReason)
            v.reason = cutShort(m_metaReason, WhmAnswerReader::maxReasonBytes);
        else if (m_legacyIsObject && m_hasLegacyError)
            v.reason = cutShort(m_legacyError, WhmAnswerReader::maxReasonBytes);
        return v;
    }

    // Why the data is not a list of names, or empty when it is.
    std::string shapeError() const {
        if (m_data != Data::Object)
            return noDataObject;
        if (m_listState == List::Missing) // WHM leaves the list out when there is nothing in it
            return {};
        if (m_listState == List::NotArray)
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
            m_listState = List::Missing;
            clearNames();
            role = Role::Data;
            break;
        case Slot::Entry:
            m_entryStart = body.size();
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
        if (m_open.back() == Role::Entry)
            endEntry();
        m_open.pop_back();
        return true;
    }

    bool on_array_begin(json::error_code&) {
        Slot slot = begin();
        if (slot == Slot::List) {
            m_listState = List::Array;
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

    // Keys are kept only as long as a key looked for, so a huge key costs no memory.
    bool on_key_part(json::string_view s, std::size_t, json::error_code&) {
        if (keyMatters()) {
            m_keyTooLong = m_keyTooLong || m_key.size() + s.size() > m_keyLimit;
            if (!m_keyTooLong)
                m_key.append(s.data(), s.size());
        }
        return true;
    }

    bool on_key(json::string_view s, std::size_t, json::error_code&) {
        m_next = Slot::None;
        if (keyMatters() && !m_keyTooLong && m_key.size() + s.size() <= m_keyLimit) {
            m_key.append(s.data(), s.size());
            m_next = slotOf(m_key);
        }
        m_key.clear();
        m_keyTooLong = false;
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

    Slot slotOf(std::string_view key) const {
        switch (m_open.back()) {
        case Role::Root:
            if (key == "metadata")
                return Slot::Metadata;
            if (key == "cpanelresult")
                return Slot::Legacy;
            return m_list && key == "data" ? Slot::Data : Slot::None;
        case Role::Metadata:
            return key == "result" ? Slot::Result : key == "reason" ? Slot::Reason : Slot::None;
        case Role::Legacy:
            return key == "error" ? Slot::LegacyError : Slot::None;
        case Role::Data:
            return key == m_arrayKey ? Slot::List : Slot::None;
        case Role::Entry:
            return key == m_nameKey ? Slot::Name : Slot::None;
        default:
            return Slot::None;
        }
    }

    // The slot of the value that begins now.
    Slot begin() {
        if (m_open.empty())
            return Slot::Root;
        if (m_open.back() == Role::List)
            return Slot::Entry;
        return std::exchange(m_next, Slot::None);
    }

    void clearNames() {
        body.clear();
        names = leftOut = 0;
        leftOutExample.clear();
        m_badEntry = false;
    }

    // An entry's end: its name joins the list, unless it holds the marker.
    void endEntry() {
        if (!m_entryHasName) {
            body.resize(m_entryStart);
            m_badEntry = true;
            return;
        }
        std::string_view name = std::string_view(body).substr(m_nameStart);
        if (name.find(marker) == std::string_view::npos) {
            ++names;
            return;
        }
        if (leftOut++ == 0)
            leftOutExample = cutShort(name, maxExampleBytes);
        body.resize(m_entryStart);
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
            body.resize(m_entryStart);
            if (names > 0)
                appendName(marker);
            m_nameStart = body.size();
            m_entryHasName = true;
            break;
        default:
            wrongKind(slot);
        }
        return slot;
    }

    void appendString(json::string_view s) {
        std::string_view part(s.data(), s.size());
        switch (m_stringSlot) {
        case Slot::Result:
            appendUpTo(m_resultText, part, 2); // only "1" counts
            break;
        case Slot::Reason:
            appendUpTo(m_metaReason, part, WhmAnswerReader::maxReasonBytes + 1);
            break;
        case Slot::LegacyError:
            appendUpTo(m_legacyError, part, WhmAnswerReader::maxReasonBytes + 1);
            break;
        case Slot::Name:
            appendName(part);
            break;
        default:
            break;
        }
    }

    // The list grows in steps charged to the budget first, so what it holds is known:
    // while it moves to a larger block, the old one and the new one are both charged.
    void appendName(std::string_view part) {
        if (overBudget)
            return;
        const std::size_t needed = body.size() + part.size();
        if (needed > m_charged) {
            std::size_t step = std::max({needed, 2 * m_charged, std::size_t(4096)});
            if (ticket && !ticket->charge(step)) {
                overBudget = true;
                return;
            }
            body.reserve(step);
            if (ticket)
                ticket->refund(m_charged);
            m_charged = step;
        }
        body.append(part);
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
            m_listState = List::NotArray;
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
            body.resize(m_entryStart);
            m_entryHasName = false;
            break;
        case Slot::None:
            break;
        }
    }

    std::string_view m_arrayKey;
    std::string_view m_nameKey;
    const bool m_list;
    const std::size_t m_keyLimit; // the longest key looked for
    std::vector<Role> m_open;
    std::string m_key;
    bool m_keyTooLong = false;
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
    List m_listState = List::Missing;
    bool m_badEntry = false;
    std::size_t m_entryStart = 0;
    std::size_t m_nameStart = 0;
    bool m_entryHasName = false;
    std::size_t m_charged = 0; // bytes of body charged to the budget
};

json::parse_options parseOptions() {
    json::parse_options options;
    // The parser keeps its own stack: a deep answer is an error, never a deep recursion.
    options.max_depth = maxJsonDepth;
    // Names travel as WHM gave them, even in an encoding other than UTF-8.
    options.allow_invalid_utf8 = true;
    return options;
}

// Why a non-200 answer failed, with WHM's reason when its JSON could be read.
std::string statusFailure(int status, const Verdict& v) {
    std::string text = "WHM answered HTTP " + std::to_string(status);
    if (status == 401 || status == 403)
        text = "WHM refused the login (HTTP " + std::to_string(status) +
               "): check the WHM user name and access key";
    if (!v.error && !v.reason.empty())
        text += " (" + v.reason + ")";
    return text;
}

std::string unreadable(const Verdict& v) {
    if (v.error == json::error::too_deep)
        return "WHM's answer nests deeper than " + std::to_string(maxJsonDepth) +
               " levels: it is not WHM API 1 JSON";
    return "WHM's answer is not WHM API 1 JSON";
}

} // namespace

struct WhmAnswerReader::Impl {
    Impl(std::string_view arrayKey, std::string_view nameKey, bool list)
        : parser(parseOptions(), arrayKey, nameKey, list) {}

    Handler& handler() { return parser.handler(); }

    json::basic_parser<Handler> parser;
    json::error_code error;
    int status = 0;
};

WhmAnswerReader::WhmAnswerReader() : m_impl(std::make_unique<Impl>("", "", false)) {}

WhmAnswerReader::WhmAnswerReader(std::string_view arrayKey, std::string_view nameKey)
    : m_impl(std::make_unique<Impl>(arrayKey, nameKey, true)) {}

WhmAnswerReader::~WhmAnswerReader() = default;

void WhmAnswerReader::chargeTo(WhmBudget::Ticket ticket) {
    m_impl->handler().ticket.emplace(std::move(ticket));
}

void WhmAnswerReader::begin(int status) {
    m_impl->status = status;
}

bool WhmAnswerReader::write(std::string_view part) {
    Impl& d = *m_impl;
    if (!d.error && !part.empty()) {
        std::size_t used = d.parser.write_some(true, part.data(), part.size(), d.error);
        if (!d.error && used < part.size())
            d.error = json::error::extra_data;
    }
    return !d.error && !d.handler().overBudget;
}

void WhmAnswerReader::end() {
    Impl& d = *m_impl;
    if (!d.error)
        d.parser.write_some(false, nullptr, 0, d.error);
}

void WhmAnswerReader::read(int status, std::string_view body) {
    begin(status);
    if (write(body))
        end();
}

bool WhmAnswerReader::overBudget() const {
    return m_impl->handler().overBudget;
}

WhmOutcome WhmAnswerReader::command() {
    Impl& d = *m_impl;
    Verdict v = d.handler().verdict(d.error);
    if (d.status != 200) {
        // Only a 200 carries WHM's verdict. A server error or a proxy's may come after WHM
        // acted, and so may another 2xx (202 Accepted, 204 No Content) or a 3xx; a 4xx is
        // a no.
        const bool clientError = d.status >= 400 && d.status < 500;
        return {clientError ? WhmResult::Refused : WhmResult::NotKnown, statusFailure(d.status, v)};
    }
    if (v.error || !v.isObject)
        return {WhmResult::NotKnown, unreadable(v)};
    if (!v.hasResult) {
        // Some refusals come in WHM's older error shape even with status 200.
        if (!v.reason.empty())
            return {WhmResult::Refused, std::move(v.reason)};
        return {WhmResult::NotKnown, "WHM's answer has no metadata.result"};
    }
    if (v.resultIsOne)
        return {WhmResult::Done, std::move(v.reason)};
    return {WhmResult::Refused, v.reason.empty() ? "WHM gave no reason" : std::move(v.reason)};
}

WhmList WhmAnswerReader::list() {
    // A list is judged as a command is, then by its shape: whether WHM's outcome for a
    // command would be refused or not known, the list is not there.
    Handler& h = m_impl->handler();
    WhmOutcome outcome = command();
    WhmList list;
    list.result = outcome.result == WhmResult::Refused ? WhmResult::Refused : WhmResult::Failed;
    list.reason = outcome.done() ? h.shapeError() : std::move(outcome.reason);
    if (!list.reason.empty())
        return list;
    list.result = WhmResult::Done;
    list.charge = std::move(h.ticket);
    list.body = std::move(h.body);
    list.names = h.names;
    list.leftOut = h.leftOut;
    list.leftOutExample = std::move(h.leftOutExample);
    return list;
}

WhmOutcome WhmAnswerReader::readCommand(int status, std::string_view body) {
    WhmAnswerReader reader;
    reader.read(status, body);
    return reader.command();
}

WhmList WhmAnswerReader::readList(int status, std::string_view body, std::string_view arrayKey,
                                  std::string_view nameKey) {
    WhmAnswerReader reader(arrayKey, nameKey);
    reader.read(status, body);
    return reader.list();
}
