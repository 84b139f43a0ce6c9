#pragma once

#include <QImage>
#include <QWidget>

class QTimer;
class PictureClip;

// The program's help-hint icon: a fixed 21 x 21 square with three looks. Windows bind
// only Click.
class xphelp : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled_)

public:
    explicit xphelp(QWidget* parent = nullptr);
    ~xphelp() override;

    bool Enabled() const;
    void setEnabled_(bool enabled);

    int shownCell() const { return m_Cell; } // tests
    bool isPolling() const;

signals:
    void Click();
    void MouseOut();
    void MouseDown(short& Button, short& Shift, float& x, float& Y);
    void MouseMove(short& Button, short& Shift, float& x, float& Y);
    void MouseUp(short& Button, short& Shift, float& x, float& Y);

private:
    QTimer* Timer1;
    PictureClip* pc1;
    int m_Cell = 0;
};
