#include "stripgenerator.h"

#include <QColor>
#include <QHash>
#include <array>

namespace {

constexpr int FaceW = 18;
constexpr int FaceH = 21;
constexpr int HelpSide = 21;

QRgb mix(QRgb from, QRgb to, double t) {
    auto lerp = [t](int a, int b) { return int(a + (b - a) * t + 0.5); };
    return qRgb(lerp(qRed(from), qRed(to)), lerp(qGreen(from), qGreen(to)),
                lerp(qBlue(from), qBlue(to)));
}

using FaceCell = std::array<std::array<QRgb, FaceW>, FaceH>; // [row][column]

// Border and curved corners; `outer` are the outermost corner pixels (TL, TR, BL, BR),
// `edge` the border pixels next to them and `inner` the diagonal pixel inside.
void drawBorder(FaceCell& c, QRgb border, const std::array<QRgb, 4>& outer, QRgb edge, QRgb inner,
                QRgb innerBand) {
    for (int x = 0; x < FaceW; ++x)
        c[0][x] = c[FaceH - 1][x] = border;
    for (int y = 0; y < FaceH; ++y)
        c[y][0] = c[y][FaceW - 1] = border;
    const int xs[2] = {0, FaceW - 1};
    const int ys[2] = {0, FaceH - 1};
    for (int cy = 0; cy < 2; ++cy) {
        for (int cx = 0; cx < 2; ++cx) {
            const int x = xs[cx], y = ys[cy];
            const int dx = cx ? -1 : 1, dy = cy ? -1 : 1;
            c[y][x] = outer[cy * 2 + cx];
            c[y][x + dx] = c[y + dy][x] = edge;
            c[y + dy][x + dx] = inner;
            if (innerBand != 0)
                c[y + dy][x + 2 * dx] = c[y + 2 * dy][x + dx] = innerBand;
        }
    }
}

const std::array<QRgb, 4> WindowCorners = {0xFFDDD7C5, 0xFFE1DCCA, 0xFFECEAD9, 0xFFF9F8F2};
constexpr QRgb Border = 0xFF003C74;
constexpr QRgb BorderEdgeBlend = 0xFF65869F;
constexpr QRgb BorderInnerBlend = 0xFF225583;

FaceCell normalCell() {
    FaceCell c{};
    for (int y = 1; y < FaceH - 1; ++y) {
        QRgb face;
        if (y == 1)
            face = 0xFFFFFFFF;
        else if (y == 2)
            face = 0xFFFEFEFE;
        else if (y <= 16)
            face = mix(0xFFFCFCFB, 0xFFF0F0EA, (y - 3) / 13.0);
        else if (y == 17)
            face = 0xFFECEBE6;
        else if (y == 18)
            face = 0xFFE2DFD6;
        else
            face = 0xFFD6D0C5;
        for (int x = 1; x < FaceW - 1; ++x)
            c[y][x] = face;
        if (y <= 17) // the soft shadow on the right
            c[y][15] = c[y][16] = mix(0xFFF6F4F2, 0xFFE0DED4, (y - 1) / 16.0);
    }
    drawBorder(c, Border, WindowCorners, BorderEdgeBlend, BorderInnerBlend, 0);
    return c;
}

FaceCell pressedCell() {
    FaceCell c{};
    for (int y = 1; y < FaceH - 1; ++y) {
        QRgb face;
        if (y == 1)
            face = 0xFFD1CCC1;
        else if (y == 2)
            face = 0xFFDCD8CF;
        else if (y <= 17)
            face = mix(0xFFE2E1D9, 0xFFE6E6E0, (y - 3) / 14.0);
        else if (y == 18)
            face = 0xFFEAE9E3;
        else
            face = 0xFFF2F1EE;
        for (int x = 1; x < FaceW - 1; ++x)
            c[y][x] = face;
        if (y >= 3 && y <= 17) { // the inner shadow on the left
            c[y][1] = 0xFFD7D4CA;
            c[y][2] = 0xFFDDDBD2;
        }
    }
    drawBorder(c, Border, WindowCorners, BorderEdgeBlend, BorderInnerBlend, 0);
    return c;
}

FaceCell disabledCell() {
    FaceCell c{};
    for (auto& row : c)
        row.fill(0xFFF5F4EA);
    drawBorder(c, 0xFFC9C7BA, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 0xFFEAE9DE,
               0xFFD8D6CA, 0xFFEEEDE2);
    return c;
}

// The Normal cell with a two-pixel inner frame: rows 1-2 on top, 18-19 at the bottom and
// a band on each side that runs from `sideTop` (row 3) to `sideBottom` (row 17).
FaceCell framedCell(QRgb row1, QRgb row2, QRgb sideTop, QRgb sideBottom, QRgb row18, QRgb row19,
                    QRgb innerBlend) {
    FaceCell c = normalCell();
    for (int x = 1; x < FaceW - 1; ++x) {
        c[1][x] = row1;
        c[2][x] = row2;
        c[18][x] = row18;
        c[19][x] = row19;
    }
    for (int y = 3; y <= 17; ++y) {
        const QRgb side = mix(sideTop, sideBottom, (y - 3) / 14.0);
        c[y][1] = c[y][2] = c[y][15] = c[y][16] = side;
    }
    drawBorder(c, Border, WindowCorners, BorderEdgeBlend, innerBlend, 0);
    return c;
}

FaceCell hotCell() {
    FaceCell c = framedCell(0xFFFFF0CF, 0xFFFDD889, 0xFFFEDF9A, 0xFFF9B435, 0xFFF8B330, 0xFFE59700,
                            BorderInnerBlend);
    c[3][2] = c[4][2] = c[3][15] = c[4][15] = 0xFFFCD279; // warmer inner column near the top
    return c;
}

FaceCell highlightedCell() {
    return framedCell(0xFFCEE7FF, 0xFFBCD4F6, 0xFFBAD3F5, 0xFF89ADE4, 0xFF89ADE4, 0xFF6982EE,
                      0xFF274D85);
}

// A 7 x 10 question mark with two-pixel strokes.
constexpr std::array<const char*, 10> QuestionMark = {
    ".#####.", "##...##", "##...##", "....##.", "...##..",
    "..##...", "..##...", ".......", "..##...", "..##...",
};

void drawHelpCell(QImage& strip, int cell, QRgb top, QRgb bottom, QRgb mark) {
    const int left = cell * HelpSide;
    for (int y = 0; y < HelpSide; ++y) {
        for (int x = 0; x < HelpSide; ++x) {
            const bool rim = x == 0 || y == 0 || x == HelpSide - 1 || y == HelpSide - 1;
            const bool corner =
                (x == 1 || x == HelpSide - 2) && (y == 1 || y == HelpSide - 2); // rounded
            const QRgb face = mix(top, bottom, (y - 1) / double(HelpSide - 3));
            QRgb c = face;
            if (rim)
                c = 0xFFFFFFFF;
            else if (corner)
                c = mix(face, 0xFFFFFFFF, 0.6);
            strip.setPixel(left + x, y, c);
        }
    }
    for (int row = 0; row < int(QuestionMark.size()); ++row)
        for (int col = 0; QuestionMark[row][col]; ++col)
            if (QuestionMark[row][col] == '#')
                strip.setPixel(left + 7 + col, 5 + row, mark);
}

} // namespace

QImage StripGenerator::FaceStrip() {
    const std::array<FaceCell, 5> cells = {normalCell(), pressedCell(), disabledCell(), hotCell(),
                                           highlightedCell()};
    QList<QRgb> palette;
    QHash<QRgb, int> index;
    QImage strip(FaceW * int(cells.size()), FaceH, QImage::Format_Indexed8);
    strip.setColorCount(256); // a full 256-colour palette, as the format promises
    for (int n = 0; n < int(cells.size()); ++n) {
        for (int y = 0; y < FaceH; ++y) {
            for (int x = 0; x < FaceW; ++x) {
                const QRgb c = cells[n][y][x];
                auto it = index.constFind(c);
                if (it == index.constEnd()) {
                    it = index.insert(c, int(palette.size()));
                    palette.append(c);
                }
                strip.setPixel(n * FaceW + x, y, uint(*it));
            }
        }
    }
    Q_ASSERT(palette.size() <= 256);
    while (palette.size() < 256)
        palette.append(qRgb(0, 0, 0));
    strip.setColorTable(palette);
    return strip;
}

QImage StripGenerator::HelpStrip() {
    QImage strip(HelpSide * 3, HelpSide, QImage::Format_RGB888);
    drawHelpCell(strip, 0, qRgb(80, 128, 240), qRgb(48, 111, 240), qRgb(255, 255, 255));
    drawHelpCell(strip, 1, qRgb(111, 159, 255), qRgb(63, 127, 255), qRgb(255, 255, 255));
    drawHelpCell(strip, 2, qRgb(0, 79, 176), qRgb(0, 79, 176), qRgb(190, 214, 255));
    return strip;
}
