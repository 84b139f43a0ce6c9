#pragma once

#include "whmapi.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

// An in-memory WHM server for the demo and the benchmarks: it answers the WHM API 1
// functions the gateway uses, in WHM's JSON shapes, with WHM's rules for new accounts.
// Its accounts live as long as the object. Safe to call from several threads.
class WhmSimulator : public WhmApi {
public:
    struct Account {
        std::string user;
        std::string domain;
        std::string plan;
        bool suspended = false;
    };

    // Starts with the sample packages and, unless told otherwise, a few sample accounts.
    explicit WhmSimulator(bool sampleAccounts = true);

    WhmResponse send(const WhmRequest& request) override;

    // Adds generated accounts user00001, user00002, ... (for load figures).
    void addGeneratedAccounts(int count);

    std::vector<Account> accounts() const;
    std::vector<std::string> packages() const;

private:
    using Params = std::map<std::string, std::string>;

    // Why WHM would refuse to create this account, or empty when it would create it.
    // Called with m_mutex held.
    std::string refusalForNewAccount(const std::string& user, const std::string& domain,
                                     const std::string& plan, const std::string& password) const;

    nlohmann::json listaccts(const Params& params);
    nlohmann::json listpkgs();
    nlohmann::json createacct(const Params& params);
    nlohmann::json setSuspended(const std::string& function, const Params& params, bool suspended);
    nlohmann::json removeacct(const Params& params);

    Account* find(const std::string& user);
    bool domainTaken(const std::string& domain) const;

    mutable std::mutex m_mutex;
    std::vector<Account> m_accounts; // in creation order, as WHM lists them
    std::vector<std::string> m_packages;
};

// Whether text is a domain name WHM would accept for a new account.
bool isValidDomainName(const std::string& domain);
