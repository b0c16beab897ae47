// zelk8-view: the report page of a zelk8 run, one self-contained HTML file.
//
// Exit status: 0 page written; 2 bad command line, or the report is missing,
// unreadable, not a zelk8 report or holds no unit; 3 the page or the JSON
// file could not be written; 130 interrupted.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#ifdef ZELK8_VIEW_CIF
#include "cif_symmetry.hpp"
#endif
#include "coord_file.hpp"
#include "interrupts.hpp"
#include "page.hpp"
#include "page_data.hpp"
#include "report.hpp"
#include "write_whole.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char* version_text = "zelk8-view " ZELK8_VERSION;

struct Parameters {
  std::string run_dir = ".";
  std::string output = "report.html";
  std::string json;
  std::string cif;
};

// The crystal's name: the run folder's own name.
std::string folder_name(const fs::path& folder) {
  std::error_code ec;
  fs::path path = fs::absolute(folder, ec).lexically_normal();
  if (!path.has_filename()) {
    path = path.parent_path();
  }
  return path.filename().string();
}

// A JSON file that zelk8-batch leaves beside the report; nothing when it is
// not there, and a note when it cannot be read.
std::optional<nlohmann::json> side_file(const fs::path& path, std::string& note) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    return std::nullopt;
  }
  std::ifstream in(path);
  nlohmann::json value = nlohmann::json::parse(in, nullptr, false);
  if (!in.good() && !in.eof()) {
    note += (note.empty() ? "" : "; ") + ("cannot read " + path.string());
    return std::nullopt;
  }
  if (value.is_discarded() || !value.is_object()) {
    note += (note.empty() ? "" : "; ") + (path.string() + " is not a JSON object, left out");
    return std::nullopt;
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  Parameters params;
  CLI::App app{
      "Writes the report page of a zelk8 run: one HTML file that opens offline in any\n"
      "browser, with the crystal, the neighbour units drawn as an energy framework in\n"
      "3D, the sortable unit table and the shift map. RUN_DIR holds the run's at8.dat\n"
      "and, when the run wrote one, coord.xyz; zelk8-batch's prep.json and\n"
      "lattice.json are shown when they are beside the report.\n\n"
      "Exit status: 0 written; 2 bad command line, or report missing, unreadable, not\n"
      "a zelk8 report or without units; 3 page or JSON file not writable;\n"
      "130 interrupted (nothing is left half-written).",
      "zelk8-view"};
  app.add_option("RUN_DIR", params.run_dir, "folder of the run (default: the working directory)");
  app.add_option("-o,--output", params.output, "page to write (default: report.html)");
  app.add_option("--json", params.json, "also write the page's data as JSON to FILE")
      ->type_name("FILE");
#ifdef ZELK8_VIEW_CIF
  app.add_option("--cif", params.cif,
                 "the CIF the run's input was made from: its symmetry operations place the\n"
                 "molecules that no unit's operation reaches in the framework across the crystal")
      ->type_name("FILE");
#endif
  app.set_version_flag("--version", version_text);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? zelk8::report::exit_ok : zelk8::report::exit_input;
  }

  zelk8::report::end_on_interrupt("zelk8-view: interrupted; nothing was written\n");
  fs::path folder = params.run_dir;
  fs::path report_path = folder / "at8.dat";
  std::error_code ec;
  if (fs::is_regular_file(folder, ec)) {
    // A report named directly: its folder is the run.
    report_path = folder;
    folder = folder.has_parent_path() ? folder.parent_path() : fs::path(".");
  }

  zelk8::report::Report report;
  try {
    report = zelk8::report::read_report_file(report_path);
  } catch (const zelk8::report::ReportError& error) {
    std::cerr << "zelk8-view: " << error.what() << "\n";
    if (!fs::exists(report_path, ec)) {
      std::cerr << "zelk8-view: name the folder of a zelk8 run, or run zelk8 in '"
                << folder.string() << "' first\n";
    }
    return zelk8::report::exit_input;
  }

  zelk8::view::PageSource source;
  source.crystal = folder_name(folder);
  source.report_name = report_path.string();
  const fs::path coord_path = folder / "coord.xyz";
  if (fs::exists(coord_path, ec)) {
    std::ifstream coord(coord_path);
    if (coord) {
      source.neighbours = zelk8::view::read_neighbours(
          coord, report.coordinates.size(), report.units.size(), report.elements.rows.size() >= 2);
      if (!source.neighbours->note.empty()) {
        std::cerr << "zelk8-view: " << source.neighbours->note << "\n";
      }
    } else {
      source.coordinates_note = "cannot read " + coord_path.string();
      std::cerr << "zelk8-view: " << source.coordinates_note << "; no neighbour molecules\n";
    }
  }

  source.prep = side_file(folder / "prep.json", source.side_files_note);
  source.lattice = side_file(folder / "lattice.json", source.side_files_note);
  if (!source.side_files_note.empty()) {
    std::cerr << "zelk8-view: " << source.side_files_note << "\n";
  }

#ifdef ZELK8_VIEW_CIF
  source.cif_accepted = true;
  if (!params.cif.empty()) {
    try {
      source.symmetry = zelk8::view::cif_operations(params.cif, report);
    } catch (const zelk8::view::CifError& error) {
      std::cerr << "zelk8-view: " << error.what() << "\n";
      return zelk8::report::exit_input;
    }
  }
#endif

  nlohmann::json data;
  try {
    data = zelk8::view::page_data(report, source);
  } catch (const zelk8::view::PageDataError& error) {
    std::cerr << "zelk8-view: " << report_path.string() << ": " << error.what() << "\n";
    return zelk8::report::exit_input;
  }
  if (!report.complete) {
    std::cerr << "zelk8-view: " << report_path.string() << ": " << zelk8::view::stop_message(report)
              << "\n";
  }

  const std::string page = zelk8::view::render_page(data);
  const zelk8::report::HeldInterrupts held;
  try {
    if (!params.json.empty()) {
      zelk8::report::write_whole(params.json, data.dump(1) + "\n");
    }
    zelk8::report::write_whole(params.output, page);
  } catch (const zelk8::report::OutputError& error) {
    std::cerr << "zelk8-view: " << error.what() << "\n";
    return zelk8::report::exit_output;
  }
  if (held.interrupted()) {
    std::cerr << "zelk8-view: interrupted; the files were finished first and are whole\n";
    return zelk8::report::exit_interrupted;
  }
  return zelk8::report::exit_ok;
}
