// The page's words in both languages, and the program's refusals put into them: a reason the page knows is
// said in the page's language, any other is shown in the program's own words.
"use strict";
window.Zanth = window.Zanth || {};
(() => {
  const TEXT = {
    en: {
      title: "Remote control",
      controller: "What the robot gets",
      buttons: "Buttons",
      leftStick: "Left stick",
      rightStick: "Right stick",
      stickValue: "across %1, down %2",
      battery: "Battery",
      program: "Program",
      waiting: "Reaching the program…",
      programLost: "The program cannot be reached: trying again…",
      programSilent: "The program does not answer: trying again…",
      noToken: "This address has no key. Open the address shown in the program's Remote Control window.",
      refused: "The program refused this page: %1. Open the address its Remote Control window shows now.",
      staleKey:
        "The program refused this page's key: it has a new one. Scan the new code in the program's Remote Control window.",
      tooMany: "%1 clients already drive this robot. Try again when one has left.",
      denied: "The program's user did not let this page drive.",
      otherVersion: "This page and the program do not speak the same version: reload the page.",
      waitingAllow: "Waiting for the program's user to let this page drive…",
      robot: "Robot",
      disconnected: "not connected",
      connecting: "connecting…",
      connected: "connected",
      reconnecting: "reconnecting…",
      robotOff: "The robot is not connected: press Connect in the program.",
      robotConnecting: "Connecting to the robot…",
      robotLost: "The robot is lost: reconnecting…",
      noReply: "No reply from the robot.",
      stopped: "The program let go of everything: lift your fingers, then touch again.",
      fullScreen: "Full screen",
      mayDim: "The screen may turn off while you drive: this address is not secure, so the page cannot keep it awake.",
      stop: "STOP",
      stopLabel: "Stop the robot",
      stoppedBy: "STOPPED by %1 at %2",
      stoppedAt: "STOPPED at %1",
      stopRelease: "Only the program's window releases the stop.",
      disabled: "DISABLED: the robot gets the neutral frame until Enable is pressed in the program.",
      match: "Match",
    },
    ja: {
      title: "リモート操作",
      controller: "ロボットへの入力",
      buttons: "ボタン",
      leftStick: "左スティック",
      rightStick: "右スティック",
      stickValue: "横 %1、縦 %2",
      battery: "バッテリー",
      program: "プログラム",
      waiting: "プログラムに接続しています…",
      programLost: "プログラムに接続できません。再接続しています…",
      programSilent: "プログラムが応答しません。再接続しています…",
      noToken: "このアドレスにはキーがありません。プログラムの「リモート操作」ウィンドウに表示されたアドレスを開いてください。",
      refused: "プログラムがこのページを拒否しました（%1）。「リモート操作」ウィンドウに今表示されているアドレスを開いてください。",
      staleKey:
        "プログラムがこのページのキーを拒否しました。キーが新しくなっています。「リモート操作」ウィンドウの新しいコードを読み取ってください。",
      tooMany: "すでに %1 台がこのロボットを操作しています。どれかが抜けてから、もう一度お試しください。",
      denied: "プログラムの利用者がこのページの操作を許可しませんでした。",
      otherVersion: "このページとプログラムのバージョンが合いません。ページを再読み込みしてください。",
      waitingAllow: "プログラムの利用者が操作を許可するのを待っています…",
      robot: "ロボット",
      disconnected: "未接続",
      connecting: "接続しています…",
      connected: "接続済み",
      reconnecting: "再接続しています…",
      robotOff: "ロボットに接続していません。プログラムで「接続」を押してください。",
      robotConnecting: "ロボットに接続しています…",
      robotLost: "ロボットとの接続が切れました。再接続しています…",
      noReply: "ロボットから応答がありません。",
      stopped: "プログラムがすべての入力を解除しました。指を離してから、もう一度触れてください。",
      fullScreen: "全画面",
      mayDim: "操作中に画面が消えることがあります。このアドレスは安全な接続ではないため、ページは画面をつけたままにできません。",
      stop: "停止",
      stopLabel: "ロボットを停止",
      stoppedBy: "停止中: %2 に %1 が停止",
      stoppedAt: "停止中: %1 に停止",
      stopRelease: "停止の解除はプログラムの画面でのみ行えます。",
      disabled: "無効: プログラムで「有効にする」を押すまで、ロボットにはニュートラルを送っています。",
      match: "試合",
    },
  };

  const wanted = (navigator.languages && navigator.languages[0]) || navigator.language || "en";
  const lang = wanted.toLowerCase().startsWith("ja") ? "ja" : "en";
  const T = TEXT[lang];

  // What the page shows for a refusal: { text, stale } where `stale` asks for the new code to be scanned. The
  // program's "refused" names a reason the page words itself; an older program's error gives its own words.
  function refusalText(refusal) {
    if (refusal && typeof refusal === "object") {
      const limit = Number.isInteger(refusal.limit) ? refusal.limit : 8;
      const known = { full: T.tooMany.replace("%1", limit), denied: T.denied, version: T.otherVersion };
      if (refusal.reason === "token") return { text: T.staleKey, stale: true };
      return { text: known[refusal.reason] || T.refused.replace("%1", refusal.reason), stale: false };
    }
    const words = String(refusal || "?");
    if (/token/i.test(words)) return { text: T.staleKey, stale: true };
    if (/too many clients/i.test(words)) return { text: T.tooMany.replace("%1", 8), stale: false };
    return { text: T.refused.replace("%1", words), stale: false };
  }

  Object.assign(window.Zanth, { lang, T, refusalText });
})();
