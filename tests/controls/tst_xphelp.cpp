// The help icon: its three cells, the first-tick MouseOut, clicks and its fixed size.
#include "controltest.h"
#include "propertybag.h"
#include "xphelp.h"

#include <QTest>
#include <memory>

using namespace controltest;

namespace {
QImage helpCell(int n) {
    const QImage strip(QStringLiteral(":/controls/help_hint/helpstrip.png"));
    return strip.copy(n * 21, 0, 21, 21).convertToFormat(QImage::Format_RGB32);
}

struct Recorder : EventLog {
    explicit Recorder(xphelp* h) {
        auto pointer = [this, h](const char* name) {
            return [this, h, name](short& Button, short&, float& x, float& Y) {
                events << QStringLiteral("%1 %2 %3,%4 cell %5")
                              .arg(QLatin1String(name))
                              .arg(Button)
                              .arg(double(x))
                              .arg(double(Y))
                              .arg(h->shownCell());
            };
        };
        QObject::connect(h, &xphelp::MouseDown, h, pointer("MouseDown"));
        QObject::connect(h, &xphelp::MouseMove, h, pointer("MouseMove"));
        QObject::connect(h, &xphelp::MouseUp, h, pointer("MouseUp"));
        QObject::connect(h, &xphelp::Click, h, [this, h] {
            events << QStringLiteral("Click cell %1").arg(h->shownCell());
        });
        QObject::connect(h, &xphelp::MouseOut, h, [this] { events << "MouseOut"; });
    }
};
} // namespace

class TestXpHelp : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_Window;
    xphelp* m_Help = nullptr;
    std::unique_ptr<Recorder> m_Events;

private slots:
    void init() {
        m_Window = std::make_unique<QWidget>();
        m_Window->resize(200, 100);
        pointerAway(m_Window.get());
        m_Help = new xphelp(m_Window.get());
        m_Help->move(50, 40);
        m_Events = std::make_unique<Recorder>(m_Help);
        m_Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    }
    void cleanup() {
        m_Events.reset();
        m_Window.reset();
        Pointer::clearOverride();
    }

    void firstTickRaisesMouseOutOnceThenStops() {
        QTRY_COMPARE_WITH_TIMEOUT(m_Events->count("MouseOut"), 1, 5000);
        QVERIFY(!m_Help->isPolling());
        QCOMPARE(runningTimers(m_Help), 0);
        TickCounter idle(m_Help); // an icon the pointer never touches polls once, at start
        QTest::qWait(100);
        QCOMPARE(idle.ticks, 0);
        qInfo("polling: %d ticks in 100 ms with the pointer elsewhere", idle.ticks);
        QCOMPARE(m_Events->events, QStringList({"MouseOut"}));
        QCOMPARE(m_Help->shownCell(), 0);
        QCOMPARE(m_Help->grab().toImage().convertToFormat(QImage::Format_RGB32), helpCell(0));
    }

    void hoverShowsCellOneAndLeavingRestores() {
        QTRY_VERIFY_WITH_TIMEOUT(!m_Help->isPolling(), 5000);
        m_Events->events.clear();
        move(m_Help, {4, 5});
        QCOMPARE(m_Help->shownCell(), 1);
        QCOMPARE(m_Help->grab().toImage().convertToFormat(QImage::Format_RGB32), helpCell(1));
        move(m_Help, {10, 10}, Qt::LeftButton | Qt::RightButton); // Button 3 is not "pressed"
        QCOMPARE(m_Help->shownCell(), 1);
        move(m_Help, {21, 21}); // the edge counts as inside
        QCOMPARE(m_Events->count("MouseMove"), 3);
        TickCounter over(m_Help);
        QTRY_VERIFY_WITH_TIMEOUT(over.ticks >= 3, 5000); // polls while the pointer is here
        const int before = over.ticks;
        QTest::qWait(100);
        qInfo("polling: %d ticks in 100 ms with the pointer over the icon", over.ticks - before);
        QCOMPARE(m_Events->count("MouseOut"), 0); // pointer on the edge: still inside
        pointerAway(m_Window.get());
        QTRY_COMPARE_WITH_TIMEOUT(m_Events->count("MouseOut"), 1, 5000);
        QCOMPARE(m_Help->shownCell(), 0);
        QCOMPARE(runningTimers(m_Help), 0);
        QCOMPARE(m_Events->events,
                 QStringList({"MouseMove 0 4,5 cell 0", "MouseMove 3 10,10 cell 1",
                              "MouseMove 0 21,21 cell 1", "MouseOut"}));
    }

    void clickShowsTheRestingCellBeforeClick() {
        QTRY_VERIFY_WITH_TIMEOUT(!m_Help->isPolling(), 5000);
        m_Events->events.clear();
        move(m_Help, {5, 5});
        press(m_Help, {5, 5});
        QCOMPARE(m_Help->shownCell(), 2);
        QCOMPARE(m_Help->grab().toImage().convertToFormat(QImage::Format_RGB32), helpCell(2));
        move(m_Help, {6, 5}, Qt::LeftButton);
        release(m_Help, {6, 5});
        QCOMPARE(m_Help->shownCell(), 0); // while the pointer is still over it
        move(m_Help, {6, 6});
        QCOMPARE(m_Help->shownCell(), 1);
        QCOMPARE(m_Events->events, QStringList({"MouseMove 0 5,5 cell 0", "MouseDown 1 5,5 cell 2",
                                                "MouseMove 1 6,5 cell 2", "MouseUp 1 6,5 cell 2",
                                                "Click cell 0", "MouseMove 0 6,6 cell 0"}));
    }

    void dragOffAndReleaseGivesNoClick() {
        QTRY_VERIFY_WITH_TIMEOUT(!m_Help->isPolling(), 5000);
        m_Events->events.clear();
        press(m_Help, {5, 5});
        move(m_Help, {40, 5}, Qt::LeftButton);
        QCOMPARE(m_Events->count("MouseMove"), 0);
        QCOMPARE(m_Help->shownCell(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(m_Events->count("MouseOut"), 1, 5000);
        QCOMPARE(m_Help->shownCell(), 0);
        // Every move outside starts the timer again: one more MouseOut each time.
        move(m_Help, {45, 5}, Qt::LeftButton);
        QVERIFY(m_Help->isPolling());
        QTRY_COMPARE_WITH_TIMEOUT(m_Events->count("MouseOut"), 2, 5000);
        release(m_Help, {45, 5});
        QCOMPARE(m_Events->count("MouseUp"), 1);
        QCOMPARE(m_Events->count("Click"), 0);
        QVERIFY(!m_Help->isPolling());
    }

    void keepsItsSquare() {
        m_Help->resize(40, 40);
        QCOMPARE(m_Help->size(), QSize(21, 21));
        m_Help->setGeometry(0, 0, 50, 30);
        QCOMPARE(m_Help->size(), QSize(21, 21));
        m_Help->setFixedSize(30, 30); // a host that insists
        QCOMPARE(m_Help->size(), QSize(21, 21));
    }

    void disabledIconGetsNoPointerButStillPolls() {
        auto window = std::make_unique<QWidget>();
        auto* h = new xphelp(window.get());
        PropertyBag stored;
        stored.WriteProperty("enabled", false, true);
        h->ReadProperties(stored);
        Recorder r(h);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_COMPARE_WITH_TIMEOUT(r.count("MouseOut"), 1, 5000);
        move(h, {5, 5});
        press(h, {5, 5});
        release(h, {5, 5});
        QCOMPARE(r.events, QStringList({"MouseOut"}));
        QCOMPARE(h->shownCell(), 0);

        PropertyBag bag;
        h->WriteProperties(bag);
        QCOMPARE(bag.value("Enabled"), QVariant(false));
        h->setEnabled_(true);
        PropertyBag empty;
        h->WriteProperties(empty);
        QVERIFY(empty.isEmpty());
    }
};

QTEST_MAIN(TestXpHelp)
#include "tst_xphelp.moc"
