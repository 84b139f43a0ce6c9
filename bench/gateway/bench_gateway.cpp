// Timings for the list path: splitting an answer, filling a list view as the main window
// does (one model reset), and a whole refresh against a plain fetch of the same address.
// Prints figures; asserts nothing.

#include "answers.h"
#include "internettransfer.h"
#include "lists.h"
#include "namelistmodel.h"
#include "requests.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QByteArray namesBody(int count) {
    QByteArray body;
    body.reserve(count * 14);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            body += "<BR>";
        body += "acct" + QByteArray::number(i).rightJustified(6, '0');
    }
    return body;
}

// Median of runs, in milliseconds.
double median(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

double timeMs(const std::function<void()>& work) {
    // The test server runs in this thread: what it left to do must not land in the timing.
    QCoreApplication::processEvents();
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int kRuns = 9;

    {
        const QString body = QString::fromLatin1(namesBody(100'000));
        std::vector<double> runs;
        qsizetype count = 0;
        for (int i = 0; i < kRuns; ++i)
            runs.push_back(timeMs([&] { count = GatewayList(body).size(); }));
        std::printf("find 100000 names (%lld bytes): %.2f ms (median of %d), %lld items\n",
                    static_cast<long long>(body.size()), median(runs), kRuns,
                    static_cast<long long>(count));
    }

    // The main window's list: a tree view on a name model, no header, uniform rows.
    NameListModel model;
    QTreeView tree;
    tree.setHeaderHidden(true);
    tree.setRootIsDecorated(false);
    tree.setUniformRowHeights(true);
    tree.setModel(&model);
    tree.resize(300, 400);
    tree.show();
    for (int n : {10'000, 100'000}) {
        const QString body = QString::fromLatin1(namesBody(n));
        std::vector<double> fill;
        for (int i = 0; i < kRuns; ++i)
            fill.push_back(timeMs([&] {
                model.setNames({});
                model.setNames(GatewayList(body));
                QCoreApplication::processEvents();
            }));
        std::printf("find, fill and show %d names in a list view: %.2f ms (median of %d, "
                    "emptying and repaint included)\n",
                    n, median(fill), kRuns);
    }

    {
        TestHttpServer server;
        server.setBody("/clients.php", namesBody(10'000));
        InternetTransfer transfer;
        const Connection c{server.baseAddress(), "root", "127.0.0.1", "AB\r\nCD"};
        const QString address = Requests::AccountList(c);
        transfer.OpenURL(address); // warm up the connection
        std::vector<double> plain;
        std::vector<double> refresh;
        for (int i = 0; i < 21; ++i) {
            plain.push_back(timeMs([&] { transfer.OpenURL(address); }));
            // As the main window does it: empty the list, fetch, one reset.
            refresh.push_back(timeMs([&] {
                model.setNames({});
                model.setNames(FetchAccountList(transfer, c));
                QCoreApplication::processEvents();
            }));
        }
        // Where a refresh's time goes, step by step.
        std::vector<double> fetch, split, fill, paint;
        for (int i = 0; i < 21; ++i) {
            QString body;
            GatewayList items;
            fetch.push_back(timeMs([&] { body = transfer.OpenURL(address); }));
            split.push_back(timeMs([&] { items = GatewayList(std::move(body)); }));
            fill.push_back(timeMs([&] {
                model.setNames({});
                model.setNames(std::move(items));
            }));
            paint.push_back(timeMs([&] { QCoreApplication::processEvents(); }));
        }
        std::printf(
            "  steps: fetch %.2f ms, find items %.2f ms, empty+reset %.2f ms, repaint %.2f ms\n",
            median(fetch), median(split), median(fill), median(paint));

        const double p = median(plain);
        const double r = median(refresh);
        std::printf("10000-account list from 127.0.0.1: plain GET %.2f ms, fetch+split+fill "
                    "%.2f ms (median of 21), ratio %.2f (goal <= 1.5)\n",
                    p, r, r / p);
    }
    return 0;
}
