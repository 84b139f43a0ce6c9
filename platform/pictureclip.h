#pragma once

#include <QImage>
#include <QString>

// A picture cut into rows x cols equal cells, numbered left to right, top to bottom.
// A picture that cannot be loaded, or that does not divide into whole cells, throws
// PlatformError: the controls cannot draw without their strips.
class PictureClip {
public:
    PictureClip(const QString& resource, int rows, int cols);
    PictureClip(const QImage& picture, int rows, int cols);

    int Rows() const { return m_Rows; }
    int Cols() const { return m_Cols; }
    int CellWidth() const;
    int CellHeight() const;
    const QImage& Picture() const { return m_Picture; }
    // The picture of cell `index`; an index outside 0 .. rows * cols - 1 throws
    // std::out_of_range.
    QImage GraphicCell(int index) const;

private:
    QImage m_Picture;
    int m_Rows;
    int m_Cols;
};
