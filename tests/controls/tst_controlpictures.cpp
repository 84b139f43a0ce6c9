// The picture strips (committed, embedded, and in step with their generator), the picture
// clip that cuts them, and the settable pointer.
#include "pictureclip.h"
#include "platformerror.h"
#include "pointer.h"
#include "stripgenerator.h"
#include "xphelp.h"

#include <QCursor>
#include <QTest>
#include <stdexcept>

namespace {
const QString FaceFile = QStringLiteral(CONTROLS_SOURCE_DIR "/command_button/facestrip.png");
const QString HelpFile = QStringLiteral(CONTROLS_SOURCE_DIR "/help_hint/helpstrip.png");

bool samePixels(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}
} // namespace

class TestControlPictures : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        xphelp loader; // registers the controls' resources
    }

    void committedStripsMatchTheGeneratorAndTheResources() {
        const QImage face(FaceFile);
        QCOMPARE(face.size(), QSize(90, 21));
        QCOMPARE(face.format(), QImage::Format_Indexed8);
        QCOMPARE(face.colorCount(), 256);
        QVERIFY(samePixels(face, StripGenerator::FaceStrip()));
        QVERIFY(samePixels(face, QImage(":/controls/command_button/facestrip.png")));

        const QImage help(HelpFile);
        QCOMPARE(help.size(), QSize(63, 21));
        QVERIFY(!help.hasAlphaChannel());
        QCOMPARE(help.format(), QImage::Format_RGB32); // 24-bit colour, no palette
        QVERIFY(samePixels(help, StripGenerator::HelpStrip()));
        QVERIFY(samePixels(help, QImage(":/controls/help_hint/helpstrip.png")));
    }

    void faceCellsShareOneStructure() {
        const PictureClip pc(FaceFile, 1, 5);
        QCOMPARE(pc.CellWidth(), 18);
        QCOMPARE(pc.CellHeight(), 21);
        const QImage normal = pc.GraphicCell(0);
        for (int n : {0, 1, 3, 4}) {
            const QImage c = pc.GraphicCell(n);
            for (int x = 3; x <= 14; ++x) {
                QCOMPARE(c.pixel(x, 0), qRgb(0x00, 0x3C, 0x74));
                QCOMPARE(c.pixel(x, 20), qRgb(0x00, 0x3C, 0x74));
            }
            for (int y = 3; y <= 17; ++y) {
                QCOMPARE(c.pixel(0, y), qRgb(0x00, 0x3C, 0x74));
                QCOMPARE(c.pixel(17, y), qRgb(0x00, 0x3C, 0x74));
            }
            QCOMPARE(c.pixel(0, 0), qRgb(0xDD, 0xD7, 0xC5));
            QCOMPARE(c.pixel(17, 0), qRgb(0xE1, 0xDC, 0xCA));
            QCOMPARE(c.pixel(0, 20), qRgb(0xEC, 0xEA, 0xD9));
            QCOMPARE(c.pixel(17, 20), qRgb(0xF9, 0xF8, 0xF2));
        }
        // Hot and Highlighted mark their look only within three pixels of the edge, so the
        // stretched face proper is Normal's.
        for (int n : {3, 4})
            QCOMPARE(pc.GraphicCell(n).copy(3, 3, 12, 15), normal.copy(3, 3, 12, 15));
        QCOMPARE(normal.pixel(9, 1), qRgb(0xFF, 0xFF, 0xFF));
        QCOMPARE(normal.pixel(9, 3), qRgb(0xFC, 0xFC, 0xFB));
        QCOMPARE(normal.pixel(9, 16), qRgb(0xF0, 0xF0, 0xEA));
        QCOMPARE(normal.pixel(9, 19), qRgb(0xD6, 0xD0, 0xC5));
        const QImage hot = pc.GraphicCell(3);
        QCOMPARE(hot.pixel(9, 1), qRgb(0xFF, 0xF0, 0xCF));
        QCOMPARE(hot.pixel(9, 2), qRgb(0xFD, 0xD8, 0x89));
        QCOMPARE(hot.pixel(1, 17), qRgb(0xF9, 0xB4, 0x35));
        QCOMPARE(hot.pixel(9, 19), qRgb(0xE5, 0x97, 0x00));
        const QImage high = pc.GraphicCell(4);
        QCOMPARE(high.pixel(9, 1), qRgb(0xCE, 0xE7, 0xFF));
        QCOMPARE(high.pixel(16, 3), qRgb(0xBA, 0xD3, 0xF5));
        QCOMPARE(high.pixel(9, 19), qRgb(0x69, 0x82, 0xEE));
        const QImage disabled = pc.GraphicCell(2);
        QCOMPARE(disabled.pixel(9, 0), qRgb(0xC9, 0xC7, 0xBA));
        QCOMPARE(disabled.pixel(0, 0), qRgb(0xFF, 0xFF, 0xFF));
        QCOMPARE(disabled.pixel(9, 10), qRgb(0xF5, 0xF4, 0xEA));
        QCOMPARE(pc.GraphicCell(1).pixel(9, 1), qRgb(0xD1, 0xCC, 0xC1));
    }

    void helpCellsHaveTheirColours() {
        const PictureClip pc(HelpFile, 1, 3);
        QCOMPARE(pc.CellWidth(), 21);
        struct Range {
            int rLo, rHi, gLo, gHi, b;
        };
        const Range faces[] = {
            {48, 80, 111, 128, 240}, {63, 111, 127, 159, 255}, {0, 0, 79, 79, 176}};
        for (int n = 0; n < 3; ++n) {
            const QImage c = pc.GraphicCell(n);
            for (int i = 0; i < 21; ++i) { // the one-pixel white rim
                QCOMPARE(c.pixel(i, 0), qRgb(255, 255, 255));
                QCOMPARE(c.pixel(20, i), qRgb(255, 255, 255));
            }
            for (const QPoint p : {QPoint(3, 3), QPoint(17, 17), QPoint(3, 17)}) {
                const QRgb face = c.pixel(p);
                QVERIFY(qRed(face) >= faces[n].rLo && qRed(face) <= faces[n].rHi);
                QVERIFY(qGreen(face) >= faces[n].gLo && qGreen(face) <= faces[n].gHi);
                QCOMPARE(qBlue(face), faces[n].b);
            }
            QVERIFY(qRed(c.pixel(10, 14)) > 180); // the question mark's dot is pale
        }
    }

    void pictureClipCutsAndRefuses() {
        QImage strip(6, 4, QImage::Format_RGB32);
        for (int x = 0; x < 6; ++x)
            for (int y = 0; y < 4; ++y)
                strip.setPixel(x, y, qRgb(x * 40, y * 60, 0));
        const PictureClip pc(strip, 2, 3);
        QCOMPARE(pc.GraphicCell(0), strip.copy(0, 0, 2, 2));
        QCOMPARE(pc.GraphicCell(4), strip.copy(2, 2, 2, 2)); // second row, second column
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, pc.GraphicCell(6));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, pc.GraphicCell(-1));
        QVERIFY_THROWS_EXCEPTION(PlatformError, PictureClip(strip, 1, 4));
        QVERIFY_THROWS_EXCEPTION(PlatformError, PictureClip(QStringLiteral(":/no/such.png"), 1, 1));
    }

    void pointerCanBeSetAndReleased() {
        Pointer::setPosition(QPoint(-4321, 1234));
        QCOMPARE(Pointer::position(), QPoint(-4321, 1234));
        QVERIFY(Pointer::isOverridden());
        Pointer::clearOverride();
        QVERIFY(!Pointer::isOverridden());
        QCOMPARE(Pointer::position(), QCursor::pos());
    }
};

QTEST_MAIN(TestControlPictures)
#include "tst_controlpictures.moc"
