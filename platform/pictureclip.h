#pragma once

#include <QImage>
#include <QString>

// A picture cut into rows x cols equal cells, numbered left to right, top to bottom.
class PictureClip {
public:
    PictureClip(const QString& resource, int rows, int cols);

    int CellWidth() const;
    int CellHeight() const;
    QImage GraphicCell(int index) const;

private:
    QImage m_Picture;
    int m_Rows;
    int m_Cols;
};
