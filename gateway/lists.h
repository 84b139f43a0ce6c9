#pragma once

#include "requests.h"

#include <QStringList>

class InternetTransfer;

// Fetch a list through the given transfer and return its items in answer order.
// Throws PlatformError when the fetch fails.
QStringList FetchAccountList(InternetTransfer& transfer, const Connection& c);
QStringList FetchPackageList(InternetTransfer& transfer, const Connection& c);
