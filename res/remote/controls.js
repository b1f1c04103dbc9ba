// The controls: a thumb-sized button for every item the program names, two sticks, and the controller picture
// showing what the robot gets. A finger drives only while the page is live; a finger that was down when the
// program let go (Stop all, Disconnect, a rotation) must lift before it drives again.
"use strict";
window.Zanth = window.Zanth || {};
window.Zanth.Controls = (send, lifted) => {
  const { T, lang } = window.Zanth;
  const $ = (id) => document.getElementById(id);
  // Where each item sits; an item the page does not know goes to the middle row.
  const GROUP = {
    L2: "shl", L1: "shl", R1: "shr", R2: "shr",
    F1: "mid", MODE: "mid", F2: "mid", SELECT: "mid", START: "mid", L3: "lst", R3: "mid",
    PAD1: "pad", PAD2: "pad", PAD3: "pad", PAD4: "pad", LST1: "lst", LST2: "lst", LST3: "lst", LST4: "lst",
    1: "face", 2: "face", 3: "face", 4: "face",
  };
  const ARROW = { PAD1: "▲", PAD2: "▶", PAD3: "▼", PAD4: "◀",
    LST1: "▲", LST2: "▶", LST3: "▼", LST4: "◀" };
  // The item's cell in its 3 × 3 cross: up, right, down, left (face buttons as the picture places them).
  const CROSS = { L3: "c", 1: "n", PAD1: "n", LST1: "n", 2: "e", PAD2: "e", LST2: "e", 3: "s", PAD3: "s", LST3: "s",
    4: "w", PAD4: "w", LST4: "w" };
  // The knob's travel from the centre, as a share of the stick's width; full travel is a full deflection.
  const REACH = 0.3;

  const items = new Map();   // name -> { btn, count, confirmed, art }
  const pointers = new Map(); // pointerId -> { item } | { stick } | { dead: true }
  const sticks = {
    l: { el: $("stick-left"), x: 0, y: 0, pointer: null, keys: new Set(), confirmed: false },
    r: { el: $("stick-right"), x: 0, y: 0, pointer: null, keys: new Set(), confirmed: false },
  };
  let live = false;
  let bindings = new Map();  // key name -> item
  let artBox = null, aspect = 4 / 3;

  // ---- Items

  function press(name) {
    const item = items.get(name);
    if (!item || !live) return false;
    if (item.count++ === 0) {
      send({ type: "press", item: name });
      // A short buzz under the thumb; browsers allow it once the page has been touched.
      const touched = !navigator.userActivation || navigator.userActivation.hasBeenActive;
      if (navigator.vibrate && touched) navigator.vibrate(15);
    }
    item.btn.classList.add("touched");
    return true;
  }

  function release(name) {
    const item = items.get(name);
    if (!item || item.count === 0) return;
    if (--item.count === 0) {
      send({ type: "release", item: name });
      item.confirmed = false;
      item.btn.classList.remove("touched");
    }
  }

  function button(item) {
    const btn = document.createElement("button");
    btn.type = "button";
    btn.className = "item";
    btn.dataset.item = item.name;
    if (CROSS[item.name]) btn.dataset.cell = CROSS[item.name];
    btn.textContent = ARROW[item.name] || item.name;
    const label = item[lang] || item.name;
    if (label !== btn.textContent) btn.setAttribute("aria-label", label);
    btn.setAttribute("aria-pressed", "false");
    btn.addEventListener("keydown", (event) => {
      if (event.key !== " " && event.key !== "Enter") return;
      event.preventDefault();
      if (!event.repeat && !btn.dataset.key) btn.dataset.key = press(item.name) ? "1" : "";
    });
    btn.addEventListener("keyup", (event) => {
      if (event.key !== " " && event.key !== "Enter") return;
      event.preventDefault();
      if (btn.dataset.key === "1") release(item.name);
      delete btn.dataset.key;
    });
    btn.addEventListener("blur", () => {
      if (btn.dataset.key === "1") release(item.name);
      delete btn.dataset.key;
    });
    return btn;
  }

  function build(hello) {
    const list = (hello.items || []).filter((i) => typeof i.name === "string" && i.name);
    for (const group of document.querySelectorAll("#controls .group")) group.textContent = "";
    items.clear();
    for (const item of list) {
      const btn = button(item);
      $("g-" + (GROUP[item.name] || "mid")).appendChild(btn);
      items.set(item.name, { btn, count: 0, confirmed: false, art: null, rect: item.rect, down: item.down });
    }
    buildPicture(hello, list);
    bindings = readBindings(hello);
    layout();
  }

  // ---- The picture: the controller as the robot gets it, only as large as the room the controls leave.

  function buildPicture(hello, list) {
    const [width, height] = Array.isArray(hello.size) ? hello.size : [800, 600];
    const placed = list.filter((i) => Array.isArray(i.rect) && i.rect.length === 4);
    let x0 = width, y0 = height, x1 = 0, y1 = 0;
    for (const { rect: [x, y, w, h] } of placed) {
      x0 = Math.min(x0, x); y0 = Math.min(y0, y); x1 = Math.max(x1, x + w); y1 = Math.max(y1, y + h);
    }
    if (x1 <= x0) { x0 = 0; y0 = 0; x1 = width; y1 = height; }
    const margin = 24;
    x0 = Math.max(0, x0 - margin); y0 = Math.max(0, y0 - margin);
    x1 = Math.min(width, x1 + margin); y1 = Math.min(height, y1 + margin);
    const bw = x1 - x0, bh = y1 - y0, pct = (v, whole) => (100 * v / whole) + "%";
    aspect = bw / bh;
    artBox = document.createElement("div");
    artBox.className = "art";
    const background = document.createElement("img");
    background.src = "/art/" + (Number(hello.background) || 129) + ".svg";
    background.alt = "";
    const box = (x, y, w, h) => ({ left: pct(x, bw), top: pct(y, bh), width: pct(w, bw), height: pct(h, bh) });
    Object.assign(background.style, box(-x0, -y0, width, height));
    artBox.appendChild(background);
    for (const item of placed) {
      const [x, y, w, h] = item.rect;
      items.get(item.name).place = box(x - x0, y - y0, w, h);
    }
    $("pic").replaceChildren(artBox);
  }

  // The pressed picture of an item is fetched the first time it is shown.
  function showArt(item, held) {
    if (!item.place || !(item.down > 0)) return;
    if (held && !item.art) {
      item.art = document.createElement("img");
      item.art.src = "/art/" + item.down + ".svg";
      item.art.alt = "";
      Object.assign(item.art.style, item.place);
      artBox.appendChild(item.art);
    }
    if (item.art) item.art.hidden = !held;
  }

  // ---- Sticks

  function setStick(stick, x, y) {
    const clamp = (v) => Math.max(-1, Math.min(1, Math.round(v * 1000) / 1000));
    stick.x = clamp(x);
    stick.y = clamp(y);
    const reach = stick.el.clientWidth * REACH;
    stick.el.querySelector(".knob").style.transform = `translate(${stick.x * reach}px, ${stick.y * reach}px)`;
    stick.el.classList.toggle("held", stick.pointer !== null || stick.keys.size > 0);
    stick.el.setAttribute("aria-valuenow", String(Math.round(stick.x * 100)));
    const said = T.stickValue.replace("%1", stick.x.toFixed(2)).replace("%2", stick.y.toFixed(2));
    stick.el.setAttribute("aria-valuetext", said);
    if (stick.x === 0 && stick.y === 0) stick.confirmed = false;
    flushSticks(stick.pointer === null && stick.keys.size === 0);
  }

  let sticksDirty = false, sticksSentAt = 0, stickTimer = 0;
  const STICK_MS = 30;  // stick moves go out at most this often; the release always at once
  function flushSticks(now) {
    sticksDirty = true;
    const wait = STICK_MS - (Date.now() - sticksSentAt);
    if (!now && wait > 0) {
      if (!stickTimer) stickTimer = setTimeout(() => { stickTimer = 0; if (sticksDirty) flushSticks(true); }, wait);
      return;
    }
    clearTimeout(stickTimer);
    stickTimer = 0;
    sticksDirty = false;
    sticksSentAt = Date.now();
    send({ type: "sticks", lx: sticks.l.x, ly: sticks.l.y, rx: sticks.r.x, ry: sticks.r.y }, !now);
  }

  // Measured from where the thumb landed, so a touch-down never jumps; each axis reaches its end on its own,
  // so a full diagonal reaches the corner.
  function stickMove(stick, event) {
    const reach = Math.max(1, stick.el.clientWidth * REACH);
    setStick(stick, (event.clientX - stick.ox) / reach, (event.clientY - stick.oy) / reach);
  }

  const ARROWS = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
  function stickKeys(stick) {
    let x = 0, y = 0;
    for (const key of stick.keys) { x += ARROWS[key][0]; y += ARROWS[key][1]; }
    setStick(stick, x, y);
  }

  for (const [side, stick] of Object.entries(sticks)) {
    stick.el.setAttribute("aria-label", side === "l" ? T.leftStick : T.rightStick);
    stick.el.addEventListener("pointerdown", (event) => {
      event.preventDefault();
      stick.el.focus({ preventScroll: true, focusVisible: false });
      if (!live || stick.pointer !== null) return pointers.set(event.pointerId, { dead: true });
      stick.el.setPointerCapture(event.pointerId);
      Object.assign(stick, { pointer: event.pointerId, ox: event.clientX, oy: event.clientY });
      pointers.set(event.pointerId, { stick });
      setStick(stick, 0, 0);
    });
    stick.el.addEventListener("pointermove", (event) => {
      if (stick.pointer === event.pointerId) stickMove(stick, event);
    });
    stick.el.addEventListener("keydown", (event) => {
      if (!ARROWS[event.key]) return;
      event.preventDefault();
      event.stopPropagation();
      if (!live || stick.keys.has(event.key)) return;
      stick.keys.add(event.key);
      stickKeys(stick);
    });
    stick.el.addEventListener("keyup", (event) => {
      if (!stick.keys.delete(event.key)) return;
      event.stopPropagation();
      stickKeys(stick);
    });
    stick.el.addEventListener("blur", () => {
      if (stick.keys.size === 0) return;
      stick.keys.clear();
      stickKeys(stick);
    });
  }

  // ---- Touch on the buttons: a finger holds the button under it; sliding onto another lets go of the first.

  function itemAt(x, y) {
    const el = document.elementFromPoint(x, y);
    const btn = el && el.closest && el.closest("#controls button.item");
    return btn ? btn.dataset.item : null;
  }

  const board = $("controls");
  board.addEventListener("pointerdown", (event) => {
    if (event.target.closest(".stick")) return;
    event.preventDefault();
    const name = itemAt(event.clientX, event.clientY);
    if (!name) return;
    board.setPointerCapture(event.pointerId);
    pointers.set(event.pointerId, live && press(name) ? { item: name } : { dead: true });
  });
  board.addEventListener("pointermove", (event) => {
    const held = pointers.get(event.pointerId);
    if (!held || !("item" in held)) return;
    const name = itemAt(event.clientX, event.clientY);
    if (name === held.item) return;
    if (held.item) release(held.item);
    held.item = name && press(name) ? name : null;
  });

  function lift(event) {
    const held = pointers.get(event.pointerId);
    if (!held) return;
    pointers.delete(event.pointerId);
    if (pointers.size === 0) lifted();
    if (held.stick) {
      held.stick.pointer = null;
      setStick(held.stick, 0, 0);
    } else if (held.item) {
      release(held.item);
    }
  }
  for (const type of ["pointerup", "pointercancel", "lostpointercapture"]) document.addEventListener(type, lift, true);

  // ---- The program's own key bindings, when its hello names them

  // A binding is named as the program names keys ("Q", "1", "F9", "NUM 4", "<" for the comma key): each item
  // of the hello may carry its "key"; a key event is matched by its physical key.
  function readBindings(hello) {
    const map = new Map();
    const add = (item, key) => typeof key === "string" && key && items.has(item) && map.set(key.toUpperCase(), item);
    for (const item of hello.items || []) add(item.name, item.key);
    return map;
  }

  function keyName(event) {
    const code = event.code || "";
    const m = /^(?:Key|Digit)(.)$|^Numpad(\d)$/.exec(code);
    if (m) return m[1] || "NUM " + m[2];
    return { Comma: "<", Period: ">" }[code] || code.toUpperCase();
  }

  const keyHeld = new Map(); // code -> item
  document.addEventListener("keydown", (event) => {
    if (event.repeat || keyHeld.has(event.code) || event.target.closest?.("button, .stick")) return;
    const name = bindings.get(keyName(event));
    if (!name) return;
    event.preventDefault();
    if (press(name)) keyHeld.set(event.code, name);
  });
  document.addEventListener("keyup", (event) => {
    const name = keyHeld.get(event.code);
    if (name === undefined) return;
    keyHeld.delete(event.code);
    release(name);
  });

  // ---- Letting go

  // Every touch and key forgotten at once; fingers still down must lift before they drive again.
  function letGo() {
    for (const id of pointers.keys()) pointers.set(id, { dead: true });
    keyHeld.clear();
    for (const item of items.values()) {
      item.count = 0;
      item.confirmed = false;
      item.btn.classList.remove("touched");
      delete item.btn.dataset.key;
    }
    for (const stick of Object.values(sticks)) {
      Object.assign(stick, { pointer: null, x: 0, y: 0, confirmed: false });
      stick.keys.clear();
      stick.el.classList.remove("held");
      stick.el.querySelector(".knob").style.transform = "";
      stick.el.setAttribute("aria-valuenow", "0");
    }
    sticksDirty = false;
    clearTimeout(stickTimer);
    stickTimer = 0;
  }

  // ---- What the program says

  // Lights the buttons the program holds for this page, and the picture with what every source holds.
  // Answers true when the program let go of something this page still holds (Stop all, from a program that
  // does not say so itself): the page then lets go too and waits for the fingers to lift.
  function showState(state) {
    const held = (state && state.held) || {};
    const listOf = (v) => (Array.isArray(v) ? v : []);
    // The program's own list for this client when it sends one; else every remote client's holds.
    const mine = new Set(listOf(state && Array.isArray(state.mine) ? state.mine : held.remote));
    const all = new Set(Object.values(held).flatMap(listOf));
    let stopped = false;
    for (const [name, item] of items) {
      if (item.count > 0 && mine.has(name)) item.confirmed = true;
      else if (item.count > 0 && item.confirmed) stopped = true;
      item.btn.classList.toggle("pressed", mine.has(name));
      item.btn.setAttribute("aria-pressed", String(mine.has(name)));
      showArt(item, all.has(name));
    }
    return stopped || sticksStopped(state && state.frame);
  }

  // The frame's stick bytes (RX RY LX LY from the fourth byte on) confirm a pushed stick; a confirmed stick
  // that the frame shows centred while the thumb still pushes it was let go by the program.
  function sticksStopped(frame) {
    if (typeof frame !== "string" || !/^[0-9a-f]{16}$/i.test(frame)) return false;
    const at = (i) => (parseInt(frame.substr(2 * i, 2), 16) - 128) / 127;
    let stopped = false;
    for (const [stick, bx, by] of [[sticks.l, 5, 6], [sticks.r, 3, 4]]) {
      const pushed = Math.abs(stick.x) > 0.3 || Math.abs(stick.y) > 0.3;
      if (!pushed) continue;
      const fx = at(bx), fy = at(by);
      if (fx * stick.x > 0.1 || fy * stick.y > 0.1) stick.confirmed = true;
      else if (stick.confirmed && Math.abs(fx) < 0.01 && Math.abs(fy) < 0.01) stopped = true;
    }
    return stopped;
  }

  // The picture takes the room its cell has, and goes when too small to read.
  function layout() {
    const pic = $("pic");
    if (!artBox) return;
    const w = Math.min(pic.clientWidth, pic.clientHeight * aspect);
    Object.assign(artBox.style, { width: w + "px", height: w / aspect + "px" });
    artBox.hidden = w < 80;
  }
  new ResizeObserver(layout).observe(board);

  return { build, showState, letGo, layout, setLive: (on) => { live = on; }, fingersDown: () => pointers.size };
};
