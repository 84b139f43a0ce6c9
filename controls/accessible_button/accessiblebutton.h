#pragma once

#include <QAccessibleWidget>

// What assistive technology sees of the program's own buttons (xpcmdbutton, xphelp): a push
// button, named as its window names it or else as it reads (its caption; the help icon's
// question mark reads "Help"), that can be pressed as a click presses it. The caption
// inside is part of the button, not an object of its own. Keys still do not press it.
class AccessibleButton : public QAccessibleWidget {
public:
    explicit AccessibleButton(QWidget* button);

    // Makes the buttons known to the accessibility framework; the controls call it as they
    // are made, and once is enough.
    static void Install();

    QString text(QAccessible::Text t) const override;
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QStringList actionNames() const override;
    void doAction(const QString& action) override;
};
