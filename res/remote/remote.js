// The remote-control page: the controller picture and two sticks for a phone or tablet, talking to the
// program over one WebSocket. Everything held is let go the moment the page cannot be seen or the program
// cannot be heard: the robot must never keep a press nobody is making.
"use strict";
(() => {
  const TEXT = {
    en: {
      controller: "Controller",
      leftStick: "Left stick",
      rightStick: "Right stick",
      battery: "Battery",
      program: "Program",
      waiting: "Reaching the program…",
      programLost: "The program cannot be reached: trying again…",
      programSilent: "The program does not answer: trying again…",
      noToken: "This address has no token. Open the address shown in the program's Remote Control window.",
      refused: "The program refused this page: %1. Open the address its Remote Control window shows now.",
      robot: "Robot",
      disconnected: "not connected",
      connecting: "connecting…",
      connected: "connected",
      reconnecting: "reconnecting…",
      robotOff: "The robot is not connected: press Connect in the program.",
      robotConnecting: "Connecting to the robot…",
      robotLost: "The robot is lost: reconnecting…",
      noReply: "No reply from the robot.",
    },
    ja: {
      controller: "コントローラ",
      leftStick: "左スティック",
      rightStick: "右スティック",
      battery: "バッテリー",
      program: "プログラム",
      waiting: "プログラムに接続しています…",
      programLost: "プログラムに接続できません。再接続しています…",
      programSilent: "プログラムが応答しません。再接続しています…",
      noToken: "このアドレスにはトークンがありません。プログラムの「リモート操作」ウィンドウに表示されたアドレスを開いてください。",
      refused: "プログラムがこのページを拒否しました: %1。「リモート操作」ウィンドウに今表示されているアドレスを開いてください。",
      robot: "ロボット",
      disconnected: "未接続",
      connecting: "接続しています…",
      connected: "接続済み",
      reconnecting: "再接続しています…",
      robotOff: "ロボットに接続していません。プログラムで「接続」を押してください。",
      robotConnecting: "ロボットに接続しています…",
      robotLost: "ロボットとの接続が切れました。再接続しています…",
      noReply: "ロボットから応答がありません。",
    },
  };
  const wanted = (navigator.languages && navigator.languages[0]) || navigator.language || "en";
  const lang = wanted.toLowerCase().startsWith("ja") ? "ja" : "en";
  const T = TEXT[lang];
  document.documentElement.lang = lang;

  const PING_MS = 100;
  // Nothing heard for this long (a pong is due every ping) means the program is stuck or gone.
  const SILENT_MS = 1500;
  // Stick moves go out at most this often; the release always at once.
  const STICK_MS = 30;
  // The meter's scale: the battery levels the robot reports, as the program's own meter shows them.
  const LEVEL_MIN = 50, LEVEL_MAX = 80;
  const COLOURS = { green: "#35d46a", yellow: "#f3c623", red: "#ff4b4b", grey: "#8a96a3" };
  // Sending stops piling up behind a slow network; presses and releases still go.
  const BACKLOG = 64 * 1024;

  const $ = (id) => document.getElementById(id);
  const pad = $("pad");
  const banner = $("banner");
  const params = new URLSearchParams(location.hash.slice(1));
  const token = params.get("token") || "";
  const name = params.get("name") || defaultName();

  let ws = null;
  let ready = false;        // the program said hello on this socket
  let everReady = false;
  let refusal = null;       // the program's reason for refusing us; no retries after it
  let silent = false;
  let lastHeard = 0;
  let retryMs = 1000;
  let retryTimer = 0;
  let pingTimer = 0;
  let state = null;
  const items = new Map();    // name -> { el, count }
  const pointers = new Map(); // pointerId -> { item: name } or { stick: "l" | "r" }
  const sticks = {
    l: { el: $("stick-left"), x: 0, y: 0, pointer: null },
    r: { el: $("stick-right"), x: 0, y: 0, pointer: null },
  };
  let sticksDirty = false;
  let sticksSentAt = 0;
  let stickTimer = 0;

  function defaultName() {
    const ua = navigator.userAgent;
    for (const [pattern, label] of [[/iPad/, "iPad"], [/iPhone/, "iPhone"], [/Android/, "Android"]])
      if (pattern.test(ua)) return label;
    return "Browser";
  }

  // ---- The socket

  function send(message, optional) {
    if (!ws || ws.readyState !== WebSocket.OPEN || !ready) return;
    if (optional && ws.bufferedAmount > BACKLOG) return;
    ws.send(JSON.stringify(Object.assign({ v: 1 }, message)));
  }

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

  // The socket is gone or given up: what the page shows held goes back, the program releases its side.
  function lost() {
    ws = null;
    ready = false;
    state = null;
    clearInterval(pingTimer);
    forgetTouches();
    render();
  }

  function onMessage(message) {
    switch (message.type) {
      case "hello":
        ready = everReady = true;
        retryMs = 1000;
        build(message);
        clearInterval(pingTimer);
        pingTimer = setInterval(ping, PING_MS);
        break;
      case "state":
        state = message;
        break;
      case "error":
        // Before the program's hello an error is a refusal (token, origin, too many clients): say why.
        if (!ready) refusal = message.reason || "?";
        break;
    }
    render();
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

  // ---- The controller

  function build(hello) {
    const [width, height] = hello.size || [800, 600];
    const live = (hello.items || []).filter((i) => Array.isArray(i.rect) && i.rect.length === 4 && i.up > 0);
    // Show the part of the picture the items are in, with a margin: the controls come out larger on a phone.
    let x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (const { rect: [x, y, w, h] } of live) {
      x0 = Math.min(x0, x); y0 = Math.min(y0, y); x1 = Math.max(x1, x + w); y1 = Math.max(y1, y + h);
    }
    if (x1 <= x0) { x0 = 0; y0 = 0; x1 = width; y1 = height; }
    const margin = 24;
    x0 = Math.max(0, x0 - margin); y0 = Math.max(0, y0 - margin);
    x1 = Math.min(width, x1 + margin); y1 = Math.min(height, y1 + margin);
    const bw = x1 - x0, bh = y1 - y0;
    const pct = (v, whole) => (100 * v / whole) + "%";

    pad.textContent = "";
    items.clear();
    aspect = bw / bh;
    layout();
    pad.setAttribute("aria-label", T.controller);
    const background = document.createElement("img");
    background.src = "/art/" + hello.background + ".svg";
    background.alt = "";
    Object.assign(background.style, {
      left: pct(-x0, bw), top: pct(-y0, bh), width: pct(width, bw), height: pct(height, bh),
    });
    pad.appendChild(background);
    for (const item of live) {
      const [x, y, w, h] = item.rect;
      const el = document.createElement("div");
      el.className = "item";
      el.dataset.item = item.name;
      el.setAttribute("role", "button");
      el.setAttribute("aria-label", item[lang] || item.name);
      Object.assign(el.style, { left: pct(x - x0, bw), top: pct(y - y0, bh), width: pct(w, bw), height: pct(h, bh) });
      for (const [cls, id] of [["up", item.up], ["down", item.down || item.up]]) {
        const img = document.createElement("img");
        img.className = cls;
        img.src = "/art/" + id + ".svg";
        img.alt = "";
        el.appendChild(img);
      }
      const hit = document.createElement("span");
      hit.className = "hit";
      el.appendChild(hit);
      pad.appendChild(el);
      items.set(item.name, { el, count: 0 });
    }
    if (hello.version) document.title = (hello.program || "Zanth-Emulator") + " " + hello.version;
  }

  function press(nameOfItem) {
    const item = items.get(nameOfItem);
    if (!item) return;
    if (item.count++ === 0) send({ type: "press", item: nameOfItem });
    render();
  }

  function release(nameOfItem) {
    const item = items.get(nameOfItem);
    if (!item || item.count === 0) return;
    if (--item.count === 0) send({ type: "release", item: nameOfItem });
    render();
  }

  function itemAt(x, y) {
    const el = document.elementFromPoint(x, y);
    const item = el && el.closest && el.closest("#pad .item");
    return item ? item.dataset.item : null;
  }

  // A finger holds the item under it; sliding onto another item lets go of the first.
  pad.addEventListener("pointerdown", (event) => {
    const name = itemAt(event.clientX, event.clientY);
    pad.setPointerCapture(event.pointerId);
    pointers.set(event.pointerId, { item: name });
    if (name) press(name);
    event.preventDefault();
  });
  pad.addEventListener("pointermove", (event) => {
    const held = pointers.get(event.pointerId);
    if (!held || held.stick) return;
    const name = itemAt(event.clientX, event.clientY);
    if (name === held.item) return;
    if (held.item) release(held.item);
    held.item = name;
    if (name) press(name);
  });

  function stickMove(stick, event) {
    const box = stick.el.getBoundingClientRect();
    const reach = box.width * 0.35;  // the knob's travel from the centre
    let x = (event.clientX - (box.left + box.width / 2)) / reach;
    let y = (event.clientY - (box.top + box.height / 2)) / reach;
    const length = Math.hypot(x, y);
    if (length > 1) { x /= length; y /= length; }
    setStick(stick, x, y);
  }

  function setStick(stick, x, y) {
    stick.x = Math.round(x * 1000) / 1000;
    stick.y = Math.round(y * 1000) / 1000;
    const reach = stick.el.getBoundingClientRect().width * 0.35;
    stick.el.querySelector(".knob").style.transform = `translate(${stick.x * reach}px, ${stick.y * reach}px)`;
    stick.el.classList.toggle("held", stick.pointer !== null);
    sticksDirty = true;
    flushSticks(stick.pointer === null);
  }

  function flushSticks(now) {
    if (!sticksDirty) return;
    const wait = STICK_MS - (Date.now() - sticksSentAt);
    if (!now && wait > 0) {
      if (!stickTimer) stickTimer = setTimeout(() => { stickTimer = 0; flushSticks(true); }, wait);
      return;
    }
    clearTimeout(stickTimer);
    stickTimer = 0;
    sticksDirty = false;
    sticksSentAt = Date.now();
    send({ type: "sticks", lx: sticks.l.x, ly: sticks.l.y, rx: sticks.r.x, ry: sticks.r.y }, !now);
  }

  for (const stick of Object.values(sticks)) {
    stick.el.setAttribute("aria-label", stick === sticks.l ? T.leftStick : T.rightStick);
    stick.el.addEventListener("pointerdown", (event) => {
      event.preventDefault();
      if (stick.pointer !== null) return;
      stick.el.setPointerCapture(event.pointerId);
      stick.pointer = event.pointerId;
      pointers.set(event.pointerId, { stick });
      stickMove(stick, event);
    });
    stick.el.addEventListener("pointermove", (event) => {
      if (stick.pointer === event.pointerId) stickMove(stick, event);
    });
  }

  // The end of one finger's touch, however it ended.
  function letGo(event) {
    const held = pointers.get(event.pointerId);
    if (!held) return;
    pointers.delete(event.pointerId);
    if (held.stick) {
      held.stick.pointer = null;
      setStick(held.stick, 0, 0);
    } else if (held.item) {
      release(held.item);
    }
  }
  for (const type of ["pointerup", "pointercancel", "lostpointercapture"]) document.addEventListener(type, letGo, true);

  // Every touch forgotten at once: the program is told to let go of everything this page holds.
  function releaseAll() {
    send({ type: "release_all" });
    forgetTouches();
  }

  function forgetTouches() {
    pointers.clear();
    for (const item of items.values()) item.count = 0;
    for (const stick of Object.values(sticks)) {
      stick.pointer = null;
      stick.x = stick.y = 0;
      stick.el.classList.remove("held");
      stick.el.querySelector(".knob").style.transform = "";
    }
    sticksDirty = false;
    clearTimeout(stickTimer);
    stickTimer = 0;
    render();
  }

  document.addEventListener("visibilitychange", () => { if (document.visibilityState === "hidden") releaseAll(); });
  window.addEventListener("pagehide", releaseAll);
  window.addEventListener("blur", releaseAll);
  document.addEventListener("touchcancel", releaseAll, true);
  // No zoom, no text selection, no long-press menu: the page is a controller.
  for (const type of ["dblclick", "contextmenu", "gesturestart", "selectstart"])
    document.addEventListener(type, (event) => event.preventDefault(), { passive: false });
  document.addEventListener("touchmove", (event) => event.preventDefault(), { passive: false });

  // ---- What the page shows

  // The picture and the sticks share the room below the bar and the banner: upright, the picture above the
  // two sticks; sideways, between them. Neither may push the other off the screen, whatever the phone.
  const controls = $("controls");
  let aspect = 1;
  function layout() {
    const gap = 10;
    const w = controls.clientWidth - 2 * gap, h = controls.clientHeight - 2 * gap;
    if (w <= 0 || h <= 0) return;
    let stick, padW;
    if (matchMedia("(orientation: landscape)").matches) {
      stick = Math.min(w * 0.24, h * 0.72);
      padW = Math.min(h * aspect, w - 2 * (stick + gap));
    } else {
      stick = Math.min((w - gap) / 2, h * 0.4);
      padW = Math.min(w, (h - stick - gap) * aspect);
    }
    padW = Math.max(padW, 0);
    Object.assign(pad.style, { width: padW + "px", height: padW / aspect + "px" });
    for (const s of Object.values(sticks)) Object.assign(s.el.style, { width: stick + "px", height: stick + "px" });
  }
  new ResizeObserver(layout).observe(controls);

  function render() {
    const heldElsewhere = new Set();
    if (state && state.held)
      for (const list of Object.values(state.held)) if (Array.isArray(list)) list.forEach((n) => heldElsewhere.add(n));
    for (const [n, item] of items) item.el.classList.toggle("pressed", item.count > 0 || heldElsewhere.has(n));

    const link = ready && state ? state.link : null;
    document.body.dataset.link = !ready ? "lost" : link || "disconnected";
    $("link-text").textContent = !ready ? T.program + ": —" : T.robot + ": " + (T[link] || T.disconnected);

    const battery = (ready && state && state.battery) || {};
    const level = typeof battery.level === "number" ? battery.level : null;
    const fill = level === null ? 0 : Math.max(0, Math.min(1, (level - LEVEL_MIN) / (LEVEL_MAX - LEVEL_MIN)));
    $("battery-label").textContent = T.battery;
    $("meter-fill").style.width = (fill * 100) + "%";
    $("meter-fill").style.background = COLOURS[battery.colour] || COLOURS.grey;
    $("battery-number").textContent = level === null ? "--" : String(level);
    $("battery").classList.toggle("stale", !!battery.stale || level === null);

    let text = "", info = false;
    if (!token) text = T.noToken;
    else if (refusal !== null) text = T.refused.replace("%1", refusal);
    else if (!ready) { text = silent ? T.programSilent : everReady ? T.programLost : T.waiting; info = !everReady; }
    else if (state && link === "disconnected") { text = T.robotOff; info = true; }
    else if (state && link === "connecting") { text = T.robotConnecting; info = true; }
    else if (state && link === "reconnecting") text = T.robotLost;
    else if (state && link === "connected" && battery.stale) text = T.noReply;
    banner.hidden = text === "";
    banner.textContent = text;
    banner.classList.toggle("info", info);
  }

  // A new address pasted into the same tab changes only the fragment: start afresh with its token.
  window.addEventListener("hashchange", () => location.reload());

  render();
  if (token) connect();
})();
