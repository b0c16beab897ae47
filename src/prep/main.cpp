// zelk8-prep: writes a zelk8.dat input file from a crystal structure in CIF.
#include <iostream>

#include "prep.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return zelk8::prep::run(args, std::cout, std::cerr);
}
