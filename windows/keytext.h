#pragma once

#include <QString>

class QPlainTextEdit;

// The access key is held with CR LF line breaks; a QPlainTextEdit keeps "\n". These two
// convert at the box's edge so the key's line breaks survive a trip through a box.
namespace KeyText {
QString FromBox(const QPlainTextEdit* box);
void ToBox(QPlainTextEdit* box, const QString& key);
} // namespace KeyText
