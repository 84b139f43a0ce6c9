#include "sitepages.h"

#include "htmlescape.h"
#include "textrules.h"

#include <array>

namespace {

constexpr const char* siteStyle =
    "body{font-family:sans-serif;max-width:46em;margin:1em auto;padding:0 1em;line-height:1.4}"
    "h1{font-size:1.5em}h2{font-size:1.15em;margin-top:1.4em}"
    "dt{font-weight:bold;margin-top:.5em}code{background:#f2f2f2;padding:0 .2em}"
    "nav a{margin-right:1em}";

std::string sitePage(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + title +
           " - Corvala</title><style>" + siteStyle +
           "</style></head><body>\n"
           "<nav><a href=\"/\">Home</a><a href=\"/help.php\">Help</a>"
           "<a href=\"/demolive.php\">Live demo</a><a href=\"/dl.php\">Download</a></nav>\n" +
           body + "\n</body></html>\n";
}

// Pages shown inside the main window's small panes: no margins to speak of, small type.
// What does not fit scrolls; a long word or address wraps rather than widening the page.
std::string panePage(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + title +
           "</title><style>body{margin:2px 4px;font:11px/13px sans-serif;overflow-wrap:anywhere}"
           ".ok{color:#17651d}.fail{color:#a11}.unknown{color:#8a5a00}p{margin:0}</style></"
           "head><body>" +
           body + "</body></html>\n";
}

// An account's name in a page's headline: at most this many bytes, so that the outcome and
// what to do stay within the pane's first lines.
constexpr std::size_t maxNameInHeadline = 20;

} // namespace

std::string SitePages::home() {
    return sitePage("Home", R"(<h1>Corvala</h1>
<p>Corvala is a desktop tool for the administrator of a WHM server: it lists the server's
hosting accounts and packages, and creates, suspends, unsuspends and terminates accounts.</p>
<p>This site is the Corvala gateway. The desktop program sends every operation here as one
HTTP request, and the gateway carries it out on your WHM server through WHM API 1 over HTTPS.
Your WHM login travels with each request and is kept nowhere.</p>
<ul>
<li><a href="/help.php">Help</a>: what each field and button of the program does.</li>
<li><a href="/demolive.php">Live demo</a>: try the program against a simulated WHM server.</li>
<li><a href="/dl.php">Download</a>: the current version.</li>
</ul>)");
}

std::string SitePages::help() {
    return sitePage("Help", R"(<h1>Corvala help</h1>
<h2>First start: the WHM settings</h2>
<p>When a setting is missing, Corvala opens its settings window ("Settings" in the menu bar
opens it at any time). "Save Settings" stores them in <code>settings.whm</code> and reloads
both lists.</p>
<dl>
<dt>WHM Username</dt><dd>The WHM user the gateway logs in as, usually <code>root</code>
or a reseller.</dd>
<dt>Host</dt><dd>Your WHM server's host name, for example <code>server.example.com</code>.
Type the name alone: no <code>http://</code>, no port, no path. The gateway reaches WHM at
port 2087 over HTTPS and checks the server's certificate.</dd>
<dt>Access Key</dt><dd>An API token or WHM's remote access key. For a token, open
<b>Manage API Tokens</b> in WHM (under Development), generate one and paste it here. For a
remote access key, open <b>Setup Remote Access Key</b> (under Clusters or Remote Access), copy
the whole key and paste it here: it is a long block of several lines; paste all of it, line
breaks included. Either works in this box: a key of up to 64 characters goes to WHM as an API
token, a longer one as a remote access key. WHM recommends API tokens: it has deprecated remote
access keys, which work only while "Allow deprecated WHM accesshash authentication" is on in
WHM's Tweak Settings. Anyone holding the key can act as that WHM user: keep
<code>settings.whm</code> private.</dd>
</dl>
<h2>The main window</h2>
<dl>
<dt>Clients</dt><dd>The user names of the server's hosting accounts. A click on one copies
it into the field above "Suspend Account".</dd>
<dt>Packages</dt><dd>The server's hosting packages. A click on one copies it into
"Package".</dd>
<dt>Domain Name, Username, Password, Package</dt><dd>The new account's main domain, its user
name (lower-case letters and digits, starting with a letter, at most 8 characters here),
its password and its hosting package. Fill in all four.</dd>
<dt>Create Account</dt><dd>Asks WHM to create the account. WHM's answer shows in the Result
pane; use "Refresh All" to see the new account in the list.</dd>
<dt>The field under the creation fields</dt><dd>The user name that the three buttons below it
act on. Type it, or click the account in Clients.</dd>
<dt>Suspend Account</dt><dd>Suspends the account: its sites, mail and logins stop working
until it is unsuspended. Nothing is deleted.</dd>
<dt>UnSuspend Account</dt><dd>Lifts a suspension.</dd>
<dt>Terminate Account</dt><dd>Deletes the account with its files, mail and databases. Corvala
asks first; this cannot be undone.</dd>
<dt>Refresh All</dt><dd>Reloads both lists from WHM. The window waits for WHM's answer; on a
slow server that takes a moment.</dd>
<dt>Result</dt><dd>WHM's answer to the last account command, with its reason when it
refused.</dd>
<dt>The ? icons</dt><dd>Short reminders of the above.</dd>
</dl>
<h2>When something fails</h2>
<ul>
<li>"WHM refused the login": the user name or the access key is wrong; copy the key again
from WHM.</li>
<li>"Could not connect to WHM": the host name is wrong, or port 2087 is closed to the
gateway.</li>
<li>"The certificate of WHM ... is not trusted": your server uses a self-signed certificate.
Start the gateway with <code>--whm-ca FILE</code>, FILE holding that certificate in PEM
form.</li>
</ul>
<h2>Running the gateway</h2>
<p><code>corvala-gateway</code> listens on 127.0.0.1:8717. Options: <code>--listen
HOST:PORT</code>, <code>--tls-cert FILE</code> and <code>--tls-key FILE</code> (HTTPS, needed on
any address other than loopback, as the access key travels in every request),
<code>--whm-host NAME</code> (the only WHM hosts it may reach; repeat it),
<code>--whm-port PORT</code> (default 2087), <code>--whm-ca FILE</code>,
<code>--whm-timeout SECONDS</code>, <code>--max-connections N</code>, and <code>--demo</code>
for a simulated WHM server.</p>)");
}

std::string SitePages::demoLive() {
    return sitePage("Live demo", R"(<h1>Live demo</h1>
<p>Start the gateway as <code>corvala-gateway --demo</code> and it answers from a simulated
WHM server in its own memory instead of a real one. Any WHM user name, host and access key
are accepted, as long as the user name and the key are not empty.</p>
<p>The simulated server starts with the accounts <code>alice</code>, <code>bob</code>,
<code>carol</code> and <code>dave</code> and the packages <code>default</code>,
<code>bronze</code>, <code>silver</code> and <code>gold</code>. It applies WHM's rules to new
accounts: a user name of at most 16 lower-case letters and digits that starts with a letter,
does not start with "test" and is not taken; a valid domain name that no account has; an
existing package; a password. Everything you change is forgotten when the gateway stops.</p>)");
}

std::string SitePages::tips(unsigned index) {
    static constexpr std::array<const char*, 5> all = {
        "Click an account in Clients to fill in the user name for Suspend.",
        "Click a package in Packages to fill in the Package field.",
        "Refresh All reloads both lists from your WHM server.",
        "Help &gt; Get Help explains every field and button.",
        "The access key is best an API token from WHM: Manage API Tokens.",
    };
    return panePage("Tip", std::string("<p><b>Tip:</b> ") + all[index % all.size()] + "</p>");
}

std::string SitePages::download() {
    return sitePage("Download", R"(<h1>Corvala 1.7</h1>
<p>Version 1.7 is the current version of Corvala.</p>
<p>Build it from its sources with CMake: <code>cmake -S . -B build</code>, then
<code>cmake --build build</code> and <code>cmake --install build</code>, which installs
<code>corvala</code> and <code>corvala-gateway</code>.</p>)");
}

std::string SitePages::partnerHosting() {
    return panePage("Hosting partners",
                    "<p><b>Hosting partners</b></p><p>Offers from WHM hosting providers.</p>");
}

std::string SitePages::partnerSsl() {
    return panePage("Certificates",
                    "<p><b>Certificates</b></p><p>TLS certificates for your WHM server.</p>");
}

std::string SitePages::notFound() {
    return sitePage("Not found", "<h1>Not found</h1><p>There is no such page here.</p>");
}

std::string SitePages::commandResult(bool ok, const std::string& headline,
                                     const std::string& detail) {
    return ok ? commandPage("Done", "ok", headline, detail)
              : commandPage("Failed", "fail", headline, detail);
}

std::string SitePages::commandOutcome(WhmResult result, const CommandWords& words,
                                      const std::string& account, const std::string& reason,
                                      const std::string& about) {
    const std::string name = cutShort(account, maxNameInHeadline);
    const std::string done = words.done;
    std::string detail = name == account ? "" : "Account " + account + ". ";
    if (!about.empty())
        detail += about + ". ";
    switch (result) {
    case WhmResult::Done:
        return commandPage("Done", "ok",
                           "Account " + name + " " + done +
                               (words.inClientsList ? ": click Refresh All" : ""),
                           detail + "WHM: " + reason);
    case WhmResult::NotKnown:
        // WHM had the request and may have acted on it: never shown as a failure.
        return commandPage("Not known", "unknown",
                           "Not known whether " + name + " was " + done + ": " +
                               (words.inClientsList ? "click Refresh All" : "look it up in WHM"),
                           detail + "WHM received the request, but no complete answer came back (" +
                               reason + "), so whether the account changed is not known. " +
                               (words.inClientsList
                                    ? "\"Refresh All\" shows whether it did."
                                    : "The Clients list does not show suspensions: WHM does."));
    case WhmResult::Refused:
    case WhmResult::Failed:
    case WhmResult::Busy:
    case WhmResult::Cancelled:
    case WhmResult::NotSent:
        break;
    }
    return commandPage("Failed", "fail",
                       account.empty() ? "Nothing " + done : "Account " + name + " not " + done,
                       detail + reason);
}

std::string SitePages::commandPage(const char* title, const char* look, const std::string& headline,
                                   const std::string& detail) {
    std::string body = "<p class=\"" + std::string(look) + "\">" + htmlEscape(headline) + "</p>";
    if (!detail.empty())
        body += "<p>" + htmlEscape(detail) + "</p>";
    return panePage(title, body);
}
