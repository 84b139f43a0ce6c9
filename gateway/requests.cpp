#include "requests.h"

#include <QUrl>

namespace {

// "user=U&host=H&accesshash=K": the credentials in the order the list requests, create and
// terminate send them.
QString userHostKey(const Connection& c) {
    using Requests::Encode;
    return QStringLiteral("user=") + Encode(c.usr) + QStringLiteral("&host=") + Encode(c.hst) +
           QStringLiteral("&accesshash=") + Encode(c.key);
}

// Suspend and unsuspend send the host first.
QString hostUserKey(const Connection& c) {
    using Requests::Encode;
    return QStringLiteral("host=") + Encode(c.hst) + QStringLiteral("&user=") + Encode(c.usr) +
           QStringLiteral("&accesshash=") + Encode(c.key);
}

} // namespace

namespace Requests {

QString Encode(const QString& value) {
    // Every UTF-8 byte outside A-Z a-z 0-9 - . _ ~ becomes %XX with upper-case digits.
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString Version(const QString& dom) {
    return dom + QStringLiteral("/version.txt");
}

QString AccountList(const Connection& c) {
    return c.dom + QStringLiteral("/clients.php?") + userHostKey(c);
}

QString PackageList(const Connection& c) {
    return c.dom + QStringLiteral("/paks.php?") + userHostKey(c);
}

QString CreateAccount(const Connection& c, const QString& domain, const QString& user,
                      const QString& pass, const QString& plan) {
    return c.dom + QStringLiteral("/ad.php?acctdomain=") + Encode(domain) +
           QStringLiteral("&acctuser=") + Encode(user) + QStringLiteral("&acctpass=") +
           Encode(pass) + QStringLiteral("&acctplan=") + Encode(plan) + QLatin1Char('&') +
           userHostKey(c);
}

QString Suspend(const Connection& c, const QString& ausr) {
    return c.dom + QStringLiteral("/sus.php?") + hostUserKey(c) + QStringLiteral("&suspenduser=") +
           Encode(ausr);
}

QString Unsuspend(const Connection& c, const QString& ausr) {
    return c.dom + QStringLiteral("/unsus.php?") + hostUserKey(c) + QStringLiteral("&usr=") +
           Encode(ausr);
}

QString Terminate(const Connection& c, const QString& ausr) {
    return c.dom + QStringLiteral("/term.php?") + userHostKey(c) + QStringLiteral("&usr=") +
           Encode(ausr);
}

QString Download(const QString& dom) {
    return dom + QStringLiteral("/dl.php");
}

QString Home(const QString& dom) {
    return dom + QStringLiteral("/");
}

QString Tips(const QString& dom) {
    return dom + QStringLiteral("/tips.php");
}

QString PartnerA(const QString& dom) {
    return dom + QStringLiteral("/partner-hosting.php");
}

QString PartnerB(const QString& dom) {
    return dom + QStringLiteral("/partner-ssl.php");
}

QString LiveDemo(const QString& dom) {
    return dom + QStringLiteral("/demolive.php");
}

QString Help(const QString& dom) {
    return dom + QStringLiteral("/help.php");
}

} // namespace Requests
