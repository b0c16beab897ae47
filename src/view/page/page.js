// The report page: everything is drawn from the JSON document embedded in the
// page (id "zelk8-data"), with 3Dmol.js for the 3D view.
(function () {
  "use strict";

  const data = JSON.parse(document.getElementById("zelk8-data").textContent);
  const colours = { attractive: "#2166ac", repulsive: "#b2182b", off: "#8c8c8c", highlight: "#f2a900" };
  const quantities = ["Etot", "EvdW", "Estat"];
  const largest_radius = 0.6; // Å, for the largest |energy| of the page

  // A printed field: the value with the report's decimals, or the text the
  // report printed when it is off-scale. Returns [text, off_scale].
  function field(object, key, decimals) {
    const value = object[key];
    if (value === null || value === undefined) {
      const printed = object[key + "_printed"];
      return [printed === undefined ? "missing" : printed, printed !== undefined];
    }
    return [decimals === undefined ? String(value) : value.toFixed(decimals), false];
  }
  function listField(object, key, k, decimals) {
    const value = object[key][k];
    if (value === null) {
      const printed = object[key + "_printed"];
      return [printed ? printed[k] : "missing", true];
    }
    return [value.toFixed(decimals), false];
  }
  function element(tag, text, className) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    if (className) e.className = className;
    return e;
  }
  function fieldElement(tag, pair) {
    return element(tag, pair[0], pair[1] ? "off-scale" : undefined);
  }

  // ---- header -------------------------------------------------------------
  function header() {
    document.getElementById("crystal").textContent = data.crystal;
    document.getElementById("source").textContent = data.report;
    if (data.stopped_at) {
      const box = document.getElementById("stopped");
      box.textContent = data.stopped_at.message;
      box.hidden = false;
    }
    const summary = document.getElementById("summary");
    function row(term, content) {
      summary.appendChild(element("dt", term));
      const dd = element("dd");
      for (const part of content) {
        dd.appendChild(typeof part === "string" ? document.createTextNode(part) : part);
      }
      summary.appendChild(dd);
    }
    const c = data.cell;
    const cellParts = [];
    for (const [key, name, unit] of [["a", "a", " \u00c5"], ["b", "b", " \u00c5"], ["c", "c", " \u00c5"],
      ["alpha", "\u03b1", "\u00b0"], ["beta", "\u03b2", "\u00b0"], ["gamma", "\u03b3", "\u00b0"]]) {
      cellParts.push((cellParts.length ? ",  " : "") + name + " = ");
      cellParts.push(fieldElement("span", field(c, key, 4)));
      cellParts.push(unit);
    }
    row("Cell", cellParts);
    row("Formula", [data.formula + ", " + data.atom_count + " atoms"]);
    // Each type by its atoms' own symbols; the report's convention beside it.
    const types = data.elements.map(function (e) {
      const name = e.name === undefined ? e.symbol : e.name;
      return name + (e.name_note ? " (printed as " + e.symbol + ")" : "") + " (" + field(e, "atoms")[0] +
        " atoms, Emin " + field(e, "Emin", 5)[0] + " kJ/mol, R0 " + field(e, "R0", 5)[0] + " \u00c5)";
    });
    row("Element types", [types.length ? types.join(";  ") : "one element type (no element table)"]);
    row("Units", [String(data.units.length) + (data.stack_unit ? ", stacking unit " + field(data, "stack_unit")[0] : "")]);
    if (data.lattice_etot === null && data.lattice_etot_printed === undefined) {
      row("Lattice sum", [element("span", "not in the report (it stops before the total line)", "off-scale")]);
    } else {
      row("Lattice sum", ["Etot = ", fieldElement("span", field(data, "lattice_etot", 5)), " kJ/mol",
        element("span", "  lattice sum over " + data.lattice_sum_units + " units, not a lattice energy", "note")]);
    }
    checks(row);
  }

  // What bears on trusting the numbers: net charge, the batch's lattice
  // energy, prep's warnings, arbitrary axes, hydrogen-bonded units.
  function checks(row) {
    const warnings = document.getElementById("checks");
    function warn(text, id) {
      const p = element("p", text, "warning");
      if (id) p.id = id;
      warnings.appendChild(p);
    }
    if (data.net_charge === null) {
      row("Net charge", [element("span", "unknown (a charge is printed off-scale)", "off-scale")]);
    } else {
      const q = Math.abs(data.net_charge) < 5e-7 ? 0 : data.net_charge;
      row("Net charge", [q.toFixed(4) + " e (sum of the frame charges)"]);
      if (data.net_charge_warning) {
        warn("The molecule's charges add up to " + q.toFixed(4) + " e, not 0: a charged molecule's " +
          "electrostatic lattice sum does not converge, and Estat and Etot depend on how many units were taken.",
          "charge-warning");
      }
    }
    if (data.batch_lattice) {
      const e = data.batch_lattice.lattice_energy;
      row("Lattice energy", [typeof e === "number"
        ? e.toFixed(2) + " kJ/mol (zelk8-batch, " + data.batch_lattice.molecules + " molecules within " +
          data.batch_lattice.radius + " \u00c5)"
        : element("span", "not computed" + (data.batch_lattice.message ? ": " + data.batch_lattice.message : ""), "off-scale")]);
    }
    if (data.prep && Array.isArray(data.prep.warnings) && data.prep.warnings.length) {
      const list = element("ul", undefined, "prep-warnings");
      for (const w of data.prep.warnings) list.appendChild(element("li", String(w)));
      const box = element("div", "zelk8-prep warned when it made this crystal's input:", "warning");
      box.id = "prep-warnings";
      box.appendChild(list);
      warnings.appendChild(box);
    }
    if (data.side_files_note) warn(data.side_files_note + ".");
    if (data.degenerate_axes) warn(data.degenerate_axes.message, "axes-warning");
    if (data.hbond_units) {
      row("Hydrogen bonds", [data.hbond_units + " units marked H-bond in the table: " + data.hbond_note]);
    }
  }

  // ---- 3D view ------------------------------------------------------------
  let viewer = null;
  let quantity = "Etot";
  let highlighted = -1;
  let neighbourModel = null;
  let hoverLabel = null;
  let hoverText = null;
  const drawn = []; // per unit: {unit, radius, colour, dashed}

  let radiusScale = 0;
  for (const u of data.units) {
    for (const q of quantities) {
      if (u[q] !== null) radiusScale = Math.max(radiusScale, Math.abs(u[q]));
    }
  }
  radiusScale = radiusScale > 0 ? largest_radius / radiusScale : 0;

  function centreOf(u) {
    if (u.centre.some(function (x) { return x === null; })) return null;
    return { x: u.centre[0], y: u.centre[1], z: u.centre[2] };
  }
  function elementOf(symbol) {
    const letters = String(symbol).replace(/[^A-Za-z]/g, "");
    return letters.length ? letters : "X";
  }
  function xyzText(atoms) {
    const lines = atoms.map(function (a) { return a.symbol + " " + a.l + " " + a.s + " " + a.v; });
    return lines.length + "\n\n" + lines.join("\n") + "\n";
  }
  function unitLabel(k) {
    const u = data.units[k];
    return field(u, "number")[0] + " " + u.name + ": " + quantity + " = " + field(u, quantity, 4)[0] + " kJ/mol" +
      (u.hbond && u.hbond.distance !== null ? " (H-bond " + u.hbond.contact + " " + u.hbond.distance.toFixed(2) +
        " \u00c5: no hydrogen-bond term, a repulsive artefact)" : "");
  }
  function showLabel(k) {
    hideLabel();
    const at = centreOf(data.units[k]);
    if (!at) return;
    hoverText = unitLabel(k);
    hoverLabel = viewer.addLabel(hoverText, {
      position: at, backgroundColor: "#ffffff", backgroundOpacity: 0.85, fontColor: "#000000",
      fontSize: 13, borderThickness: 1, borderColor: "#888888", inFront: true
    });
  }
  function hideLabel() {
    if (hoverLabel) {
      viewer.removeLabel(hoverLabel);
      hoverLabel = null;
      hoverText = null;
    }
  }

  // The central molecule's axes: VL, VS and VV are the view's x, y and z.
  let axisLabels = null;
  function drawAxes() {
    let reach = 1;
    for (const a of data.atoms) {
      for (const x of [a.frame_l, a.frame_s, a.frame_v]) if (x !== null) reach = Math.max(reach, Math.abs(x));
    }
    reach += 1.5;
    const ends = { VL: { x: reach, y: 0, z: 0 }, VS: { x: 0, y: reach, z: 0 }, VV: { x: 0, y: 0, z: reach } };
    for (const name of Object.keys(ends)) {
      viewer.addArrow({ start: { x: 0, y: 0, z: 0 }, end: ends[name], radius: 0.04, color: "#444444" });
    }
    if (!axisLabels) {
      axisLabels = Object.keys(ends).map(function (name) {
        return viewer.addLabel(name, { position: ends[name], fontSize: 12, fontColor: "#444444",
          backgroundOpacity: 0, showBackground: false });
      });
    }
  }

  function drawShapes() {
    viewer.removeAllShapes();
    drawn.length = 0;
    drawAxes();
    viewer.addSphere({ center: { x: 0, y: 0, z: 0 }, radius: 0.18, color: "#000000" });
    data.units.forEach(function (u, k) {
      const end = centreOf(u);
      if (!end) {
        drawn.push({ unit: k + 1, radius: null, colour: null, dashed: false });
        return;
      }
      const energy = u[quantity];
      const hover = {
        hoverable: true,
        hover_callback: function () { showLabel(k); viewer.render(); },
        unhover_callback: function () { hideLabel(); viewer.render(); }
      };
      viewer.addSphere(Object.assign({ center: end, radius: 0.22, color: "#555555" }, hover));
      let look;
      if (energy === null) {
        look = { radius: 0.03, color: colours.off, dashed: true };
      } else {
        look = { radius: Math.max(Math.abs(energy) * radiusScale, 0.015),
                 color: energy < 0 ? colours.attractive : colours.repulsive, dashed: false };
      }
      if (k === highlighted) {
        look.color = colours.highlight;
      }
      viewer.addCylinder(Object.assign({
        start: { x: 0, y: 0, z: 0 }, end: end, radius: look.radius, color: look.color,
        dashed: look.dashed, fromCap: 1, toCap: 1
      }, hover));
      drawn.push({ unit: k + 1, radius: look.radius, colour: look.color, dashed: look.dashed });
    });
    viewer.render();
  }

  function setNeighbours(on) {
    if (on && !neighbourModel && data.neighbours) {
      const atoms = [];
      for (const block of data.neighbours) {
        for (const a of block.atoms) atoms.push({ symbol: elementOf(a.symbol), l: a.l, s: a.s, v: a.v });
      }
      neighbourModel = viewer.addModel(xyzText(atoms), "xyz");
      neighbourModel.setStyle({}, { stick: { radius: 0.07, colorscheme: "Jmol", opacity: 0.55 } });
    } else if (!on && neighbourModel) {
      viewer.removeModel(neighbourModel);
      neighbourModel = null;
    }
    viewer.render();
  }

  function framework() {
    const box = document.getElementById("viewer");
    const note = document.getElementById("viewer-note");
    if (typeof $3Dmol === "undefined") {
      note.textContent = "The 3D view needs JavaScript and WebGL.";
      return;
    }
    viewer = $3Dmol.createViewer(box, { backgroundColor: "white", antialias: true });
    const atoms = [];
    let skipped = 0;
    for (const a of data.atoms) {
      if (a.frame_l === null || a.frame_s === null || a.frame_v === null) {
        skipped += 1;
      } else {
        atoms.push({ symbol: elementOf(a.symbol), l: a.frame_l, s: a.frame_s, v: a.frame_v });
      }
    }
    if (atoms.length) {
      const model = viewer.addModel(xyzText(atoms), "xyz");
      model.setStyle({}, { stick: { radius: 0.14, colorscheme: "Jmol" }, sphere: { scale: 0.28, colorscheme: "Jmol" } });
    }
    drawShapes();
    // Seen from above the molecular plane, tilted so that partners along VV
    // stand apart from the molecule; "Reset view" comes back here.
    viewer.zoomTo();
    viewer.rotate(-55, "x");
    viewer.rotate(20, "y");
    viewer.render();
    const home = viewer.getView();

    const notes = ["Grey arrows: the axes VL, VS, VV of the central molecule; drag to rotate, wheel to zoom."];
    if (skipped) notes.push(skipped + " atoms with off-scale frame coordinates are not drawn.");
    const missing = data.units.filter(function (u) { return !centreOf(u); }).length;
    if (missing) notes.push(missing + " units with an off-scale centre have no cylinder.");
    if (data.neighbours_note) notes.push(data.neighbours_note + ".");
    note.textContent = notes.join(" ");
    document.getElementById("radius-note").textContent =
      radiusScale > 0 ? "  radius " + largest_radius.toFixed(1) + " \u00c5 = " +
        (largest_radius / radiusScale).toFixed(2) + " kJ/mol" : "";

    for (const radio of document.querySelectorAll("input[name=quantity]")) {
      radio.addEventListener("change", function () {
        if (radio.checked) setQuantity(radio.value);
      });
    }
    const toggle = document.getElementById("neighbours");
    if (!data.neighbours) {
      toggle.disabled = true;
      toggle.parentElement.title = "the run wrote no coord.xyz";
    }
    toggle.checked = false;
    toggle.addEventListener("change", function () { setNeighbours(toggle.checked); });
    document.getElementById("reset").addEventListener("click", function () {
      viewer.setView(home);
      viewer.render();
    });
    window.addEventListener("resize", function () { viewer.resize(); viewer.render(); });
  }

  function setQuantity(q) {
    quantity = q;
    for (const radio of document.querySelectorAll("input[name=quantity]")) radio.checked = radio.value === q;
    if (viewer) drawShapes();
  }
  function highlight(k) {
    highlighted = k;
    for (const tr of document.querySelectorAll("#units tbody tr")) {
      tr.classList.toggle("highlight", Number(tr.dataset.index) === k);
    }
    if (viewer) drawShapes();
  }

  // ---- unit table -----------------------------------------------------------
  const columns = [
    { title: "No.", get: function (u) { return field(u, "number"); }, key: function (u) { return u.number; } },
    { title: "Name", text: true, get: function (u) { return [u.name, false]; }, key: function (u) { return u.name; } },
    { title: "Operation", text: true, key: function (u) { return u.operation_text; },
      get: function (u) { return [u.operation_text + (u.atom_set === 2 && !u.marker ? " (set 2)" : ""), false]; } },
    { title: "d shortest", get: function (u) { return field(u, "d_shortest", 5); }, key: function (u) { return u.d_shortest; } },
    { title: "d centre", get: function (u) { return field(u, "d_center", 5); }, key: function (u) { return u.d_center; } },
    { title: "Dihedral", get: function (u) { return field(u, "dihedral_angle", 5); }, key: function (u) { return u.dihedral_angle; } },
    { title: "EvdW", get: function (u) { return field(u, "EvdW", 4); }, key: function (u) { return u.EvdW; } },
    { title: "Est", get: function (u) { return field(u, "Estat", 4); }, key: function (u) { return u.Estat; } },
    { title: "Etot", get: function (u) { return field(u, "Etot", 4); }, key: function (u) { return u.Etot; } },
    { title: "Share", get: function (u) { return u.share === null ? ["\u2013", false] : [percent(u.share), false]; },
      key: function (u) { return u.share; } }
  ];
  // A share in per cent: one decimal, two below 0.1 %.
  function percent(share) {
    const p = 100 * share;
    return p.toFixed(Math.abs(p) < 0.1 ? 2 : 1) + " %";
  }
  let sortColumn = -1;
  let sortAscending = true;

  function unitTable() {
    const head = document.querySelector("#units thead tr");
    columns.forEach(function (column, c) {
      const th = element("th", column.title, column.text ? "text" : undefined);
      th.dataset.column = String(c);
      th.addEventListener("click", function () { sortBy(c); });
      head.appendChild(th);
    });
    const body = document.querySelector("#units tbody");
    data.units.forEach(function (u, k) {
      const tr = element("tr");
      tr.dataset.index = String(k);
      for (const column of columns) {
        const td = fieldElement("td", column.get(u));
        if (column.text) td.classList.add("text");
        tr.appendChild(td);
      }
      if (u.atom_set === 2) tr.title = "from the second atom set";
      hbondMark(u, tr);
      tr.addEventListener("mouseenter", function () { highlight(k); });
      tr.addEventListener("mouseleave", function () { highlight(-1); });
      body.appendChild(tr);
    });
    const notes = [];
    if (data.units.some(function (u) { return u.atom_set === 2; })) {
      notes.push("From the marker unit on, units come from the second atom set: the marker is that set as read, " +
        "the operations of the later ones (set 2) apply to it.");
    }
    if (!data.complete && data.stopped_at) {
      notes.push("The report stops after unit " + data.units.length + " (" + data.stopped_at.message + ")");
    }
    if (data.hbond_units) notes.push(data.hbond_note);
    const unchecked = data.units.filter(function (u) { return u.hbond && !u.hbond.checked; });
    if (unchecked.length) {
      notes.push(unchecked.length + " units not checked for hydrogen bonds (" + unchecked[0].hbond.note + ").");
    }
    notes.push("Share: the unit's Etot over the lattice sum. Click a heading to sort.");
    document.getElementById("units-note").textContent = notes.join(" ");
  }

  // A unit with an H...O/N/S contact below the hydrogen-bond limit: its name
  // cell gets a mark, the row says which contact.
  function hbondMark(u, tr) {
    if (!u.hbond || u.hbond.distance === null) return;
    tr.classList.add("hbond");
    const mark = element("span", " H-bond", "hbond-mark");
    mark.title = u.hbond.contact + " " + u.hbond.distance.toFixed(2) + " \u00c5: " + data.hbond_note;
    tr.children[1].appendChild(mark);
  }

  // Sorted by the column's value; off-scale and missing values go last in
  // either direction.
  function sortBy(c) {
    sortAscending = sortColumn === c ? !sortAscending : true;
    sortColumn = c;
    const column = columns[c];
    const body = document.querySelector("#units tbody");
    const rows = Array.from(body.children);
    rows.sort(function (ra, rb) {
      const a = column.key(data.units[Number(ra.dataset.index)]);
      const b = column.key(data.units[Number(rb.dataset.index)]);
      if (a === null && b === null) return Number(ra.dataset.index) - Number(rb.dataset.index);
      if (a === null) return 1;
      if (b === null) return -1;
      let order = typeof a === "string" ? a.localeCompare(b) : a - b;
      if (order === 0) order = Number(ra.dataset.index) - Number(rb.dataset.index);
      return sortAscending ? order : -order;
    });
    for (const r of rows) body.appendChild(r);
    for (const th of document.querySelectorAll("#units th")) {
      th.classList.remove("sorted-ascending", "sorted-descending");
      if (Number(th.dataset.column) === c) th.classList.add(sortAscending ? "sorted-ascending" : "sorted-descending");
    }
  }

  // ---- shift map ------------------------------------------------------------
  function shiftMap() {
    const map = data.map;
    if (!map) return;
    document.getElementById("map-section").hidden = false;
    const heightText = fieldElement("span", field(map, "height", 5));
    const heading = document.getElementById("map-height");
    heading.append("Map of the stacked molecule shift at Z = ", heightText, " \u00c5 (along VV)");
    const note = document.getElementById("map-note");
    if (map.scan_export) {
      note.textContent = "This run exported the shift scan to coord.xyz instead of computing the map (stacking unit above 40).";
      return;
    }
    const names = ["EvdW", "Estat", "Etot"];
    const present = names.filter(function (n) { return map[n]; });
    if (present.length < 3) {
      note.textContent = present.length
        ? "The report holds only the " + present.join(" and ") + " table" + (present.length > 1 ? "s" : "") + " of the map."
        : "The report stops before the map's tables.";
    } else {
      note.textContent = "Blue attractive, red repulsive; each panel has its own scale, as zelk8-map draws it: " +
        "centred on 0 and clipped on the repulsive side at its well depth or its median repulsion, or spanning " +
        "the data of a panel of one sign; grey: off-scale fields; hatched: overlap points (atoms inside the " +
        "maximum of the exp-6 term), left out of every scale and minimum. Move the pointer over a map to read its value.";
    }
    for (const name of present) panel(name, map[name]);
  }

  function shiftText(list, printed, k) {
    const v = list[k];
    if (v === null) return printed ? printed[k] : "missing";
    return v.toFixed(3);
  }

  function panel(name, table) {
    const map = data.map;
    const rows = table.values.length;
    const cols = rows ? table.values[0].length : 0;
    const box = element("div", undefined, "map-panel");
    box.appendChild(element("h3", name + " (kJ/mol)"));
    document.getElementById("map-panels").appendChild(box);
    if (!rows || !cols) {
      box.appendChild(element("p", "no grid points", "note"));
      return;
    }
    const l = map.l_shifts, s = map.s_shifts;
    let aspect = 1;
    if (l.length > 1 && s.length > 1 && l[0] !== null && l[1] !== null && s[0] !== null && s[1] !== null) {
      const dl = Math.abs(l[1] - l[0]), ds = Math.abs(s[1] - s[0]);
      if (dl > 0 && ds > 0) aspect = Math.min(Math.max(dl / ds, 0.25), 4);
    }
    let ch = Math.min(320 / rows, 320 / (cols * aspect), 40, 40 / aspect);
    ch = Math.max(ch, 2);
    const cw = ch * aspect;
    const canvas = element("canvas", undefined, "map");
    canvas.width = Math.round(cw * cols);
    canvas.height = Math.round(ch * rows);
    canvas.dataset.table = name;
    box.appendChild(canvas);
    const g = canvas.getContext("2d");
    for (let r = 0; r < rows; r++) {
      for (let c = 0; c < cols; c++) {
        g.fillStyle = table.colours[r][c];
        // The first row at the bottom: the VS shift grows upwards.
        g.fillRect(Math.floor(c * cw), Math.floor((rows - 1 - r) * ch), Math.ceil(cw), Math.ceil(ch));
      }
    }
    hatchOverlaps(g, rows, cols, cw, ch);
    if (table.crystal_offset) {
      // A yellow diamond where the stacking unit's own VL and VS lie.
      const x = (table.crystal_offset.column + 0.5) * cw, y = (rows - 1 - table.crystal_offset.row + 0.5) * ch;
      const d = Math.min(Math.max(Math.min(cw, ch) * 0.45, 5), 10);
      g.beginPath(); g.moveTo(x, y - d); g.lineTo(x + d, y); g.lineTo(x, y + d); g.lineTo(x - d, y); g.closePath();
      g.lineWidth = 3; g.strokeStyle = "#ffffff"; g.stroke();
      g.fillStyle = "#ffd700"; g.fill();
      g.lineWidth = 1.5; g.strokeStyle = "#000000"; g.stroke();
    }
    // The ring marks the lowest point that is not an overlap point.
    if (table.minimum && table.clear_minimum) {
      const p = table.clear_minimum;
      const x = (p.column + 0.5) * cw, y = (rows - 1 - p.row + 0.5) * ch;
      const radius = Math.min(Math.max(Math.min(cw, ch) * 0.4, 4), 12);
      g.lineWidth = 3; g.strokeStyle = "#ffffff";
      g.beginPath(); g.arc(x, y, radius, 0, 2 * Math.PI); g.stroke();
      g.lineWidth = 1.5; g.strokeStyle = "#000000";
      g.beginPath(); g.arc(x, y, radius, 0, 2 * Math.PI); g.stroke();
      g.beginPath(); g.moveTo(x - radius, y); g.lineTo(x + radius, y); g.moveTo(x, y - radius); g.lineTo(x, y + radius); g.stroke();
      // The value beside the ring, on the side with more room.
      const label = field(table.clear_minimum, "energy", 3)[0];
      const right = x > canvas.width * 0.6;
      g.font = "bold 12px DejaVu Sans, Helvetica, Arial, sans-serif";
      g.textAlign = right ? "right" : "left";
      g.textBaseline = "bottom";
      const lx = right ? x - radius - 3 : x + radius + 3;
      const ly = Math.max(y - radius, 14);
      g.lineWidth = 3; g.strokeStyle = "#ffffff"; g.strokeText(label, lx, ly);
      g.fillStyle = "#000000"; g.fillText(label, lx, ly);
    }
    box.appendChild(element("div", "VL " + shiftText(l, map.l_shifts_printed, 0) + " \u2192 " +
      shiftText(l, map.l_shifts_printed, cols - 1) + " \u00c5 across;  VS " + shiftText(s, map.s_shifts_printed, 0) +
      " \u2192 " + shiftText(s, map.s_shifts_printed, rows - 1) + " \u00c5 upwards", "axis"));

    // The colour bar as zelk8-map draws it: the deepest well to 0 and 0 to
    // the clip in equal halves, or one span over the data of a one-signed panel.
    if (table.scale) {
      const sc = table.scale;
      const bar = element("canvas", undefined, "bar");
      bar.width = 240; bar.height = 12;
      const bg = bar.getContext("2d");
      const grad = bg.createLinearGradient(0, 0, 240, 0);
      sc.bar.forEach(function (colour, k) { grad.addColorStop(k / (sc.bar.length - 1), colour); });
      bg.fillStyle = grad; bg.fillRect(0, 0, 240, 12);
      box.appendChild(bar);
      const ends = sc.labels.map(function (v) { return v === null ? null : v.toFixed(2); });
      const words = { around_zero: "scale centred on 0 kJ/mol",
                      attractive_only: "attractive only: the scale spans the data, not 0",
                      repulsive_only: "repulsive only: the scale spans the data, not 0" };
      box.appendChild(element("div", ends[0] + (ends[1] === null ? "" : "  \u2026  " + ends[1]) + "  \u2026  " +
        (sc.span === "attractive_only" ? "" : "\u2265 ") + ends[2] + " kJ/mol" +
        (sc.clipped_cells ? "  (" + sc.clipped_cells + " cells above)" : "") + ";  " + words[sc.span], "axis"));
    }
    overlapNotes(box, table);
    if (table.off_scale.length) {
      box.appendChild(element("div", table.off_scale.length + " off-scale fields (grey)", "axis"));
    }

    const readout = document.getElementById("map-readout");
    canvas.addEventListener("mousemove", function (event) {
      const rect = canvas.getBoundingClientRect();
      const c = Math.floor((event.clientX - rect.left) / rect.width * cols);
      const r = rows - 1 - Math.floor((event.clientY - rect.top) / rect.height * rows);
      if (c < 0 || c >= cols || r < 0 || r >= rows) return;
      let value;
      const overlap = map.overlap && map.overlap[r][c] ? " (overlap point: atoms closer than " +
        map.overlap_rho.toFixed(2) + " of their contact distance)" : "";
      if (table.values[r][c] === null) {
        const off = table.off_scale.find(function (o) { return o[0] === r && o[1] === c; });
        value = (off ? off[2] : "missing") + " (off-scale)";
      } else {
        value = table.values[r][c].toFixed(3) + " kJ/mol";
      }
      readout.textContent = name + " at VL " + shiftText(l, map.l_shifts_printed, c) + ", VS " +
        shiftText(s, map.s_shifts_printed, r) + " \u00c5: " + value + overlap;
    });
  }

  // Overlap points: pale grey under dark diagonal lines, as zelk8-map draws them.
  function hatchOverlaps(g, rows, cols, cw, ch) {
    const overlap = data.map.overlap;
    if (!overlap) return;
    g.save();
    g.strokeStyle = "#5a5a5a";
    g.lineWidth = 1;
    for (let r = 0; r < rows; r++) {
      for (let c = 0; c < cols; c++) {
        if (!overlap[r][c]) continue;
        const x = Math.floor(c * cw), y = Math.floor((rows - 1 - r) * ch), w = Math.ceil(cw), h = Math.ceil(ch);
        g.fillStyle = "#d6d6d6";
        g.fillRect(x, y, w, h);
        g.save();
        g.beginPath(); g.rect(x, y, w, h); g.clip();
        g.beginPath();
        for (let d = -h; d < w; d += 5) { g.moveTo(x + d, y + h); g.lineTo(x + d + h, y); }
        g.stroke();
        g.restore();
      }
    }
    g.restore();
  }

  // Under a panel, as under zelk8-map's: the crystal's offset (or why it is
  // not marked), the minimum over the non-overlap points, the overlap count.
  function overlapNotes(box, table) {
    if (table.crystal_note) {
      box.appendChild(element("div", (table.crystal_offset ? "\u25c6 " : "") + table.crystal_note, "axis crystal-note"));
    }
    for (const line of table.minimum_lines || []) box.appendChild(element("div", line, "axis minimum"));
    if (table.overlap_line) box.appendChild(element("div", table.overlap_line, "axis overlap-note"));
  }

  // ---- start ----------------------------------------------------------------
  header();
  unitTable();
  shiftMap();
  try {
    framework();
  } catch (error) {
    document.getElementById("viewer-note").textContent = "The 3D view could not start: " + error.message;
    console.error(error);
  }

  // For scripts that drive the page (the browser tests).
  window.zelk8View = {
    data: data,
    viewer: function () { return viewer; },
    quantity: function () { return quantity; },
    setQuantity: setQuantity,
    cylinders: function () { return drawn.map(function (d) { return Object.assign({}, d); }); },
    highlighted: function () { return highlighted; },
    neighboursShown: function () { return neighbourModel !== null; },
    hoverLabel: function () { return hoverText; },
    axesDrawn: function () { return axisLabels !== null; },
    ready: true
  };
})();
