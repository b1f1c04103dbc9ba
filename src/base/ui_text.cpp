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
};

}  // namespace

const char* UiText(Msg id, int language) {
    const auto i = static_cast<std::size_t>(id);
    if (i >= kCount) return "";
    return language == 1 ? kJapanese[i] : kEnglish[i];
}

}  // namespace zanth
