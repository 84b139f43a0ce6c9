#include "pictureclip.h"

#include "platformerror.h"

#include <stdexcept>

PictureClip::PictureClip(const QString& resource, int rows, int cols)
    : PictureClip(QImage(resource), rows, cols) {
    if (m_Picture.isNull())
        throw PlatformError(QStringLiteral("The picture %1 could not be loaded.").arg(resource));
}

PictureClip::PictureClip(const QImage& picture, int rows, int cols)
    : m_Picture(picture), m_Rows(rows), m_Cols(cols) {
    if (m_Picture.isNull())
        return; // the resource constructor names the missing file
    if (rows <= 0 || cols <= 0 || m_Picture.width() % cols != 0 || m_Picture.height() % rows != 0)
        throw PlatformError(QStringLiteral("A %1 x %2 picture cannot be cut into %3 x %4 cells.")
                                .arg(m_Picture.width())
                                .arg(m_Picture.height())
                                .arg(rows)
                                .arg(cols));
}

int PictureClip::CellWidth() const {
    return m_Picture.width() / m_Cols;
}

int PictureClip::CellHeight() const {
    return m_Picture.height() / m_Rows;
}

QImage PictureClip::GraphicCell(int index) const {
    if (index < 0 || index >= m_Rows * m_Cols)
        throw std::out_of_range("picture clip cell index out of range");
    const int w = CellWidth();
    const int h = CellHeight();
    return m_Picture.copy((index % m_Cols) * w, (index / m_Cols) * h, w, h);
}
