#pragma once

#include "sitepages.h"

#include <span>
#include <string>
#include <string_view>

// What a request path is to the gateway.
enum class RouteKind {
    Page,    // one of the site's pages: answered at once, no WHM call
    List,    // a WHM list: read again as often as asked
    Command, // an account command: reaches WHM at most once, and is always in the log
};

// One parameter a route reads from its query, in the order the desktop program sends it.
struct RouteParam {
    std::string_view key;
    std::string_view what;   // how a refusal names it: "WHM user name", "password"
    bool secret = false;     // never logged, nor shown
    bool lineBreaks = false; // CR and LF may stand in it (a remote access key's)
};

// One path the gateway serves: routing, the log's allow-list and the split between
// pages, lists and commands all read this one table.
struct Route {
    std::string_view path;
    RouteKind kind;
    std::span<const RouteParam> params; // what it reads; the ones not secret are logged

    // Pages: their content, made for the hit-th request of the page.
    std::string_view contentType = {};
    std::string (*page)(unsigned hit) = nullptr;

    // Lists and commands.
    std::string_view whmFunction = {};
    // Lists: the names are data[arrayKey][i][nameKey].
    std::string_view arrayKey = {};
    std::string_view nameKey = {};
    // Commands: the query key naming the account acted on, WHM's parameter for it, and
    // what the page says.
    std::string_view accountKey = {};
    std::string_view whmAccountKey = {};
    SitePages::CommandWords words = {};

    bool callsWhm() const { return kind != RouteKind::Page; }
    // The methods it answers: pages also take HEAD; only GET acts on WHM.
    bool allows(std::string_view method) const {
        return method == "GET" || (kind == RouteKind::Page && method == "HEAD");
    }
    std::string_view allowHeader() const { return kind == RouteKind::Page ? "GET, HEAD" : "GET"; }
};

// The route for a path, or null when the gateway serves nothing there.
const Route* routeFor(std::string_view path);
std::span<const Route> allRoutes();
