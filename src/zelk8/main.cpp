// zelk8: molecular packing in an organic crystal. Reads "zelk8.dat" from the
// working directory; writes "at8.dat", "mopac.dat" and, when a stacking unit
// is named, "coord.xyz". Takes no arguments.
#include "stages.hpp"

int main() { return zelk8::run(); }
