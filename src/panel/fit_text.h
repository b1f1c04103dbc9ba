#pragma once
#include <QStringList>
#include <span>

class QLineEdit;
class QTreeWidget;

namespace zanth {

// The dialogs' sizes were made for narrower Windows fonts; these keep texts whole in them.

// Widens each column of `list` to its heading and its widest cell, never below its width in `least` (the
// list's own widths). The list scrolls sideways when the columns are wider than it.
void FitColumns(QTreeWidget* list, std::span<const int> least);

// Gives the read-only `boxes` the largest font, from their own size down to `smallestPixels`, at which
// every one of `texts` fits whole; the smallest when none does.
void FitStatusFont(std::span<QLineEdit* const> boxes, const QStringList& texts, int smallestPixels);

}  // namespace zanth
