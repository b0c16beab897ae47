// Opens zelk8-view's page of one run in headless Chromium and uses it the
// way a reader does: the page must load without a console error or a network
// request, draw the 3D view, list every unit, sort by Etot, and change the
// cylinders when the energy switch changes. Screenshots go to the work folder.
//
//   node page_browser_test.js --zelk8 BIN --view BIN --input zelk8.dat
//        --work DIR --web WEB_DIR [--map yes|no|scan] [--side yes|no] [--chromium PATH]
//
// With --side yes, a prep.json and a lattice.json as zelk8-batch leaves them
// are put beside the report before the page is made.
//
// Exit status 0 passed, 1 failed, 77 skipped (no Chromium or no puppeteer-core).
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { execFileSync } = require("child_process");

function options() {
  const args = { map: "yes", side: "no", chromium: "/usr/bin/chromium" };
  const argv = process.argv.slice(2);
  for (let k = 0; k < argv.length; k += 2) {
    args[argv[k].replace(/^--/, "")] = argv[k + 1];
  }
  for (const need of ["zelk8", "view", "input", "work", "web"]) {
    if (!args[need]) {
      console.error("page_browser_test: --" + need + " is missing");
      process.exit(1);
    }
  }
  for (const file of ["zelk8", "view", "input", "work", "web"]) {
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

  // The run: zelk8 in a fresh folder, then the page of that folder.
  const work = path.resolve(args.work);
  fs.rmSync(work, { recursive: true, force: true });
  fs.mkdirSync(work, { recursive: true });
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
  const page_file = path.join(work, "report.html");
  execFileSync(args.view, [work, "-o", page_file, "--json", path.join(work, "report.json")],
               { stdio: "inherit" });
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
    if (args.side === "yes") {
      check(header.prep.length === 2 && header.prep[0] === "2 hydrogen atoms placed by the tool (3 times)",
            "prep's warnings listed: " + header.prep.join(" | "));
      check(header.summary.includes("-123.46 kJ/mol (zelk8-batch, 88 molecules"), "the batch's lattice energy");
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

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
