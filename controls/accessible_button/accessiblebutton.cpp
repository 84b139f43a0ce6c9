#include "accessiblebutton.h"

#include <QLabel>

namespace {
QAccessibleInterface* ButtonFor(const QString& className, QObject* object) {
    if (className == QLatin1String("xpcmdbutton") || className == QLatin1String("xphelp"))
        return new AccessibleButton(static_cast<QWidget*>(object));
    return nullptr;
}
} // namespace

AccessibleButton::AccessibleButton(QWidget* button)
    : QAccessibleWidget(button, QAccessible::Button) {}

void AccessibleButton::Install() {
    static const bool installed = (QAccessible::installFactory(&ButtonFor), true);
    (void)installed;
}

QString AccessibleButton::text(QAccessible::Text t) const {
    QString text = QAccessibleWidget::text(t);
    if (t == QAccessible::Name && text.isEmpty()) {
        const auto* caption = widget()->findChild<QLabel*>();
        text = caption ? caption->text() : QStringLiteral("Help");
    }
    return text;
}

QStringList AccessibleButton::actionNames() const {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
}

void AccessibleButton::doAction(const QString& action) {
    // After the caller has returned, as a click ends before its handler runs: the handler
    // may open a modal box.
    if (action == pressAction() && widget()->isEnabled())
        QMetaObject::invokeMethod(widget(), "Click", Qt::QueuedConnection);
    else
        QAccessibleWidget::doAction(action);
}
