#pragma once

#include <QString>

// The connection settings every request is built from.
struct Connection {
    QString dom; // gateway base address, no trailing '/'
    QString usr; // WHM user
    QString hst; // WHM host
    QString key; // WHM remote access key, lines separated by CR LF
};

// The gateway's request addresses. Every value is percent-encoded as UTF-8; paths, key
// names and key order are fixed.
namespace Requests {
QString Encode(const QString& value);

QString Version(const QString& dom);
QString AccountList(const Connection& c);
QString PackageList(const Connection& c);
QString CreateAccount(const Connection& c, const QString& domain, const QString& user,
                      const QString& pass, const QString& plan);
QString Suspend(const Connection& c, const QString& ausr);
QString Unsuspend(const Connection& c, const QString& ausr);
QString Terminate(const Connection& c, const QString& ausr);
QString Download(const QString& dom);

// Pages of the gateway's site.
QString Home(const QString& dom);
QString Tips(const QString& dom);
QString PartnerA(const QString& dom);
QString PartnerB(const QString& dom);
QString LiveDemo(const QString& dom);
QString Help(const QString& dom);
} // namespace Requests
