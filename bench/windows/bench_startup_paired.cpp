// Start-up and memory of the program against a bare QWebEngineView program, in paired runs
// (the order swapped every pair, so a busy moment on the machine hits both alike), both
// showing pages of the same real corvala-gateway --demo. Prints every run, then medians.
//
//     bench_startup_paired [--gateway PATH | --gateway-base URL] [--runs N]
//                          [--engine-defaults]
//
// Run it under xvfb-run -a, or with QT_QPA_PLATFORM=offscreen (then the figures leave out
// real drawing). --engine-defaults is passed on to bench_startup.

#include "benchgateway.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Run {
    QString platform; // the Qt platform the program ran on
    double shownMs = 0;
    double pssKiB = 0;
    double rssKiB = 0;
    int processes = 0;
};

bool RunOnce(const QString& program, const QStringList& args, Run& run) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished(3000);
        return false;
    }
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    auto text = [&](const char* key) {
        const QRegularExpression re(QStringLiteral("%1=(\\S+)").arg(QLatin1String(key)));
        return re.match(out).captured(1);
    };
    auto field = [&](const char* key) { return text(key).toDouble(); };
    run = Run{text("platform"), field("shown_ms"), field("pss_kib"), field("rss_kib"),
              int(field("processes"))};
    return run.shownMs > 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const BenchArguments args(argc, argv);
    QString binary = args.gatewayBinary();
    if (binary.isEmpty())
        binary = BenchGateway::DefaultBinary();
    QString base = args.gatewayBase();
    const int runs = args.runs();
    QStringList startupArgs;
    if (args.flag(QStringLiteral("--engine-defaults")))
        startupArgs << QStringLiteral("--engine-defaults");
    BenchGateway gateway;
    if (base.isEmpty())
        base = gateway.start(binary, -1);
    if (base.isEmpty()) {
        std::fprintf(stderr, "the gateway %s did not start\n", qPrintable(binary));
        return 1;
    }
    const QString dir = QCoreApplication::applicationDirPath();
    const QString corvala = dir + QStringLiteral("/bench_startup");
    const QString bare = dir + QStringLiteral("/bench_bareview");
    startupArgs << QStringLiteral("--gateway-base") << base;
    const QStringList bareArgs{QStringLiteral("--page"), base + QStringLiteral("/tips.php")};

    std::vector<double> shown, pss, rss, shownC, shownB, pssC, pssB, rssC, rssB;
    for (int i = 0; i < runs; ++i) {
        Run c, b;
        const bool ok = (i % 2 == 0)
                            ? RunOnce(corvala, startupArgs, c) && RunOnce(bare, bareArgs, b)
                            : RunOnce(bare, bareArgs, b) && RunOnce(corvala, startupArgs, c);
        if (!ok) {
            std::fprintf(stderr, "run %d failed\n", i + 1);
            return 1;
        }
        if (i == 0) // the offscreen platform leaves out real drawing
            std::printf("Qt platform: %s (corvala), %s (bare)\n", qPrintable(c.platform),
                        qPrintable(b.platform));
        std::printf("run %d: corvala shown %.0f ms, PSS %.0f MiB, RSS %.0f MiB, %d processes | "
                    "bare shown %.0f ms, PSS %.0f MiB, RSS %.0f MiB, %d processes\n",
                    i + 1, c.shownMs, c.pssKiB / 1024, c.rssKiB / 1024, c.processes, b.shownMs,
                    b.pssKiB / 1024, b.rssKiB / 1024, b.processes);
        shown.push_back(c.shownMs / b.shownMs);
        pss.push_back(c.pssKiB / b.pssKiB);
        rss.push_back(c.rssKiB / b.rssKiB);
        shownC.push_back(c.shownMs);
        shownB.push_back(b.shownMs);
        pssC.push_back(c.pssKiB / 1024);
        pssB.push_back(b.pssKiB / 1024);
        rssC.push_back(c.rssKiB / 1024);
        rssB.push_back(b.rssKiB / 1024);
    }
    std::printf("medians of %d pairs: window shown %.0f / %.0f ms, ratio %.2f (goal <= 1.10); "
                "PSS summed %.0f / %.0f MiB, ratio %.2f (goal <= 1.05); RSS summed %.0f / %.0f "
                "MiB, ratio %.2f\n",
                runs, Median(shownC), Median(shownB), Median(shown), Median(pssC), Median(pssB),
                Median(pss), Median(rssC), Median(rssB), Median(rss));
    return 0;
}
