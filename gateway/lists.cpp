#include "lists.h"

#include "answers.h"
#include "internettransfer.h"

QStringList FetchAccountList(InternetTransfer& transfer, const Connection& c) {
    return SplitGatewayList(transfer.OpenURL(Requests::AccountList(c)));
}

QStringList FetchPackageList(InternetTransfer& transfer, const Connection& c) {
    return SplitGatewayList(transfer.OpenURL(Requests::PackageList(c)));
}

GatewayList FetchAccountItems(InternetTransfer& transfer, const Connection& c) {
    return GatewayList(transfer.OpenURL(Requests::AccountList(c)));
}

GatewayList FetchPackageItems(InternetTransfer& transfer, const Connection& c) {
    return GatewayList(transfer.OpenURL(Requests::PackageList(c)));
}
