#include "panel/fit_text.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QStylePainter>
#include <QTreeWidget>

namespace zanth {

void FitColumns(QTreeWidget* list, std::span<const int> least) {
    for (int c = 0; c < list->columnCount(); ++c) {
        list->resizeColumnToContents(c);
        const int floor = c < static_cast<int>(least.size()) ? least[static_cast<std::size_t>(c)] : 0;
        if (list->columnWidth(c) < floor) list->setColumnWidth(c, floor);
    }
}

namespace {

// Room for text in a line edit: its contents less its text margins and the two pixels it keeps at each
// side, less one for the cursor.
int TextRoom(const QLineEdit* box) {
    QStyleOptionFrame opt;
    opt.initFrom(box);
    opt.lineWidth = box->hasFrame() ? box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, box) : 0;
    const QRect contents = box->style()->subElementRect(QStyle::SE_LineEditContents, &opt, box);
    return contents.marginsRemoved(box->textMargins()).width() - 2 * 2 - 1;
}

}  // namespace

void FitStatusFont(std::span<QLineEdit* const> boxes, const QStringList& texts, int smallestPixels) {
    if (boxes.empty()) return;
    QFont font = boxes.front()->font();
    if (font.pixelSize() <= 0) font.setPixelSize(QFontMetrics(font).height());
    auto fits = [&] {
        const QFontMetrics fm(font);
        for (QLineEdit* box : boxes)
            for (const QString& text : texts)
                if (fm.horizontalAdvance(text) > TextRoom(box) || fm.height() > box->height()) return false;
        return true;
    };
    while (font.pixelSize() > smallestPixels && !fits()) font.setPixelSize(font.pixelSize() - 1);
    for (QLineEdit* box : boxes) box->setFont(font);
}

QStyleOptionComboBox MiddleElidedComboBox::Option() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return option;
}

QString MiddleElidedComboBox::shownText() const {
    const QStyleOptionComboBox option = Option();
    // The label is drawn a pixel in from each side of the edit field; two more keep a glyph's overhang in.
    const int room =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this).width() - 4;
    const QFontMetrics metrics = fontMetrics();
    const QString& text = option.currentText;
    if (metrics.horizontalAdvance(text) <= room) return text;
    // The entry's name ("COM3 — ") stays whole, what follows is cut at its start: its end tells most.
    const qsizetype dash = text.indexOf(QString::fromUtf8(" \u2014 "));
    if (dash < 0) return metrics.elidedText(text, Qt::ElideMiddle, room);
    const QString head = text.left(dash + 3);
    return head +
           metrics.elidedText(text.mid(dash + 3), Qt::ElideLeft, room - metrics.horizontalAdvance(head));
}

void MiddleElidedComboBox::showPopup() {
    view()->setTextElideMode(Qt::ElideMiddle);
    QComboBox::showPopup();
}

void MiddleElidedComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option = Option();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (!isEditable()) option.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace zanth
