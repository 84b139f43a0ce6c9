#pragma once

#include "whmapi.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// An answer as WHM sends it: its HTTP status and its JSON text.
struct WhmResponse {
    int status = 0;
    std::string body;
};

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

    // The answer to a request, as WHM would send it.
    WhmResponse answer(const WhmRequest& request);

    // Adds generated accounts user00001, user00002, ... (for load figures).
    void addGeneratedAccounts(int count);

    std::vector<Account> accounts() const;
    std::vector<std::string> packages() const;

protected:
    boost::asio::awaitable<void> send(const WhmRequest& request, std::string_view authorization,
                                      WhmCallKind kind, WhmAnswerReader& reader) override;

private:
    using Params = std::map<std::string, std::string_view>; // views of the request's values
    using Accounts = std::vector<Account>;

    // Why WHM would refuse to create this account, or empty when it would create it.
    // Called with m_mutex held.
    std::string refusalForNewAccount(const std::string& user, const std::string& domain,
                                     const std::string& plan, std::string_view password) const;

    std::string listaccts(const Params& params) const;
    std::string listpkgs() const;
    std::string createacct(const Params& params);
    std::string setSuspended(const std::string& function, const Params& params, bool suspended);
    std::string removeacct(const Params& params);

    // Readers take the current list under the lock and read it after; writers replace it,
    // so a long list is never built while the lock is held.
    std::shared_ptr<const Accounts> snapshot() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<const Accounts> m_accounts; // in creation order, as WHM lists them
    std::vector<std::string> m_packages;
};

// Whether text is a domain name WHM would accept for a new account.
bool isValidDomainName(const std::string& domain);
