#pragma once
#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/ui_text.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zanth {

class AppContext;
class ControllerModel;
class SoundOutput;

// The dialog's working copy of one sound effect.
struct SoundSettingRow {
    std::string displayName;  // the button's name, shown only
    std::string name;
    std::string file;
    int length = 0;  // ms; 0 = the file's own length
    int repeat = 0;
    int repeatMode = 0;
    bool operator==(const SoundSettingRow&) const = default;
};

// One row per sound effect in use, in table order.
std::vector<SoundSettingRow> RowsFromModel(const ControllerModel& model);
// Writes name, file, length, repeat and repeat mode back (names and paths cut to their byte limits in the
// settings file's encoding). The ON/OFF switches and the playback latches are left alone.
void ApplyRows(const std::vector<SoundSettingRow>& rows, ControllerModel& model);

// The sound-settings dialog: name, file, playback time and repeat behaviour of each button's sound, with a
// preview. Every edit goes into the current row at once; the caller applies rows() after Accepted.
class SoundSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    using MessageSink = std::function<void(const QString& caption, const QString& text)>;
    // Answers the chosen file's full path, or an empty text when the user cancelled.
    using FileChooser = std::function<QString()>;

    // `encoding`: the settings file's, in whose bytes names and paths are limited.
    SoundSettingsDialog(const AppContext& app, SoundOutput& output, std::vector<SoundSettingRow> rows,
                        TextEncoding encoding = TextEncoding::kUtf8, QWidget* parent = nullptr);

    const std::vector<SoundSettingRow>& rows() const { return rows_; }
    int currentRow() const { return currentRow_; }

    // Replace the message boxes (OK only, no icon) and the open-file dialog, e.g. in tests.
    void setMessageSink(MessageSink sink) { messageSink_ = std::move(sink); }
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }

    QTreeWidget* list() const { return list_; }
    QLineEdit* buttonEdit() const { return buttonEdit_; }
    QLineEdit* nameEdit() const { return nameEdit_; }
    QLineEdit* fileLengthEdit() const { return fileLengthEdit_; }
    QCheckBox* repeatCheck() const { return repeatCheck_; }
    QLineEdit* playTimeEdit() const { return playTimeEdit_; }
    QCheckBox* endTypeCheck() const { return endTypeCheck_; }
    QLineEdit* fileEdit() const { return fileEdit_; }
    QPushButton* browseButton() const { return browseButton_; }
    QPushButton* playButton() const { return playButton_; }
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LayOut(const std::array<QLabel*, 6>& labels);
    void FillList();
    void ConnectSignals();
    QString T(Msg id) const;
    QString OnOff(bool on) const;
    SoundSettingRow* Current();
    void SetCell(int column, const QString& text);
    void MarkFile(QTreeWidgetItem& item, const SoundSettingRow& row) const;
    QString LengthText(int ms) const;
    QString EndTypeText(int repeatMode) const;

    void SelectRow(int row);
    void FillControls();
    void NameChanged(const QString& text);
    void FileChanged(const QString& text);
    void ShowFileLength();
    void ValidatePlayTime();
    void Browse();
    void CheckFile();
    void Message(Msg captionId, Msg textId);
    void Message(Msg captionId, const QString& text);
    QString ChooseFile();

    const AppContext& app_;
    SoundOutput& output_;
    std::vector<SoundSettingRow> rows_;
    TextEncoding encoding_;
    int currentRow_ = -1;
    std::string checkedFile_;  // the file last checked or shown: leaving its box unchanged checks nothing
    MessageSink messageSink_;
    bool toldNoDevice_ = false;  // PLAY found no audio device and said so
    FileChooser fileChooser_;

    QTreeWidget* list_ = nullptr;
    QLineEdit* buttonEdit_ = nullptr;
    QLineEdit* nameEdit_ = nullptr;
    QLineEdit* fileLengthEdit_ = nullptr;
    QCheckBox* repeatCheck_ = nullptr;
    QLineEdit* playTimeEdit_ = nullptr;
    QCheckBox* endTypeCheck_ = nullptr;
    QLineEdit* fileEdit_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace zanth
