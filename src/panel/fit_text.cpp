#include "panel/fit_text.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
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

}  // namespace zanth
