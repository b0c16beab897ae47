// zelk8-map: draws the stacking shift map of a zelk8 report as an SVG picture.
//
// Exit status: 0 picture written; 2 bad command line, or the report is
// missing, unreadable, has no map or a map that does not follow the report
// layout; 3 the picture could not be written; 130 interrupted.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "interrupts.hpp"
#include "map_svg.hpp"
#include "text.hpp"
#include "write_whole.hpp"

namespace {

constexpr const char* description =
    "Draws the stacking shift map of a zelk8 report as one SVG picture: the EvdW,\n"
    "Estat and Etot tables side by side as heat maps over the VL shift (across)\n"
    "and the VS shift (up), in Angstrom, with the minima of the EvdW and Etot\n"
    "tables marked, and the crystal's own offset (the VL and VS of the stacking\n"
    "unit's centre, from its unit block) marked by a yellow diamond on every\n"
    "panel when it lies inside the grid, noted under each panel when not.";

constexpr const char* footer =
    "Colours diverge around 0 kJ/mol: attractive energies in blue, darkest at the\n"
    "panel's deepest well; repulsive energies in red, full red at the clip value\n"
    "and above. Fields printed as asterisks, NaN or Infinity are drawn grey and\n"
    "counted under each panel. A panel whose energies all lie below 0 (or all\n"
    "above) spans its scale over its data instead, pale at the energy nearest 0,\n"
    "so that a well wholly below 0 shows its shape; each panel says which.\n"
    "\n"
    "Without --max, each panel clips at the depth of its deepest well or the\n"
    "median of its repulsive energies, whichever is larger; a panel without a\n"
    "well clips at its largest energy.\n"
    "\n"
    "Exit status: 0 written; 2 bad arguments, or report missing, unreadable or\n"
    "without a map (stack_unit 0 or above 40); 3 picture not writable;\n"
    "130 interrupted (nothing is left half-written).";

// --max: a positive, finite number of kJ/mol.
std::string positive_energy(const std::string& text) {
  const std::optional<float> value = zelk8::report::number_of<float>(text);
  if (!value || *value <= 0.0f) {
    return "wants a positive number of kJ/mol, not '" + text + "'";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::string report_path = "at8.dat";
  std::string output = "map.svg";
  float max = 0.0f;

  CLI::App app(description, "zelk8-map");
  app.footer(footer);
  app.set_version_flag("--version", "zelk8-map " ZELK8_VERSION);
  app.add_option("REPORT", report_path, "zelk8 report to read")
      ->type_name("FILE")
      ->capture_default_str();
  app.add_option("-o,--output", output, "picture to write")
      ->type_name("FILE")
      ->capture_default_str();
  CLI::Option* max_option =
      app.add_option("--max", max, "clip the repulsive side at KJ kJ/mol in all three panels")
          ->type_name("KJ")
          ->check(CLI::Validator(positive_energy, ""));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) {
      return app.exit(error);  // --help, --version
    }
    std::cerr << "zelk8-map: " << error.what() << "\n"
              << "Try 'zelk8-map --help'.\n";
    return zelk8::report::exit_input;
  }
  const std::optional<float> clip =
      max_option->count() > 0 ? std::optional<float>(max) : std::nullopt;

  zelk8::report::end_on_interrupt("zelk8-map: interrupted; nothing was written\n");
  zelk8::map::StackMap map;
  try {
    map = zelk8::map::stack_map_of(zelk8::report::read_report_file(report_path));
  } catch (const zelk8::report::ReportError& error) {
    std::cerr << "zelk8-map: " << error.what() << "\n";
    return zelk8::report::exit_input;
  } catch (const zelk8::map::NoMap& error) {
    std::cerr << "zelk8-map: " << report_path << ": " << error.what() << "\n";
    return zelk8::report::exit_input;
  }

  const std::string svg = zelk8::map::render_svg(map, {clip, report_path});
  const zelk8::report::HeldInterrupts held;
  try {
    zelk8::report::write_whole(output, svg);
  } catch (const zelk8::report::OutputError& error) {
    std::cerr << "zelk8-map: " << error.what() << "\n";
    return zelk8::report::exit_output;
  }
  if (held.interrupted()) {
    std::cerr << "zelk8-map: interrupted; the picture was finished first and is whole\n";
    return zelk8::report::exit_interrupted;
  }
  return zelk8::report::exit_ok;
}
