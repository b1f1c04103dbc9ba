#pragma once
#include <QComboBox>
#include <QStringList>
#include <QStyleOptionComboBox>
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

// A combo box whose closed box cuts a too wide entry in the middle, so that both ends stay in sight: the
// port's name at the start, and at the end what tells two adapters of one make apart ("COM3 — …UART
// A50285BI (ttyUSB0)"). The open list shows the entries whole up to the width of the box's window; a
// longer one (a path of thousands of bytes in [PORTS]) is cut in its middle there too.
class MiddleElidedComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    // The current entry as the closed box shows it.
    QString shownText() const;
    void showPopup() override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QStyleOptionComboBox Option() const;
};

}  // namespace zanth
