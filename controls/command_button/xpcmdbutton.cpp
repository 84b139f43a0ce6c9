#include "xpcmdbutton.h"

#include "accessiblebutton.h"
#include "eventargs.h"
#include "pictureclip.h"
#include "pointerwatch.h"
#include "propertybag.h"

#include <QApplication>
#include <QDynamicPropertyChangeEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <cmath>

namespace {
constexpr QRgb CaptionEnabled = 0xFF000000;
constexpr QRgb CaptionDisabled = 0xFFA1A192;
constexpr int NewWidth = 113; // 1695 x 885 twips
constexpr int NewHeight = 59;
} // namespace

xpcmdbutton::xpcmdbutton(QWidget* parent) : QWidget(parent) {
    EventArgs::ensurePictures();
    AccessibleButton::Install();
    pc = new PictureClip(QStringLiteral(":/controls/command_button/facestrip.png"), 1, 5);
    // First, so that every event handler below may use it.
    m_Pointer = new PointerWatch(this);
    connect(m_Pointer, &PointerWatch::pointerLeft, this, &xpcmdbutton::PointerLeft);

    lbl = new QLabel(this);
    lbl->setObjectName(QStringLiteral("lbl"));
    lbl->setTextFormat(Qt::PlainText); // a caption is text, never markup
    lbl->setWordWrap(false);
    lbl->setAutoFillBackground(false); // the face shows through around the letters
    lbl->setMouseTracking(true);
    lbl->installEventFilter(this);

    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    resize(NewWidth, NewHeight);

    // The caption follows the object name until a caption is given.
    connect(this, &QObject::objectNameChanged, this, [this] { applyDefaultCaption(); });

    setCaptionColour();
    DrawRestingFace();
    UserControl_Resize();
}

xpcmdbutton::~xpcmdbutton() {
    delete pc;
}

// ---- properties ----

bool xpcmdbutton::Enabled() const {
    return !testAttribute(Qt::WA_ForceDisabled);
}

void xpcmdbutton::setEnabled_(bool New_Enabled) {
    m_InSetter = true;
    setEnabled(New_Enabled);
    m_InSetter = false;
    emit PropertyChanged(QStringLiteral("Enabled"));
    DrawRestingFace();
    setCaptionColour();
}

void xpcmdbutton::setState(int vNewValue) {
    m_State = vNewValue;
    emit PropertyChanged(QStringLiteral("State"));
    DrawRestingFace();
}

QString xpcmdbutton::Caption() const {
    return lbl->text();
}

void xpcmdbutton::setCaption(const QString& vNewCaption) {
    m_CaptionSet = true;
    lbl->setText(vNewCaption);
    UserControl_Resize(); // the label changed: re-lay out around its new size
    emit PropertyChanged(QStringLiteral("Caption"));
}

QFont xpcmdbutton::Font() const {
    return m_FontSet ? m_Font : font();
}

void xpcmdbutton::setFont_(const QFont& vNewFont) {
    m_Font = vNewFont;
    m_FontSet = true;
    m_InSetter = true;
    setFont(vNewFont);
    lbl->setFont(vNewFont);
    m_InSetter = false;
    UserControl_Resize();
    emit PropertyChanged(QStringLiteral("Font"));
}

QFont xpcmdbutton::ambientFont() const {
    return parentWidget() ? parentWidget()->font() : QApplication::font();
}

void xpcmdbutton::applyDefaultCaption() {
    if (m_CaptionSet || lbl->text() == objectName())
        return;
    lbl->setText(objectName());
    UserControl_Resize();
    emit PropertyChanged(QStringLiteral("Caption"));
}

void xpcmdbutton::setCaptionColour() {
    QPalette pal = lbl->palette();
    pal.setColor(QPalette::WindowText, QColor(isEnabled() ? CaptionEnabled : CaptionDisabled));
    // Styles that etch disabled text draw a copy in the light colour first; with nothing to
    // draw it in, the disabled caption is its grey alone.
    pal.setColor(QPalette::Light, Qt::transparent);
    lbl->setPalette(pal);
}

// ---- form data ----

void xpcmdbutton::ReadProperties(const PropertyBag& bag) {
    m_State = bag.ReadProperty(QStringLiteral("State"), 0).toInt();
    setEnabled_(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    setCaption(bag.ReadProperty(QStringLiteral("Caption"), objectName()).toString());
    setFont_(bag.ReadProperty(QStringLiteral("Font"), ambientFont()).value<QFont>());
}

void xpcmdbutton::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("State"), m_State, 0);
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
    bag.WriteProperty(QStringLiteral("Caption"), Caption(), objectName());
    bag.WriteProperty(QStringLiteral("Font"), Font(), ambientFont());
}

// A form's property whose name differs in letter case from ours arrives as a dynamic
// property; hand it to the setter it names and drop the stray copy.
bool xpcmdbutton::routeCaseInsensitive(const QByteArray& name) {
    const QString key = QString::fromLatin1(name).toLower();
    if (key != u"state" && key != u"enabled" && key != u"caption" && key != u"font")
        return false;
    const QVariant value = property(name.constData());
    if (!value.isValid())
        return true; // our own removal below
    setProperty(name.constData(), QVariant());
    if (key == u"state") {
        bool ok = false;
        const int state = value.toInt(&ok);
        setState(ok ? state : 0);
    } else if (key == u"enabled") {
        setEnabled_(value.toBool());
    } else if (key == u"caption") {
        setCaption(value.toString());
    } else if (value.canConvert<QFont>()) {
        setFont_(value.value<QFont>());
    }
    return true;
}

bool xpcmdbutton::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::DynamicPropertyChange:
        if (routeCaseInsensitive(static_cast<QDynamicPropertyChangeEvent*>(e)->propertyName()))
            return true;
        break;
    case QEvent::Polish:
        applyDefaultCaption();
        break;
    default:
        break;
    }
    return QWidget::event(e);
}

void xpcmdbutton::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange)
        m_Pointer->disarm(); // a press cut short by disabling never becomes a click
    // The enabled flag or the font changed from outside our setters (a disabled window,
    // the container's font, a form's standard "enabled"/"font" property).
    if (!m_InSetter) {
        if (e->type() == QEvent::EnabledChange) {
            DrawRestingFace();
            setCaptionColour();
        } else if (e->type() == QEvent::FontChange && lbl) {
            lbl->setFont(font());
            UserControl_Resize();
        }
    }
    QWidget::changeEvent(e);
}

// ---- drawing ----

void xpcmdbutton::DrawRestingFace() {
    if (m_State == 1)
        m_RestCell = Highlighted;
    else if (m_State == 0)
        m_RestCell = Normal;
    DrawFace(isEnabled() ? m_RestCell : short(Disabled));
}

void xpcmdbutton::DrawFace(short n) {
    const int W = width();
    const int H = height();
    if (W <= 0 || H <= 0)
        return;
    if (m_Surface.size() != size()) {
        m_Surface = QImage(size(), QImage::Format_RGB32);
        m_Surface.fill(palette().color(QPalette::Window));
    }
    const QImage cell = pc->GraphicCell(n);
    // Corners 1:1, edges stretched along their length, the centre both ways. Below 6 x 6
    // the stretched pieces have nothing left to cover.
    const int w6 = std::max(0, W - 6);
    const int h6 = std::max(0, H - 6);
    QPainter p(&m_Surface);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QRect(0, 0, 3, 3), cell, QRect(0, 0, 3, 3));
    p.drawImage(QRect(W - 3, 0, 3, 3), cell, QRect(15, 0, 3, 3));
    p.drawImage(QRect(W - 3, H - 3, 3, 3), cell, QRect(15, 18, 3, 3));
    p.drawImage(QRect(0, H - 3, 3, 3), cell, QRect(0, 18, 3, 3));
    p.drawImage(QRect(3, 0, w6, 3), cell, QRect(3, 0, 12, 3));
    p.drawImage(QRect(W - 3, 3, 3, h6), cell, QRect(15, 3, 3, 15));
    p.drawImage(QRect(0, 3, 3, h6), cell, QRect(0, 3, 3, 15));
    p.drawImage(QRect(3, H - 3, w6, 3), cell, QRect(3, 18, 12, 3));
    p.drawImage(QRect(3, 3, w6, h6), cell, QRect(3, 3, 12, 15));
    p.end();
    update();
}

void xpcmdbutton::paintEvent(QPaintEvent*) {
    // The surface keeps the last drawing; a repaint only shows it again.
    QPainter p(this);
    p.drawImage(0, 0, m_Surface);
}

void xpcmdbutton::UserControl_Resize() {
    DrawRestingFace();
    lbl->adjustSize();
    // Centred to the half pixel, then placed on the nearest whole pixel (halves go right
    // and down), so a caption wider than the button is cut off evenly on both sides.
    const double top = (height() - lbl->height()) / 2.0;
    const double left = (width() - lbl->width()) / 2.0;
    lbl->move(int(std::floor(left + 0.5)), int(std::floor(top + 0.5)));
}

void xpcmdbutton::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    UserControl_Resize();
}

void xpcmdbutton::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    DrawRestingFace();
}

// ---- pointer ----

void xpcmdbutton::UserControl_MouseDown(QMouseEvent* e, QPointF args) {
    m_Pointer->pressed(e->button());
    EventArgs::Pointer a = EventArgs::PointerEvent(e->button(), e->modifiers(), args);
    QPointer<xpcmdbutton> self(this);
    emit MouseDown(a.Button, a.Shift, a.x, a.Y);
    if (self)
        DrawFace(Pressed);
}

void xpcmdbutton::UserControl_MouseMove(QMouseEvent* e, QPointF args, QPointF here) {
    if (!m_Pointer->moved(here))
        return; // captured while a button is held: nothing to show outside
    EventArgs::Pointer a = EventArgs::PointerEvent(e->buttons(), e->modifiers(), args);
    QPointer<xpcmdbutton> self(this);
    emit MouseMove(a.Button, a.Shift, a.x, a.Y);
    if (self)
        DrawFace(a.Button == 1 ? Pressed : Hot);
}

void xpcmdbutton::UserControl_MouseUp(QMouseEvent* e, QPointF args, QPointF here) {
    EventArgs::Pointer a = EventArgs::PointerEvent(e->button(), e->modifiers(), args);
    QPointer<xpcmdbutton> self(this);
    emit MouseUp(a.Button, a.Shift, a.x, a.Y);
    if (!self)
        return;
    DrawRestingFace();
    if (m_Pointer->released(e->button(), here))
        emit Click();
}

void xpcmdbutton::mousePressEvent(QMouseEvent* e) {
    UserControl_MouseDown(e, e->position());
}

void xpcmdbutton::mouseMoveEvent(QMouseEvent* e) {
    UserControl_MouseMove(e, e->position(), e->position());
}

void xpcmdbutton::mouseReleaseEvent(QMouseEvent* e) {
    UserControl_MouseUp(e, e->position(), e->position());
}

// A double click raises nothing: its second press is not a MouseDown and its release
// brings no Click.
void xpcmdbutton::mouseDoubleClickEvent(QMouseEvent* e) {
    m_Pointer->disarm();
    e->accept();
}

// The caption hands the pointer to the control with its own coordinates.
bool xpcmdbutton::eventFilter(QObject* watched, QEvent* e) {
    if (watched != lbl || !isEnabled()) // a disabled button takes no pointer at all
        return QWidget::eventFilter(watched, e);
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        auto* me = static_cast<QMouseEvent*>(e);
        const QPointF args = me->position();
        const QPointF here = lbl->mapTo(this, args);
        if (e->type() == QEvent::MouseButtonPress)
            UserControl_MouseDown(me, args);
        else if (e->type() == QEvent::MouseMove)
            UserControl_MouseMove(me, args, here);
        else if (e->type() == QEvent::MouseButtonRelease)
            UserControl_MouseUp(me, args, here);
        else
            m_Pointer->disarm();
        return true;
    }
    default:
        return QWidget::eventFilter(watched, e);
    }
}

void xpcmdbutton::PointerLeft() {
    QPointer<xpcmdbutton> self(this);
    emit MouseOut();
    if (self)
        DrawRestingFace();
}

bool xpcmdbutton::isPolling() const {
    return m_Pointer->isPolling();
}

// ---- keys ----

void xpcmdbutton::keyPressEvent(QKeyEvent* e) {
    short KeyCode = EventArgs::KeyCode(e->key(), e->modifiers());
    short Shift = EventArgs::Shift(e->modifiers());
    QPointer<xpcmdbutton> self(this);
    emit KeyDown(KeyCode, Shift);
    const QString text = e->text();
    if (self && !text.isEmpty() && text.at(0).unicode() > 0 && text.at(0).unicode() < 256) {
        short KeyAscii = short(text.at(0).unicode());
        emit KeyPress(KeyAscii);
    }
    e->accept();
}

void xpcmdbutton::keyReleaseEvent(QKeyEvent* e) {
    if (!e->isAutoRepeat()) {
        short KeyCode = EventArgs::KeyCode(e->key(), e->modifiers());
        short Shift = EventArgs::Shift(e->modifiers());
        emit KeyUp(KeyCode, Shift);
    }
    e->accept();
}
