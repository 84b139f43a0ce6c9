// Writes corvala.svg, icons/corvala-<size>.png and banner.png into the folder given.
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <cstdio>

namespace {

// A server rack of three units in a rounded blue tile, the middle unit lit green.
const char* const kIconSvg = R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#2f6fd1"/>
      <stop offset="1" stop-color="#163f86"/>
    </linearGradient>
  </defs>
  <rect x="8" y="8" width="240" height="240" rx="44" fill="url(#tile)"/>
  <rect x="52" y="48" width="152" height="44" rx="10" fill="#eef3fb"/>
  <rect x="52" y="106" width="152" height="44" rx="10" fill="#eef3fb"/>
  <rect x="52" y="164" width="152" height="44" rx="10" fill="#eef3fb"/>
  <circle cx="178" cy="70" r="9" fill="#8a9bb8"/>
  <circle cx="178" cy="128" r="9" fill="#2fb24a"/>
  <circle cx="178" cy="186" r="9" fill="#8a9bb8"/>
  <rect x="70" y="64" width="70" height="12" rx="4" fill="#163f86"/>
  <rect x="70" y="122" width="70" height="12" rx="4" fill="#163f86"/>
  <rect x="70" y="180" width="70" height="12" rx="4" fill="#163f86"/>
</svg>
)svg";

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

QImage RenderIcon(QSvgRenderer& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    svg.render(&p);
    return image;
}

QImage Banner(QSvgRenderer& svg) {
    QImage image(256, 124, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 124);
    sky.setColorAt(0, QColor(0x2f, 0x6f, 0xd1));
    sky.setColorAt(1, QColor(0x10, 0x2e, 0x66));
    p.fillRect(image.rect(), sky);
    // Faint rack rows behind the lettering.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 24));
    for (int y = 10; y < 124; y += 22)
        p.drawRoundedRect(QRectF(150, y, 96, 14), 4, 4);
    svg.render(&p, QRectF(14, 26, 64, 64));
    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(88, 28, 168, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Corvala"));
    QFont sub(QStringLiteral("Liberation Sans"));
    sub.setPixelSize(12);
    p.setFont(sub);
    p.setPen(QColor(0xd6, 0xe2, 0xf7));
    p.drawText(QRectF(90, 66, 166, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("WHM account manager"));
    p.setPen(QColor(0xa8, 0xbd, 0xe6));
    p.drawText(QRectF(90, 98, 166, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Version 1.7"));
    return image;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeresources RESOURCES-FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("icons"));
    QFile svgFile(out.filePath(QStringLiteral("corvala.svg")));
    if (!svgFile.open(QIODevice::WriteOnly) || svgFile.write(kIconSvg) < 0)
        return 1;
    svgFile.close();
    QSvgRenderer svg{QByteArray(kIconSvg)};
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        ok &= Save(RenderIcon(svg, size),
                   out.filePath(QStringLiteral("icons/corvala-%1.png").arg(size)));
    ok &= Save(Banner(svg), out.filePath(QStringLiteral("banner.png")));
    return ok ? 0 : 1;
}
