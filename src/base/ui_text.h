#pragma once

namespace zanth {

// Every text the user reads, by its role. The two language tables in ui_text.cpp hold one entry for each;
// code never spells a text pair inline.
enum class Msg : int {
    // Main window
    kWindowTitle,
    kConnect,
    kDisconnect,
    kOperationSetting,
    kKeyboardSetting,
    kSoundSetting,
    kSoundStop,
    kClose,
    kBatteryDisplay,
    kNoReply,
    kKeyboardReady,
    kKeyboardNotReady,
    kGamepadReady,
    kGamepadNotReady,
    kColumnController,
    kColumnSound,
    kColumnRepeat,
    kNoDevice,
    kMenuManual,
    kMenuAbout,
    // Messages of the main window and the program
    kCaptionError,
    kCaptionWarning,
    kConnectFailed,
    kNoDeviceForPort,
    kLinkNotStarted,
    kSaveFailed,
    kPortLost,
    kPortUnplugged,  // %1: the device
    kPortIoError,
    kPortStalled,
    // Added after these: the texts of the settings dialogs and the About box.
    // Installation
    kHelp,                // the whole of --help
    kUnknownOption,       // %1: the option
    kUnexpectedArgument,  // %1: the argument
    kOptionNeedsValue,    // %1: the option
    kBadLanguage,         // %1: the value given to --lang
    kTryHelp,
    kAboutSettingsFile,  // %1: the settings file in use
    kCount
};

// The text of `id` in the language given (1 = Japanese, anything else English), UTF-8.
const char* UiText(Msg id, int language);

}  // namespace zanth
