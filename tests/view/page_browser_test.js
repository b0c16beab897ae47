// Opens zelk8-view's page of one run in headless Chromium and uses it the
// way a reader does: the page must load without a console error or a network
// request, draw the 3D view, list every unit, sort by Etot, and change the
// cylinders when the energy switch changes. Screenshots go to the work folder.
//
//   node page_browser_test.js --zelk8 BIN --view BIN --input zelk8.dat
//        --work DIR --web WEB_DIR [--map yes|no|scan] [--side yes|no] [--chromium PATH]
//        [--cif CIF [--view-cif yes]]
//   node page_browser_test.js --batch BIN --cif CIF --view BIN --work DIR --web WEB_DIR --side batch
//
// With --batch, the page is the one zelk8-batch makes of the CIF, opened from
// a copy of the batch's results folder: it refers to the folder's one copy
// of the viewer library, which must load from there with no network.
//
// With --side yes, a prep.json and a lattice.json as zelk8-batch leaves them
// are put beside the report before the page is made. With --cif, the
// framework across the crystal is checked against pairs counted here from the
// CIF's symmetry operations; --view-cif yes also gives the CIF to zelk8-view.
//
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or no puppeteer-core).
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { execFileSync } = require("child_process");

function options() {
  const args = { map: "yes", side: "no", chromium: "/usr/bin/chromium", "view-cif": "no" };
  const argv = process.argv.slice(2);
  for (let k = 0; k < argv.length; k += 2) {
    args[argv[k].replace(/^--/, "")] = argv[k + 1];
  }
  const needed = args.batch ? ["batch", "cif", "view", "work", "web"] : ["zelk8", "view", "input", "work", "web"];
  for (const need of needed) {
    if (!args[need]) {
      console.error("page_browser_test: --" + need + " is missing");
      process.exit(1);
    }
  }
  for (const file of needed) {
    args[file] = path.resolve(args[file]);
  }
  return args;
}

const failures = [];
function check(condition, what) {
  console.log((condition ? "ok:   " : "FAIL: ") + what);
  if (!condition) failures.push(what);
}

async function main() {
  const args = options();
  if (!fs.existsSync(args.chromium)) {
    console.log("SKIP: no Chromium at " + args.chromium + " (scripts/install-deps installs it)");
    process.exit(77);
  }
  let puppeteer;
  try {
    puppeteer = require(path.join(path.resolve(args.web), "node_modules", "puppeteer-core"));
  } catch (error) {
    console.log("SKIP: puppeteer-core not installed in " + args.web + " (run npm ci there)");
    process.exit(77);
  }

  const work = path.resolve(args.work);
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
  let page_file;
  if (args.batch) {
    // The batch's folder, copied elsewhere as a user may copy it; the page's
    // data from zelk8-view on the same crystal folder, a page made alone.
    const out = path.join(work, "batch");
    execFileSync(args.batch, [args.cif, "-o", out, "-j", "1"], { stdio: "inherit" });
    const copied = path.join(work, "copied");
    fs.cpSync(out, copied, { recursive: true });
    const name = path.basename(args.cif, ".cif");
    const folder = path.join(copied, name);
    args.input = path.join(folder, "zelk8.dat");
    page_file = path.join(folder, "report.html");
    const alone = path.join(work, "alone.html");
    execFileSync(args.view, [folder, "-o", alone, "--json", path.join(work, "report.json")], { stdio: "inherit" });
    const library = fs.statSync(path.join(copied, "3Dmol-min.js")).size;
    const shared = fs.readFileSync(page_file, "utf8");
    check(shared.includes('<script src="../3Dmol-min.js"></script>') && shared.length < library,
          "the batch's page refers to the folder's viewer library (" + shared.length + " bytes)");
    check(fs.statSync(alone).size > library && !fs.readFileSync(alone, "utf8").includes("<script src="),
          "a page made alone holds the library itself");
  } else {
    // The run: zelk8 in a fresh folder, then the page of that folder.
    fs.copyFileSync(args.input, path.join(work, "zelk8.dat"));
    try {
      execFileSync(args.zelk8, [], { cwd: work, stdio: "inherit" });
    } catch (error) {
      // A run that ends on a read failure still leaves its report.
      console.log("zelk8 ended with status " + error.status);
      if (error.status === null) throw error;
    }
    if (args.side === "yes") {
      fs.writeFileSync(path.join(work, "prep.json"), JSON.stringify({
        warnings: ["2 hydrogen atoms placed by the tool (3 times)", "the CIF states no formula"],
        degenerate_axes: "VL and VS", net_charge: 0 }));
      fs.writeFileSync(path.join(work, "lattice.json"), JSON.stringify({
        lattice_energy: -123.456, molecules: 88, radius: 18.5, net_charge: 0, message: "" }));
    }
    page_file = path.join(work, "report.html");
    const view_args = [work, "-o", page_file, "--json", path.join(work, "report.json")];
    if (args.cif && args["view-cif"] === "yes") view_args.push("--cif", path.resolve(args.cif));
    execFileSync(args.view, view_args, { stdio: "inherit" });
  }
  const data = JSON.parse(fs.readFileSync(path.join(work, "report.json"), "utf8"));

  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "zelk8-view-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: args.chromium,
    headless: true,
    userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync",
           "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--window-size=1280,1800"],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 1800 });
    const errors = [];
    const requests = [];
    page.on("console", (message) => {
      if (message.type() === "error") errors.push(message.text());
    });
    page.on("pageerror", (error) => errors.push(String(error)));
    await page.setRequestInterception(true);
    page.on("request", (request) => {
      const url = request.url();
      if (url.startsWith("file:") || url.startsWith("data:") || url.startsWith("blob:")) {
        request.continue();
      } else {
        requests.push(url);
        request.abort();
      }
    });
    await page.goto("file://" + page_file, { waitUntil: "load" });
    await page.waitForFunction(() => window.zelk8View && window.zelk8View.ready, { timeout: 30000 });
    await new Promise((resolve) => setTimeout(resolve, 500));

    await page.screenshot({ path: path.join(work, "page-initial.png"), fullPage: true });
    check(requests.length === 0, "no network request (" + requests.join(", ") + ")");

    // The 3D canvas: pixels other than the white background.
    const coloured = await page.evaluate(async () => {
      const uri = window.zelk8View.viewer().pngURI();
      const image = new Image();
      await new Promise((resolve, reject) => { image.onload = resolve; image.onerror = reject; image.src = uri; });
      const canvas = document.createElement("canvas");
      canvas.width = image.width;
      canvas.height = image.height;
      const g = canvas.getContext("2d");
      g.drawImage(image, 0, 0);
      const pixels = g.getImageData(0, 0, canvas.width, canvas.height).data;
      let count = 0;
      for (let k = 0; k < pixels.length; k += 4) {
        if (pixels[k + 3] > 0 && (pixels[k] < 245 || pixels[k + 1] < 245 || pixels[k + 2] < 245)) count += 1;
      }
      return { count: count, total: pixels.length / 4 };
    });
    check(coloured.count > coloured.total / 200,
          "3D view draws something: " + coloured.count + " of " + coloured.total + " pixels not background");

    // Hovering the middle of a unit's cylinder labels it with its number and name.
    const first = data.units.findIndex((u) => u.centre.every((x) => x !== null));
    const middle = await page.evaluate((k) => {
      const c = window.zelk8View.data.units[k].centre;
      return window.zelk8View.viewer().modelToScreen({ x: c[0] / 2, y: c[1] / 2, z: c[2] / 2 });
    }, first);
    await page.mouse.move(middle.x - 1, middle.y);
    await page.mouse.move(middle.x, middle.y);
    await page.waitForFunction(() => window.zelk8View.hoverLabel() !== null, { timeout: 5000 }).catch(() => {});
    const label = await page.evaluate(() => window.zelk8View.hoverLabel());
    const named = String(data.units[first].number) + " " + data.units[first].name + ":";
    check(label !== null && label.startsWith(named), "hover label on the cylinder: " + label);

    // What the header says about trusting the numbers.
    const header = await page.evaluate(() => ({
      summary: document.getElementById("summary").textContent,
      charge: document.getElementById("charge-warning") !== null,
      axes: document.getElementById("axes-warning") ? document.getElementById("axes-warning").textContent : null,
      prep: Array.from(document.querySelectorAll("#prep-warnings li")).map((li) => li.textContent),
      marks: document.querySelectorAll("#units .hbond-mark").length,
      caption: document.getElementById("viewer-note").textContent,
      axesDrawn: window.zelk8View.axesDrawn() }));
    check(header.summary.includes("Net charge"), "net charge in the header");
    check(header.charge === Boolean(data.net_charge_warning), "charge warning exactly when |q| > 0.005 e");
    if (data.lattice_etot !== null) {
      check(header.summary.includes("lattice sum over " + data.units.length + " units, not a lattice energy"),
            "the lattice sum says what it is");
    }
    check(data.elements.every((e) => header.summary.includes(e.name + (e.name_note ? " (printed as " + e.symbol + ")" : "") + " (")),
          "element types named by their atoms: " + data.elements.map((e) => e.name).join(", "));
    check(header.marks === data.hbond_units, "one H-bond mark per hydrogen-bonded unit (" + header.marks + ")");
    const unchecked = data.units.filter((u) => !u.hbond.checked).length;
    const unitsNote = await page.$eval("#units-note", (p) => p.textContent);
    check(unitsNote.includes(unchecked + " units not checked for hydrogen bonds") === (unchecked > 0),
          "units left unchecked for hydrogen bonds are counted (" + unchecked + ")");
    check(header.axesDrawn && header.caption.includes("Grey arrows: the axes VL, VS, VV"), "the axes the caption names are drawn");
    check((header.axes !== null) === (data.degenerate_axes !== null) &&
          (header.axes === null || header.axes.includes(data.degenerate_axes.axes)), "degenerate axes said: " + header.axes);
    if (args.side === "batch") {
      check(header.summary.includes("(zelk8-batch, "), "the batch's lattice energy: " + header.summary);
    } else if (args.side === "yes") {
      check(header.prep.length === 2 && header.prep[0] === "2 hydrogen atoms placed by the tool (3 times)",
            "prep's warnings listed: " + header.prep.join(" | "));
      check(header.summary.includes("-123.46 kJ/mol (zelk8-batch, 88 molecules"), "the batch's lattice energy");
      check(!header.summary.includes("not bound in this model"), "a bound crystal carries no unbound note");
    } else {
      check(header.prep.length === 0 && !header.summary.includes("Lattice energy"), "no prep or batch lines without their files");
    }
    // A hydrogen-bonded unit's cylinder label says so.
    const bonded = data.units.findIndex((u) => u.hbond && u.hbond.distance !== null);
    if (bonded >= 0) {
      const at = await page.evaluate((k) => {
        const c = window.zelk8View.data.units[k].centre;
        return window.zelk8View.viewer().modelToScreen({ x: c[0] * 0.6, y: c[1] * 0.6, z: c[2] * 0.6 });
      }, bonded);
      await page.mouse.move(at.x - 1, at.y);
      await page.mouse.move(at.x, at.y);
      await page.waitForFunction(() => window.zelk8View.hoverLabel() !== null, { timeout: 5000 }).catch(() => {});
      const text = await page.evaluate(() => window.zelk8View.hoverLabel());
      check(text !== null && text.includes("H-bond " + data.units[bonded].hbond.contact), "H-bond in the cylinder label: " + text);
      await page.mouse.move(5, 5);
    }

    const rows = await page.$$eval("#units tbody tr", (trs) => trs.length);
    check(rows === data.units.length, "one table row per unit (" + rows + " rows, " + data.units.length + " units)");

    // Sorting by Etot: ascending after one click, descending after a second.
    const etotColumn = await page.$$eval("#units th", (ths) => ths.findIndex((th) => th.textContent === "Etot"));
    const readEtot = () => page.$$eval("#units tbody tr", (trs, c) =>
      trs.map((tr) => Number(window.zelk8View.data.units[Number(tr.dataset.index)].Etot)), etotColumn);
    await page.click("#units th:nth-child(" + (etotColumn + 1) + ")");
    const ascending = await readEtot();
    check(ascending.every((v, k) => k === 0 || ascending[k - 1] <= v), "sorted by Etot, ascending: " + ascending.join(" "));
    await page.click("#units th:nth-child(" + (etotColumn + 1) + ")");
    const descending = await readEtot();
    check(descending.every((v, k) => k === 0 || descending[k - 1] >= v), "sorted by Etot, descending");

    // The switch: radii follow |EvdW| after the click, |Etot| before.
    const before = await page.evaluate(() => window.zelk8View.cylinders().map((c) => c.radius));
    await page.click("input[name=quantity][value=EvdW]");
    const after = await page.evaluate(() => ({ q: window.zelk8View.quantity(),
                                               r: window.zelk8View.cylinders().map((c) => c.radius) }));
    check(after.q === "EvdW", "the switch selects EvdW");
    check(before.some((r, k) => Math.abs(r - after.r[k]) > 1e-6), "the switch changes the cylinder radii");
    // One kJ/mol-to-radius scale for both quantities (thin floor radii aside).
    const scales = [];
    data.units.forEach((u, k) => {
      if (u.EvdW !== null && after.r[k] > 0.015) scales.push(after.r[k] / Math.abs(u.EvdW));
      if (u.Etot !== null && before[k] > 0.015) scales.push(before[k] / Math.abs(u.Etot));
    });
    check(scales.length > 0 && scales.every((x) => Math.abs(x - scales[0]) < 1e-9 * scales[0]),
          "radii proportional to |energy|, one scale for every quantity");
    await page.screenshot({ path: path.join(work, "page-evdw.png"), fullPage: true });

    // Hovering a row highlights its cylinder.
    await page.hover("#units tbody tr:first-child");
    const hovered = await page.evaluate(() => ({ k: window.zelk8View.highlighted(),
      colours: window.zelk8View.cylinders().map((c) => c.colour) }));
    check(hovered.k >= 0 && hovered.colours[hovered.k] === "#f2a900", "row hover highlights its cylinder");

    // Neighbour molecules: off by default, on with the toggle when coord.xyz exists.
    const shown = await page.evaluate(() => window.zelk8View.neighboursShown());
    check(!shown, "neighbour molecules hidden by default");
    if (data.neighbours) {
      await page.click("#neighbours");
      check(await page.evaluate(() => window.zelk8View.neighboursShown()), "the toggle shows the neighbour molecules");
      await page.click("#reset");
    }

    // The map section.
    const map = await page.evaluate(() => ({ hidden: document.getElementById("map-section").hidden,
      panels: document.querySelectorAll("#map-panels canvas.map").length,
      height: document.getElementById("map-height").textContent }));
    if (args.map === "yes") {
      check(!map.hidden && map.panels === 3, "three map panels (" + map.panels + ")");
      check(map.height.includes(data.map.height.toFixed(5)), "map height line: " + map.height);
      const box = await page.$("#map-panels canvas.map");
      await box.evaluate((canvas) => canvas.scrollIntoView());
      const rect = await box.boundingBox();
      await page.mouse.move(rect.x + 2, rect.y + rect.height - 2);
      const readout = await page.$eval("#map-readout", (p) => p.textContent);
      const first = data.map.EvdW.values[0][0];
      check(readout.includes(first === null ? "off-scale" : first.toFixed(3)), "value under the pointer: " + readout);
      // Under each panel: the overlap count, the crystal note, the minimum lines of the picture.
      const notes = await page.$$eval("#map-panels .map-panel", (boxes) => boxes.map((b) => b.textContent));
      check(notes.length === 3 && notes.every((t) => t.includes(data.map.overlap_points + " overlap point")),
            "overlap points counted under each panel (" + data.map.overlap_points + ")");
      check(notes.every((t, k) => t.includes(data.map[["EvdW", "Estat", "Etot"][k]].crystal_note)), "the crystal note under each panel");
      check(["EvdW", "Etot"].every((n, k) => data.map[n].minimum_lines.every((line) => notes[2 * k].includes(line))),
            "the minimum lines of the picture: " + data.map.EvdW.minimum_lines.join(" | "));
      check(!notes[0].includes("0.000 kJ/mol at VL 0.000, VS 0.000"), "no minimum of 0.000 at 0, 0");
      if (data.map.overlap_points > 0) {
        // An overlap cell's readout says what it is.
        const o = data.map.overlap;
        let cell = null;
        for (let r = 0; r < o.length && !cell; r++) for (let c = 0; c < o[r].length; c++) if (o[r][c]) { cell = [r, c]; break; }
        const rows = o.length, cols = o[0].length;
        await page.mouse.move(rect.x + (cell[1] + 0.5) * rect.width / cols, rect.y + (rows - cell[0] - 0.5) * rect.height / rows);
        const said = await page.$eval("#map-readout", (p) => p.textContent);
        check(said.includes("(overlap point"), "overlap readout: " + said);
      }
    } else if (args.map === "scan") {
      check(!map.hidden && map.panels === 0, "scan export: height line without panels");
    } else {
      check(map.hidden, "no map section without a map");
    }
    await frameworkChecks(page, data, args, work);
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: path.join(work, "page.png"), fullPage: true });
    check(errors.length === 0, "no console error (" + errors.join(" | ") + ")");
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  console.log(failures.length === 0 ? "page test passed" : failures.length + " checks failed");
  process.exit(failures.length === 0 ? 0 : 1);
}

// ---- the framework across the crystal --------------------------------------

// "x,-y+1/2,z+1/2" or "1/2-x,1/2+y,-z" as {rotation, translation}.
function parseTriplet(text) {
  const rotation = [[0, 0, 0], [0, 0, 0], [0, 0, 0]];
  const translation = [0, 0, 0];
  text.replace(/\s+/g, "").toLowerCase().split(",").forEach((part, row) => {
    for (const term of part.split(/(?=[+-])/)) {
      if (!term) continue;
      const m = /^([+-]?)(\d*\.?\d*(?:\/\d+)?)\*?([xyz]?)$/.exec(term);
      if (!m) throw new Error("cannot read the operation " + text);
      const sign = m[1] === "-" ? -1 : 1;
      let value = 1;
      if (m[2]) {
        const [p, q] = m[2].split("/");
        value = Number(p) / (q ? Number(q) : 1);
      }
      if (m[3]) rotation[row]["xyz".indexOf(m[3])] += sign * value;
      else translation[row] += sign * value;
    }
  });
  return { rotation, translation };
}

// The operations of a CIF's symmetry loop.
function cifOperations(file) {
  const lines = fs.readFileSync(file, "utf8").split(/\r?\n/);
  const tags = ["_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz"];
  for (let k = 0; k < lines.length; k++) {
    if (lines[k].trim() !== "loop_") continue;
    const header = [];
    let j = k + 1;
    while (j < lines.length && lines[j].trim().startsWith("_")) header.push(lines[j++].trim());
    const column = header.findIndex((h) => tags.includes(h));
    if (column < 0) continue;
    const ops = [];
    for (; j < lines.length; j++) {
      const line = lines[j].trim();
      if (!line || line.startsWith("_") || line === "loop_" || line.startsWith("#")) break;
      const tokens = line.match(/'[^']*'|"[^"]*"|\S+/g).map((t) => t.replace(/^['"]|['"]$/g, ""));
      ops.push(parseTriplet(tokens[column]));
    }
    return ops;
  }
  throw new Error(file + ": no symmetry loop");
}

function apply(op, x) {
  return [0, 1, 2].map((r) => op.rotation[r][0] * x[0] + op.rotation[r][1] * x[1] + op.rotation[r][2] * x[2] +
    op.translation[r]);
}
// x with op(x) = y, by Gaussian elimination.
function undo(op, y) {
  const m = op.rotation.map((row, r) => row.concat([y[r] - op.translation[r]]));
  for (let c = 0; c < 3; c++) {
    let pivot = c;
    for (let r = c + 1; r < 3; r++) if (Math.abs(m[r][c]) > Math.abs(m[pivot][c])) pivot = r;
    [m[c], m[pivot]] = [m[pivot], m[c]];
    for (let r = 0; r < 3; r++) {
      if (r === c) continue;
      const f = m[r][c] / m[c][c];
      for (let k = c; k < 4; k++) m[r][k] -= f * m[c][k];
    }
  }
  return [m[0][3] / m[0][0], m[1][3] / m[1][1], m[2][3] / m[2][2]];
}
function near(p, q, tolerance) {
  return Math.abs(p[0] - q[0]) < tolerance && Math.abs(p[1] - q[1]) < tolerance && Math.abs(p[2] - q[2]) < tolerance;
}

// The centre of the input's first atom set, fractional.
function inputCentre(file) {
  const sum = [0, 0, 0];
  let count = 0;
  for (const line of fs.readFileSync(file, "utf8").split(/\r?\n/).slice(1)) {
    const f = line.trim().split(/\s+/);
    if (f.length === 1 && f[0] === "0" && count > 0) break;
    if (f.length < 6) continue;
    for (let k = 0; k < 3; k++) sum[k] += Number(f[k + 1]);
    count += 1;
  }
  return sum.map((x) => x / count);
}

// Molecules in the block of `cells` around `centre` and the pairs among them
// that a unit relates, each with that unit: by brute force over the CIF's
// operations and lattice translations.
function countPairs(ops, units, centre, cells) {
  const first = centre.map((x, axis) => Math.floor(x - cells[axis] / 2 + 0.5));
  const molecules = [];
  for (const op of ops) {
    for (let i = -6; i <= 6; i++) for (let j = -6; j <= 6; j++) for (let k = -6; k <= 6; k++) {
      const placed = { rotation: op.rotation, translation: [op.translation[0] + i, op.translation[1] + j, op.translation[2] + k] };
      const f = apply(placed, centre);
      if (f.some((x, axis) => x < first[axis] - 1e-4 || x > first[axis] + cells[axis] + 1e-4)) continue;
      if (molecules.some((m) => near(m.f, f, 1e-3))) continue;
      molecules.push({ placed, f });
    }
  }
  const partners = units.map((u) => u.operation.some((x) => x === null) || u.marker ? null : apply(
    { rotation: [u.operation.slice(0, 3), u.operation.slice(3, 6), u.operation.slice(6, 9)], translation: u.operation.slice(9, 12) }, centre));
  const pairs = [];
  for (let p = 0; p < molecules.length; p++) {
    for (let q = p + 1; q < molecules.length; q++) {
      const fromP = undo(molecules[p].placed, molecules[q].f);
      const fromQ = undo(molecules[q].placed, molecules[p].f);
      const unit = partners.findIndex((x) => x !== null && (near(x, fromP, 1e-3) || near(x, fromQ, 1e-3)));
      if (unit >= 0) pairs.push({ unit, f: [molecules[p].f, molecules[q].f] });
    }
  }
  return { molecules: molecules.length, pairs };
}

// Distance between two fractional points from the cell's lengths and angles.
function cellDistance(cell, p, q) {
  const d = [p[0] - q[0], p[1] - q[1], p[2] - q[2]];
  const rad = Math.PI / 180;
  const g = [[cell.a * cell.a, cell.a * cell.b * Math.cos(cell.gamma * rad), cell.a * cell.c * Math.cos(cell.beta * rad)],
             [0, cell.b * cell.b, cell.b * cell.c * Math.cos(cell.alpha * rad)], [0, 0, cell.c * cell.c]];
  g[1][0] = g[0][1]; g[2][0] = g[0][2]; g[2][1] = g[1][2];
  let sum = 0;
  for (let r = 0; r < 3; r++) for (let c = 0; c < 3; c++) sum += d[r] * g[r][c] * d[c];
  return Math.sqrt(sum);
}

async function frameworkChecks(page, data, args, work) {
  const fw = data.framework;
  const hidden = await page.evaluate(() => document.getElementById("fw-viewer").hidden);
  const note = await page.$eval("#fw-note", (p) => p.textContent);
  if (data.units.some((u) => u.marker)) {
    check(!fw.available && hidden && note.includes("two atom sets"), "two atom sets: no framework, and why: " + note);
    return;
  }
  check(fw.available && !hidden, "the framework across the crystal is drawn");
  const drawn = () => page.evaluate(() => ({ cylinders: window.zelk8Framework.cylinders(),
                                             molecules: window.zelk8Framework.molecules().length }));
  const setThreshold = (value) => page.evaluate((v) => {
    const input = document.getElementById("fw-threshold");
    input.value = String(v);
    input.dispatchEvent(new Event("change"));
  }, value);
  if (args.cif) {
    const ops = cifOperations(args.cif);
    const counted = countPairs(ops, data.units, inputCentre(args.input), [2, 2, 2]);
    const strong = (t) => counted.pairs.filter((p) => data.units[p.unit].Etot !== null && Math.abs(data.units[p.unit].Etot) >= t);
    const at5 = await drawn();
    check(at5.molecules === counted.molecules, "molecules in 2 x 2 x 2 cells: " + at5.molecules +
          " drawn, " + counted.molecules + " from the CIF's operations");
    check(at5.cylinders.length === strong(5).length && strong(5).length > 0, "cylinders with |Etot| >= 5: " +
          at5.cylinders.length + " drawn, " + strong(5).length + " counted from the CIF's operations");
    await setThreshold(10);
    const at10 = await drawn();
    check(at10.cylinders.length === strong(10).length && at10.cylinders.length < at5.cylinders.length &&
          at10.cylinders.every((c) => Math.abs(c.energy) >= 10),
          "the threshold removes the weak pairs: " + at10.cylinders.length + " drawn at 10 kJ/mol, " +
          strong(10).length + " counted");
    await setThreshold(5);
    // Each cylinder is as long as its unit's centre distance, from the cell alone.
    const cell = data.cell;
    const lengths = at5.cylinders.map((c) => Math.abs(cellDistance(cell, fw.molecules[c.molecules[0]].fractional,
      fw.molecules[c.molecules[1]].fractional) - data.units[c.unit].d_center));
    check(lengths.every((x) => x < 2e-3), "cylinder lengths equal their units' centre distances");
  }

  // Radii proportional to |energy|, one scale for all: doubling the scale doubles each.
  const thin = (await drawn()).cylinders;
  await page.evaluate(() => {
    const input = document.getElementById("fw-scale");
    input.value = String(Number(input.value) * 2);
    input.dispatchEvent(new Event("change"));
  });
  const thick = (await drawn()).cylinders;
  const ratio = thin.length ? thin[0].radius / Math.abs(thin[0].energy) : 0;
  check(thin.length > 0 && thick.length === thin.length &&
        thin.every((c, k) => Math.abs(c.radius - ratio * Math.abs(c.energy)) < 1e-9 &&
                             Math.abs(thick[k].radius - 2 * c.radius) < 1e-9),
        "radii proportional to |energy|, doubled with the scale");
  await page.evaluate(() => {
    const input = document.getElementById("fw-scale");
    input.value = String(Number(input.value) / 2);
    input.dispatchEvent(new Event("change"));
  });

  // The block follows its controls, and a number out of range is brought back into it.
  const setCells = (values) => page.evaluate((v) => {
    ["a", "b", "c"].forEach((axis, k) => { document.getElementById("fw-cells-" + axis).value = v[k]; });
    document.getElementById("fw-cells-c").dispatchEvent(new Event("change"));
    return ["a", "b", "c"].map((axis) => document.getElementById("fw-cells-" + axis).value);
  }, values);
  const shownCells = await setCells(["1", "9", "3"]);
  const block13 = (await drawn()).molecules;
  check(shownCells.join(",") === "1,4,3", "cells out of range brought back: " + shownCells.join(","));
  if (args.cif) {
    const counted = countPairs(cifOperations(args.cif), data.units, inputCentre(args.input), [1, 4, 3]);
    check(block13 === counted.molecules, "molecules in 1 x 4 x 3 cells: " + block13 + " drawn, " +
          counted.molecules + " from the CIF's operations");
  }
  await setCells(["2", "2", "2"]);

  // The view along a, b, c and VV: the block's centre and a point further
  // along that direction meet on the screen.
  const views = [["a", (f) => f.cell_vectors[0]], ["b", (f) => f.cell_vectors[1]], ["c", (f) => f.cell_vectors[2]],
                 ["vv", (f) => f.axes.VV]];
  for (const [name, direction] of views) {
    const before = await page.evaluate(() => window.zelk8Framework.viewer().getView());
    await page.click("#fw-along-" + name);
    const seen = await page.evaluate((d) => {
      const v = window.zelk8Framework.viewer();
      const c = window.zelk8Framework.blockCentre();
      const n = Math.hypot(d[0], d[1], d[2]);
      const far = { x: c.x + 5 * d[0] / n, y: c.y + 5 * d[1] / n, z: c.z + 5 * d[2] / n };
      return { view: v.getView(), centre: v.modelToScreen(c), far: v.modelToScreen(far) };
    }, direction(fw));
    const moved = seen.view.some((x, k) => Math.abs(x - before[k]) > 1e-6);
    check(moved && Math.hypot(seen.centre.x - seen.far.x, seen.centre.y - seen.far.y) < 1.5,
          "the view along " + name + " looks down that direction");
    if (name === "b") {
      const box = await page.$("#fw-viewer");
      await box.screenshot({ path: path.join(work, "framework-b.png") });
    }
  }

  // The pointer on a cylinder names its pair, as one of the drawn ones.
  const cylinders = (await drawn()).cylinders;
  let hovered = null;
  for (const c of cylinders.slice(0, 12)) {
    const at = await page.evaluate((m) => {
      const fw = window.zelk8View.data.framework;
      const p = fw.molecules[m[0]].position, q = fw.molecules[m[1]].position;
      document.getElementById("fw-viewer").scrollIntoView();
      // modelToScreen gives page coordinates; the mouse moves in the window's.
      const s = window.zelk8Framework.viewer().modelToScreen({ x: (p[0] + q[0]) / 2, y: (p[1] + q[1]) / 2, z: (p[2] + q[2]) / 2 });
      return { x: s.x - window.pageXOffset, y: s.y - window.pageYOffset };
    }, c.molecules);
    await page.mouse.move(at.x - 1, at.y);
    await page.mouse.move(at.x, at.y);
    await page.waitForFunction(() => window.zelk8Framework.hoverLabel() !== null, { timeout: 1000 }).catch(() => {});
    hovered = await page.evaluate(() => window.zelk8Framework.hoverLabel());
    if (hovered) break;
  }
  const named = /^molecules (\d+)\u2013(\d+): unit /.exec(hovered || "");
  check(named !== null && cylinders.some((c) => c.molecules[0] + 1 === Number(named[1]) &&
                                                 c.molecules[1] + 1 === Number(named[2])),
        "the pointer on a cylinder names its pair: " + hovered);

  // The PNG: twice the screen's resolution, white around a drawn framework.
  const picture = await page.evaluate(async () => {
    const uri = await window.zelk8Framework.png();
    const image = new Image();
    await new Promise((resolve, reject) => { image.onload = resolve; image.onerror = reject; image.src = uri; });
    const canvas = document.createElement("canvas");
    canvas.width = image.width;
    canvas.height = image.height;
    const g = canvas.getContext("2d");
    g.drawImage(image, 0, 0);
    const pixels = g.getImageData(0, 0, canvas.width, canvas.height).data;
    let drawn = 0;
    for (let k = 0; k < pixels.length; k += 4) {
      if (pixels[k] < 245 || pixels[k + 1] < 245 || pixels[k + 2] < 245) drawn += 1;
    }
    const box = document.getElementById("fw-viewer");
    return { uri, width: image.width, height: image.height, drawn, corner: Array.from(pixels.slice(0, 4)),
             expected: [Math.round(box.clientWidth * 2 * (window.devicePixelRatio || 1)),
                        Math.round(box.clientHeight * 2 * (window.devicePixelRatio || 1))] };
  });
  fs.writeFileSync(path.join(work, "framework.png"), Buffer.from(picture.uri.split(",")[1], "base64"));
  check(picture.width === picture.expected[0] && picture.height === picture.expected[1],
        "PNG at twice the screen's resolution: " + picture.width + " x " + picture.height);
  check(picture.drawn > picture.width * picture.height / 500 && picture.corner.join(",") === "255,255,255,255",
        "PNG holds the framework on white (" + picture.drawn + " pixels drawn)");

  // The pair list as CSV, one line per cylinder.
  const table = await page.evaluate(() => ({ csv: window.zelk8Framework.csv(),
                                             count: window.zelk8Framework.cylinders().length }));
  const rows = table.csv.trim().split("\n");
  check(rows.length === table.count + 1 && rows[0].startsWith("pair,molecule_1,molecule_2,unit"),
        "CSV of the drawn pairs: " + (rows.length - 1) + " rows");

  // Whole molecules behind the toggle.
  await page.click("#fw-whole");
  const whole = await page.evaluate(() => {
    const v = window.zelk8Framework.viewer();
    return { shown: window.zelk8Framework.wholeShown(), atoms: v.getModel().selectedAtoms({}).length,
             molecules: window.zelk8Framework.molecules().length };
  });
  check(whole.shown && whole.atoms === whole.molecules * fw.atoms.length,
        "whole molecules: " + whole.atoms + " atoms for " + whole.molecules + " molecules");
  await page.click("#fw-whole");
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
