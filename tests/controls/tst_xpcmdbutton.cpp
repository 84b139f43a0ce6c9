// The command button's events, pointer-leave polling and looks, read from its surface.
#include "controltest.h"
#include "xpcmdbutton.h"

#include <QKeyEvent>
#include <QLabel>
#include <QScopeGuard>
#include <QSet>
#include <QStyle>
#include <QTest>
#include <cmath>
#include <memory>

using namespace controltest;

namespace {

QImage faceCell(int n) {
    const QImage strip(QStringLiteral(":/controls/command_button/facestrip.png"));
    return strip.copy(n * 18, 0, 18, 21).convertToFormat(QImage::Format_RGB32);
}

// Which of the five looks the surface shows, told by its top and bottom frame rows;
// -1 when it shows none of them.
int lookOf(const xpcmdbutton& b) {
    const QImage& s = b.surface();
    const int mid = s.width() / 2;
    for (int n = 0; n < 5; ++n) {
        const QImage cell = faceCell(n);
        if (s.pixel(mid, 1) == cell.pixel(9, 1) && s.pixel(mid, 2) == cell.pixel(9, 2) &&
            s.pixel(mid, s.height() - 2) == cell.pixel(9, 19))
            return n;
    }
    return -1;
}

// Everything the button raises, in order, with its arguments.
struct Recorder : EventLog {
    explicit Recorder(xpcmdbutton* b) {
        auto pointer = [this](const char* name) {
            return [this, name](short& Button, short& Shift, float& x, float& Y) {
                events << QStringLiteral("%1 %2 %3 %4,%5")
                              .arg(QLatin1String(name))
                              .arg(Button)
                              .arg(Shift)
                              .arg(double(x))
                              .arg(double(Y));
            };
        };
        QObject::connect(b, &xpcmdbutton::MouseDown, b, pointer("MouseDown"));
        QObject::connect(b, &xpcmdbutton::MouseMove, b, pointer("MouseMove"));
        QObject::connect(b, &xpcmdbutton::MouseUp, b, pointer("MouseUp"));
        QObject::connect(b, &xpcmdbutton::Click, b, [this] { events << "Click"; });
        QObject::connect(b, &xpcmdbutton::MouseOut, b, [this] { events << "MouseOut"; });
        QObject::connect(b, &xpcmdbutton::KeyDown, b, [this](short& k, short& s) {
            events << QStringLiteral("KeyDown %1 %2").arg(k).arg(s);
        });
        QObject::connect(b, &xpcmdbutton::KeyPress, b,
                         [this](short& a) { events << QStringLiteral("KeyPress %1").arg(a); });
        QObject::connect(b, &xpcmdbutton::KeyUp, b, [this](short& k, short& s) {
            events << QStringLiteral("KeyUp %1 %2").arg(k).arg(s);
        });
    }
};

} // namespace

class TestXpCmdButton : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_Window;
    xpcmdbutton* m_Button = nullptr;

    void makeButton(QSize size) {
        m_Window = std::make_unique<QWidget>();
        m_Window->resize(300, 120);
        m_Button = new xpcmdbutton(m_Window.get());
        m_Button->setObjectName(QStringLiteral("xpcmdbutton1"));
        m_Button->setGeometry(QRect(QPoint(40, 30), size));
        pointerAway(m_Window.get());
        m_Window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_Window.get()));
    }

private slots:
    void init() { makeButton(QSize(129, 25)); }
    void cleanup() {
        m_Window.reset();
        Pointer::clearOverride();
    }

    void plainClickRaisesEventsInOrderAndDrawsEachLook() {
        Recorder r(m_Button);
        int lookAtClick = -1;
        connect(m_Button, &xpcmdbutton::Click, this, [&] { lookAtClick = lookOf(*m_Button); });
        QVERIFY(!m_Button->isPolling());

        move(m_Button, {5, 5});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Hot));
        QVERIFY(m_Button->isPolling());
        press(m_Button, {6, 5});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
        move(m_Button, {7, 6}, Qt::LeftButton);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
        release(m_Button, {7, 6});
        QCOMPARE(lookAtClick, int(xpcmdbutton::Normal)); // resting look before Click
        QCOMPARE(r.events, QStringList({"MouseMove 0 0 5,5", "MouseDown 1 0 6,5",
                                        "MouseMove 1 0 7,6", "MouseUp 1 0 7,6", "Click"}));

        // Still over the button: the next move is Hot again and polling goes on.
        move(m_Button, {8, 6});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Hot));
        QTest::qWait(50);
        QCOMPARE(r.count("MouseOut"), 0);

        pointerAway(m_Window.get());
        QTRY_COMPARE_WITH_TIMEOUT(r.count("MouseOut"), 1, 5000);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Normal));
        QVERIFY(!m_Button->isPolling()); // nothing polls until the pointer is back
        QCOMPARE(runningTimers(m_Button), 0);
        TickCounter idle(m_Button);
        QTest::qWait(100);
        QCOMPARE(idle.ticks, 0);
        QCOMPARE(r.count("MouseOut"), 1);
        QCOMPARE(r.events.last(), QStringLiteral("MouseOut"));
    }

    void pressDragOutStaysPressedUntilTheTick() {
        Recorder r(m_Button);
        press(m_Button, {10, 10});
        // Captured outside with the button held: no event, no drawing, but the timer runs.
        move(m_Button, {200, 80}, Qt::LeftButton);
        QCOMPARE(r.count("MouseMove"), 0);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
        QTRY_COMPARE_WITH_TIMEOUT(r.count("MouseOut"), 1, 5000);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Normal));
        QVERIFY(!m_Button->isPolling());

        move(m_Button, {12, 10}, Qt::LeftButton); // back in with the button still held
        QCOMPARE(r.count("MouseMove"), 1);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
        release(m_Button, {300, 10}); // released outside: no click
        QCOMPARE(r.count("MouseUp"), 1);
        QCOMPARE(r.count("Click"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(r.count("MouseOut"), 2, 5000);
    }

    void otherButtonsAndDoubleClicks() {
        Recorder r(m_Button);
        move(m_Button, {10, 10}, Qt::RightButton);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Hot));
        move(m_Button, {10, 10}, Qt::LeftButton | Qt::RightButton);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Hot)); // only the primary alone presses
        press(m_Button, {10, 10}, Qt::RightButton);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
        release(m_Button, {10, 10}, Qt::RightButton);
        QCOMPARE(r.count("Click"), 0);
        QCOMPARE(r.count("MouseUp 2"), 1);

        r.events.clear();
        press(m_Button, {10, 10});
        release(m_Button, {10, 10});
        mouse(m_Button, QEvent::MouseButtonDblClick, {10, 10}, Qt::LeftButton, Qt::LeftButton);
        release(m_Button, {10, 10});
        QCOMPARE(r.events, QStringList({"MouseDown 1 0 10,10", "MouseUp 1 0 10,10", "Click",
                                        "MouseUp 1 0 10,10"}));
    }

    void handlersCanChangeTheArguments() {
        // A MouseMove handler that claims the primary button is held gets the Pressed look.
        connect(m_Button, &xpcmdbutton::MouseMove, this,
                [](short& Button, short&, float&, float&) { Button = 1; });
        move(m_Button, {10, 10});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
    }

    void captionHandsThePointerToTheButton() {
        Recorder r(m_Button);
        QLabel* lbl = m_Button->captionLabel();
        QVERIFY(lbl->geometry().contains(QPoint(m_Button->width() / 2, m_Button->height() / 2)));
        move(lbl, {2, 3});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Hot));
        QVERIFY(m_Button->isPolling());
        press(lbl, {2, 3});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Pressed));
        release(lbl, {2, 3});
        // Coordinates stay the caption's own.
        QCOMPARE(r.events, QStringList({"MouseMove 0 0 2,3", "MouseDown 1 0 2,3", "MouseUp 1 0 2,3",
                                        "Click"}));
        pointerAway(m_Window.get());
        QTRY_COMPARE_WITH_TIMEOUT(r.count("MouseOut"), 1, 5000);
    }

    void clicksDeliveredByTheWindowSystem() {
        // Through the toolkit's own routing (pointer grab included), not straight to us.
        Recorder r(m_Button);
        QLabel* lbl = m_Button->captionLabel();
        QTest::mouseClick(lbl, Qt::LeftButton, Qt::NoModifier, QPoint(2, 3));
        QTest::mouseClick(m_Button, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
        QCOMPARE(r.count("MouseDown"), 2);
        QCOMPARE(r.count("Click"), 2);
        QVERIFY(r.events.contains("MouseUp 1 0 2,3"));
        QVERIFY(r.events.contains("MouseUp 1 0 4,4"));
    }

    void edgesCountAsInsideForTheTimerButNotForAClick() {
        Recorder r(m_Button);
        move(m_Button, {10, 10});
        Pointer::setPosition(m_Button->mapToGlobal(QPoint(m_Button->width(), m_Button->height())));
        QTest::qWait(60);
        QCOMPARE(r.count("MouseOut"), 0);
        QVERIFY(m_Button->isPolling());
        // A click is the toolkit's: released on the pixel beyond the edge, the press is lost.
        press(m_Button, {10, 10});
        release(m_Button, {double(m_Button->width()), 10});
        QCOMPARE(r.count("MouseUp"), 1);
        QCOMPARE(r.count("Click"), 0);
        Pointer::setPosition(m_Button->mapToGlobal(QPoint(m_Button->width() + 1, 0)));
        QTRY_COMPARE_WITH_TIMEOUT(r.count("MouseOut"), 1, 5000);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Normal));
    }

    void keysRaiseTheirEventsOnly() {
        Recorder r(m_Button);
        QKeyEvent down(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
        QApplication::sendEvent(m_Button, &down);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
        QApplication::sendEvent(m_Button, &up);
        QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
        QApplication::sendEvent(m_Button, &f5);
        QCOMPARE(r.events,
                 QStringList({"KeyDown 65 1", "KeyPress 65", "KeyUp 65 1", "KeyDown 116 0"}));
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Normal));
    }

    void keyCodesNameTheKeyNotItsCharacter() {
        // Shift and the keypad change the character a key makes, never the key's number.
        Recorder r(m_Button);
        auto key = [this](QEvent::Type type, int k, Qt::KeyboardModifiers m, const char* text) {
            QKeyEvent e(type, k, m, QString::fromLatin1(text));
            QApplication::sendEvent(m_Button, &e);
        };
        key(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier, "!");     // Shift+1
        key(QEvent::KeyPress, Qt::Key_ParenRight, Qt::ShiftModifier, ")"); // Shift+0
        key(QEvent::KeyPress, Qt::Key_Asterisk, Qt::ShiftModifier, "*");   // Shift+8
        key(QEvent::KeyPress, Qt::Key_BracketLeft, Qt::NoModifier, "[");
        key(QEvent::KeyPress, Qt::Key_QuoteDbl, Qt::ShiftModifier, "\"");
        key(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier, "5");
        key(QEvent::KeyPress, Qt::Key_Asterisk, Qt::KeypadModifier, "*");
        key(QEvent::KeyPress, Qt::Key_Period, Qt::KeypadModifier, ".");
        key(QEvent::KeyRelease, Qt::Key_Minus, Qt::KeypadModifier, "-");
        QStringList keys;
        for (const QString& e : r.events)
            if (!e.startsWith(QStringLiteral("KeyPress")))
                keys << e;
        QCOMPARE(keys, QStringList({"KeyDown 49 1", "KeyDown 48 1", "KeyDown 56 1", "KeyDown 219 0",
                                    "KeyDown 222 1", "KeyDown 101 0", "KeyDown 106 0",
                                    "KeyDown 110 0", "KeyUp 109 0"}));
        QCOMPARE(r.count("KeyPress"), 8); // the characters themselves are unchanged
        QVERIFY(r.events.contains(QStringLiteral("KeyPress 33")));
    }

    void exactCellsAtTheStripSize() {
        makeButton(QSize(18, 21));
        auto shows = [this](int n) {
            return m_Button->surface().convertToFormat(QImage::Format_RGB32) == faceCell(n);
        };
        QVERIFY(shows(xpcmdbutton::Normal));
        move(m_Button, {3, 3});
        QVERIFY(shows(xpcmdbutton::Hot));
        press(m_Button, {3, 3});
        QVERIFY(shows(xpcmdbutton::Pressed));
        release(m_Button, {3, 3});
        m_Button->setState(1);
        QVERIFY(shows(xpcmdbutton::Highlighted));
        m_Button->setEnabled_(false);
        QVERIFY(shows(xpcmdbutton::Disabled));
        // A repaint shows what was drawn last (no caption over it here).
        m_Button->setCaption(QString());
        QCOMPARE(m_Button->grab().toImage().convertToFormat(QImage::Format_RGB32),
                 faceCell(xpcmdbutton::Disabled));
    }

    void ninePiecesKeepCornersAndFrameAtAnySize() {
        move(m_Button, {3, 3}); // Hot: the frame that must keep its width
        const QImage s = m_Button->surface();
        const QImage cell = faceCell(xpcmdbutton::Hot);
        const int W = s.width(), H = s.height();
        QCOMPARE(QSize(W, H), QSize(129, 25));
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 3; ++x) {
                QCOMPARE(s.pixel(x, y), cell.pixel(x, y));
                QCOMPARE(s.pixel(W - 3 + x, y), cell.pixel(15 + x, y));
                QCOMPARE(s.pixel(x, H - 3 + y), cell.pixel(x, 18 + y));
                QCOMPARE(s.pixel(W - 3 + x, H - 3 + y), cell.pixel(15 + x, 18 + y));
            }
        }
        // Top and bottom frame rows run the whole width; side bands stay two pixels wide.
        for (int x = 3; x < W - 3; ++x) {
            QCOMPARE(s.pixel(x, 0), cell.pixel(9, 0));
            QCOMPARE(s.pixel(x, 1), cell.pixel(9, 1));
            QCOMPARE(s.pixel(x, 2), cell.pixel(9, 2));
            QCOMPARE(s.pixel(x, H - 2), cell.pixel(9, 19));
        }
        const QImage face = faceCell(xpcmdbutton::Normal);
        auto column = [&cell](int x) { // the colours of one column of the cell's side rows
            QSet<QRgb> colours;
            for (int y = 3; y <= 17; ++y)
                colours.insert(cell.pixel(x, y));
            return colours;
        };
        for (int y = 3; y < H - 3; ++y) {
            QCOMPARE(s.pixel(0, y), cell.pixel(0, 10));
            QVERIFY(column(1).contains(s.pixel(1, y)));
            QVERIFY(column(2).contains(s.pixel(2, y)));
            QVERIFY(!column(2).contains(s.pixel(3, y))); // the face starts at column 3
            QVERIFY(!column(15).contains(s.pixel(W - 4, y)));
            QVERIFY(column(15).contains(s.pixel(W - 3, y)));
            QVERIFY(column(16).contains(s.pixel(W - 2, y)));
            QCOMPARE(s.pixel(W - 1, y), cell.pixel(17, 10));
        }
        // The centre is the cell's 12 x 15 face stretched to 123 x 19.
        QCOMPARE(s.pixel(3, 3), cell.pixel(3, 3));
        QCOMPARE(s.pixel(W - 4, H - 4), cell.pixel(14, 17));
        QCOMPARE(s.pixel(W / 2, H / 2), cell.pixel(9, 10));
        QCOMPARE(s.pixel(W / 2, H / 2), face.pixel(9, 10));
    }

    void stateSelectsTheRestingLook() {
        m_Button->setState(2); // from 0: anything else keeps Normal
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Normal));
        m_Button->setState(1);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Highlighted));
        m_Button->setState(2);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Highlighted));
        QCOMPARE(m_Button->State(), 2);
        // Hovering and pressing still show their own looks; leaving returns to Highlighted.
        move(m_Button, {5, 5});
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Hot));
        pointerAway(m_Window.get());
        QTRY_COMPARE_WITH_TIMEOUT(lookOf(*m_Button), int(xpcmdbutton::Highlighted), 5000);
        m_Button->setState(0);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Normal));
    }

    void disabledLookAndCaptionColour() {
        QFont f(QStringLiteral("Liberation Sans"), 12);
        f.setStyleStrategy(QFont::NoAntialias); // caption pixels carry its exact colour
        m_Button->setFont_(f);
        m_Button->setCaption(QStringLiteral("MMMM"));
        m_Button->setState(1);
        auto captionPixels = [this](QRgb colour) {
            const QImage img = m_Button->grab().toImage().convertToFormat(QImage::Format_RGB32);
            int n = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    n += img.pixel(x, y) == colour;
            return n;
        };
        QVERIFY(captionPixels(qRgb(0, 0, 0)) > 10);
        QCOMPARE(captionPixels(qRgb(161, 161, 146)), 0);

        m_Button->setEnabled_(false);
        QVERIFY(!m_Button->Enabled());
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Disabled));
        QVERIFY(captionPixels(qRgb(161, 161, 146)) > 10);
        QCOMPARE(captionPixels(qRgb(0, 0, 0)), 0);
        Recorder r(m_Button);
        move(m_Button, {5, 5});
        press(m_Button, {5, 5});
        move(m_Button->captionLabel(), {1, 1});
        QVERIFY(r.events.isEmpty()); // no pointer input reaches a disabled button
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Disabled));

        m_Button->setEnabled_(true);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Highlighted));
        QVERIFY(captionPixels(qRgb(0, 0, 0)) > 10);

        // A press that disabling cut short gives no click on its release.
        press(m_Button, {5, 5});
        m_Button->setEnabled_(false);
        m_Button->setEnabled_(true);
        release(m_Button, {5, 5});
        QCOMPARE(r.count("Click"), 0);
        QCOMPARE(r.count("MouseUp"), 1);

        // A disabled window disables its button's look too, and gives it back.
        m_Window->setEnabled(false);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Disabled));
        QVERIFY(m_Button->Enabled()); // its own flag is untouched
        m_Window->setEnabled(true);
        QCOMPARE(lookOf(*m_Button), int(xpcmdbutton::Highlighted));
    }

    void disabledCaptionIsOneFlatColourInTheWindowsStyle() {
        // The desktop's own styles etch disabled text with a light copy one pixel down and
        // right; the caption must show its grey alone on the face.
        const QString before = QApplication::style()->name();
        if (!QApplication::setStyle(QStringLiteral("Windows")))
            QSKIP("the Windows style is not built into this Qt");
        const auto restore = qScopeGuard([&] { QApplication::setStyle(before); });
        makeButton(QSize(129, 25));
        QFont f(QStringLiteral("Liberation Sans"), 12);
        f.setStyleStrategy(QFont::NoAntialias);
        m_Button->setFont_(f);
        m_Button->setCaption(QStringLiteral("MMMM"));
        m_Button->setEnabled_(false);
        const QImage img = m_Button->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRgb face = faceCell(xpcmdbutton::Disabled).pixel(9, 10);
        const QRect area = m_Button->captionLabel()->geometry().intersected(QRect(3, 3, 123, 19));
        int grey = 0;
        int other = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QRgb p = img.pixel(x, y);
                grey += p == qRgb(161, 161, 146);
                other += p != qRgb(161, 161, 146) && p != face;
            }
        }
        QVERIFY(grey > 10);
        QCOMPARE(other, 0);
    }

    void captionIsCentredAfterEveryChange() {
        QLabel* lbl = m_Button->captionLabel();
        auto centred = [&] {
            const int left = int(std::floor((m_Button->width() - lbl->width()) / 2.0 + 0.5));
            const int top = int(std::floor((m_Button->height() - lbl->height()) / 2.0 + 0.5));
            return lbl->pos() == QPoint(left, top) && lbl->size() == lbl->sizeHint();
        };
        QCOMPARE(m_Button->Caption(), QStringLiteral("xpcmdbutton1"));
        QVERIFY(centred());
        const int before = lbl->width();
        m_Button->setCaption(QStringLiteral("Refresh All, and then some"));
        QVERIFY(lbl->width() > before);
        QVERIFY(centred());
        m_Button->setFont_(QFont(QStringLiteral("Liberation Serif"), 20));
        QCOMPARE(lbl->font().pointSize(), 20);
        QVERIFY(centred());
        QVERIFY(lbl->x() < 0); // wider than the button: cut off on both sides
        QVERIFY(std::abs(lbl->x() + (lbl->x() + lbl->width() - m_Button->width())) <= 1);
        m_Button->resize(300, 40);
        QVERIFY(centred());
        QCOMPARE(m_Button->surface().size(), QSize(300, 40));
    }
};

QTEST_MAIN(TestXpCmdButton)
#include "tst_xpcmdbutton.moc"
