#pragma once

#include <QImage>
#include <QWidget>

class PictureClip;
class PointerWatch;
class PropertyBag;

// The program's help-hint icon: a fixed 21 x 21 square with three looks. Windows bind
// only Click. Its one persisted property, "Enabled" (default true), is set in a .ui file
// as <property name="Enabled" stdset="0"><bool>false</bool></property>.
class xphelp : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled_)

public:
    enum Cell { Resting = 0, Over = 1, Pressed = 2 };

    explicit xphelp(QWidget* parent = nullptr);
    ~xphelp() override;

    bool Enabled() const;
    void setEnabled_(bool enabled);

    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

    int shownCell() const { return m_Cell; } // tests
    const QImage& picture() const { return m_Picture; }
    bool isPolling() const;

signals:
    // In declaration order; arguments are references a handler may change.
    void Click();
    void MouseOut();
    void MouseDown(short& Button, short& Shift, float& x, float& Y);
    void MouseMove(short& Button, short& Shift, float& x, float& Y);
    void MouseUp(short& Button, short& Shift, float& x, float& Y);

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void showCell(int n);
    void PointerLeft();

    PointerWatch* m_Pointer = nullptr; // Timer1 and the click rule
    PictureClip* pc1 = nullptr;
    QImage m_Picture;
    int m_Cell = 0;
};
