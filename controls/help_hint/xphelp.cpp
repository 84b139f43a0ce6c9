#include "xphelp.h"

#include "eventargs.h"
#include "pictureclip.h"
#include "pointer.h"
#include "propertybag.h"

#include <QDynamicPropertyChangeEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>

namespace {
constexpr int Side = 21; // 315 twips: one cell exactly
}

xphelp::xphelp(QWidget* parent) : QWidget(parent) {
    EventArgs::ensurePictures();
    pc1 = new PictureClip(QStringLiteral(":/controls/help_hint/helpstrip.png"), 1, 3);
    setFixedSize(Side, Side);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // Running from the start: the first tick finds out whether the pointer is here.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, &xphelp::Timer1_Timer);
    Timer1->start();

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
    return Timer1->isActive();
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
        m_ClickArmed = false; // a press cut short by disabling never becomes a click
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
    if (!Timer1->isActive())
        Timer1->start();
    const QPointF pos = e->position();
    if (!EventArgs::Inside(pos, size()))
        return;
    EventArgs::Pointer a = EventArgs::PointerEvent(e->buttons(), e->modifiers(), pos);
    QPointer<xphelp> self(this);
    emit MouseMove(a.Button, a.Shift, a.x, a.Y);
    if (self)
        showCell(a.Button == 1 ? Pressed : Over);
}

void xphelp::mousePressEvent(QMouseEvent* e) {
    m_ClickArmed = e->button() == Qt::LeftButton;
    showCell(Pressed);
    EventArgs::Pointer a = EventArgs::PointerEvent(e->button(), e->modifiers(), e->position());
    emit MouseDown(a.Button, a.Shift, a.x, a.Y);
}

void xphelp::mouseReleaseEvent(QMouseEvent* e) {
    const QPointF pos = e->position();
    EventArgs::Pointer a = EventArgs::PointerEvent(e->button(), e->modifiers(), pos);
    // The toolkit's click rule: the primary button went down and comes up over the icon.
    const bool click = m_ClickArmed && e->button() == Qt::LeftButton && pos.x() >= 0 &&
                       pos.y() >= 0 && pos.x() < width() && pos.y() < height();
    if (e->button() == Qt::LeftButton)
        m_ClickArmed = false;
    QPointer<xphelp> self(this);
    emit MouseUp(a.Button, a.Shift, a.x, a.Y);
    if (!self || !click)
        return;
    showCell(Resting); // on screen before the window's handler runs
    emit Click();
}

void xphelp::mouseDoubleClickEvent(QMouseEvent* e) {
    m_ClickArmed = false; // a double click raises nothing
    e->accept();
}

void xphelp::Timer1_Timer() {
    if (EventArgs::Inside(mapFromGlobal(Pointer::position()), size()))
        return;
    Timer1->stop();
    QPointer<xphelp> self(this);
    emit MouseOut();
    if (self && isEnabled())
        showCell(Resting);
}
