#pragma once
// Texts from outside the program (a client's name, a device's or a gamepad's own name, a file name, a value
// of the settings file) are shown as they are. Qt guesses rich text in labels, message boxes and tool tips,
// and rich text loads images by name: a name like "<img src=/dev/zero>" would then read a device on the GUI
// thread. Every label of the program says its format; boxes and tips go through these.
#include <QMessageBox>
#include <QString>

class QLabel;

namespace zanth {

// `label`, told to show its text as plain text, for chaining at creation.
QLabel* Plain(QLabel* label);

// A tool tip that shows `text` as it is: unchanged when Qt would show it plainly anyway, else escaped into
// rich text that reads the same.
QString PlainTip(const QString& text);

// A modal box with an OK button showing `text` as plain text (its Japanese line ends kept together).
void ShowPlainBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text);

}  // namespace zanth
