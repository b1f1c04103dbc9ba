// The emergency stop's row of Operation Setting: the stop key, Start disabled and the gamepad's stop chord.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include "base/app_context.h"
#include "panel/operation_settings_dialog.h"

namespace zanth {
namespace {

// Keys no binding can have, so that the stop never presses an item of the controller as well: the bindable
// keys reach the program through its key events even while the stop grabs them.
const int kStopKeys[] = {StopSettings::kSpace, StopKeyByName("PAUSE"), StopKeyByName("SCROLL LOCK")};

}  // namespace

// Below the two lists and the buttons, across the dialog: the controls above keep their places.
void OperationSettingsDialog::BuildStopRow() {
    auto text = [this](Msg id) { return QString::fromUtf8(app_.Tr(id)); };
    auto* label = new QLabel(text(Msg::kStopKeyLabel), this);
    stopKey_ = new QComboBox(this);
    for (const int key : kStopKeys) stopKey_->addItem(QString::fromStdString(StopKeyName(key)), key);
    const int y = 402;
    stopKey_->setGeometry(100, y, 120, stopKey_->sizeHint().height());
    label->setGeometry(12, y, 84, stopKey_->height());
    label->setBuddy(stopKey_);
    startDisabled_ = new QCheckBox(text(Msg::kStartDisabled), this);
    startDisabled_->setGeometry(232, y, 250, stopKey_->height());
    padChord_ = new QCheckBox(text(Msg::kPadStopChord), this);
    padChord_->setGeometry(490, y, 268, stopKey_->height());
}

void OperationSettingsDialog::setStopSettings(const StopSettings& stop) {
    const int index = stopKey_->findData(stop.key);
    // A key set in the file by hand that is not offered here is kept until another is chosen.
    if (index < 0) stopKey_->addItem(QString::fromStdString(StopKeyName(stop.key)), stop.key);
    stopKey_->setCurrentIndex(index < 0 ? stopKey_->count() - 1 : index);
    startDisabled_->setChecked(stop.startDisabled);
    padChord_->setChecked(stop.padChord);
}

StopSettings OperationSettingsDialog::stopSettings() const {
    StopSettings stop;
    stop.key = stopKey_->currentData().toInt();
    stop.startDisabled = startDisabled_->isChecked();
    stop.padChord = padChord_->isChecked();
    return stop;
}

}  // namespace zanth
