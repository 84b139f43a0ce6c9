#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

class QLabel;
class QTimer;
class PictureClip;

// The program's own push button in the XP look, painted from a five-cell face strip.
// Windows bind only Click.
class xpcmdbutton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled_ NOTIFY PropertyChanged)
    Q_PROPERTY(int State READ State WRITE setState NOTIFY PropertyChanged)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption NOTIFY PropertyChanged)
    Q_PROPERTY(QFont Font READ Font WRITE setFont_ NOTIFY PropertyChanged)

public:
    enum Look : short { Normal = 0, Pressed = 1, Disabled = 2, Hot = 3, Highlighted = 4 };

    explicit xpcmdbutton(QWidget* parent = nullptr);
    ~xpcmdbutton() override;

    bool Enabled() const;
    void setEnabled_(bool New_Enabled);
    int State() const { return m_State; }
    void setState(int vNewValue);
    QString Caption() const;
    void setCaption(const QString& vNewCaption);
    QFont Font() const { return m_Font; }
    void setFont_(const QFont& vNewFont);

    // What the surface shows now (tests read pixels from it).
    const QImage& surface() const { return m_Surface; }
    QLabel* captionLabel() const { return lbl; }
    bool isPolling() const;

signals:
    // In declaration order; arguments are references a handler may change.
    void Click();
    void KeyDown(short& KeyCode, short& Shift);
    void KeyPress(short& KeyAscii);
    void KeyUp(short& KeyCode, short& Shift);
    void MouseOut();
    void MouseDown(short& Button, short& Shift, float& x, float& Y);
    void MouseMove(short& Button, short& Shift, float& x, float& Y);
    void MouseUp(short& Button, short& Shift, float& x, float& Y);
    // The container is told that the named persisted property changed.
    void PropertyChanged(const QString& name);

    // (implementation-private members below are the control's business)
private:
    void DrawFace(short n);
    void DrawRestingFace();

    QLabel* lbl;
    QTimer* Timer1;
    PictureClip* pc;
    QImage m_Surface;
    int m_State = 0;
    QFont m_Font;
    short m_RestCell = 0;
};
