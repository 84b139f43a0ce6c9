#include "whmsimulator.h"

#include "textrules.h"
#include "whmanswerreader.h"

#include <boost/json/serialize.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>

namespace {

// JSON text for a string, escaped; bytes that are not UTF-8 pass as they are.
void appendQuoted(std::string& out, std::string_view text) {
    out += boost::json::serialize(boost::json::string_view(text.data(), text.size()));
}

std::string metadata(const std::string& command, bool ok, const std::string& reason) {
    std::string out = R"("metadata":{"version":1,"command":)";
    appendQuoted(out, command);
    out += ok ? R"(,"result":1,"reason":)" : R"(,"result":0,"reason":)";
    appendQuoted(out, reason);
    out += '}';
    return out;
}

std::string reply(const std::string& command, bool ok, const std::string& reason) {
    return '{' + metadata(command, ok, reason) + '}';
}

// A parameter's text, never copied out: a password is among them.
std::string_view paramView(const std::map<std::string, std::string_view>& params,
                           const std::string& key) {
    auto it = params.find(key);
    return it == params.end() ? std::string_view() : it->second;
}

std::string param(const std::map<std::string, std::string_view>& params, const std::string& key) {
    return std::string(paramView(params, key));
}

} // namespace

bool isValidDomainName(const std::string& domain) {
    if (domain.empty() || domain.size() > 253)
        return false;
    std::vector<std::string> labels;
    std::stringstream stream(domain);
    for (std::string label; std::getline(stream, label, '.');)
        labels.push_back(label);
    if (labels.size() < 2 || domain.back() == '.' ||
        !std::all_of(labels.begin(), labels.end(), [](const auto& l) { return isDnsLabel(l); }))
        return false;
    const std::string& top = labels.back();
    return top.size() >= 2 && std::all_of(top.begin(), top.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

WhmSimulator::WhmSimulator(bool sampleAccounts) {
    m_packages = {"default", "bronze", "silver", "gold"};
    Accounts accounts;
    if (sampleAccounts)
        accounts = {
            {"alice", "alice-bakery.example", "silver", false},
            {"bob", "bobs-garage.example", "bronze", false},
            {"carol", "carol-photos.example", "gold", false},
            {"dave", "dave-blog.example", "default", true},
        };
    m_accounts = std::make_shared<const Accounts>(std::move(accounts));
}

void WhmSimulator::addGeneratedAccounts(int count) {
    std::lock_guard lock(m_mutex);
    auto accounts = std::make_shared<Accounts>(*m_accounts);
    accounts->reserve(accounts->size() + static_cast<size_t>(std::max(count, 0)));
    for (int i = 1; i <= count; ++i) {
        char user[32];
        std::snprintf(user, sizeof user, "user%05d", i);
        accounts->push_back({user, std::string(user) + ".example", "default", false});
    }
    m_accounts = std::move(accounts);
}

std::shared_ptr<const WhmSimulator::Accounts> WhmSimulator::snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_accounts;
}

std::vector<WhmSimulator::Account> WhmSimulator::accounts() const {
    return *snapshot();
}

std::vector<std::string> WhmSimulator::packages() const {
    std::lock_guard lock(m_mutex);
    return m_packages;
}

boost::asio::awaitable<void> WhmSimulator::send(const WhmRequest& request, std::string_view,
                                                WhmCallKind, WhmAnswerReader& reader) {
    WhmResponse response = answer(request);
    reader.read(response.status, response.body);
    co_return;
}

WhmResponse WhmSimulator::answer(const WhmRequest& request) {
    // WHM refuses a request without a login before it looks at the function.
    if (request.user.empty() || whmKeyWithoutLineBreaks(request.key).empty())
        return {403, R"({"cpanelresult":{"apiversion":"2","error":"Access denied",)"
                     R"("data":{"reason":"Access denied","result":"0"}}})"};

    Params params;
    for (const auto& [key, value] : request.params)
        params.emplace(key, value); // the first of repeated keys counts

    const std::string& f = request.function;
    if (f == "listaccts")
        return {200, listaccts(params)};
    if (f == "listpkgs")
        return {200, listpkgs()};
    if (f == "createacct")
        return {200, createacct(params)};
    if (f == "suspendacct")
        return {200, setSuspended(f, params, true)};
    if (f == "unsuspendacct")
        return {200, setSuspended(f, params, false)};
    if (f == "removeacct")
        return {200, removeacct(params)};
    return {200,
            reply(f, false, "Unknown app (" + f + ") requested for this version (1) of the API.")};
}

std::string WhmSimulator::listaccts(const Params& params) const {
    // "want" narrows each entry to the named fields, as WHM does.
    std::set<std::string> wanted;
    std::stringstream wants(param(params, "want"));
    for (std::string field; std::getline(wants, field, ',');)
        if (!field.empty())
            wanted.insert(field);
    auto wants_ = [&](const char* field) { return wanted.empty() || wanted.count(field) > 0; };
    // Fields in WHM's order; the set is only asked.
    const bool user = wants_("user"), domain = wants_("domain"), plan = wants_("plan"),
               owner = wants_("owner"), suspended = wants_("suspended");

    std::shared_ptr<const Accounts> accounts = snapshot();
    std::string out = '{' + metadata("listaccts", true, "OK") + R"(,"data":{"acct":[)";
    out.reserve(out.size() + accounts->size() * (wanted.empty() ? 110 : 24));
    bool firstEntry = true;
    for (const Account& a : *accounts) {
        out += firstEntry ? "{" : ",{";
        firstEntry = false;
        bool first = true;
        auto field = [&](const char* name) {
            out += first ? "\"" : ",\"";
            first = false;
            out += name;
            out += "\":";
        };
        if (user) {
            field("user");
            appendQuoted(out, a.user);
        }
        if (domain) {
            field("domain");
            appendQuoted(out, a.domain);
        }
        if (plan) {
            field("plan");
            appendQuoted(out, a.plan);
        }
        if (owner) {
            field("owner");
            out += "\"root\"";
        }
        if (suspended) {
            field("suspended");
            out += a.suspended ? '1' : '0';
        }
        out += '}';
    }
    out += "]}}";
    return out;
}

std::string WhmSimulator::listpkgs() const {
    std::vector<std::string> packages = this->packages();
    std::string out = '{' + metadata("listpkgs", true, "OK") + R"(,"data":{"pkg":[)";
    for (size_t i = 0; i < packages.size(); ++i) {
        out += i ? R"(,{"name":)" : R"({"name":)";
        appendQuoted(out, packages[i]);
        out += R"(,"QUOTA":"unlimited","BWLIMIT":"unlimited"})";
    }
    out += "]}}";
    return out;
}

std::string WhmSimulator::refusalForNewAccount(const std::string& user, const std::string& domain,
                                               const std::string& plan,
                                               std::string_view password) const {
    if (user.empty())
        return "No user name was given for the new account.";
    if (user.size() > 16)
        return "The user name \"" + user + "\" is longer than 16 characters.";
    if (!std::all_of(user.begin(), user.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }))
        return "The user name \"" + user + "\" may hold only lower-case letters and digits.";
    if (!(user.front() >= 'a' && user.front() <= 'z'))
        return "The user name \"" + user + "\" must start with a letter.";
    if (user.starts_with("test"))
        return "The user name \"" + user + "\" may not start with \"test\".";
    if (std::any_of(m_accounts->begin(), m_accounts->end(),
                    [&](const Account& a) { return a.user == user; }))
        return "The user name \"" + user + "\" is already taken.";
    if (!isValidDomainName(domain))
        return "\"" + domain + "\" is not a valid domain name.";
    std::string lower = lowerCase(domain);
    if (std::any_of(m_accounts->begin(), m_accounts->end(),
                    [&](const Account& a) { return a.domain == lower; }))
        return "The domain \"" + domain + "\" already belongs to an account.";
    if (std::find(m_packages.begin(), m_packages.end(), plan) == m_packages.end())
        return "The package \"" + plan + "\" does not exist.";
    if (password.empty())
        return "No password was given for the new account.";
    return {};
}

std::string WhmSimulator::createacct(const Params& params) {
    std::string user = param(params, "username");
    std::string domain = lowerCase(param(params, "domain"));
    std::string plan = param(params, "plan");
    {
        std::lock_guard lock(m_mutex);
        std::string refusal = refusalForNewAccount(user, param(params, "domain"), plan,
                                                   paramView(params, "password"));
        if (!refusal.empty())
            return reply("createacct", false, refusal);
        auto accounts = std::make_shared<Accounts>(*m_accounts);
        accounts->push_back({user, domain, plan, false});
        m_accounts = std::move(accounts);
    }
    std::string out =
        '{' + metadata("createacct", true, "Account Creation Ok") + R"(,"data":{"package":)";
    appendQuoted(out, plan);
    out += R"(,"user":)";
    appendQuoted(out, user);
    out += R"(,"domain":)";
    appendQuoted(out, domain);
    out += "}}";
    return out;
}

std::string WhmSimulator::setSuspended(const std::string& function, const Params& params,
                                       bool suspended) {
    std::string user = param(params, "user");
    bool found = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_accounts->begin(), m_accounts->end(),
                               [&](const Account& a) { return a.user == user; });
        if (it != m_accounts->end()) {
            auto accounts = std::make_shared<Accounts>(*m_accounts);
            (*accounts)[static_cast<size_t>(it - m_accounts->begin())].suspended = suspended;
            m_accounts = std::move(accounts);
            found = true;
        }
    }
    if (!found)
        return reply(function, false, "The account \"" + user + "\" does not exist.");
    return reply(function, true, suspended ? "Account suspended" : "Account unsuspended");
}

std::string WhmSimulator::removeacct(const Params& params) {
    std::string user = param(params, "username");
    if (user.empty())
        user = param(params, "user"); // newer WHM versions name it so
    bool removed = false;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_accounts->begin(), m_accounts->end(),
                               [&](const Account& a) { return a.user == user; });
        if (it != m_accounts->end()) {
            auto accounts = std::make_shared<Accounts>(*m_accounts);
            accounts->erase(accounts->begin() + (it - m_accounts->begin()));
            m_accounts = std::move(accounts);
            removed = true;
        }
    }
    if (!removed)
        return reply("removeacct", false, "The account \"" + user + "\" does not exist.");
    return reply("removeacct", true, "Account removed");
}
