#include "gatewayservice.h"

#include "htmlescape.h"
#include "sitepages.h"

namespace {

constexpr const char* htmlType = "text/html; charset=utf-8";
constexpr const char* textType = "text/plain; charset=utf-8";

// Each request may hold a thread for as long as WHM takes; enough threads that one slow
// account creation does not hold up the lists.
constexpr size_t workerThreads = 16;

} // namespace

GatewayService::GatewayService(WhmApi& whm, RequestLog& log, Timeouts timeouts)
    : m_whm(whm), m_log(log), m_timeouts(timeouts) {
    m_server.new_task_queue = [] { return new httplib::ThreadPool(workerThreads); };
    m_server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        m_log.request(req.remote_addr, req.method, req.target, res.status);
    });
    m_server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 404)
            res.set_content(SitePages::notFound(), htmlType);
    });
    m_server.set_exception_handler(
        [this](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            m_log.note("internal error: " + what);
            res.status = 500;
            res.set_content("The gateway failed: " + what, textType);
        });
    route();
}

int GatewayService::bind(const std::string& host, int port) {
    if (port == 0)
        return m_server.bind_to_any_port(host);
    return m_server.bind_to_port(host, port) ? port : -1;
}

bool GatewayService::run() {
    return m_server.listen_after_bind();
}

void GatewayService::stop() {
    m_server.stop();
}

GatewayService::Login GatewayService::loginOf(const httplib::Request& req) {
    return {req.get_param_value("host"), req.get_param_value("user"),
            req.get_param_value("accesshash")};
}

void GatewayService::route() {
    auto page = [this](const char* path, std::string (*content)()) {
        m_server.Get(path, [content](const httplib::Request&, httplib::Response& res) {
            res.set_content(content(), htmlType);
        });
    };
    page("/", &SitePages::home);
    page("/help.php", &SitePages::help);
    page("/demolive.php", &SitePages::demoLive);
    page("/dl.php", &SitePages::download);
    page("/partner-hosting.php", &SitePages::partnerHosting);
    page("/partner-ssl.php", &SitePages::partnerSsl);
    m_server.Get("/tips.php", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(SitePages::tips(m_tipCount++), htmlType);
    });

    m_server.Get("/version.txt", [](const httplib::Request&, httplib::Response& res) {
        // The desktop program compares the whole body: no line break after it.
        res.set_content(CORVALA_VERSION, textType);
    });

    m_server.Get("/clients.php", [this](const httplib::Request& req, httplib::Response& res) {
        serveList(req, res, "listaccts", {{"want", "user"}}, "acct", "user");
    });
    m_server.Get("/paks.php", [this](const httplib::Request& req, httplib::Response& res) {
        serveList(req, res, "listpkgs", {}, "pkg", "name");
    });
    m_server.Get("/ad.php", [this](const httplib::Request& req, httplib::Response& res) {
        serveCreate(req, res);
    });
    m_server.Get("/sus.php", [this](const httplib::Request& req, httplib::Response& res) {
        serveAccountCommand(req, res, "suspenduser", "suspendacct", "user", "Account suspended",
                            "Account not suspended");
    });
    m_server.Get("/unsus.php", [this](const httplib::Request& req, httplib::Response& res) {
        serveAccountCommand(req, res, "usr", "unsuspendacct", "user", "Account unsuspended",
                            "Account not unsuspended");
    });
    m_server.Get("/term.php", [this](const httplib::Request& req, httplib::Response& res) {
        serveAccountCommand(req, res, "usr", "removeacct", "username", "Account terminated",
                            "Account not terminated");
    });
}

WhmOutcome GatewayService::callWhm(const Login& login, const std::string& function,
                                   std::vector<std::pair<std::string, std::string>> params,
                                   std::chrono::seconds readTimeout) {
    WhmRequest request{login.host, login.user, login.key, function, std::move(params), readTimeout};
    WhmOutcome outcome = m_whm.call(request);
    if (!outcome.ok)
        m_log.whmFailure(function, login.host, outcome.reason);
    return outcome;
}

void GatewayService::serveList(const httplib::Request& req, httplib::Response& res,
                               const char* function,
                               std::vector<std::pair<std::string, std::string>> params,
                               const char* arrayKey, const char* nameKey) {
    WhmOutcome outcome = callWhm(loginOf(req), function, std::move(params), m_timeouts.list);
    static const nlohmann::json noItems = nlohmann::json::array();
    const nlohmann::json* items = &noItems;
    if (outcome.ok && outcome.data.is_object() && outcome.data.contains(arrayKey)) {
        // WHM may leave an empty list out; a list that is there must be a list.
        items = &outcome.data[arrayKey];
        if (!items->is_array()) {
            outcome = {
                false, std::string("WHM's answer to ") + function + " has no list of entries", {}};
            m_log.whmFailure(function, req.get_param_value("host"), outcome.reason);
        }
    }
    if (!outcome.ok) {
        // The desktop program treats an error status as a failed fetch, never as a list.
        res.status = 502;
        res.set_content(outcome.reason, textType);
        return;
    }
    // Names joined by the marker and nothing after the last one: a trailing marker would
    // make an empty last entry. Escaped, so a name cannot carry markup or a marker.
    std::string body;
    bool first = true;
    for (const nlohmann::json& item : *items) {
        auto name = item.is_object() ? item.find(nameKey) : item.end();
        if (name == item.end() || !name->is_string())
            continue;
        if (!first)
            body += "<BR>";
        first = false;
        body += htmlEscape(name->get<std::string>());
    }
    res.set_content(body, htmlType);
}

void GatewayService::serveCreate(const httplib::Request& req, httplib::Response& res) {
    std::string user = req.get_param_value("acctuser");
    std::string domain = req.get_param_value("acctdomain");
    std::string plan = req.get_param_value("acctplan");
    WhmOutcome outcome = callWhm(loginOf(req), "createacct",
                                 {{"username", user},
                                  {"domain", domain},
                                  {"password", req.get_param_value("acctpass")},
                                  {"plan", plan}},
                                 m_timeouts.create);
    if (outcome.ok)
        res.set_content(
            SitePages::commandResult(true, "Account created: " + user,
                                     domain + ", package " + plan + ". WHM: " + outcome.reason),
            htmlType);
    else
        res.set_content(
            SitePages::commandResult(false, "Account " + user + " not created", outcome.reason),
            htmlType);
}

void GatewayService::serveAccountCommand(const httplib::Request& req, httplib::Response& res,
                                         const char* accountKey, const char* function,
                                         const char* whmUserKey, const char* doneText,
                                         const char* failText) {
    std::string account = req.get_param_value(accountKey);
    if (account.empty()) {
        res.set_content(SitePages::commandResult(false, failText,
                                                 "No account was named: type a user name or "
                                                 "click one in the Clients list."),
                        htmlType);
        return;
    }
    WhmOutcome outcome =
        callWhm(loginOf(req), function, {{whmUserKey, account}}, m_timeouts.command);
    std::string headline = std::string(outcome.ok ? doneText : failText) + ": " + account;
    std::string detail = outcome.ok ? "WHM: " + outcome.reason : outcome.reason;
    res.set_content(SitePages::commandResult(outcome.ok, headline, detail), htmlType);
}
