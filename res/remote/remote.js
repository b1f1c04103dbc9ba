// The remote-control page's connection to the program, over one WebSocket. Everything held is let go the
// moment the page cannot be seen or the program cannot be heard: the robot must never keep a press nobody is
// making. The page shows the program's truth: it drives only while the robot is connected and the program
// takes this page, and greys out otherwise.
"use strict";
(() => {
  const { T, lang, refusalText } = window.Zanth;
  document.documentElement.lang = lang;

  const PING_MS = 100;
  // Nothing heard for this long (a pong is due every ping) means the program is stuck or gone.
  const SILENT_MS = 1500;
  // The meter's scale: the battery levels the robot reports, as the program's own meter shows them.
  const LEVEL_MIN = 50, LEVEL_MAX = 80;
  const COLOURS = { green: "#35d46a", yellow: "#f3c623", red: "#ff4b4b", grey: "#8a96a3" };
  // Sending stops piling up behind a slow network; presses and releases still go.
  const BACKLOG = 64 * 1024;
  const KEPT_TOKEN = "zanth-token";

  const $ = (id) => document.getElementById(id);
  const banner = $("banner");
  const params = new URLSearchParams(location.hash.slice(1));
  const token = params.get("token") || kept() || "";
  const name = params.get("name") || defaultName();

  let ws = null;
  let ready = false;        // the program said hello on this socket
  let everReady = false;
  let refusal = null;       // the program's reason for refusing us; no retries after it
  let silent = false;
  let waiting = false;      // the program asks its user whether this page may drive
  let stopped = false;      // the program let go of what this page held: fingers must lift first
  let lastHeard = 0;
  let retryMs = 1000;
  let retryTimer = 0;
  let pingTimer = 0;
  let state = null;
  let drive = null;         // whether the robot is stopped or disabled, and the match (a program before 1.1: none)
  let robotName = "";
  // The first answer usually comes at once: the page says it is waiting only when it does not.
  let patient = true;
  setTimeout(() => { patient = false; render(); }, 1000);

  // A page added to the home screen opens without the fragment: it keeps the key it was last given.
  function kept() {
    try { return localStorage.getItem(KEPT_TOKEN); } catch (e) { return null; }
  }

  function defaultName() {
    const ua = navigator.userAgent;
    const model = /Android[^;)]*;\s*([^;)]+?)(?:\sBuild[^;)]*)?\)/.exec(ua);
    if (model && !/^(K|wv|Linux)$/.test(model[1])) return model[1].slice(0, 40);
    for (const [pattern, label] of [[/iPad/, "iPad"], [/iPhone/, "iPhone"], [/Android/, "Android"]])
      if (pattern.test(ua)) return label;
    return "Browser";
  }

  function send(message, optional) {
    if (!ws || ws.readyState !== WebSocket.OPEN || !ready) return;
    if (optional && ws.bufferedAmount > BACKLOG) return;
    ws.send(JSON.stringify(Object.assign({ v: 1 }, message)));
  }
  // The last finger up ends the wait after Stop all at once, so that the next touch drives.
  const controls = window.Zanth.Controls(send, () => {
    if (stopped) { stopped = false; render(); }
  });

  // ---- The socket

  function connect() {
    clearTimeout(retryTimer);
    const socket = new WebSocket((location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws");
    ws = socket;
    socket.onopen = () => {
      lastHeard = Date.now();
      socket.send(JSON.stringify({ v: 1, type: "hello", name, token }));
    };
    socket.onmessage = (event) => {
      if (ws !== socket) return;
      lastHeard = Date.now();
      let message;
      try { message = JSON.parse(event.data); } catch (e) { return; }
      if (!message || typeof message !== "object") return;
      // A pong changes nothing on the page once it is heard at all.
      if (message.type === "pong" && !silent) return;
      silent = false;
      onMessage(message);
    };
    socket.onclose = () => {
      if (ws !== socket) return;
      lost();
      if (refusal === null) {
        retryTimer = setTimeout(connect, retryMs);
        retryMs = Math.min(retryMs * 2, 4000);
      }
    };
  }

  // The socket is gone or given up: what the page held goes back, the program releases its side.
  function lost() {
    ws = null;
    ready = waiting = false;
    state = drive = null;
    clearInterval(pingTimer);
    render();
  }

  function onMessage(message) {
    switch (message.type) {
      case "hello":
        ready = everReady = true;
        waiting = false;
        retryMs = 1000;
        try { localStorage.setItem(KEPT_TOKEN, token); } catch (e) { /* private mode: nothing kept */ }
        robotName = typeof message.robot === "string" ? message.robot.slice(0, 64) : "";
        controls.build(message);
        clearInterval(pingTimer);
        pingTimer = setInterval(ping, PING_MS);
        takeDrive(message.drive);
        break;
      case "state":
        state = message;
        takeDrive(message.drive);
        // Shown whatever the link; a hold the program dropped counts as Stop all only while driving.
        if (controls.showState(state) && live()) stopAll();
        break;
      case "released":
        // The program let go of this page's holds (Stop all, Disconnect, a silence): fingers lift first.
        if (live()) stopAll();
        break;
      case "waiting":
        waiting = true;
        break;
      case "refused":
        refusal = { reason: String(message.reason), limit: message.limit };
        break;
      case "error":
        // Before the program's hello an error is a refusal (key, origin, too many clients): say why.
        if (!ready) refusal = message.reason || "?";
        break;
    }
    render();
  }

  // A stop or a disable from anywhere: every finger on this page lets go, and lifts before it drives again.
  function takeDrive(told) {
    const was = halted();
    drive = told && typeof told === "object" ? told : null;
    if (!was && halted() && live()) stopAll();
  }

  function halted() {
    return !!drive && (drive.stopped === true || drive.enabled === false);
  }

  function ping() {
    if (ws && Date.now() - lastHeard > SILENT_MS) {
      silent = true;
      const socket = ws;
      lost();
      socket.close();
      retryTimer = setTimeout(connect, retryMs);
      return;
    }
    send({ type: "ping" });
  }

  // ---- Letting go

  function live() {
    return ready && refusal === null && !!state && state.link === "connected";
  }

  function stopAll() {
    stopped = controls.fingersDown() > 0;
    controls.letGo();
    send({ type: "release_all" });
  }

  // The stop goes first, then this page lets go of everything; again while stopped, it is harmless.
  const stopButton = $("stop");
  stopButton.textContent = T.stop;
  stopButton.setAttribute("aria-label", T.stopLabel);
  function stopRobot() {
    if (!ready) return;
    send({ type: "stop" });
    stopAll();
    if (navigator.vibrate) navigator.vibrate(60);
    render();
  }
  // On the touch itself, not on the click after it: no wait, and a finger that slides off still stops.
  stopButton.addEventListener("pointerdown", (event) => {
    event.preventDefault();
    stopRobot();
  });
  // The keyboard's Enter and Space (a click with no pointer behind it).
  stopButton.addEventListener("click", (event) => { if (event.detail === 0) stopRobot(); });
  stopButton.addEventListener("contextmenu", (event) => event.preventDefault());

  // Every touch forgotten at once: the program is told to let go of everything this page holds.
  function releaseAll() {
    send({ type: "release_all" });
    controls.letGo();
    render();
  }

  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") releaseAll();
    keepAwake();
  });
  window.addEventListener("pagehide", releaseAll);
  window.addEventListener("blur", releaseAll);
  document.addEventListener("touchcancel", releaseAll, true);
  // A rotation or a new width moves every control from under the fingers: they let go, and lift first.
  let shape = [innerWidth, matchMedia("(orientation: landscape)").matches];
  function reshaped() {
    const now = [innerWidth, matchMedia("(orientation: landscape)").matches];
    if (now[0] === shape[0] && now[1] === shape[1]) return;
    shape = now;
    releaseAll();
  }
  window.addEventListener("resize", reshaped);
  if (screen.orientation) screen.orientation.addEventListener("change", reshaped);
  // No zoom gestures, text selection or long-press menu on the controls: they are a controller. The page
  // itself may still be zoomed with the browser's own means.
  for (const type of ["dblclick", "contextmenu", "gesturestart", "selectstart"])
    $("controls").addEventListener(type, (event) => event.preventDefault(), { passive: false });

  // ---- Full screen and a screen that stays on

  const full = $("full");
  full.setAttribute("aria-label", T.fullScreen);
  full.title = T.fullScreen;
  full.hidden = !document.fullscreenEnabled;
  full.addEventListener("click", async () => {
    try {
      if (document.fullscreenElement) return await document.exitFullscreen();
      await document.documentElement.requestFullscreen({ navigationUI: "hide" });
      // Where the browser allows, the screen keeps the way it is held now.
      if (screen.orientation && screen.orientation.lock) await screen.orientation.lock(screen.orientation.type);
    } catch (e) { /* refused: the page works as it is */ }
  });
  document.addEventListener("fullscreenchange", () => {
    full.setAttribute("aria-pressed", String(!!document.fullscreenElement));
  });

  let wakeLock = null;
  async function keepAwake() {
    if (!("wakeLock" in navigator) || !window.isSecureContext) return;
    const want = document.visibilityState === "visible" && live();
    try {
      if (want && !wakeLock) {
        wakeLock = await navigator.wakeLock.request("screen");
        wakeLock.addEventListener("release", () => { wakeLock = null; });
      } else if (!want && wakeLock) {
        await wakeLock.release();
      }
    } catch (e) { wakeLock = null; }
  }
  $("note").textContent = T.mayDim;
  $("note").hidden = "wakeLock" in navigator && window.isSecureContext;

  // ---- What the page shows

  function render() {
    const frozen = !live() || stopped || halted();
    controls.setLive(!frozen);
    if (frozen) controls.letGo();
    document.body.classList.toggle("frozen", frozen);
    for (const el of document.querySelectorAll("#controls button.item, #controls .stick"))
      el.setAttribute("aria-disabled", String(frozen));
    if (!state || !ready) controls.showState(null);
    keepAwake();

    const link = ready && state ? state.link : null;
    document.body.dataset.link = !ready ? "lost" : link || "disconnected";
    $("link-text").textContent = !ready ? T.program + ": —" : T[link] || T.disconnected;
    $("title").textContent = robotName || T.robot;
    document.title = (robotName ? robotName + " – " : "") + "Zanth-Emulator";
    renderBattery();
    renderBanner(link);
    renderMatch();
    stopButton.disabled = !ready;
  }

  function renderMatch() {
    const match = ready && drive && drive.match && typeof drive.match === "object" ? drive.match : null;
    $("match").hidden = !match;
    $("match").setAttribute("aria-label", T.match);
    $("match-phase").textContent = match ? String(match.phase || "").slice(0, 40) : "";
    $("match-time").textContent = match ? String(match.time || "").slice(0, 12) : "";
  }

  // Who and when, as the program says them: its words are shown as they are, never as markup.
  function stoppedText() {
    const by = String(drive.stopped_by || "").slice(0, 80), at = String(drive.stopped_at || "").slice(0, 12);
    const head = by ? T.stoppedBy.replace(/%([12])/g, (_, n) => (n === "1" ? by : at))
      : T.stoppedAt.replace("%1", () => at);
    return head + "\n" + T.stopRelease;
  }

  function renderBattery() {
    const battery = (ready && state && state.battery) || {};
    const level = typeof battery.level === "number" ? battery.level : null;
    const fill = level === null ? 0 : Math.max(0, Math.min(1, (level - LEVEL_MIN) / (LEVEL_MAX - LEVEL_MIN)));
    $("battery-label").textContent = T.battery;
    $("meter-fill").style.width = (fill * 100) + "%";
    $("meter-fill").style.background = COLOURS[battery.colour] || COLOURS.grey;
    $("battery-number").textContent = level === null ? "--" : String(level);
    $("battery").classList.toggle("stale", !!battery.stale || level === null);
  }

  function renderBanner(link) {
    let text = "", kind = "";
    if (!token) text = T.noToken;
    else if (refusal !== null) {
      const told = refusalText(refusal);
      text = told.text;
      kind = told.stale ? "big" : "";
    }    else if (waiting && !ready) { text = T.waitingAllow; kind = "info"; }
    else if (!ready) {
      text = silent ? T.programSilent : everReady ? T.programLost : patient ? "" : T.waiting;
      kind = everReady ? "" : "info";
    }
    else if (drive && drive.stopped === true) { text = stoppedText(); kind = "stop"; }
    else if (!state) { text = patient ? "" : T.waiting; kind = "info"; }
    else if (link === "disconnected") { text = T.robotOff; kind = "info"; }
    else if (link === "connecting") { text = T.robotConnecting; kind = "info"; }
    else if (link === "reconnecting") text = T.robotLost;
    else if (drive && drive.enabled === false) { text = T.disabled; kind = "info"; }
    else if (stopped) { text = T.stopped; kind = "info"; }
    else if (link === "connected" && state.battery && state.battery.stale) text = T.noReply;
    banner.hidden = text === "";
    banner.textContent = text;
    banner.className = kind;
  }

  // A new address pasted into the same tab changes only the fragment: start afresh with its key.
  window.addEventListener("hashchange", () => location.reload());

  render();
  if (token) connect();
})();
