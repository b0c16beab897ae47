// zelk8-prep: writes a zelk8.dat input file from a crystal structure in CIF.
#include <iostream>

#include "files.hpp"
#include "prep.hpp"

int main(int argc, char** argv) {
  zelk8::prep::end_on_interrupt();
  std::vector<std::string> args(argv + 1, argv + argc);
  return zelk8::prep::run(args, std::cout, std::cerr);
}
