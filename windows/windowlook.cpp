#include "windowlook.h"

#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QVariant>
#include <QWidget>

static void InitResources() {
    // The pictures live in a static library; nothing else pulls its initialiser in.
    Q_INIT_RESOURCE(corvala);
}

namespace {
void Substitute(const QString& classic, const QString& replacement) {
    if (!QFontDatabase::hasFamily(classic) && QFontDatabase::hasFamily(replacement))
        QFont::insertSubstitution(classic, replacement);
}

qreal ClassicSize(qreal stored) {
    if (stored == 8)
        return 8.25;
    if (stored == 10)
        return 9.75;
    return stored;
}
} // namespace

void WindowLook::Prepare() {
    static const bool done = [] {
        InitResources();
        Substitute(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
        Substitute(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
        return true;
    }();
    Q_UNUSED(done);
}

QIcon WindowLook::ProgramIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/corvala/icons/corvala-%1.png").arg(size), QSize(size, size));
    return icon;
}

void WindowLook::FixedFrame(QWidget* window, int width, int height) {
    window->setWindowIcon(ProgramIcon());
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(width, height);
}

void WindowLook::FixPointSizes(QWidget* root) {
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        if (w->testAttribute(Qt::WA_SetFont)) {
            QFont f = w->font();
            f.setPointSizeF(ClassicSize(f.pointSizeF()));
            w->setFont(f);
        }
        const QVariant caption = w->property("Font");
        if (caption.isValid() && caption.canConvert<QFont>()) {
            QFont f = caption.value<QFont>();
            const qreal size = ClassicSize(f.pointSizeF());
            if (size != f.pointSizeF()) {
                f.setPointSizeF(size);
                w->setProperty("Font", f);
            }
        }
    }
}
