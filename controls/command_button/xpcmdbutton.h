#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

class QLabel;
class PictureClip;
class PointerWatch;
class PropertyBag;

// The program's own push button in the XP look, painted from a five-cell face strip.
// Windows bind only Click.
//
// A window's .ui file is the button's form data. Set the persisted properties as
// non-standard properties, so that uic calls setProperty() and the names reach this class
// (they match without regard to letter case):
//
//   <widget class="xpcmdbutton" name="xpcmdbutton1">
//     <property name="geometry"><rect><x>8</x><y>8</y><width>129</width>
//       <height>25</height></rect></property>
//     <property name="Caption" stdset="0"><string>Create Account</string></property>
//     <property name="Font" stdset="0"><font><family>Times New Roman</family>
//       <pointsize>9</pointsize></font></property>
//   </widget>
//
// and declare it in <customwidgets> with <header>xpcmdbutton.h</header>. Whatever is not
// set takes its default: Caption the object name, Font the containing widget's font,
// State 0, Enabled true.
class xpcmdbutton : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled_)
    Q_PROPERTY(int State READ State WRITE setState)
    Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
    Q_PROPERTY(QFont Font READ Font WRITE setFont_)

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
    QFont Font() const;
    void setFont_(const QFont& vNewFont);

    // The form data: "State", "Enabled", "Caption", "Font", in that order.
    void ReadProperties(const PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;

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

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    // `args` is where the pointer is in the coordinates handed to the handlers (the
    // caption's own when it came through the caption), `here` the same point in ours.
    void UserControl_MouseDown(QMouseEvent* e, QPointF args);
    void UserControl_MouseMove(QMouseEvent* e, QPointF args, QPointF here);
    void UserControl_MouseUp(QMouseEvent* e, QPointF args, QPointF here);
    void UserControl_Resize();
    void PointerLeft();
    void DrawFace(short n);
    void DrawRestingFace();
    void setCaptionColour();
    void applyDefaultCaption();
    bool routeCaseInsensitive(const QByteArray& name);
    QFont ambientFont() const;

    QLabel* lbl = nullptr;
    PointerWatch* m_Pointer = nullptr; // Timer1 and the click rule
    PictureClip* pc = nullptr;
    QImage m_Surface;
    int m_State = 0;
    QFont m_Font;
    short m_RestCell = 0;
    bool m_FontSet = false;    // Font was given: it no longer follows the container
    bool m_CaptionSet = false; // Caption was given: it no longer follows the object name
    bool m_InSetter = false;   // a setter runs its own steps; skip the change handlers
};
