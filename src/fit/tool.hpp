// The command line of zelk8-fit.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zelk8::fit {

// Runs zelk8-fit with `args` (without the program name); returns the exit
// status: 0 done, 2 bad command line or data, 3 an output not written.
int run_tool(std::vector<std::string> args, std::ostream& out, std::ostream& err);

}  // namespace zelk8::fit
