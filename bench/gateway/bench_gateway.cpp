// Timings for the list path: splitting an answer, filling a tree, and a whole refresh
// against a plain fetch of the same address. Prints figures; asserts nothing.

#include "answers.h"
#include "internettransfer.h"
#include "lists.h"
#include "requests.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStringListModel>
#include <QTreeView>
#include <QTreeWidget>

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
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

// Empty the tree, then one top-level node per item, appended one at a time.
void fillOneByOne(QTreeWidget& tree, const QStringList& items) {
    tree.clear();
    for (const QString& item : items)
        tree.addTopLevelItem(new QTreeWidgetItem(QStringList{item}));
}

// What the main window does: the same nodes, appended in one call.
void fillAtOnce(QTreeWidget& tree, const QStringList& items) {
    tree.clear();
    QList<QTreeWidgetItem*> nodes;
    nodes.reserve(items.size());
    for (const QString& item : items)
        nodes.append(new QTreeWidgetItem(QStringList{item}));
    tree.addTopLevelItems(nodes);
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
            runs.push_back(timeMs([&] { count = SplitGatewayList(body).size(); }));
        std::printf("split 100000 names (%lld bytes): %.2f ms (median of %d), %lld items\n",
                    static_cast<long long>(body.size()), median(runs), kRuns,
                    static_cast<long long>(count));
    }

    QTreeWidget tree;
    tree.setHeaderHidden(true);
    tree.resize(300, 400);
    tree.show();
    for (int n : {10'000, 100'000}) {
        const QStringList items = SplitGatewayList(QString::fromLatin1(namesBody(n)));
        const int runs = n > 10'000 ? 3 : kRuns;
        std::vector<double> oneByOne;
        std::vector<double> atOnce;
        for (int i = 0; i < runs; ++i) {
            oneByOne.push_back(timeMs([&] {
                fillOneByOne(tree, items);
                QCoreApplication::processEvents();
            }));
            atOnce.push_back(timeMs([&] {
                fillAtOnce(tree, items);
                QCoreApplication::processEvents();
            }));
        }
        std::printf("fill a shown tree with %d nodes: addTopLevelItem one by one %.1f ms, "
                    "addTopLevelItems at once %.1f ms (median of %d, clear included)\n",
                    n, median(oneByOne), median(atOnce), runs);
    }

    {
        TestHttpServer server;
        server.setBody("/clients.php", namesBody(10'000));
        InternetTransfer transfer;
        const Connection c{server.baseAddress(), "root", "whm.example.com", "AB\r\nCD"};
        const QString address = Requests::AccountList(c);
        transfer.OpenURL(address); // warm up the connection
        std::vector<double> plain;
        std::vector<double> refresh;
        for (int i = 0; i < 21; ++i) {
            plain.push_back(timeMs([&] { transfer.OpenURL(address); }));
            // As the main window does it: empty the tree, then all nodes in one call.
            refresh.push_back(timeMs([&] {
                fillAtOnce(tree, FetchAccountList(transfer, c));
                QCoreApplication::processEvents();
            }));
        }
        // Where a refresh's time goes, step by step.
        std::vector<double> fetch, split, clear, add, paint;
        for (int i = 0; i < 21; ++i) {
            QString body;
            QStringList items;
            fetch.push_back(timeMs([&] { body = transfer.OpenURL(address); }));
            split.push_back(timeMs([&] { items = SplitGatewayList(body); }));
            clear.push_back(timeMs([&] { tree.clear(); }));
            add.push_back(timeMs([&] {
                for (const QString& item : items)
                    tree.addTopLevelItem(new QTreeWidgetItem(QStringList{item}));
            }));
            paint.push_back(timeMs([&] { QCoreApplication::processEvents(); }));
        }
        std::printf("  steps: fetch %.2f ms, split %.2f ms, clear %.2f ms, add nodes %.2f ms, "
                    "repaint %.2f ms\n",
                    median(fetch), median(split), median(clear), median(add), median(paint));
        std::printf("  fetch+split alone against the plain GET: ratio %.2f\n",
                    (median(fetch) + median(split)) / median(fetch));

        const double p = median(plain);
        const double r = median(refresh);
        std::printf("10000-account list from 127.0.0.1: plain GET %.2f ms, fetch+split+fill "
                    "%.2f ms (median of 21), ratio %.2f (target <= 1.25)\n",
                    p, r, r / p);

        // For comparison: the same list shown through a model instead of item widgets.
        QStringListModel model;
        QTreeView view;
        view.setHeaderHidden(true);
        view.setModel(&model);
        view.resize(300, 400);
        view.show();
        std::vector<double> viaModel;
        for (int i = 0; i < 21; ++i)
            viaModel.push_back(timeMs([&] {
                model.setStringList(FetchAccountList(transfer, c));
                QCoreApplication::processEvents();
            }));
        std::printf(
            "  the same into a QStringListModel shown by a QTreeView: %.2f ms, ratio %.2f\n",
            median(viaModel), median(viaModel) / p);
    }
    return 0;
}
