#include "xphelp.h"

#include "accessiblebutton.h"
#include "eventargs.h"
#include "pictureclip.h"
#include "pointerwatch.h"
#include "propertybag.h"

#include <QDynamicPropertyChangeEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {
constexpr int Side = 21; // 315 twips: one cell exactly
}

xphelp::xphelp(QWidget* parent) : QWidget(parent) {
    EventArgs::ensurePictures();
    AccessibleButton::Install();
    pc1 = new PictureClip(QStringLiteral(":/controls/help_hint/helpstrip.png"), 1, 3);
    // First, so that every event handler below may use it.
    m_Pointer = new PointerWatch(this);
    connect(m_Pointer, &PointerWatch::pointerLeft, this, &xphelp::PointerLeft);
    setFixedSize(Side, Side);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // Running from the start: the first tick finds out whether the pointer is here.
    m_Pointer->poll();

    showCell(Resting);
}

xphelp::~xphelp() {
    delete pc1;
}

bool xphelp::Enabled() const {
    return !testAttribute(Qt::WA_ForceDisabled);
}

void xphelp::setEnabled_(bool enabled) {
    setEnabled(enabled);
}

void xphelp::ReadProperties(const PropertyBag& bag) {
    setEnabled_(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
}

void xphelp::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
}

bool xphelp::isPolling() const {
    return m_Pointer->isPolling();
}

void xphelp::showCell(int n) {
    m_Cell = n;
    m_Picture = pc1->GraphicCell(n);
    update();
}

bool xphelp::event(QEvent* e) {
    // "Enabled" in another letter case arrives as a dynamic property.
    if (e->type() == QEvent::DynamicPropertyChange) {
        const QByteArray name = static_cast<QDynamicPropertyChangeEvent*>(e)->propertyName();
        if (QString::fromLatin1(name).compare(u"enabled", Qt::CaseInsensitive) == 0) {
            const QVariant value = property(name.constData());
            if (value.isValid()) {
                setProperty(name.constData(), QVariant());
                setEnabled_(value.toBool());
            }
            return true;
        }
    }
    return QWidget::event(e);
}

void xphelp::changeEvent(QEvent* e) {
    if (e->type() == QEvent::EnabledChange)
        m_Pointer->disarm(); // a press cut short by disabling never becomes a click
    QWidget::changeEvent(e);
}

void xphelp::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.drawImage(0, 0, m_Picture); // unscaled, from the top-left corner
}

void xphelp::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // A host that gives the icon another size gets the square back.
    if (size() != QSize(Side, Side))
        setFixedSize(Side, Side);
}

void xphelp::mouseMoveEvent(QMouseEvent* e) {
    const QPointF pos = e->position();
    if (!m_Pointer->moved(pos))
        return;
    EventArgs::Pointer a = EventArgs::PointerEvent(e->buttons(), e->modifiers(), pos);
    QPointer<xphelp> self(this);
    emit MouseMove(a.Button, a.Shift, a.x, a.Y);
    if (self)
        showCell(a.Button == 1 ? Pressed : Over);
}

void xphelp::mousePressEvent(QMouseEvent* e) {
    m_Pointer->pressed(e->button());
    showCell(Pressed);
    EventArgs::Pointer a = EventArgs::PointerEvent(e->button(), e->modifiers(), e->position());
    emit MouseDown(a.Button, a.Shift, a.x, a.Y);
}

void xphelp::mouseReleaseEvent(QMouseEvent* e) {
    const QPointF pos = e->position();
    EventArgs::Pointer a = EventArgs::PointerEvent(e->button(), e->modifiers(), pos);
    const bool click = m_Pointer->released(e->button(), pos);
    QPointer<xphelp> self(this);
    emit MouseUp(a.Button, a.Shift, a.x, a.Y);
    if (!self || !click)
        return;
    showCell(Resting); // on screen before the window's handler runs
    emit Click();
}

void xphelp::mouseDoubleClickEvent(QMouseEvent* e) {
    m_Pointer->disarm(); // a double click raises nothing
    e->accept();
}

void xphelp::PointerLeft() {
    QPointer<xphelp> self(this);
    emit MouseOut();
    if (self && isEnabled())
        showCell(Resting);
}
