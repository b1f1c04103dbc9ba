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
    "%1 が取り外されました",
    "入出力エラー",
    "装置が出力を受け付けません",
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
    // Serial ports
    "USBシリアル",
    "シリアルポート",
    "接続中…",
    "再接続中…",
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
    "About Zanth-Emulator(&A)...",
    "ERROR",
    "WARNING",
    "Connection failed",
    "no serial device for this port (set one under [PORTS] in the settings file)",
    "the link thread could not be started",
    "The settings could not be saved:",
    "Port lost",
    "%1 was unplugged",
    "input/output error",
    "the device takes no output",
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
    // Serial ports
    "USB serial",
    "Serial port",
    "Connecting...",
    "Reconnecting...",
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
