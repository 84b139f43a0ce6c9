#pragma once

// Synthetic pointer input for the controls' tests: each event goes straight to the widget
// it names, and the polled pointer position follows it.

#include "pointer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace controltest {

inline void mouse(QWidget* target, QEvent::Type type, QPointF local,
                  Qt::MouseButton button = Qt::NoButton, Qt::MouseButtons held = Qt::NoButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF global = target->mapToGlobal(local);
    Pointer::setPosition(global.toPoint());
    QMouseEvent e(type, local, global, button, held, modifiers);
    QApplication::sendEvent(target, &e);
}

inline void move(QWidget* target, QPointF local, Qt::MouseButtons held = Qt::NoButton) {
    mouse(target, QEvent::MouseMove, local, Qt::NoButton, held);
}

inline void press(QWidget* target, QPointF local, Qt::MouseButton button = Qt::LeftButton) {
    mouse(target, QEvent::MouseButtonPress, local, button, button);
}

inline void release(QWidget* target, QPointF local, Qt::MouseButton button = Qt::LeftButton) {
    mouse(target, QEvent::MouseButtonRelease, local, button, Qt::NoButton);
}

// Puts the polled pointer far from `w` without sending it an event.
inline void pointerAway(QWidget* w) {
    Pointer::setPosition(w->mapToGlobal(QPoint(-500, -500)));
}

// The events a control raised, in order, one line each.
struct EventLog {
    QStringList events;
    int count(const QString& prefix) const {
        int n = 0;
        for (const QString& e : events)
            n += e.startsWith(prefix);
        return n;
    }
};

// How many timers of the control run now: the pointer polling must cost nothing while
// the pointer is elsewhere.
inline int runningTimers(const QWidget* w) {
    int n = 0;
    for (const QTimer* t : w->findChildren<QTimer*>())
        n += t->isActive();
    return n;
}

// Counts the ticks that reach the control's timers.
class TickCounter : public QObject {
public:
    explicit TickCounter(const QWidget* w) {
        for (QTimer* t : w->findChildren<QTimer*>())
            t->installEventFilter(this);
    }
    int ticks = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        ticks += e->type() == QEvent::Timer;
        return false;
    }
};

} // namespace controltest
