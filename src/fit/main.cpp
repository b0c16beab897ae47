// zelk8-fit: fits a parameter model of zelk8-prep to reference lattice energies.
#include <iostream>

#include "tool.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return zelk8::fit::run_tool(args, std::cout, std::cerr);
}
