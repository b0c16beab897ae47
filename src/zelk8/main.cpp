// zelk8: molecular packing in an organic crystal. Reads "zelk8.dat" from the
// working directory; writes "at8.dat", "mopac.dat" and, when a stacking unit
// is named, "coord.xyz". Takes no arguments: -h, --help and --version print
// what the program does and stop before any file is opened; any other
// argument ends the run with status 2 before any file is touched, since a
// file named there would otherwise be ignored and another crystal computed.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "errors.hpp"
#include "stages.hpp"

namespace {

constexpr const char* help_text =
    "zelk8 " ZELK8_VERSION
    ": molecular packing in an organic crystal.\n"
    "\n"
    "Run it in a folder that holds zelk8.dat; it takes no options and asks no questions.\n"
    "\n"
    "  reads   zelk8.dat  the cell, one molecule in fractional coordinates, van der Waals\n"
    "                     parameters per element, the neighbour units, the run parameters\n"
    "                     and, with a stacking unit, the ranges of the shift map\n"
    "  writes  at8.dat    the report: molecular frame, charges, one block per unit with its\n"
    "                     energies, the lattice sum, the shift map\n"
    "          mopac.dat  a MOPAC keyword header\n"
    "          coord.xyz  XYZ coordinates of the molecule and its units (with a stacking unit)\n"
    "\n"
    "Exit status 0 after a complete run, 2 when zelk8.dat is missing or cannot be read\n"
    "(the message names the line and the record) or when any other argument is given,\n"
    "3 when an output cannot be written.\n"
    "The input records and the methods are described in README.md, installed as\n"
    "share/doc/zelk8/README.md.\n"
    "\n"
    "  -h, --help  this text\n"
    "  --version   the version\n";

int print(const char* text) {
  errno = 0;
  std::fputs(text, stdout);
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return zelk8::report::exit_ok;
  std::fprintf(stderr, "zelk8: standard output: cannot write: %s\n",
               std::strerror(errno != 0 ? errno : EIO));
  return zelk8::report::exit_output;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") return print(help_text);
    if (arg == "--version") return print("zelk8 " ZELK8_VERSION "\n");
  }
  if (argc > 1) {
    std::fprintf(stderr,
                 "zelk8: unexpected argument \"%s\": zelk8 takes no file name or option; it reads "
                 "zelk8.dat in the working directory (run it there; zelk8 --help)\n",
                 argv[1]);
    return zelk8::report::exit_input;
  }
  return zelk8::run();
}
