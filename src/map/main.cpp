// zelk8-map: draws the stacking shift map of a zelk8 report as an SVG picture.
//
// Exit status: 0 picture written; 1 bad command line or the picture could not
// be written; 2 the report is missing, unreadable, has no map or a map that
// does not follow the report layout.

#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "map_svg.hpp"

namespace {

constexpr std::string_view usage_text =
    "Usage: zelk8-map [REPORT] [-o FILE] [--max KJ]\n"
    "\n"
    "Draws the stacking shift map of a zelk8 report (default: at8.dat) as one SVG\n"
    "picture (default: map.svg): the EvdW, Estat and Etot tables side by side as\n"
    "heat maps over the VL shift (across) and the VS shift (up), in Angstrom, with\n"
    "the minima of the EvdW and Etot tables marked.\n"
    "\n"
    "Colours diverge around 0 kJ/mol: attractive energies in blue, darkest at the\n"
    "panel's deepest well; repulsive energies in red, full red at the clip value\n"
    "and above. Fields printed as asterisks, NaN or Infinity are drawn grey and\n"
    "counted under each panel.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  picture to write (default: map.svg)\n"
    "  --max KJ           clip the repulsive side at KJ kJ/mol in all three panels\n"
    "                     (default, per panel: the depth of its deepest well or\n"
    "                     the median of its repulsive energies, whichever is\n"
    "                     larger; its largest energy when it has no well)\n"
    "  -h, --help         show this text\n"
    "\n"
    "Exit status: 0 written; 1 bad arguments or output not writable;\n"
    "2 report missing, unreadable or without a map (stack_unit 0 or above 40).\n";

struct Arguments {
  std::string report = "at8.dat";
  std::string output = "map.svg";
  std::optional<float> max;
  bool help = false;
};

int usage_error(const std::string& message) {
  std::cerr << "zelk8-map: " << message << "\n"
            << "Try 'zelk8-map --help'.\n";
  return 1;
}

std::optional<float> positive_number(std::string_view text) {
  float value = 0.0f;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || !std::isfinite(value) || value <= 0.0f) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  bool report_given = false;
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    // The value of an option is the next argument.
    auto value = [&]() -> std::optional<std::string> {
      if (k + 1 >= argc) {
        return std::nullopt;
      }
      return std::string(argv[++k]);
    };
    if (arg == "-h" || arg == "--help") {
      args.help = true;
    } else if (arg == "-o" || arg == "--output") {
      const auto file = value();
      if (!file) {
        return usage_error(std::string(arg) + " needs a file name");
      }
      args.output = *file;
    } else if (arg == "--max") {
      const auto text = value();
      if (!text) {
        return usage_error("--max needs a value in kJ/mol");
      }
      args.max = positive_number(*text);
      if (!args.max) {
        return usage_error("--max wants a positive number of kJ/mol, not '" + *text + "'");
      }
    } else if (arg.size() > 1 && arg.front() == '-') {
      return usage_error("unknown option '" + std::string(arg) + "'");
    } else if (report_given) {
      return usage_error("more than one report named ('" + args.report + "', '" + std::string(arg) +
                         "')");
    } else {
      args.report = arg;
      report_given = true;
    }
  }
  if (args.help) {
    std::cout << usage_text;
    return 0;
  }

  zelk8::map::StackMap map;
  try {
    map = zelk8::map::stack_map_of(zelk8::report::read_report_file(args.report));
  } catch (const zelk8::report::ReportError& error) {
    std::cerr << "zelk8-map: " << error.what() << "\n";
    return 2;
  } catch (const zelk8::map::NoMap& error) {
    std::cerr << "zelk8-map: " << args.report << ": " << error.what() << "\n";
    return 2;
  }

  const std::string svg = zelk8::map::render_svg(map, {args.max, args.report});
  std::ofstream out(args.output, std::ios::binary);
  out << svg;
  out.close();
  if (!out) {
    std::cerr << "zelk8-map: cannot write the picture '" << args.output << "'\n";
    return 1;
  }
  return 0;
}
