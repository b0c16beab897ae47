// zelk8-prep: a CIF in, a zelk8.dat input file out.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "options.hpp"

namespace zelk8::prep {

// The whole tool: returns the exit status (0, or 2 after an error, with
// nothing written to `out`). The input file goes to `out` unless -o names a
// file; the summary, warnings and errors go to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The same on a CIF given as text; the CIF argument of `args` names it in
// messages and the JSON summary.
int run_on_text(const std::string& cif_text, const std::vector<std::string>& args,
                std::ostream& out, std::ostream& err);

}  // namespace zelk8::prep
