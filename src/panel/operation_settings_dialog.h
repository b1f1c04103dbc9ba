#pragma once
#include <QDialog>
#include <QString>
#include <QTimer>
#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "input/input_state.h"
#include "input/mapping.h"
#include "model/pad_choice.h"
#include "model/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace zanth {

class AppContext;
class GamepadDevice;
class GamepadNames;
class GamepadSource;

// The operation settings: binds keys, gamepad buttons and axes to the controller, one row per function,
// and saves or loads the rows as a mapping file. It edits its own copy of the rows; the caller applies
// rows() only when exec() ended with OK.
//
// While shown it reads a gamepad of its own from `gamepads` (every 100 ms) and lists the raw reading, so the
// caller must release its own gamepad before exec() and open it again afterwards. Values that changed in the
// last second are highlighted. The live view reads the pad chosen to drive this instance, from the list of
// the pads connected now ("any pad" first). "Detect" binds the current row to the next key, gamepad button or
// axis the user works within 5 s; a key or button two rows share is marked on both.
class OperationSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    // The encoding the rows' names came in (the settings file's, or the last loaded mapping file's): a new
    // mapping file is written in it, so that the names keep fitting their byte limits.
    void setNamesEncoding(TextEncoding encoding) { namesEncoding_ = encoding; }
    // Returns the chosen path, or an empty string when the user cancelled. `save` tells which dialog.
    using FileChooser = std::function<QString(bool save)>;

    // `gamepads` gives the button and axis names and the live gamepad; it must outlive the dialog.
    OperationSettingsDialog(const AppContext& app, const GamepadSource& gamepads,
                            std::vector<MappingEntry> rows, QWidget* parent = nullptr);
    ~OperationSettingsDialog() override;

    const std::vector<MappingEntry>& rows() const { return rows_; }
    // The pad that drives this instance (none chosen: the first one found), and whether its motors give
    // warnings: set before exec(), read after OK.
    void setPadChoice(const PadChoice& pad);
    const PadChoice& padChoice() const { return chosen_; }
    void setRumble(bool on);
    bool rumble() const;
    // The stop key, Start disabled and the gamepad's stop chord (operation_settings_stop.cpp).
    void setStopSettings(const StopSettings& stop);
    StopSettings stopSettings() const;
    QComboBox* stopKeyBox() const { return stopKey_; }
    int currentRow() const { return current_; }

    // Replaces the file dialogs (tests).
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Off: failures are only kept in lastError() (tests).
    void setMessageBoxesEnabled(bool on) { messageBoxes_ = on; }
    const QString& lastError() const { return lastError_; }
    // Whether Detect is waiting for a key, button or axis.
    bool detecting() const { return detecting_; }
    // Rows of the data view highlighted as recently changed.
    bool dataRowLit(int row) const {
        return row >= 0 && row < kDataViewRows && lit_[static_cast<std::size_t>(row)];
    }

    void done(int result) override;

    QTreeWidget* mappingList() const { return mappingList_; }
    QComboBox* keyboardCombo() const { return keyCombo_; }
    QComboBox* gamepadCombo() const { return padCombo_; }
    QComboBox* padChoiceCombo() const { return padChoice_; }
    QCheckBox* rumbleBox() const { return rumble_; }
    QTreeWidget* dataList() const { return dataList_; }
    QGroupBox* settingGroup() const { return settingGroup_; }
    QGroupBox* dataGroup() const { return dataGroup_; }
    QLabel* keyboardLabel() const { return keyLabel_; }
    QLabel* gamepadLabel() const { return padLabel_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* loadButton() const { return loadButton_; }
    QPushButton* detectButton() const { return detectButton_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    TextEncoding namesEncoding_ = TextEncoding::kUtf8;
    void BuildControls();
    void BuildStopRow();
    void FillControls();
    void ConnectSignals();
    void OnRowChanged(int r);
    void OnKeyboardChoice(int position);
    void OnGamepadChoice(int position);
    void OnTimer();
    void OnSave();
    void OnLoad();

    // Bind by pressing.
    enum class Taken { kKey, kButton, kAxis };
    bool RowTakes(Taken what) const;
    void StartDetect();
    void StopDetect();
    void Bind(Taken what, int code);
    // Binds what changed between two readings of the live gamepad, if the current row takes it.
    void DetectOnPad(const GamepadState& before, const GamepadState& now);

    // The live data view.
    void ShowLiveValues(const GamepadState& state);
    void ShowPadName();
    // The list of pads, filled afresh when the pads connected changed.
    void FillPadChoices();
    void OnPadChoice(int position);

    void RefreshRow(int r);
    void MarkConflicts();

    void FillMappingList();
    void FitMappingColumns();
    void SelectRow(int r);
    void SetCell(int r, int column, const std::string& text);
    QString ChooseFile(bool save);
    void ShowError(const QString& what, const QString& path, const std::string& reason);

    const AppContext& app_;
    const GamepadSource& gamepads_;
    const GamepadNames& names_;
    std::vector<MappingEntry> rows_;
    int current_ = -1;

    std::unique_ptr<GamepadDevice> liveGamepad_;  // the data view's own gamepad
    bool liveReady_ = false;
    bool liveStarted_ = false;
    QTimer timer_;
    std::string shownPad_;  // the description shown in the data view's title
    PadChoice chosen_;
    std::vector<PadChoice> listedPads_;  // the pads in the list, to notice a change
    int padListTicks_ = 0;

    // Data view: what each row shows, when it last changed, whether it is highlighted.
    std::array<std::string, kDataViewRows> shown_;
    std::array<std::uint32_t, kDataViewRows> changedAt_{};
    std::bitset<kDataViewRows> moved_;  // changed since the first reading
    std::bitset<kDataViewRows> lit_;

    std::optional<GamepadState> lastReading_;  // of the live gamepad; none after a failed poll
    bool detecting_ = false;
    QTimer detectTimer_;

    FileChooser chooser_;
    bool messageBoxes_ = true;
    QString lastError_;

    QGroupBox* settingGroup_ = nullptr;
    QTreeWidget* mappingList_ = nullptr;
    QLabel* keyLabel_ = nullptr;
    QComboBox* keyCombo_ = nullptr;
    QLabel* padLabel_ = nullptr;
    QComboBox* padCombo_ = nullptr;
    QGroupBox* dataGroup_ = nullptr;
    QLabel* padChoiceLabel_ = nullptr;
    QComboBox* padChoice_ = nullptr;
    QCheckBox* rumble_ = nullptr;
    QComboBox* stopKey_ = nullptr;
    QCheckBox* startDisabled_ = nullptr;
    QCheckBox* padChord_ = nullptr;
    QTreeWidget* dataList_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* detectButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace zanth
