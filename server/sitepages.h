#pragma once

#include "whmresult.h"

#include <string>
#include <string_view>

// The site's own pages. All are small, plain HTML with no outside resources: the
// desktop program shows some of them in tiny panes, and the gateway may run offline.
class SitePages {
public:
    static std::string home();
    static std::string help();
    static std::string demoLive();
    // One short tip; `index` picks which, so successive loads show different ones.
    static std::string tips(unsigned index);
    static std::string download();
    static std::string partnerHosting();
    static std::string partnerSsl();
    static std::string notFound();
    // The program's icon, a 32-pixel PNG.
    static std::string_view favicon();

    // What an account command's page calls the command: the account's state once it is done
    // ("suspended"), and whether the Clients list shows that change once refreshed.
    struct CommandWords {
        const char* done;
        bool inClientsList;
    };

    // The page for an account command's outcome, made for the main window's 265x41-pixel
    // result pane: its first lines say the outcome and the one thing to do, with the account's
    // name cut short when long; the rest (the name in full, `about` such as the new account's
    // domain and package, WHM's words, up to thousands of characters) scrolls. Everything is
    // escaped here.
    static std::string commandOutcome(WhmResult result, const CommandWords& words,
                                      const std::string& account, const std::string& reason,
                                      const std::string& about = {});
    // A headline and its detail, for a request that fails before any command is tried.
    static std::string commandResult(bool ok, const std::string& headline,
                                     const std::string& detail);

private:
    static std::string commandPage(const char* title, const char* look, const std::string& headline,
                                   const std::string& detail);
};
