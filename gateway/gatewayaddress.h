#pragma once

#include <QString>

// The gateway's base address. The program has one compiled in; a machine's administrator
// can name another (a team's gateway) for every desktop in the system-wide file
// /etc/corvala/corvala.conf:
//
//     [gateway]
//     address=https://gateway.example.com:8717
namespace GatewayAddress {
inline const QString kSection = QStringLiteral("gateway");
inline const QString kKey = QStringLiteral("address");

// Whether value can be a base address: an absolute http:// or https:// address with a
// host, without a trailing '/', a query or a fragment, since request paths are appended to
// it as they are.
bool IsBaseAddress(const QString& value);

// The address that file gives, or an empty string when there is no such file or it gives
// none. Throws PlatformError naming the file when it cannot be read or its address is not
// a base address.
QString FromFile(const QString& file);
} // namespace GatewayAddress
