#pragma once

#include <QObject>
#include <QPointF>

class QTimer;
class QWidget;

// What both controls do with the pointer apart from drawing their looks.
//
// Leave polling: a timer Timer1 of 10 ms that every pointer move switches on; each tick
// compares the pointer position with the control and, once it is outside, switches the timer
// off and raises pointerLeft, on which the control raises MouseOut and draws its resting
// look. For the moves and the ticks the right and bottom edges count as inside.
//
// Click rule: the toolkit's own. The primary button went down over the control and comes up
// over it again, over meaning inside the control's pixels, so the right and bottom edges are
// outside here.
class PointerWatch : public QObject {
    Q_OBJECT
public:
    explicit PointerWatch(QWidget* control);

    // Switches the polling on; a running timer keeps its rhythm.
    void poll();
    bool isPolling() const;
    // A pointer move at `here`, in the control's pixels: switches the polling on and tells
    // whether the move is over the control (a captured pointer may be anywhere).
    bool moved(QPointF here);

    void pressed(Qt::MouseButton button);
    // Whether this release makes a click; a release of the primary button ends the press.
    bool released(Qt::MouseButton button, QPointF here);
    // A double click, or the enabled flag changing under a press: no click follows.
    void disarm() { m_ClickArmed = false; }

signals:
    // A tick found the pointer outside; the polling has stopped.
    void pointerLeft();

private:
    void Timer1_Timer();

    QWidget* m_Control;
    QTimer* Timer1;
    bool m_ClickArmed = false; // the primary button went down over the control
};
