#include "whmsimulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>

namespace {

nlohmann::json metadata(const std::string& command, bool ok, const std::string& reason) {
    return {{"version", 1}, {"command", command}, {"result", ok ? 1 : 0}, {"reason", reason}};
}

nlohmann::json reply(const std::string& command, bool ok, const std::string& reason) {
    return {{"metadata", metadata(command, ok, reason)}};
}

std::string param(const std::map<std::string, std::string>& params, const std::string& key) {
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

std::string toLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

bool isValidDomainName(const std::string& domain) {
    if (domain.empty() || domain.size() > 253)
        return false;
    std::vector<std::string> labels;
    std::stringstream stream(domain);
    for (std::string label; std::getline(stream, label, '.');)
        labels.push_back(label);
    if (labels.size() < 2 || domain.back() == '.')
        return false;
    for (const std::string& label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label) {
            bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-';
            if (!ok)
                return false;
        }
    }
    const std::string& top = labels.back();
    return top.size() >= 2 && std::all_of(top.begin(), top.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

WhmSimulator::WhmSimulator(bool sampleAccounts) {
    m_packages = {"default", "bronze", "silver", "gold"};
    if (sampleAccounts)
        m_accounts = {
            {"alice", "alice-bakery.example", "silver", false},
            {"bob", "bobs-garage.example", "bronze", false},
            {"carol", "carol-photos.example", "gold", false},
            {"dave", "dave-blog.example", "default", true},
        };
}

void WhmSimulator::addGeneratedAccounts(int count) {
    std::lock_guard lock(m_mutex);
    m_accounts.reserve(m_accounts.size() + static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
        char user[32];
        std::snprintf(user, sizeof user, "user%05d", i);
        m_accounts.push_back({user, std::string(user) + ".example", "default", false});
    }
}

std::vector<WhmSimulator::Account> WhmSimulator::accounts() const {
    std::lock_guard lock(m_mutex);
    return m_accounts;
}

std::vector<std::string> WhmSimulator::packages() const {
    std::lock_guard lock(m_mutex);
    return m_packages;
}

WhmResponse WhmSimulator::send(const WhmRequest& request) {
    // WHM refuses a request without a login before it looks at the function.
    if (request.user.empty() || whmKeyWithoutLineBreaks(request.key).empty()) {
        nlohmann::json denied = {{"cpanelresult",
                                  {{"apiversion", "2"},
                                   {"error", "Access denied"},
                                   {"data", {{"reason", "Access denied"}, {"result", "0"}}}}}};
        return {403, denied.dump()};
    }

    Params params;
    for (const auto& [key, value] : request.params)
        params.emplace(key, value); // the first of repeated keys counts

    nlohmann::json answer;
    const std::string& f = request.function;
    if (f == "listaccts")
        answer = listaccts(params);
    else if (f == "listpkgs")
        answer = listpkgs();
    else if (f == "createacct")
        answer = createacct(params);
    else if (f == "suspendacct")
        answer = setSuspended(f, params, true);
    else if (f == "unsuspendacct")
        answer = setSuspended(f, params, false);
    else if (f == "removeacct")
        answer = removeacct(params);
    else
        answer =
            reply(f, false, "Unknown app (" + f + ") requested for this version (1) of the API.");
    return {200, answer.dump()};
}

nlohmann::json WhmSimulator::listaccts(const Params& params) {
    // "want" narrows each entry to the named fields, as WHM does.
    std::set<std::string> wanted;
    std::stringstream wants(param(params, "want"));
    for (std::string field; std::getline(wants, field, ',');)
        if (!field.empty())
            wanted.insert(field);

    std::lock_guard lock(m_mutex);
    nlohmann::json list = nlohmann::json::array();
    for (const Account& a : m_accounts) {
        nlohmann::json entry = {{"user", a.user},
                                {"domain", a.domain},
                                {"plan", a.plan},
                                {"owner", "root"},
                                {"suspended", a.suspended ? 1 : 0}};
        if (!wanted.empty()) {
            nlohmann::json narrowed = nlohmann::json::object();
            for (const std::string& field : wanted)
                if (entry.contains(field))
                    narrowed[field] = entry[field];
            entry = std::move(narrowed);
        }
        list.push_back(std::move(entry));
    }
    nlohmann::json answer = reply("listaccts", true, "OK");
    answer["data"] = {{"acct", std::move(list)}};
    return answer;
}

nlohmann::json WhmSimulator::listpkgs() {
    std::lock_guard lock(m_mutex);
    nlohmann::json list = nlohmann::json::array();
    for (const std::string& name : m_packages)
        list.push_back({{"name", name}, {"QUOTA", "unlimited"}, {"BWLIMIT", "unlimited"}});
    nlohmann::json answer = reply("listpkgs", true, "OK");
    answer["data"] = {{"pkg", std::move(list)}};
    return answer;
}

std::string WhmSimulator::refusalForNewAccount(const std::string& user, const std::string& domain,
                                               const std::string& plan,
                                               const std::string& password) const {
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
    if (std::any_of(m_accounts.begin(), m_accounts.end(),
                    [&](const Account& a) { return a.user == user; }))
        return "The user name \"" + user + "\" is already taken.";
    if (!isValidDomainName(domain))
        return "\"" + domain + "\" is not a valid domain name.";
    if (domainTaken(domain))
        return "The domain \"" + domain + "\" already belongs to an account.";
    if (std::find(m_packages.begin(), m_packages.end(), plan) == m_packages.end())
        return "The package \"" + plan + "\" does not exist.";
    if (password.empty())
        return "No password was given for the new account.";
    return {};
}

nlohmann::json WhmSimulator::createacct(const Params& params) {
    std::string user = param(params, "username");
    std::string domain = param(params, "domain");
    std::string plan = param(params, "plan");
    std::lock_guard lock(m_mutex);
    std::string refusal = refusalForNewAccount(user, domain, plan, param(params, "password"));
    if (!refusal.empty())
        return reply("createacct", false, refusal);
    m_accounts.push_back({user, toLower(domain), plan, false});
    nlohmann::json answer = reply("createacct", true, "Account Creation Ok");
    answer["data"] = {{"package", plan}, {"user", user}, {"domain", toLower(domain)}};
    return answer;
}

nlohmann::json WhmSimulator::setSuspended(const std::string& function, const Params& params,
                                          bool suspended) {
    std::string user = param(params, "user");
    std::lock_guard lock(m_mutex);
    Account* account = find(user);
    if (!account)
        return reply(function, false, "The account \"" + user + "\" does not exist.");
    account->suspended = suspended;
    return reply(function, true, suspended ? "Account suspended" : "Account unsuspended");
}

nlohmann::json WhmSimulator::removeacct(const Params& params) {
    std::string user = param(params, "username");
    if (user.empty())
        user = param(params, "user"); // newer WHM versions name it so
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_accounts.begin(), m_accounts.end(),
                           [&](const Account& a) { return a.user == user; });
    if (it == m_accounts.end())
        return reply("removeacct", false, "The account \"" + user + "\" does not exist.");
    m_accounts.erase(it);
    return reply("removeacct", true, "Account removed");
}

WhmSimulator::Account* WhmSimulator::find(const std::string& user) {
    auto it = std::find_if(m_accounts.begin(), m_accounts.end(),
                           [&](const Account& a) { return a.user == user; });
    return it == m_accounts.end() ? nullptr : &*it;
}

bool WhmSimulator::domainTaken(const std::string& domain) const {
    std::string lower = toLower(domain);
    return std::any_of(m_accounts.begin(), m_accounts.end(),
                       [&](const Account& a) { return a.domain == lower; });
}
