#pragma once

namespace zanth {

// The language the program speaks to the user, settled once at start (see AppContext).
enum class Language { kEnglish, kJapanese };

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
    kPortUnplugged,  // the device went away; the note names it on a line of its own
    kPortIoError,
    kPortStalled,
    kQuitWhileConnected,
    kYes,
    kNo,
    // Added after these: the texts of the settings dialogs and the About box.
    // Shared by the dialogs
    kOk,
    kCancel,
    kOn,
    kOff,
    kNone,  // the "nothing bound" entry of the key, button and axis lists
    // Gamepad names: the button and axis lists and the live data view of the operation settings dialog
    kPadButton,       // followed by the button's number from 1
    kAxisSuffix,      // follows an axis's letters, e.g. "X", "RZ", "VX"
    kSlider,          // followed by the slider's number from 1
    kPrefixedSlider,  // the same after the group letter of the velocity, acceleration and force sliders
    kPointOfView,     // followed by the hat's number from 1
    kDataButton,      // followed by the button's number from 1
    // Operation settings dialog
    kOperationTitle,  // also its group box
    kOperationColumnController,
    kOperationKeyboard,  // label and column
    kOperationGamepad,   // label and column
    kOperationDataGroup,
    kOperationColumnButtonAxis,
    kOperationColumnValue,
    kOperationSave,
    kOperationLoad,
    kOperationSaveAs,
    kOperationOpen,
    kOperationFileFilter,  // "desc|pattern|...||"
    kOperationSaveFailed,
    kOperationLoadFailed,
    kOperationNotMappingFile,  // the reason a file was refused by Load
    kOperationSectionsKept,    // %1: the sections a loaded file lacks
    // Sound settings dialog
    kSoundDlgTitle,
    kSoundDlgButton,
    kSoundDlgName,
    kSoundDlgFileLength,
    kSoundDlgSeconds,
    kSoundDlgRepeat,
    kSoundDlgPlayTime,
    kSoundDlgPlayTimeUnit,
    kSoundDlgEndType,  // the check box; two lines in Japanese
    kSoundDlgBrowse,
    kSoundDlgPlay,
    kSoundDlgStop,
    kSoundDlgColumnController,
    kSoundDlgColumnSound,
    kSoundDlgColumnLength,
    kSoundDlgColumnRepeat,
    kSoundDlgColumnEndType,
    kSoundDlgColumnFile,
    kSoundDlgWholeFile,  // a length of 0, and the end type that plays the file out
    kSoundDlgEndStop,
    kSoundDlgUnknown,
    kSoundDlgNotANumber,
    kSoundDlgPlayTimeRange,
    kSoundDlgFileFilter,   // Qt form: "desc (pattern);;..."
    kSoundDlgFileMissing,  // the list's tip on a file that is not there; %1: where it was looked for
    // About box
    kAboutTitle,
    kAboutVersion,
    kAboutLine,
    // Gamepads
    kGamepadKindController,     // a pad read in the one layout of known pads; follows its name
    kGamepadKindJoystick,       // any other pad; follows its name
    kOperationDetect,           // the bind-by-pressing button
    kOperationDetectWaiting,    // its caption while it waits
    kOperationDetectHint,       // its tool tip
    kOperationConflict,         // tool tip of a binding another row shares; %1 = the other rows' names
    kGamepadAbsent,             // the status while the chosen pad is not connected; %1 = its name
    kOperationPadInUse,         // label of the list of pads
    kOperationAnyPad,           // its first entry, the default
    kOperationPadNotConnected,  // the entry of a chosen pad not connected now; %1 = its name
    kOperationRumble,           // the check box
    kOperationRumbleHint,       // its tool tip
    // Installation
    kHelp,                // the whole of --help
    kUnknownOption,       // %1: the option
    kUnexpectedArgument,  // %1: the argument
    kOptionNeedsValue,    // %1: the option
    kBadLanguage,         // %1: the value given to --lang
    kBadRemotePort,       // %1: the value given to --remote
    kTryHelp,
    kAboutSettingsFile,  // %1: the settings file in use
    // Serial ports
    kPortUsbSerial,       // a USB adapter that gives no product name
    kPortBuiltIn,         // a serial port of the machine itself
    kPortSimulatedRobot,  // the port list's entry that starts the bundled robot simulator
    kSimulatedRobotTip,   // its tip; %1: the simulator program, %2: its log file
    kConnecting,          // a network bridge is being reached
    kReconnecting,        // followed by why the port was lost
    // Window and files
    kManualNoViewer,  // %1: the manual's file
    kManualNotFound,  // %1: the manual's file name, %2: the folders looked in, one a line
    kSoundNoFile,     // the sound list's tip on a switch of a sound without a file
    kBridgeHint,      // below a failed connect to a network bridge
    // The system's common reasons in our own words, and the program's own reasons (see reason_text.h): the
    // entries from kReasonPermission to kReasonNoSettingsPath, in one block
    kReasonPermission,
    kReasonNoFile,
    kReasonNoDevice,
    kReasonBusy,
    kReasonTooLarge,
    kReasonDiskFull,
    kReasonReadOnly,
    kReasonIsFolder,
    kReasonNotFolder,
    kReasonNotSerial,
    kReasonPortInUse,
    kReasonDialout,  // %1: the group that owns the device
    kReasonNotRegular,
    kReasonNotWav,
    kReasonLargerThanMb,  // %1: megabytes
    kReasonPlaysLonger,   // %1: seconds
    kReasonLeftUnchanged,
    kReasonNotReadAtStart,
    kReasonNoSettingsPath,
    // Fail-safe
    kSettingsUnreadable,  // followed by the file and the reason, one a line
    kSoundFileRefused,    // %1: the byte limit in MB, %2: the playing time limit in minutes
    // Link monitor and recording
    kMenuMonitor,
    kMenuRecord,
    kMenuPlay,
    kMenuStop,
    kMonitorTitle,
    kMonitorPause,
    kMonitorClear,
    kMonitorSave,
    kMonitorColumnTime,
    kMonitorColumnKind,
    kMonitorColumnBytes,
    kMonitorColumnDecoded,
    kMonitorColumnSticks,
    kMonitorColumnLevel,
    kMonitorColumnNote,
    kMonitorReply,
    kMonitorLedOn,
    kMonitorLedOff,
    kMonitorPlayed,
    kMonitorBadStart,
    kMonitorReplyOk,
    kMonitorReplyGarbage,
    kMonitorReplyNone,
    kMonitorReplyLate,
    kMonitorCounters,
    kMonitorDevice,
    kMonitorPlot,
    kMonitorMinutesAgo,  // %1: minutes before now, on the plot's time axis
    kMonitorTextFilter,
    kMonitorSaveFailed,
    kSessionFilter,
    kRecordFailed,
    kPlayFailed,
    kSessionUnreadable,
    kSessionTooLarge,
    kSessionForeign,
    kSessionNewer,
    kSessionDamaged,
    kSessionTruncated,
    kSessionEmpty,
    kNotConnected,
    kRecording,
    kPlaying,
    kRecordMark,        // on the picture while recording
    kPlayMark,          // on the picture while playing
    kPlaybackCutShort,  // %1: messages of a recording without its closing line
    kPlaybackFinished,
    kPlaybackStopped,  // %1: one of the kPlayEnd texts
    kPlayEndKey,
    kPlayEndMouse,
    kPlayEndGamepad,
    kPlayEndEscape,
    kPlayEndStop,
    kPlayEndPortLost,
    kPlayEndDisconnect,
    kPlayEndRemote,
    kMonitorResume,
    kMonitorPort,      // the kind column of a row about the port
    kMonitorPortLost,  // its note column
    kMonitorPortTry,   // %1: the try's number
    kMonitorPortBack,
    kMonitorLogPort,    // the saved log's header: %1 the port, %2 the device, %3 the line settings
    kMonitorLogSaved,   // %1: date and time
    kPortClosedByPeer,  // a network bridge ended the connection
    // Reasons a port is refused before it is opened, known to ReasonText like the block above: the entries
    // from kReasonPathTooLong to kReasonBadHost
    kReasonPathTooLong,  // %1: the byte limit
    kReasonNoHost,
    kReasonNoTcpPort,
    kReasonTcpPortRange,
    kReasonBadHost,
    kSettingsCannotBeSaved,  // followed by the file and the reason, one a line
    kPortGarbage,            // the link gave up on a peer that sends only garbage
    // Pauses of a played session filled with the neutral frame
    kMonitorGapNeutral,  // the monitor's note of such a message
    kPlaybackGapOne,     // %1: seconds recorded
    kPlaybackGaps,       // %1: how many, %2: seconds recorded of the longest
    kPlaybackShortened,  // follows either: %1: seconds played at most
    kSoundDlgNoDevice,   // PLAY without an audio device
    kLampTip,            // the message lamp's tool tip
    kBatteryNumberTip,   // the battery number's tool tip
    // One settings file per window
    kSettingsInUse,        // followed by the file and who holds it, one a line
    kSettingsHeldBy,       // %1: the command, %2: the process id
    kSettingsHeldUnknown,  // when the holder cannot be told
    kSettingsInUseAdvice,  // in the box, below the file and the holder
    kSettingsInUseOption,  // on stderr, where no box can be shown
    kNoDisplay,            // on stderr: the program was started where no window can be shown
    kChooseOtherSettings,  // the box's button that opens the file dialog
    kQuit,
    kChooseSettingsTitle,   // the file dialog's caption at start
    kChooseSettingsAccept,  // its button that takes the file
    kSettingsFilter,
    kMenuSaveSettingsAs,
    kSettingsSavedAs,  // followed by the new file, then kSettingsSavedAsHint
    kSettingsSavedAsHint,
    // The remote-control server
    kRemotePortInUse,     // %1: the port
    kRemoteCannotListen,  // %1: the port, %2: the system's reason
    // Why a remote client was turned away, in RemoteRefusal order
    kRemoteRefusedHost,
    kRemoteRefusedOrigin,
    kRemoteRefusedToken,
    kRemoteRefusedNoHello,
    kRemoteRefusedTooMany,
    kRemoteRefusedBadRequest,
    kRemoteRefusedFrameTooLarge,
    kRemoteRefusedFlood,
    kRemoteRefusedSlowReader,
    kRemoteRefusedBadMessages,
    kRemoteRefusedDenied,
    // The Link Monitor's rows and line for remote-control clients
    kMonitorRemote,         // the kind column
    kMonitorRemoteArrived,  // %1: the client's name and address
    kMonitorRemoteLeft,     // %1: the client's name and address
    kMonitorRemoteRefused,  // %1: the client, %2: why
    kMonitorRemoteClients,  // %1: the clients, each as kMonitorRemoteClient
    kMonitorRemoteClient,   // %1: name, %2: address, %3: since (time of day), %4: messages
    // Remote control window and the main window's mark
    kMenuRemote,
    kRemoteTitle,
    kRemoteOn,
    kRemoteLan,
    kRemoteLanNote,
    kRemoteOff,
    kRemoteRunning,  // %1: the port
    kRemoteFailed,   // %1: why
    kRemoteAddress,
    kRemoteScan,
    kRemoteClients,
    kRemoteColumnName,
    kRemoteColumnAddress,
    kRemoteColumnSince,
    kRemoteColumnMessages,
    kRemoteStopAll,
    kRemoteMark,  // %1: how many clients
    // Remote Control window: the key, the clients, the robot's name, the port and the address in the code
    kRemoteNewKey,
    kRemoteNewKeyTip,
    kRemoteRemove,
    kRemoteAsk,
    kRemoteAskQuestion,  // %1: the client's name, %2: its address
    kRemoteAllow,
    kRemoteDeny,
    kRemoteWaiting,  // in the client list, after the name of one waiting to be allowed
    kRemoteRobot,
    kRemotePort,
    kRemoteInterface,
    kRemoteLanKeyNote,
    kRemoteKeyNotKept,  // %1: why
    // The stop and enable
    kStop,
    kStopTip,
    kStoppedBanner,
    kStopByKey,
    kStopByWindow,
    kStopByRemote,
    kStopByPad,
    kStopByMatch,
    kReleaseStop,
    kReleaseStopQuestion,
    kDisabledBanner,
    kEnable,
    kDisable,
    kLetGoNote,
    kSourceKeyboard,
    kSourceGamepad,
    kSourceMouse,
    kSourceSliders,
    kSourceRemote,
    kStopKeyLabel,
    kStartDisabled,
    kPadStopChord,
    kStopKeyWindowOnly,
    kMonitorStopped,
    kMonitorStopReleased,
    kMonitorEnabled,
    kMonitorDisabled,
    // The practice match: its dialog and the Link Monitor's summary
    kMenuMatch,
    kMatchTitle,
    kMatchName,
    kMatchColumnPhase,
    kMatchColumnLength,
    kMatchColumnSound,
    kMatchColumnDrives,
    kMatchAdd,
    kMatchRemove,
    kMatchUp,
    kMatchDown,
    kMatchStart,
    kMatchPause,
    kMatchResume,
    kMatchAbort,
    kMatchNotStarted,
    kMatchPaused,  // %1: the phase's name
    kMatchEnded,
    kMatchAborted,
    kMatchNewPhase,   // %1: its number from 1
    kMatchSummary,    // %1 name, %2 drive time, %3 lowest level, %4 time with the port lost, %5 stops
    kMatchNoBattery,  // the lowest battery when no reply came
    kCount
};

// The text of `id` in the language given, UTF-8.
const char* UiText(Msg id, Language language);

}  // namespace zanth
