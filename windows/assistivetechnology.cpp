#include "assistivetechnology.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QWidget>

namespace {
const char* const kConcealed = "corvalaConcealed";

bool IsConcealed(const QObject* object) {
    return object->isWidgetType() && object->property(kConcealed).toBool();
}

// A concealed widget: nothing to read, and nothing in it.
class ConcealedWidget : public QAccessibleObject {
public:
    using QAccessibleObject::QAccessibleObject;
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(object()->parent());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text) const override { return {}; }
    QAccessible::Role role() const override { return QAccessible::NoRole; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = true;
        return state;
    }
};

// A plain widget holding concealed ones lists only the others.
class ConcealingWidget : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
    int childCount() const override { return int(Shown().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QAccessibleInterface*> shown = Shown();
        return index >= 0 && index < shown.size() ? shown[index] : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return Shown().indexOf(const_cast<QAccessibleInterface*>(child));
    }

private:
    QList<QAccessibleInterface*> Shown() const {
        QList<QAccessibleInterface*> shown;
        for (int i = 0; i < QAccessibleWidget::childCount(); ++i)
            if (QAccessibleInterface* child = QAccessibleWidget::child(i);
                child && !IsConcealed(child->object()))
                shown << child;
        return shown;
    }
};

bool HoldsConcealed(const QObject* object) {
    for (const QObject* child : object->children())
        if (IsConcealed(child))
            return true;
    return false;
}

// Asked for the most derived class first: answering there decides for the whole object.
QAccessibleInterface* InterfaceFor(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType() ||
        className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (IsConcealed(object))
        return new ConcealedWidget(object);
    if (className == QLatin1String("QWidget") && HoldsConcealed(object))
        return new ConcealingWidget(static_cast<QWidget*>(object));
    return nullptr;
}

// An interface made before the widget was concealed (assistive technology asked early) is
// dropped, so that the next question gets one made here.
void Renew(QObject* object) {
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(object);
    if (made && !dynamic_cast<ConcealedWidget*>(made) && !dynamic_cast<ConcealingWidget*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}
} // namespace

namespace AssistiveTechnology {

void Conceal(QWidget* widget) {
    // After the widgets' own factory, which the application installs: asked before it.
    static const bool installed = (QAccessible::installFactory(&InterfaceFor), true);
    (void)installed;
    widget->setProperty(kConcealed, true);
    Renew(widget);
    if (widget->parent())
        Renew(widget->parent());
}

} // namespace AssistiveTechnology
