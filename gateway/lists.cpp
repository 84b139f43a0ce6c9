#include "lists.h"

#include "answers.h"
#include "internettransfer.h"

GatewayList FetchAccountList(InternetTransfer& transfer, const Connection& c) {
    return GatewayList(transfer.OpenURL(Requests::AccountList(c)));
}

GatewayList FetchPackageList(InternetTransfer& transfer, const Connection& c) {
    return GatewayList(transfer.OpenURL(Requests::PackageList(c)));
}
