#pragma once

#include "routes.h"
#include "whmresult.h"

#include <optional>
#include <string>

// What the audit trail keeps of one request: who asked for what, and what became of it.
// It never holds a secret: only the parameters its route reads and does not keep secret.
struct RequestRecord {
    std::string clientAddress;
    std::string method = "-"; // "-": no request could be read
    std::string path = "-";   // as it came, cut short
    // The loggable parameters its route read, each the value it used (the first of its
    // key), percent-encoded and cut short: "user=root&host=whm1&usr=bob".
    std::string params;
    int status = 0;
    RouteKind kind = RouteKind::Page; // pages only for paths served as such
    bool routed = false;              // the path is one the gateway serves
    std::string whmFunction;          // for a list or a command, even one not sent
    std::string account;              // for a command: the account acted on, as sent to WHM
    std::optional<WhmResult> outcome; // none: no WHM call was asked for
    std::string detail;          // WHM's reason (cut short), a list's size, why nothing was called
    std::string unsentBecause{}; // why no answer was sent (the client went away); empty: sent

    bool isCommand() const { return routed && kind == RouteKind::Command; }
};
