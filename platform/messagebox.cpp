#include "messagebox.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <QTextDocument>
#include <QTextOption>

namespace {
bool g_Scripted = false;
QQueue<MessageBox::Answer> g_Answers;
QList<MessageBox::Shown> g_Shown;
std::function<void(const MessageBox::Shown&)> g_OnShown;

void Record(const MessageBox::Shown& shown) {
    g_Shown.append(shown);
    if (g_OnShown)
        g_OnShown(shown);
}

QString TitleOrProgramName(const QString& title) {
    // An untitled box carries the program's name, as the desktop shows it.
    if (!title.isEmpty())
        return title;
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Corvala") : name;
}
// A box that shows its text as plain text, so that markup in a name shows as typed, and
// breaks a word too long for its widest line anywhere rather than cutting it off. QMessageBox
// means to break such a word, but loses that wrap mode whenever it lays itself out again: it
// is set again after each layout, and the label kept tall enough for the lines it makes. The
// label keeps a text document (and so a wrap mode) only while its text is selectable.
class PlainTextBox : public QMessageBox {
public:
    PlainTextBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons,
                 QWidget* parent)
        : QMessageBox(icon, title, text, buttons, parent) {
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::TextSelectableByMouse);
    }

protected:
    bool event(QEvent* e) override {
        const bool handled = QMessageBox::event(e);
        if (e->type() == QEvent::LayoutRequest || e->type() == QEvent::Show)
            WrapAnywhere();
        return handled;
    }

private:
    void WrapAnywhere() {
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        QTextDocument* text = label ? label->findChild<QTextDocument*>() : nullptr;
        if (!text)
            return;
        label->heightForWidth(label->width()); // lays the text out, resetting its wrap mode
        QTextOption option = text->defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        text->setDefaultTextOption(option);
        label->setMinimumHeight(label->heightForWidth(label->width()));
    }
};
} // namespace

void MessageBox::Show(QWidget* parent, const QString& text, const QString& title) {
    if (g_Scripted) {
        Record({text, title, false});
        if (!g_Answers.isEmpty())
            g_Answers.dequeue();
        return;
    }
    PlainTextBox box(QMessageBox::NoIcon, TitleOrProgramName(title), text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

bool MessageBox::Confirm(QWidget* parent, const QString& text, const QString& title) {
    if (g_Scripted) {
        Record({text, title, true});
        // An empty queue answers the default button, which is No.
        return !g_Answers.isEmpty() && g_Answers.dequeue() == Answer::Yes;
    }
    PlainTextBox box(QMessageBox::Question, TitleOrProgramName(title), text,
                     QMessageBox::Yes | QMessageBox::No, parent);
    // The program has no access keys; the toolkit's own texts underline Y and N.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Yes"));
    box.button(QMessageBox::No)->setText(QStringLiteral("No"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MessageBox::setScripted(bool scripted) {
    g_Scripted = scripted;
    g_Answers.clear();
    g_Shown.clear();
    g_OnShown = nullptr;
}

void MessageBox::setOnShown(std::function<void(const Shown&)> onShown) {
    g_OnShown = std::move(onShown);
}

void MessageBox::queueAnswer(Answer answer) {
    g_Answers.enqueue(answer);
}

QList<MessageBox::Shown> MessageBox::takeShown() {
    return std::exchange(g_Shown, {});
}
