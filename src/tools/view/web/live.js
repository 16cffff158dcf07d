// The live page of scene-view: draws every snapshot the viewer streams over
// the latest still of the selected display, with the layers, styles and legend
// of the SVG pictures, a strip of the last minute of capture states and
// events, and buttons for the commands the viewer forwards.
"use strict";

(() => {
  const config = JSON.parse(document.getElementById("view-config").textContent);
  const SVG = "http://www.w3.org/2000/svg";
  const STRIP_SECONDS = 60;
  const STRIP_WIDTH = 600;
  const STRIP_HEIGHT = 34;
  const styles = new Map(config.layers.map((layer) => [layer.name, layer]));
  const byId = (id) => document.getElementById(id);
  const desktop = byId("desktop");
  const groups = {};
  for (const name of ["docks", "windows", "controls", "inputs", "supports", "visuals", "labels"]) groups[name] = byId(name);

  let latest = null; // the newest snapshot event: {display, seq, snapshot}
  let drawnSeq = 0;
  let frameAsked = false;
  let selection = null; // {kind, id, record}: what the inspector shows
  let dropped = 0;
  const drawTimes = [];
  // Segments of the states seen in snapshots, the capture's events, and when
  // the first snapshot came: before it, the states come from the events.
  const strip = { segments: [], events: new Map(), now: null, firstSeen: null };
  const still = { wanted: 0, shown: 0, loading: false, url: null, stale: [] };

  // ---- shapes -------------------------------------------------------------

  function element(name, attributes, parent) {
    const node = document.createElementNS(SVG, name);
    for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
    if (parent) parent.appendChild(node);
    return node;
  }

  // The attributes the SVG pictures give a layer's style (styleAttributes).
  function styled(node, style, dash) {
    if (style.swatch === "filled") {
      node.setAttribute("fill", style.colour);
      node.setAttribute("fill-opacity", "0.35");
    } else {
      node.setAttribute("fill", "none");
    }
    node.setAttribute("stroke", style.colour);
    node.setAttribute("stroke-width", String(style.strokeWidth));
    const pattern = dash === undefined ? style.dash : dash;
    if (pattern) node.setAttribute("stroke-dasharray", pattern);
    return node;
  }

  const finite = (value) => typeof value === "number" && Number.isFinite(value);
  const list = (snapshot, key) => (Array.isArray(snapshot[key]) ? snapshot[key] : []);

  // A record's rectangle in desktop coordinates, or null when it has none.
  function box(record, display) {
    const { x, y, width, height } = record;
    if (![x, y, width, height].every(finite) || width < 0 || height < 0) return null;
    return { x: x - display.x, y: y - display.y, width, height };
  }

  function shape(name, attributes, group, classes, kind, record) {
    const node = element(name, attributes, group);
    node.setAttribute("class", "shape " + classes.join(" "));
    node.record = record;
    node.kind = kind;
    if (typeof record.id === "string") node.dataset.id = record.id;
    if (selection && selection.kind === kind && selection.id === record.id) {
      node.classList.add("selected");
      selection.record = record;
      selection.seen = true;
    }
    return node;
  }

  function rectangle(group, b, classes, kind, record) {
    return shape("rect", { x: b.x, y: b.y, width: b.width, height: b.height }, group, classes, kind, record);
  }

  function label(text, x, y, colour) {
    const node = element("text", { x, y, class: "label", fill: colour }, groups.labels);
    node.textContent = text;
  }

  function drawDesktop(snapshot, display) {
    for (const group of Object.values(groups)) group.replaceChildren();
    if (selection) selection.seen = false;
    const context = snapshot.context || {};
    const focused = typeof context.focusedWindowId === "string" ? context.focusedWindowId : null;

    const dockStyle = styles.get("dock");
    for (const dock of list(snapshot, "docks")) {
      const b = box(dock, display);
      if (!b) continue;
      styled(rectangle(groups.docks, b, ["dock"], "dock", dock), dockStyle);
      label(String(dock.id || "dock"), b.x + 3, b.y + b.height - 4, dockStyle.colour);
    }

    // Back to front, so the front windows' outlines end up on top.
    const windows = list(snapshot, "windows");
    for (let i = windows.length - 1; i >= 0; --i) {
      const entry = windows[i];
      const b = box(entry, display);
      if (!b) continue;
      const isFocused = focused !== null && entry.id === focused;
      const system = entry.systemUI !== undefined && entry.systemUI !== null;
      const classes = [isFocused ? "focused-window" : "window"];
      if (system) classes.push("system-window");
      const style = styles.get(classes[0]);
      styled(rectangle(groups.windows, b, classes, "window", entry), style,
        system ? styles.get("system-window").dash : style.dash);
      label(String(entry.id || ""), b.x + 3, b.y + 13, style.colour);
    }

    for (const [key, layer] of [["controls", "control"], ["inputs", "input"]]) {
      for (const item of list(snapshot, key)) {
        const b = box(item, display);
        if (b) styled(rectangle(groups[key], b, [layer], layer, item), styles.get(layer));
      }
    }

    // Supports run along their side: "from" to "to" at "fixed" across.
    for (const support of list(snapshot, "supportProofs")) {
      const { side, from, to, fixed } = support;
      if (![from, to, fixed].every(finite)) continue;
      const horizontal = side === "top" || side === "bottom";
      if (!horizontal && side !== "left" && side !== "right") continue;
      const source = support.source === "selected-contour" ? "contour-support"
        : support.source === "composited-pixels" ? "pixel-support" : "other-support";
      const sideLayer = side === "top" ? "top-side" : side === "bottom" ? "bottom-side" : "wall-side";
      const ends = horizontal
        ? { x1: from - display.x, y1: fixed - display.y, x2: to - display.x, y2: fixed - display.y }
        : { x1: fixed - display.x, y1: from - display.y, x2: fixed - display.x, y2: to - display.y };
      const node = shape("line", ends, groups.supports, ["support", source, sideLayer], "support", support);
      styled(node, styles.get(source), styles.get(sideLayer).dash);
      node.setAttribute("stroke-linecap", "round");
      node.setAttribute("stroke-opacity", "0.85");
    }

    // Visual edges are one-point-high rows; platform edges are drawn heavier.
    for (const edge of list(snapshot, "visuals")) {
      const b = box(edge, display);
      if (!b) continue;
      const layer = edge.platform === true ? "platform-edge" : "visual-edge";
      const node = shape("line", { x1: b.x, y1: b.y, x2: b.x + b.width, y2: b.y }, groups.visuals, [layer],
        "visual", edge);
      styled(node, styles.get(layer));
    }
  }

  function fitDisplay(display) {
    const size = `0 0 ${display.width} ${display.height}`;
    if (desktop.getAttribute("viewBox") === size) return;
    desktop.setAttribute("viewBox", size);
    for (const id of ["plain", "still", "dim"]) {
      byId(id).setAttribute("width", display.width);
      byId(id).setAttribute("height", display.height);
    }
  }

  // ---- header ---------------------------------------------------------------

  function word(id, text) {
    const node = byId(id);
    const value = text === undefined || text === null ? "-" : String(text);
    node.textContent = value;
    node.className = "word state-" + value;
  }

  function showCounts(snapshot) {
    const visuals = list(snapshot, "visuals");
    const platforms = visuals.filter((edge) => edge.platform === true).length;
    byId("counts").textContent = [
      `windows ${list(snapshot, "windows").length}`,
      `docks ${list(snapshot, "docks").length}`,
      `supports ${list(snapshot, "supportProofs").length}`,
      `edges ${visuals.length} (${platforms} platform)`,
      `controls ${list(snapshot, "controls").length}`,
      `inputs ${list(snapshot, "inputs").length}`,
    ].join(", ");
  }

  function showHeader(snapshot) {
    word("capture", snapshot.captureSession);
    word("access", snapshot.captureAccess);
    word("verification", snapshot.supportVerification);
    word("vision", snapshot.vision);
    word("accessibility", snapshot.accessibility);
    showCounts(snapshot);
    const now = performance.now();
    drawTimes.push(now);
    while (drawTimes.length > 0 && now - drawTimes[0] > 1000) drawTimes.shift();
    byId("drawn-per-second").textContent = String(drawTimes.length);
  }

  // ---- inspector ----------------------------------------------------------

  function inspect(kind, record) {
    selection = { kind, id: record.id, record, seen: true };
    for (const node of desktop.querySelectorAll(".shape.selected")) node.classList.remove("selected");
    for (const node of desktop.querySelectorAll(".shape")) {
      if (node.kind === kind && node.record === record) node.classList.add("selected");
    }
    showSelection();
  }

  function showSelection() {
    if (!selection) return;
    const name = typeof selection.id === "string" ? `${selection.kind} ${selection.id}` : selection.kind;
    byId("record-title").textContent = selection.seen ? name : `${name} (not in the latest snapshot)`;
    byId("record").textContent = JSON.stringify(selection.record, null, 2);
  }

  // On the press, not the click: the shapes are drawn anew for every
  // snapshot, so the one under the button when it goes down is gone by the
  // time it comes up, and a click would land on the group around it.
  desktop.addEventListener("pointerdown", (event) => {
    const node = event.button === 0 ? event.target.closest(".shape") : null;
    if (node && node.record) inspect(node.kind, node.record);
  });

  // ---- strip of capture states and events -------------------------------

  // The sampler's uptime at the pass: visualTimestamp is the uptime of the
  // frame behind the visual edges and visualAgeMS its age (the whole uptime
  // before the first result, when visualTimestamp is 0).
  function uptimeOf(snapshot) {
    const { visualTimestamp, visualAgeMS } = snapshot;
    return finite(visualTimestamp) && finite(visualAgeMS) ? visualTimestamp + visualAgeMS / 1000 : null;
  }

  function record(snapshot) {
    const now = uptimeOf(snapshot);
    if (now === null) return;
    strip.now = now;
    if (strip.firstSeen === null) strip.firstSeen = now;
    const state = String(snapshot.captureSession || "-");
    const last = strip.segments[strip.segments.length - 1];
    // A pause leaves a gap: a second without snapshots starts a new segment.
    if (last && last.state === state && now - last.to < 1) last.to = now;
    else strip.segments.push({ state, from: now, to: now });
    const metrics = snapshot.captureMetrics || {};
    for (const event of Array.isArray(metrics.events) ? metrics.events : []) {
      if (!finite(event.uptime)) continue;
      const key = `${event.uptime}|${event.event}|${event.generation}|${event.frames}`;
      if (!strip.events.has(key)) strip.events.set(key, event);
    }
    const start = now - STRIP_SECONDS;
    strip.segments = strip.segments.filter((segment) => segment.to >= start);
    for (const [key, event] of strip.events) if (event.uptime < start) strip.events.delete(key);
  }

  function drawStrip() {
    const area = byId("strip");
    area.replaceChildren();
    if (strip.now === null) return;
    const start = strip.now - STRIP_SECONDS;
    const x = (uptime) => Math.max(0, ((uptime - start) / STRIP_SECONDS) * STRIP_WIDTH);
    const events = [...strip.events.values()].sort((a, b) => a.uptime - b.uptime);
    // Each event leaves the capture in its state until the next one.
    const logged = events.map((event, i) => ({ state: event.state, from: event.uptime,
      to: Math.min(i + 1 < events.length ? events[i + 1].uptime : strip.now, strip.firstSeen) }));
    for (const [segments, kind] of [[logged, "logged"], [strip.segments, "seen"]]) {
      for (const segment of segments) {
        if (segment.to < segment.from) continue;
        const left = x(segment.from);
        const node = element("rect", { x: left, y: 6, width: Math.max(1, x(segment.to) - left + 0.5), height: 22,
          class: `${kind} state-${segment.state}` }, area);
        element("title", {}, node).textContent = `${segment.state} (${kind})`;
      }
    }
    for (const event of events) {
      const at = x(event.uptime);
      const node = element("line", { x1: at, y1: 0, x2: at, y2: STRIP_HEIGHT, class: "event-tick" }, area);
      element("title", {}, node).textContent = `${event.event} → ${event.state}`;
      node.eventRecord = event;
    }
    const items = events.slice(-10).reverse().map((event) => {
      const item = document.createElement("li");
      const ago = (strip.now - event.uptime).toFixed(1);
      item.textContent = `-${ago} s ${event.event} → ${event.state}`;
      item.className = "state-" + event.state;
      item.eventRecord = event;
      return item;
    });
    byId("events").replaceChildren(...items);
  }

  function inspectEvent(event) {
    selection = { kind: "event", id: undefined, record: event, seen: true };
    showSelection();
  }

  // Pressed, like the shapes: the strip and the list are drawn anew too.
  for (const id of ["strip", "events"]) {
    byId(id).addEventListener("pointerdown", (event) => {
      const node = event.button === 0 ? event.target.closest(".event-tick, li") : null;
      if (node && node.eventRecord) inspectEvent(node.eventRecord);
    });
  }

  // ---- drawing ------------------------------------------------------------

  function draw() {
    frameAsked = false;
    if (!latest || latest.seq === drawnSeq) return;
    const { snapshot, display } = latest;
    drawnSeq = latest.seq;
    desktop.dataset.seq = String(drawnSeq);
    showHeader(snapshot);
    if (snapshot.status === "unavailable") {
      // The window list is unknown, not empty: keep what was drawn.
      byId("note").textContent = "The sampler could not read the window list; the last one stays drawn.";
    } else {
      fitDisplay(display);
      drawDesktop(snapshot, display);
      byId("note").textContent =
        `Snapshot ${drawnSeq}; display ${display.width} × ${display.height} at (${display.x}, ${display.y}).`;
      record(snapshot);
      drawStrip();
      if (selection && selection.kind !== "event") showSelection();
    }
    document.dispatchEvent(new CustomEvent("scene-drawn", { detail: { seq: drawnSeq } }));
  }

  // Only the newest snapshot is drawn, once per display frame.
  function schedule() {
    if (frameAsked) return;
    frameAsked = true;
    requestAnimationFrame(draw);
  }

  async function loadStill() {
    if (still.loading || still.wanted === still.shown) return;
    still.loading = true;
    const seq = still.wanted;
    try {
      const response = await fetch(`/still.jpg?seq=${seq}`, { cache: "no-store" });
      if (response.ok) {
        const url = URL.createObjectURL(await response.blob());
        const image = byId("still");
        // The stills shown before go once this one has been decoded, or has failed to be.
        if (still.url) still.stale.push(still.url);
        image.onload = image.onerror = () => {
          while (still.stale.length > 0) URL.revokeObjectURL(still.stale.pop());
        };
        image.setAttribute("href", url);
        image.dataset.seq = String(seq);
        still.url = url;
        still.shown = seq;
      }
    } catch (error) {
      // The next still notice tries again.
    }
    still.loading = false;
    if (still.wanted !== still.shown) loadStill();
  }

  // ---- the stream ---------------------------------------------------------

  const source = new EventSource("/events");
  source.addEventListener("open", () => word("connection", "connected"));
  source.addEventListener("error", () =>
    word("connection", source.readyState === EventSource.CLOSED ? "disconnected" : "connecting"));
  source.addEventListener("snapshot", (event) => {
    latest = JSON.parse(event.data);
    schedule();
  });
  source.addEventListener("still", (event) => {
    still.wanted = JSON.parse(event.data).seq;
    loadStill();
  });
  source.addEventListener("status", (event) => {
    const status = JSON.parse(event.data);
    byId("lines-per-second").textContent = status.linesPerSecond.toFixed(1);
    if (status.paused) word("connection", "paused");
    else if (source.readyState === EventSource.OPEN) word("connection", "connected");
  });
  source.addEventListener("dropped", (event) => {
    dropped += Number(event.data);
    byId("dropped").textContent = String(dropped);
  });

  // ---- commands -----------------------------------------------------------

  async function send(command) {
    const result = byId("command-result");
    try {
      const response = await fetch("/command", {
        method: "POST",
        headers: { "Content-Type": "text/plain", "X-Scene-View-Token": config.token },
        body: command,
      });
      result.textContent = response.ok ? `sent "${command}"` : `"${command}" refused: ${response.status}`;
      result.classList.toggle("refused", !response.ok);
    } catch (error) {
      result.textContent = `"${command}" not sent: the viewer is gone`;
      result.classList.add("refused");
    }
  }

  // The commands come in pairs (on and off, pause and resume).
  const toolbar = byId("commands");
  for (let i = 0; i < config.commands.length; i += 2) {
    const pair = document.createElement("span");
    pair.className = "pair";
    for (const command of config.commands.slice(i, i + 2)) {
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = command;
      button.dataset.command = command;
      button.addEventListener("click", () => send(command));
      pair.appendChild(button);
    }
    toolbar.appendChild(pair);
  }

  // ---- legend -------------------------------------------------------------

  // One toggle per layer: hiding a layer hides every shape of its class.
  const hiding = new CSSStyleSheet();
  const toggles = [...config.layers.map((layer) => layer.name), "label"];
  hiding.replaceSync(toggles.map((name) => `#desktop.hide-${name} .${name} { display: none; }`).join("\n"));
  document.adoptedStyleSheets = [...document.adoptedStyleSheets, hiding];

  function swatch(style) {
    const picture = element("svg", { width: 30, height: 14, viewBox: "0 0 30 14" });
    const node = style.swatch === "line"
      ? element("line", { x1: 3, y1: 7, x2: 27, y2: 7, "stroke-linecap": "round" }, picture)
      : element("rect", { x: 2, y: 1, width: 26, height: 12 }, picture);
    styled(node, style);
    return picture;
  }

  function legendEntry(name, meaning, picture) {
    const item = document.createElement("li");
    item.dataset.layer = name;
    const toggle = document.createElement("label");
    const box = document.createElement("input");
    box.type = "checkbox";
    box.checked = true;
    box.addEventListener("change", () => desktop.classList.toggle("hide-" + name, !box.checked));
    const text = document.createElement("span");
    text.textContent = meaning;
    toggle.append(box, picture, text);
    item.appendChild(toggle);
    byId("legend").appendChild(item);
  }

  for (const layer of config.layers) legendEntry(layer.name, layer.meaning, swatch(layer));
  legendEntry("label", "labels: window and Dock shelf ids", element("svg", { width: 30, height: 14 }));
})();
