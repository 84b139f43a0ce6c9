#pragma once

#include <QList>
#include <QString>
#include <functional>

class QWidget;

// Modal message boxes with fixed texts, shown as plain text: a name in them appears exactly
// as it was typed or sent, markup and all. Tests switch to the scripted mode: nothing is
// shown, every box is recorded, and answers are taken from a queue (Yes when empty is
// never assumed: an empty queue answers the box's default button).
class MessageBox {
public:
    enum class Answer { Ok, Yes, No };
    struct Shown {
        QString text;
        QString title;
        bool yesNo = false;
    };

    // One OK button, no icon. An empty title shows the program's name.
    static void Show(QWidget* parent, const QString& text, const QString& title = QString());
    // Yes and No, No being the default. True when Yes was chosen.
    static bool Confirm(QWidget* parent, const QString& text, const QString& title);

    // Tests.
    static void setScripted(bool scripted);
    static void queueAnswer(Answer answer);
    static QList<Shown> takeShown();
    // Called as each box is shown in the scripted mode, to look at the program's state at
    // that moment.
    static void setOnShown(std::function<void(const Shown&)> onShown);
};
