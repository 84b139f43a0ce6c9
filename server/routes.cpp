#include "routes.h"

#include "sitepages.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::string_view htmlType = "text/html; charset=utf-8";
constexpr std::string_view textType = "text/plain; charset=utf-8";

// The WHM login each list and command carries.
constexpr RouteParam user{"user", "WHM user name"};
constexpr RouteParam host{"host", "WHM host"};
constexpr RouteParam key{"accesshash", "access key", true, true};

constexpr RouteParam listParams[] = {user, host, key};
constexpr RouteParam createParams[] = {{"acctdomain", "domain"},
                                       {"acctuser", "account"},
                                       {"acctpass", "password", true},
                                       {"acctplan", "package"},
                                       user,
                                       host,
                                       key};
constexpr RouteParam suspendParams[] = {host, user, key, {"suspenduser", "account"}};
constexpr RouteParam accountParams[] = {user, host, key, {"usr", "account"}};
constexpr RouteParam unsuspendParams[] = {host, user, key, {"usr", "account"}};

template <std::string (*Make)()> std::string fixed(unsigned) {
    return Make();
}

std::string version(unsigned) {
    return CORVALA_VERSION; // compared whole by the program: no line break
}

std::string favicon(unsigned) {
    return std::string(SitePages::favicon());
}

constexpr Route page(std::string_view path, std::string (*content)(unsigned),
                     std::string_view type = htmlType) {
    Route route{path, RouteKind::Page, {}};
    route.contentType = type;
    route.page = content;
    return route;
}

constexpr Route list(std::string_view path, std::string_view function, std::string_view arrayKey,
                     std::string_view nameKey) {
    Route route{path, RouteKind::List, listParams};
    route.whmFunction = function;
    route.arrayKey = arrayKey;
    route.nameKey = nameKey;
    return route;
}

constexpr Route command(std::string_view path, std::span<const RouteParam> params,
                        std::string_view function, std::string_view accountKey,
                        std::string_view whmAccountKey, SitePages::CommandWords words) {
    Route route{path, RouteKind::Command, params};
    route.whmFunction = function;
    route.accountKey = accountKey;
    route.whmAccountKey = whmAccountKey;
    route.words = words;
    return route;
}

const std::array routes = {
    page("/", &fixed<&SitePages::home>),
    page("/help.php", &fixed<&SitePages::help>),
    page("/demolive.php", &fixed<&SitePages::demoLive>),
    page("/dl.php", &fixed<&SitePages::download>),
    page("/partner-hosting.php", &fixed<&SitePages::partnerHosting>),
    page("/partner-ssl.php", &fixed<&SitePages::partnerSsl>),
    page("/tips.php", &SitePages::tips),
    page("/version.txt", &version, textType),
    page("/favicon.ico", &favicon, "image/png"),
    // The handler writes it from what it counts: a page with no fixed content.
    page("/metrics", nullptr, "text/plain; version=0.0.4; charset=utf-8"),
    list("/clients.php", "listaccts", "acct", "user"),
    list("/paks.php", "listpkgs", "pkg", "name"),
    command("/ad.php", createParams, "createacct", "acctuser", "username", {"created", true}),
    command("/sus.php", suspendParams, "suspendacct", "suspenduser", "user", {"suspended", false}),
    command("/unsus.php", unsuspendParams, "unsuspendacct", "usr", "user", {"unsuspended", false}),
    command("/term.php", accountParams, "removeacct", "usr", "username", {"terminated", true}),
};

} // namespace

const Route* routeFor(std::string_view path) {
    auto it = std::find_if(routes.begin(), routes.end(),
                           [&](const Route& route) { return route.path == path; });
    return it == routes.end() ? nullptr : &*it;
}

std::span<const Route> allRoutes() {
    return routes;
}
