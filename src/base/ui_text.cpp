#include "base/ui_text.h"

#include <array>
#include <cstddef>

namespace zanth {
namespace {

constexpr std::size_t kCount = static_cast<std::size_t>(Msg::kCount);

// One table per language, in the order of Msg.
constexpr std::array<const char*, kCount> kJapanese{
    "Zanthエミュレータ Version 1.0.0.2",
    "接続",
    "切断",
    "操作設定",
    "キーボード設定の表示",
    "効果音設定",
    "音停止",
    "閉じる",
    "バッテリー表示 On/Off",
    "応答なし",
    "キーボードが使用できます",
    "キーボードが使用できません",
    "ゲームパッドが使用できます",
    "ゲームパッドが使用できません",
    "コントローラ",
    "音名",
    "繰り返し",
    "装置なし",
    "ﾏﾆｭｱﾙ[pdf]を表示",
    "バージョン情報 Zanthエミュレータ(&A)...",
    "ERROR",
    "警告",
    "ロボットとの接続に失敗しました。",
    "このポートにはシリアル装置がありません(設定ファイルの[PORTS]で指定できます)",
    "通信スレッドを開始できませんでした",
    "設定を保存できませんでした:",
    "ポート切断",
    "取り外されました",
    "入出力エラー",
    "装置が出力を受け付けません",
    "ロボットとの接続を切断して終了しますか?",
    "はい(&Y)",
    "いいえ(&N)",
    // Shared by the dialogs
    "OK",
    "キャンセル",
    "ON",
    "OFF",
    "なし",
    // Gamepad names
    "ボタン -",
    "軸",
    "スライダー -",
    "スライダー -",
    "パッド -",
    "ボタン-",
    // Operation settings dialog
    "操作設定",
    "コントローラ",
    "キーボード",
    "ゲームパッド",
    "ゲームパッドデータ",
    "ボタン＆軸",
    "値",
    "設定保存",
    "設定読込",
    "名前を付けて保存",
    "開く",
    "操作設定 ファイル (*.kjd)|*.kjd|全てのファイル (*.*)|*.*||",
    "操作設定ファイルを保存できませんでした。",
    "操作設定ファイルを読み込めませんでした。",
    // Sound settings dialog
    "効果音設定",
    "ボタン",
    "簡易名",
    "音楽ファイルの長さ",
    "秒",
    "繰り返し再生をする",
    "再生時間",
    "秒 (0:ファイルに依存)",
    "繰り返し再生時の最後は\nファイル長で再生する",
    "参照",
    "PLAY",
    "STOP",
    "コントローラ",
    "音名",
    "長さ(秒)",
    "リピート",
    "リピート終了処理",
    "ファイル名",
    "ファイル長",
    "停止",
    "不明",
    "数値以外が入力されています。",
    "再生時間は0.0～60.0秒の範囲で指定してください",
    "音ファイル (*.wav);;全てのファイル (*)",
    // About box
    "バージョン情報 Zanthエミュレータ",
    "Zanthエミュレータ Version 1.0.0.2",
    "ロボットのリモコンをPCで操作します。",
    // Gamepads
    "ゲームコントローラ配置",
    "汎用ジョイスティック",
    "検出",
    "入力待ち…",
    "行を選んで押し、5秒以内にキー・ゲームパッドのボタンを押すか軸を倒すと、"
    "その行に割り当てます。Escで取り消し。",
    "%1 にも割り当てられています",
    "未接続: %1",
    "使用するパッド",
    "指定なし (最初に見つかったパッド)",
    "%1 (未接続)",
    "振動で知らせる",
    "振動機能のあるパッドは、バッテリー表示が赤になると1回 (赤の間は30秒ごと)、"
    "ポートが切断されると2回振動します。",
    "使い方: zanth-emulator [オプション]...\n"
    "小型ロボットの手持ちリモコンの代わりになります。キーボード・ゲームパッド・\n"
    "マウスでシリアルポート越しにロボットを操作します。\n"
    "\n"
    "  --lang ja|en    表示を日本語または英語にする (既定: システムの言語。\n"
    "                  起動時に左 Shift キーを押していると英語)\n"
    "  --config FILE   設定を FILE に保存する\n"
    "  --choose-config 起動時に設定ファイルをダイアログで選ぶ\n"
    "  --remote[=PORT] 今回だけリモート操作のサーバーを動かす。待ち受けは\n"
    "                  127.0.0.1 のポート PORT (既定: 設定のポート、最初は 8765)\n"
    "  -h, --help      このヘルプを表示して終了する\n"
    "  --version       バージョンを表示して終了する\n"
    "Qt のオプション (-platform NAME, -display NAME など) も使えます。\n"
    "\n"
    "設定: 起動したフォルダに Zanth-Emulator.ini があればそれを使います (ポータブル\n"
    "フォルダ)。なければ $XDG_CONFIG_HOME/zanth-emulator/Zanth-Emulator.ini\n"
    "(~/.config/...) です。設定ファイルは同時に一つのプログラムだけが使えます。\n"
    "使用中のファイルで起動すると、終了コード 3 で終了します。\n"
    "音ファイルと操作設定ファイル: ポータブルな設定ファイルの隣の Data フォルダ、\n"
    "なければ $XDG_DATA_HOME/zanth-emulator/Data (~/.local/share/...) です。\n",
    "不明なオプションです: %1",
    "余分な引数です: %1",
    "%1 には値が必要です",
    "--lang には ja か en を指定してください (\"%1\" は使えません)",
    "--remote のポートは 1 から 65535 までの数です (\"%1\" は使えません)",
    "詳しくは 'zanth-emulator --help' を見てください。",
    "設定ファイル: %1",
    // Serial ports
    "USBシリアル",
    "シリアルポート",
    "接続中…",
    "再接続中…",
    // Window and files
    "PDF を表示するプログラムが見つかりません。マニュアルは次のファイルです:\n%1",
    "アクセス権がありません",
    "ファイルまたはフォルダがありません",
    "装置がありません",
    "装置が使用中です",
    "ファイルが大きすぎます",
    "ディスクに空きがありません",
    "読み取り専用のファイルシステムです",
    "フォルダです",
    "フォルダではありません",
    "シリアル装置ではありません",
    "ポートは他のプログラムが使用中です",
    "ユーザーが %1 グループに入っている必要があります: sudo usermod -aG %1 $USER "
    "を実行し、ログインし直してください",
    "通常のファイルではありません",
    "WAV ファイルではありません",
    "%1 MB を超えています",
    "再生時間が %1 秒を超えています",
    "既存のファイルは読めなかったため、変更していません",
    "起動時にファイルを読めなかったため、変更していません",
    "設定ファイルの場所がありません (起動したフォルダが不明です)",
    "設定ファイルを読み込めないため、初期設定で起動します。このファイルには書き込みません。",
    "サウンドファイルは%1 MB以下、再生時間%2分以下のWAVファイルにしてください。",
    // Link monitor and recording
    "リンクモニタ...",
    "記録...",
    "再生...",
    "記録・再生の停止",
    "リンクモニタ",
    "一時停止",
    "クリア",
    "テキストで保存...",
    "時刻",
    "種別",
    "バイト列",
    "内容",
    "スティック",
    "LED・残量",
    "備考",
    "応答",
    "LED 点灯",
    "LED 消灯",
    "再生 %1",
    "開始バイト不正",
    "正常",
    "不正な応答",
    "応答なし",
    "遅れて到着",
    "送信 %1　応答 %2　無応答 %3　不正 %4　ポートエラー %5　再接続 %6　%7 件/秒",
    "装置 %1　%2　ゲームパッド %3",
    "バッテリー残量(過去10分)",
    "-%1分",
    "テキスト (*.txt);;全てのファイル (*)",
    "ログを保存できませんでした:",
    "記録セッション (*.zsr);;全てのファイル (*)",
    "記録できませんでした:",
    "再生できません:",
    "ファイルを読めません",
    "記録セッションとしては大きすぎるファイルです",
    "記録セッションのファイルではありません",
    "新しい版のプログラムで記録されたファイルです",
    "ファイルが壊れています(%1 行目)",
    "ファイルが途中で切れています",
    "メッセージが記録されていません",
    "ロボットに接続していません",
    "記録中",
    "再生中",
    "ブリッジが接続を切りました",
    "パスが長すぎます (%1 バイトを超えています)",
    "アドレスにホストがありません",
    "アドレスにポート番号がありません (tcp://ホスト:ポート)",
    "tcp:// アドレスのポート番号は 1 から 65535 までの数です",
    "ホスト名に /、[、]、空白は使えません",
    "この場所には設定を保存できません。プログラムを閉じると、今回の変更は失われます。",
    "ロボットから意味のないデータしか届きません",
    "空白: ニュートラル",
    "再生: %1 秒の空白をニュートラルで再生",
    "再生: 空白 %1 か所 (最長 %2 秒) をニュートラルで再生",
    " (%1 秒に短縮)",
    "音声出力装置が見つからないため、音は鳴りません。",
    "メッセージを送るたびに点滅します。\n緑: 応答あり、黄: 応答なし、赤: ポート切断\n"
    "ロボットの状態ではなく、送信を表します。",
    "ロボットが最後に返したバッテリー残量 (灰色: 応答が途絶えています)",
    // One settings file per window
    "この設定ファイルは、ほかのZanthエミュレータのウィンドウが使用中です:",
    "使用中のプログラム: %1 (プロセス番号 %2)",
    "ほかのプログラムが使用中です。",
    "一つの設定ファイルを二つのウィンドウで使うと、互いの設定を上書きしてしまいます。"
    "別の設定ファイルで起動するか、先にもう一方のウィンドウを閉じてください。",
    "別の設定ファイルで起動するには: zanth-emulator --config ファイル",
    "別の設定ファイルを選ぶ...",
    "終了",
    "このウィンドウで使う設定ファイル",
    "設定ファイル (*.ini);;全てのファイル (*)",
    "設定を別名で保存...",
    "現在の設定を次のファイルに保存しました:",
    "このファイルで二つ目のウィンドウを開くには、デスクトップのメニューの"
    "「別の設定ファイルで新しいウィンドウ…」を使うか、"
    "--config でこのファイルを指定して起動してください。",
    "ポート %1 は別のプログラムが使っています",
    "ポート %1 で待ち受けできません: %2",
    "このサーバーではないホスト名",
    "別のオリジンのページ",
    "トークンが違います",
    "最初に hello がありません",
    "クライアントが多すぎます",
    "不正な要求",
    "フレームが大きすぎます",
    "メッセージが多すぎます",
    "受信しないクライアント",
    "3 回目の不正なメッセージ",
};

constexpr std::array<const char*, kCount> kEnglish{
    "Zanth-Emulator Version 1.0.0.2",
    "Connect",
    "Disconnect",
    "Operation Setting",
    "Keyboard Setting",
    "Sound Setting",
    "Sound Stop",
    "CLOSE",
    "Battery Meter ON/OFF",
    "No reply",
    "Keyboard is Ready for Use",
    "Keyboard is not Ready for Use",
    "Game Pad is Ready for Use",
    "Game Pad is not Ready for Use",
    "Controller",
    "Sound",
    "Repeat",
    "no device",
    "Display Manual[pdf]",
    "&About Zanth-Emulator...",
    "ERROR",
    "WARNING",
    "Connection failed",
    "no serial device for this port (set one under [PORTS] in the settings file)",
    "the link thread could not be started",
    "The settings could not be saved:",
    "Port lost",
    "unplugged",
    "input/output error",
    "the device takes no output",
    "Disconnect from the robot and quit?",
    "&Yes",
    "&No",
    // Shared by the dialogs
    "OK",
    "Cancel",
    "ON",
    "OFF",
    "none",
    // Gamepad names
    "Button -",
    "-Axis",
    "Slider -",
    " Slider -",
    "Pad -",
    "Button-",
    // Operation settings dialog
    "Operation Setting",
    "Controller",
    "Keyboard",
    "Game Pad",
    "Game Pad Data",
    "Button & Axis",
    "Value",
    "Save",
    "Load",
    "Save As",
    "Open",
    "Operation Setting File (*.kjd)|*.kjd|All Files (*.*)|*.*||",
    "The operation setting file could not be saved.",
    "The operation setting file could not be read.",
    // Sound settings dialog
    "Sound Setting",
    "Game Pad Button",
    "Simplified Name",
    "Length of Sound File",
    "sec",
    "Repeat Playback",
    "Playback Time",
    "sec(0:File Length)",
    "Replay the Last File for its Original Length",
    "Reference",
    "PLAY",
    "STOP",
    "Controller",
    "Sound",
    "Length(sec)",
    "Repeat",
    "End Type",
    "File Name",
    "File Length",
    "Stop",
    "Unknown",
    "Invalied Value",
    "Play time is 0.0 - 60.0 sec",
    "Sound Files (*.wav);;All Files (*)",
    // About box
    "About Zanth-Emulator",
    "Zanth-Emulator Version 1.0.0.2",
    "Drives the robot's remote controller from a PC.",
    // Gamepads
    "game controller layout",
    "generic joystick",
    "Detect",
    "Press...",
    "Select a row, click, then within 5 s press a key or a gamepad button, or move an axis: "
    "the row takes it. Esc cancels.",
    "Also bound to %1",
    "Not connected: %1",
    "Pad in use",
    "Any pad (first found)",
    "%1 (not connected)",
    "Rumble warnings",
    "A pad with rumble motors pulses once when the battery meter turns red (again every 30 s while it "
    "stays red) and twice when the port is lost.",
    "Usage: zanth-emulator [OPTION]...\n"
    "Stands in for the hand-held remote controller of a small robot: keyboard,\n"
    "gamepad and mouse drive it over a serial port.\n"
    "\n"
    "  --lang ja|en    texts in Japanese or English (default: the system's language;\n"
    "                  holding the left Shift key at start-up chooses English)\n"
    "  --config FILE   keep the settings in FILE\n"
    "  --choose-config choose the settings file in a dialog at start-up\n"
    "  --remote[=PORT] run the remote-control server for this run, on PORT of\n"
    "                  127.0.0.1 (default: the port in the settings, first 8765)\n"
    "  -h, --help      show this help and exit\n"
    "  --version       show the version and exit\n"
    "Qt's own options (-platform NAME, -display NAME, ...) are accepted as well.\n"
    "\n"
    "Settings: Zanth-Emulator.ini in the folder the program is started from when\n"
    "it is there (a portable folder), else\n"
    "$XDG_CONFIG_HOME/zanth-emulator/Zanth-Emulator.ini (~/.config/...).\n"
    "One running program per settings file: another one started on it exits\n"
    "with status 3.\n"
    "Sound and mapping files: the Data folder beside a portable settings file, else\n"
    "$XDG_DATA_HOME/zanth-emulator/Data (~/.local/share/...).\n",
    "unknown option: %1",
    "unexpected argument: %1",
    "%1 needs a value",
    "--lang takes ja or en, not \"%1\"",
    "--remote takes a port from 1 to 65535, not \"%1\"",
    "Try 'zanth-emulator --help' for more information.",
    "Settings file: %1",
    // Serial ports
    "USB serial",
    "Serial port",
    "Connecting...",
    "Reconnecting...",
    // Window and files
    "No program to show PDF files was found. The manual is:\n%1",
    "permission denied",
    "no such file or folder",
    "no such device",
    "the device is busy",
    "file too large",
    "no space left on the disk",
    "read-only file system",
    "is a folder",
    "not a folder",
    "not a serial device",
    "the port is in use by another program",
    "the user must be in the %1 group: sudo usermod -aG %1 $USER, then log out and in again",
    "not a regular file",
    "not a WAV file",
    "larger than %1 MB",
    "plays longer than %1 seconds",
    "the existing file was not read, so it was left unchanged",
    "the file was not read at start, so it was left unchanged",
    "no settings file path (the start-up directory is unknown)",
    "The settings file cannot be read, so the program starts with the factory settings. The file will be "
    "left untouched.",
    "Sound files must be WAV files of at most %1 MB that play at most %2 minutes.",
    // Link monitor and recording
    "Link Monitor...",
    "Record...",
    "Play...",
    "Stop",
    "Link Monitor",
    "Pause",
    "Clear",
    "Save as Text...",
    "Time",
    "Kind",
    "Bytes",
    "Decoded",
    "Sticks",
    "LED / Level",
    "Note",
    "reply",
    "LED on",
    "LED off",
    "played %1",
    "bad start byte",
    "ok",
    "garbage",
    "none",
    "late",
    "Messages %1   Replies %2   Missed %3   Bad %4   Port errors %5   Reconnects %6   %7 per second",
    "Device %1   %2   Gamepad %3",
    "Battery level (last 10 minutes)",
    "-%1 min",
    "Text (*.txt);;All Files (*)",
    "The log could not be saved:",
    "Recorded Sessions (*.zsr);;All Files (*)",
    "The session could not be recorded:",
    "The session cannot be played:",
    "The file cannot be read",
    "The file is too large for a recorded session",
    "The file is not a recorded session",
    "The session was recorded by a newer version of the program",
    "The file is damaged (line %1)",
    "The file is cut short",
    "The session holds no messages",
    "Not connected to the robot",
    "Recording",
    "Playing",
    "closed by the bridge",
    "path too long (more than %1 bytes)",
    "no host in the address",
    "no port in the address (tcp://host:port)",
    "the port of a tcp:// address is a number from 1 to 65535",
    "a host name holds no /, [, ] or spaces",
    "Settings cannot be saved in this place: changes made now are lost when the program closes.",
    "the robot sends only garbage",
    "gap: neutral",
    "Playback: a gap of %1 s played as neutral",
    "Playback: %1 gaps played as neutral, the longest %2 s",
    " (shortened to %1 s)",
    "No audio device was found: sounds cannot be heard.",
    "Flashes with every message sent.\nGreen: the robot replies, amber: no reply, red: port lost.\n"
    "It shows messages going out, not the robot's health.",
    "The battery level the robot last replied (grey: replies have stopped)",
    // One settings file per window
    "This settings file is in use by another Zanth-Emulator window:",
    "Held by %1 (process %2).",
    "Another program holds it.",
    "Two windows on one settings file would overwrite each other's settings. Start this window with another "
    "settings file, or close the other window first.",
    "To start with another settings file: zanth-emulator --config FILE",
    "Choose Another Settings File...",
    "Quit",
    "Settings File for This Window",
    "Settings Files (*.ini);;All Files (*)",
    "Save Settings As...",
    "The current settings were saved to:",
    "To open a second window with this file, use \"New window with other settings...\" in the desktop's "
    "menu, or start the program with --config and this file.",
    "port %1 is in use by another program",
    "cannot listen on port %1: %2",
    "a host name that is not this server",
    "a page of another origin",
    "wrong token",
    "no hello first",
    "too many clients",
    "bad request",
    "frame too large",
    "too many messages",
    "a client that does not read",
    "a third malformed message",
};

// std::array fills missing initialisers with null, so a table one entry short would still compile.
constexpr bool Complete(const std::array<const char*, kCount>& table) {
    for (const char* text : table)
        if (text == nullptr) return false;
    return true;
}
static_assert(Complete(kJapanese) && Complete(kEnglish), "a text table lacks entries at its end");

}  // namespace

const char* UiText(Msg id, int language) {
    const auto i = static_cast<std::size_t>(id);
    if (i >= kCount) return "";
    return language == 1 ? kJapanese[i] : kEnglish[i];
}

}  // namespace zanth
