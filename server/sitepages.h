#pragma once

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

    // The answer to an account command, compact enough for the main window's 265x41-pixel
    // result pane: a headline and one line of detail. Both are escaped here.
    static std::string commandResult(bool ok, const std::string& headline,
                                     const std::string& detail);
    // The same for a command whose outcome is not known: neither done nor failed.
    static std::string commandNotKnown(const std::string& headline, const std::string& detail);

private:
    static std::string commandPage(const char* title, const char* look, const std::string& headline,
                                   const std::string& detail);
};
