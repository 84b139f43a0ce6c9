#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

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
} // namespace

void MessageBox::Show(QWidget* parent, const QString& text, const QString& title) {
    if (g_Scripted) {
        Record({text, title, false});
        if (!g_Answers.isEmpty())
            g_Answers.dequeue();
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, TitleOrProgramName(title), text, QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

bool MessageBox::Confirm(QWidget* parent, const QString& text, const QString& title) {
    if (g_Scripted) {
        Record({text, title, true});
        // An empty queue answers the default button, which is No.
        return !g_Answers.isEmpty() && g_Answers.dequeue() == Answer::Yes;
    }
    QMessageBox box(QMessageBox::Question, TitleOrProgramName(title), text,
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
