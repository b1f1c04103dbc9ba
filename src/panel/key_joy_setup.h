#pragma once
#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

#include "input/joystick.h"
#include "input/mapping.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace zanth {

class CPadoraApp;

// The operation settings: binds keys, gamepad buttons and axes to the controller, one row per function,
// and saves or loads the rows as a mapping file. It edits its own copy of the rows; the caller applies
// rows() only when exec() ended with OK.
//
// While shown it reads the gamepad itself (every 100 ms) and lists the raw reading, so the caller must
// release its own gamepad before exec() and open it again afterwards.
class CKeyJoySetup : public QDialog {
    Q_OBJECT
  public:
    // Returns the chosen path, or an empty string when the user cancelled. `save` tells which dialog.
    using FileChooser = std::function<QString(bool save)>;

    // `mainJoystick` only lends its button and axis names; it must outlive the dialog.
    CKeyJoySetup(const CPadoraApp& app, const CJoystick& mainJoystick, std::vector<MappingEntry> rows,
                 QWidget* parent = nullptr);
    ~CKeyJoySetup() override;

    const std::vector<MappingEntry>& rows() const { return rows_; }
    int currentRow() const { return current_; }

    // Replaces the file dialogs (tests).
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Off: failures are only kept in lastError() (tests).
    void setMessageBoxesEnabled(bool on) { messageBoxes_ = on; }
    const QString& lastError() const { return lastError_; }
    // Whether the live data view has a gamepad open.
    bool dataViewReady() const { return liveReady_; }

    void done(int result) override;

    QTreeWidget* mappingList() const { return mappingList_; }
    QComboBox* keyboardCombo() const { return keyCombo_; }
    QComboBox* gamepadCombo() const { return padCombo_; }
    QTreeWidget* dataList() const { return dataList_; }
    QGroupBox* settingGroup() const { return settingGroup_; }
    QGroupBox* dataGroup() const { return dataGroup_; }
    QLabel* keyboardLabel() const { return keyLabel_; }
    QLabel* gamepadLabel() const { return padLabel_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* loadButton() const { return loadButton_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnRowChanged(int r);
    void OnKeyboardChoice(int position);
    void OnGamepadChoice(int position);
    void OnTimer();
    void OnSave();
    void OnLoad();

    void FillMappingList();
    void SelectRow(int r);
    void SetCell(int r, int column, const std::string& text);
    QString ChooseFile(bool save);
    void ShowError(const QString& what, const QString& path, const std::string& reason);

    const CPadoraApp& app_;
    const CJoystick& names_;
    std::vector<MappingEntry> rows_;
    int current_ = -1;

    CJoystick liveJoystick_;  // the data view's own gamepad
    bool liveReady_ = false;
    bool liveStarted_ = false;
    QTimer timer_;

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
    QTreeWidget* dataList_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace zanth
