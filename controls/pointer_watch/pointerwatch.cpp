#include "pointerwatch.h"

#include "pointer.h"

#include <QTimer>
#include <QWidget>

namespace {
// Over the control for the moves and the leave polling: edges included.
bool inside(QPointF p, const QWidget* w) {
    return p.x() >= 0 && p.y() >= 0 && p.x() <= w->width() && p.y() <= w->height();
}
} // namespace

PointerWatch::PointerWatch(QWidget* control) : QObject(control), m_Control(control) {
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, &PointerWatch::Timer1_Timer);
}

void PointerWatch::poll() {
    if (!Timer1->isActive())
        Timer1->start();
}

bool PointerWatch::isPolling() const {
    return Timer1->isActive();
}

bool PointerWatch::moved(QPointF here) {
    poll(); // on every move, inside or not
    return inside(here, m_Control);
}

void PointerWatch::pressed(Qt::MouseButton button) {
    m_ClickArmed = button == Qt::LeftButton;
}

bool PointerWatch::released(Qt::MouseButton button, QPointF here) {
    if (button != Qt::LeftButton)
        return false;
    const bool click = m_ClickArmed && here.x() >= 0 && here.y() >= 0 &&
                       here.x() < m_Control->width() && here.y() < m_Control->height();
    m_ClickArmed = false;
    return click;
}

void PointerWatch::Timer1_Timer() {
    if (inside(m_Control->mapFromGlobal(Pointer::position()), m_Control))
        return;
    Timer1->stop();
    emit pointerLeft(); // may delete the control, and this with it
}
