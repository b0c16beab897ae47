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
      const bonded = data.hbond_units || (data.prep && data.prep.hbond_units) || 0;
      // A lattice energy at or above zero means the model does not bind the crystal: say so
      // beside the number, and why when hydrogen bonds are the likely reason.
      const unbound = typeof e === "number" && e >= 0
        ? " \u2014 not bound in this model" + (bonded
          ? ": its hydrogen-bonded pairs sit on the repulsive wall (the model has no hydrogen-bond term)"
          : "")
        : "";
      row("Lattice energy", [typeof e === "number"
        ? e.toFixed(2) + " kJ/mol (zelk8-batch, " + data.batch_lattice.molecules + " molecules within " +
          data.batch_lattice.radius + " \u00c5)" + unbound
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

// The energy framework across the crystal: the molecules whose centres lie in
// a block of cells around the central one (the "framework" of the page's
// data: its molecules and the pairs that units relate), a cylinder between
// every pair with |energy| at or above the threshold, and the cell's edges.
(function () {
  "use strict";

  const data = JSON.parse(document.getElementById("zelk8-data").textContent);
  const fw = data.framework;
  // A pair comes as [first, second, unit, distance]; its name and energies
  // are its unit's.
  if (fw.pairs) {
    fw.pairs = fw.pairs.map(function (p) {
      const u = data.units[p[2]];
      return { molecules: [p[0], p[1]], unit: p[2], distance: p[3], name: u.name,
        number: u.number === null ? u.number_printed : u.number, EvdW: u.EvdW, Estat: u.Estat, Etot: u.Etot };
    });
  }
  const colours = { attractive: "#2166ac", repulsive: "#b2182b", centre: "#000000", molecule: "#6b6b6b" };
  const axisColours = ["#d62728", "#2ca02c", "#1f77b4"];
  const axisNames = ["a", "b", "c"];
  let viewer = null;
  let quantity = "Etot";
  let cells = [2, 2, 2];
  let threshold = 5;
  let scale = 1;
  let whole = false;
  let wholeModel = null;
  let shown = []; // indices of the molecules in the block
  let drawnPairs = []; // the pairs drawn: {pair, radius, colour}
  let centreOfBlock = { x: 0, y: 0, z: 0 };

  // The control's number, kept within its range; the control shows what is used.
  function number(id, low, high, fallback, integer) {
    const input = document.getElementById(id);
    let value = Number(input.value);
    value = input.value.trim() !== "" && Number.isFinite(value) ? Math.min(Math.max(value, low), high) : fallback;
    if (integer) value = Math.round(value);
    input.value = String(value);
    return value;
  }
  function energyText(value) {
    return value === null ? "off-scale" : value.toFixed(4);
  }

  // A point given in fractional coordinates, Cartesian around the central molecule.
  function cartesian(f) {
    const p = { x: 0, y: 0, z: 0 };
    for (let axis = 0; axis < 3; axis++) {
      const d = f[axis] - fw.centre[axis];
      p.x += fw.cell_vectors[axis][0] * d;
      p.y += fw.cell_vectors[axis][1] * d;
      p.z += fw.cell_vectors[axis][2] * d;
    }
    return p;
  }
  function vector(v) { return { x: v[0], y: v[1], z: v[2] }; }

  // The cells of the chosen block along each axis, [first, last].
  function block() {
    return [0, 1, 2].map(function (axis) { return fw.blocks[axis][cells[axis] - 1]; });
  }
  function inBlock(m, range) {
    const f = fw.molecules[m].fractional;
    for (let axis = 0; axis < 3; axis++) {
      if (f[axis] < range[axis][0] - 1e-4 || f[axis] > range[axis][1] + 1e-4) return false;
    }
    return true;
  }

  function wholeMolecules() {
    const lines = [];
    for (const m of shown) {
      const molecule = fw.molecules[m];
      const r = molecule.rotation;
      const p = molecule.position;
      for (const atom of fw.atoms) {
        const a = atom.position;
        const letters = String(atom.symbol).replace(/[^A-Za-z]/g, "") || "X";
        lines.push(letters + " " + (p[0] + r[0] * a[0] + r[1] * a[1] + r[2] * a[2]).toFixed(4) + " " +
          (p[1] + r[3] * a[0] + r[4] * a[1] + r[5] * a[2]).toFixed(4) + " " +
          (p[2] + r[6] * a[0] + r[7] * a[1] + r[8] * a[2]).toFixed(4));
      }
    }
    return lines.length + "\n\n" + lines.join("\n") + "\n";
  }

  // The label of a pair under the pointer: its molecules, unit and energy.
  let hoverLabel = null;
  let hoverText = null;
  function showLabel(pair, start, end) {
    hideLabel();
    hoverText = "molecules " + (pair.molecules[0] + 1) + "\u2013" + (pair.molecules[1] + 1) + ": unit " +
      pair.number + " " + pair.name + ", " + quantity + " = " + energyText(pair[quantity]) + " kJ/mol, " +
      pair.distance.toFixed(3) + " \u00c5";
    hoverLabel = viewer.addLabel(hoverText, {
      position: { x: (start.x + end.x) / 2, y: (start.y + end.y) / 2, z: (start.z + end.z) / 2 },
      backgroundColor: "#ffffff", backgroundOpacity: 0.85, fontColor: "#000000", fontSize: 13,
      borderThickness: 1, borderColor: "#888888", inFront: true
    });
  }
  function hideLabel() {
    if (hoverLabel) {
      viewer.removeLabel(hoverLabel);
      hoverLabel = null;
      hoverText = null;
    }
  }

  function draw() {
    hoverLabel = null;
    hoverText = null;
    viewer.removeAllShapes();
    viewer.removeAllLabels();
    if (wholeModel) {
      viewer.removeModel(wholeModel);
      wholeModel = null;
    }
    const range = block();
    shown = [];
    fw.molecules.forEach(function (m, k) { if (inBlock(k, range)) shown.push(k); });
    const inside = new Set(shown);

    // The cell edges of the block, the first cell's a, b and c in colour.
    for (let axis = 0; axis < 3; axis++) {
      const u = (axis + 1) % 3, v = (axis + 2) % 3;
      for (let i = range[u][0]; i <= range[u][1]; i++) {
        for (let j = range[v][0]; j <= range[v][1]; j++) {
          const from = [0, 0, 0], to = [0, 0, 0];
          from[u] = to[u] = i;
          from[v] = to[v] = j;
          from[axis] = range[axis][0];
          to[axis] = range[axis][1];
          viewer.addLine({ start: cartesian(from), end: cartesian(to), color: "#9a9a9a" });
        }
      }
    }
    const corner = [range[0][0], range[1][0], range[2][0]];
    for (let axis = 0; axis < 3; axis++) {
      const end = corner.slice();
      end[axis] += 1;
      viewer.addCylinder({ start: cartesian(corner), end: cartesian(end), radius: 0.06,
        color: axisColours[axis], fromCap: 1, toCap: 1 });
      const at = corner.slice();
      at[axis] += 1.08;
      viewer.addLabel(axisNames[axis], { position: cartesian(at), fontColor: axisColours[axis], fontSize: 18,
        backgroundOpacity: 0, inFront: true, alignment: "center" });
    }

    // The molecules' centres, the central one in black.
    for (const k of shown) {
      viewer.addSphere({ center: vector(fw.molecules[k].position), radius: k === 0 ? 0.4 : 0.3,
        color: k === 0 ? colours.centre : colours.molecule });
    }
    // The pairs, radius proportional to |energy|.
    drawnPairs = [];
    for (const pair of fw.pairs) {
      const energy = pair[quantity];
      if (!inside.has(pair.molecules[0]) || !inside.has(pair.molecules[1])) continue;
      if (energy === null || Math.abs(energy) < threshold) continue;
      const radius = Math.abs(energy) * scale / 100;
      const colour = energy < 0 ? colours.attractive : colours.repulsive;
      const start = vector(fw.molecules[pair.molecules[0]].position);
      const end = vector(fw.molecules[pair.molecules[1]].position);
      viewer.addCylinder({ start: start, end: end, radius: radius, color: colour, fromCap: 1, toCap: 1,
        hoverable: true,
        hover_callback: function () { showLabel(pair, start, end); viewer.render(); },
        unhover_callback: function () { hideLabel(); viewer.render(); } });
      drawnPairs.push({ pair: pair, radius: radius, colour: colour });
    }
    if (whole) {
      wholeModel = viewer.addModel(wholeMolecules(), "xyz");
      wholeModel.setStyle({}, { stick: { radius: 0.08, colorscheme: "Jmol" } });
    }
    const middle = [0, 1, 2].map(function (axis) { return (range[axis][0] + range[axis][1]) / 2; });
    centreOfBlock = cartesian(middle);
    viewer.render();
    note();
  }

  function note() {
    const inBlockPairs = fw.pairs.filter(function (p) {
      return shown.indexOf(p.molecules[0]) >= 0 && shown.indexOf(p.molecules[1]) >= 0;
    });
    const offScale = inBlockPairs.filter(function (p) { return p[quantity] === null; }).length;
    const parts = [shown.length + " molecules in " + cells.join(" \u00d7 ") + " cells (" +
      fw.molecules_per_cell + " per cell), " + drawnPairs.length + " of their " + inBlockPairs.length +
      " pairs with |" + quantity + "| \u2265 " + threshold + " kJ/mol drawn; the central molecule in black."];
    parts.push("The molecules are placed by composing the units' operations" +
      (fw.crystal_symmetry ? " and the crystal's symmetry operations (--cif)" : "") +
      " with the lattice's translations; each pair carries the energies of the unit that relates it.");
    if (!fw.crystal_symmetry) {
      parts.push("A molecule that no unit's operation reaches (another orientation in the cell) is not drawn" +
        (fw.cif_accepted ? ": make the page with --cif to add the crystal's own operations." : "."));
    }
    if (offScale) parts.push(offScale + " pairs with an off-scale " + quantity + " are not drawn.");
    if (fw.skipped_units.length) {
      parts.push("Units without a usable operation, left out: " + fw.skipped_units.join(", ") + ".");
    }
    document.getElementById("fw-note").textContent = parts.join(" ");
  }

  // The rotation that looks along `direction` (into the screen) with `right`
  // to the right, as the quaternion [x, y, z, w] of the view.
  function lookAlong(direction, right) {
    function unit(v) { const n = Math.hypot(v[0], v[1], v[2]); return [v[0] / n, v[1] / n, v[2] / n]; }
    function dot(p, q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; }
    function cross(p, q) { return [p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]]; }
    const r3 = unit(direction).map(function (x) { return -x; });
    const along = dot(right, r3);
    let r1 = [right[0] - along * r3[0], right[1] - along * r3[1], right[2] - along * r3[2]];
    if (Math.hypot(r1[0], r1[1], r1[2]) < 1e-6) r1 = Math.abs(r3[0]) < 0.9 ? cross([1, 0, 0], r3) : cross([0, 1, 0], r3);
    r1 = unit(r1);
    const r2 = cross(r3, r1);
    const m = [r1, r2, r3];
    const trace = m[0][0] + m[1][1] + m[2][2];
    let x, y, z, w;
    if (trace > 0) {
      const s = 0.5 / Math.sqrt(trace + 1);
      w = 0.25 / s; x = (m[2][1] - m[1][2]) * s; y = (m[0][2] - m[2][0]) * s; z = (m[1][0] - m[0][1]) * s;
    } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
      const s = 2 * Math.sqrt(1 + m[0][0] - m[1][1] - m[2][2]);
      w = (m[2][1] - m[1][2]) / s; x = 0.25 * s; y = (m[0][1] + m[1][0]) / s; z = (m[0][2] + m[2][0]) / s;
    } else if (m[1][1] > m[2][2]) {
      const s = 2 * Math.sqrt(1 + m[1][1] - m[0][0] - m[2][2]);
      w = (m[0][2] - m[2][0]) / s; x = (m[0][1] + m[1][0]) / s; y = 0.25 * s; z = (m[1][2] + m[2][1]) / s;
    } else {
      const s = 2 * Math.sqrt(1 + m[2][2] - m[0][0] - m[1][1]);
      w = (m[1][0] - m[0][1]) / s; x = (m[0][2] + m[2][0]) / s; y = (m[1][2] + m[2][1]) / s; z = 0.25 * s;
    }
    return [x, y, z, w];
  }

  // Looks along a cell axis (0, 1, 2) or along the molecule's VV ("VV"),
  // centred on the block: along a with c up, along b with a to the right
  // and c up, along c with b to the right and a up, along VV with VL to
  // the right.
  function along(which) {
    const v = fw.cell_vectors;
    let direction, right;
    if (which === "VV") {
      direction = fw.axes.VV;
      right = fw.axes.VL;
    } else {
      direction = v[which];
      right = [v[1].map(function (x) { return -x; }), v[0], v[1]][which];
    }
    const view = viewer.getView();
    const q = lookAlong(direction, right);
    view[0] = -centreOfBlock.x; view[1] = -centreOfBlock.y; view[2] = -centreOfBlock.z;
    view[4] = q[0]; view[5] = q[1]; view[6] = q[2]; view[7] = q[3];
    if (view.length > 8) { view[8] = 0; view[9] = 0; }
    viewer.setView(view);
    viewer.zoomTo();
    viewer.zoom(1.25); // the fit is to the block's bounding sphere, which leaves wide margins
    viewer.render();
  }

  // The 3D view as a PNG at twice the screen's resolution on white.
  async function png() {
    const box = document.getElementById("fw-viewer");
    const canvas = viewer.getCanvas();
    const width = box.clientWidth, height = box.clientHeight;
    const ratio = window.devicePixelRatio || 1;
    const targetWidth = Math.round(width * ratio * 2), targetHeight = Math.round(height * ratio * 2);
    const enlarge = targetWidth / canvas.width;
    const style = { width: box.style.width, height: box.style.height, maxWidth: box.style.maxWidth };
    if (Math.abs(enlarge - 1) > 1e-3) {
      box.style.maxWidth = "none";
      box.style.width = (width * enlarge) + "px";
      box.style.height = (height * enlarge) + "px";
      viewer.resize();
    }
    viewer.render();
    const uri = viewer.pngURI();
    if (Math.abs(enlarge - 1) > 1e-3) {
      box.style.width = style.width;
      box.style.height = style.height;
      box.style.maxWidth = style.maxWidth;
      viewer.resize();
      viewer.render();
    }
    const image = new Image();
    await new Promise(function (resolve, reject) { image.onload = resolve; image.onerror = reject; image.src = uri; });
    const out = document.createElement("canvas");
    out.width = targetWidth;
    out.height = targetHeight;
    const g = out.getContext("2d");
    g.fillStyle = "#ffffff";
    g.fillRect(0, 0, out.width, out.height);
    g.drawImage(image, 0, 0, out.width, out.height);
    return out.toDataURL("image/png");
  }

  function csvField(text) {
    const s = String(text);
    return /[",\n]/.test(s) ? "\"" + s.replace(/"/g, "\"\"") + "\"" : s;
  }
  // The drawn pairs: molecules numbered from 1 (the central one) in the page's data.
  function csv() {
    const lines = ["pair,molecule_1,molecule_2,unit,name,operation,distance_A,EvdW_kJ_mol,Estat_kJ_mol,Etot_kJ_mol"];
    drawnPairs.forEach(function (d, k) {
      const p = d.pair;
      const u = data.units[p.unit];
      lines.push([k + 1, p.molecules[0] + 1, p.molecules[1] + 1, p.number, p.name, u.operation_text,
        p.distance.toFixed(4), energyText(p.EvdW), energyText(p.Estat), energyText(p.Etot)].map(csvField).join(","));
    });
    return lines.join("\n") + "\n";
  }
  function save(name, href) {
    const link = document.createElement("a");
    link.href = href;
    link.download = name;
    document.body.appendChild(link);
    link.click();
    link.remove();
  }
  function fileName(ending) {
    return (String(data.crystal).replace(/[^A-Za-z0-9._-]+/g, "_") || "zelk8") + "-framework" + ending;
  }

  function readControls() {
    cells = ["a", "b", "c"].map(function (axis) { return number("fw-cells-" + axis, 1, 4, 2, true); });
    threshold = number("fw-threshold", 0, 1e6, 5);
    scale = number("fw-scale", 0.1, 5, 1);
    whole = document.getElementById("fw-whole").checked;
    for (const radio of document.querySelectorAll("input[name=fw-quantity]")) {
      if (radio.checked) quantity = radio.value;
    }
  }

  function start() {
    const section = document.getElementById("fw-section");
    const noteBox = document.getElementById("fw-note");
    function off(text) {
      for (const e of section.querySelectorAll(".fw-controls, #fw-viewer")) e.hidden = true;
      noteBox.textContent = text;
    }
    if (!fw || !fw.available) {
      off("No framework across the crystal: " + (fw ? fw.reason : "the page's data has none.") +
        " The star above shows every unit of the report.");
      return;
    }
    if (typeof $3Dmol === "undefined") {
      off("The 3D view needs JavaScript and WebGL.");
      return;
    }
    viewer = $3Dmol.createViewer(document.getElementById("fw-viewer"), { backgroundColor: "white", antialias: true,
      orthographic: true });
    if (!fw.axes.VV || !fw.axes.VL) document.getElementById("fw-along-vv").disabled = true;
    readControls();
    draw();
    viewer.zoomTo();
    along(1);
    for (const input of section.querySelectorAll(".fw-controls input")) {
      input.addEventListener("change", function () { readControls(); draw(); });
    }
    ["a", "b", "c"].forEach(function (name, axis) {
      document.getElementById("fw-along-" + name).addEventListener("click", function () { along(axis); });
    });
    document.getElementById("fw-along-vv").addEventListener("click", function () { along("VV"); });
    document.getElementById("fw-png").addEventListener("click", async function () {
      save(fileName(".png"), await png());
    });
    document.getElementById("fw-csv").addEventListener("click", function () {
      save(fileName(".csv"), URL.createObjectURL(new Blob([csv()], { type: "text/csv" })));
    });
    window.addEventListener("resize", function () { viewer.resize(); viewer.render(); });
  }

  try {
    start();
  } catch (error) {
    document.getElementById("fw-note").textContent = "The framework view could not start: " + error.message;
    console.error(error);
  }

  // For scripts that drive the page (the browser tests).
  window.zelk8Framework = {
    viewer: function () { return viewer; },
    molecules: function () { return shown.slice(); },
    cylinders: function () { return drawnPairs.map(function (d) { return { molecules: d.pair.molecules.slice(),
      unit: d.pair.unit, radius: d.radius, colour: d.colour, energy: d.pair[quantity] }; }); },
    blockCentre: function () { return Object.assign({}, centreOfBlock); },
    hoverLabel: function () { return hoverText; },
    wholeShown: function () { return wholeModel !== null; },
    png: png,
    csv: csv,
    ready: true
  };
})();
