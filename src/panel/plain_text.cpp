#include "panel/plain_text.h"

#include <QLabel>
#include <QTextDocument>

#include "panel/japanese_text.h"

namespace zanth {

QLabel* Plain(QLabel* label) {
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString PlainTip(const QString& text) {
    if (!Qt::mightBeRichText(text)) return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

void ShowPlainBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, QString(), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(KeepLineEndsTogether(text));
    box.exec();
}

}  // namespace zanth
