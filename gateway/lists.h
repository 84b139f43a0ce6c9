#pragma once

#include "answers.h"
#include "requests.h"

class InternetTransfer;

// Fetch a list through the given transfer and return its items in answer order.
// Throws PlatformError when the fetch fails.
GatewayList FetchAccountList(InternetTransfer& transfer, const Connection& c);
GatewayList FetchPackageList(InternetTransfer& transfer, const Connection& c);
