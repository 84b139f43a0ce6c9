#pragma once

#include "answers.h"
#include "requests.h"

#include <QStringList>

class InternetTransfer;

// Fetch a list through the given transfer and return its items in answer order.
// Throws PlatformError when the fetch fails.
QStringList FetchAccountList(InternetTransfer& transfer, const Connection& c);
QStringList FetchPackageList(InternetTransfer& transfer, const Connection& c);
// The same, the items left in the answer's text.
GatewayList FetchAccountItems(InternetTransfer& transfer, const Connection& c);
GatewayList FetchPackageItems(InternetTransfer& transfer, const Connection& c);
