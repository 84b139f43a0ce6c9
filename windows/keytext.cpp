#include "keytext.h"

#include <QPlainTextEdit>

QString KeyText::FromBox(const QPlainTextEdit* box) {
    QString text = box->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

void KeyText::ToBox(QPlainTextEdit* box, const QString& key) {
    QString text = key;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box->setPlainText(text);
}
