// Small hand-written reports for the map tests.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "records.hpp"
#include "report_layout.hpp"

namespace zelk8::map::testing {

// A whole report of a three-atom molecule up to the map: one unit block
// (whose "EvdW =" must not be taken for a table) and the total line. The
// run-parameter line names `stack_unit`.
inline std::string report_head(int stack_unit) {
  std::string head = R"(    8.0000    6.0000   10.0000   90.0000   90.0000   90.0000
   1    0.10000   0.10000   0.10000    C1   C   
   1    0.20000   0.10000   0.10000    C2   C   
   2    0.10000   0.20000   0.10000    H1   H   

  Atom       NEL NOBL     Emin      R0    0.0000
  C       2    8    8   0.23430   1.96000
  H       1    1    1   0.08368   1.62000
  Sum     3    9    9    2    3    0    3


 TRANSFER MATRIX
      8.00000  -0.00000  -0.00000
                6.00000  -0.00000
                         10.00000

 CENTER OF GRAVITY= (   1.06667   0.80000   1.00000  )

 Molecular moments
   0.42667  -0.16000   0.00000
  -0.16000   0.24000   0.00000
   0.00000   0.00000   0.00000

 Molecular orientation vectors
   0.72012 A  VL =    0.86714  -0.49806   0.00000
   0.38484 A  VS =    0.49806   0.86714  -0.00000
   0.00005 A  VV =   -0.00000  -0.00000   1.00000
   1    0.10000   0.00000   0.00000   0.00000

 Molecular Coordinates
       VL//      VS//      VV//
   1   -0.13163  -0.30624   0.00000  -0.10000    C1  C   
   1    0.56209   0.09220   0.00000  -0.10000    C2  C   
   2   -0.43046   0.21404  -0.00000   0.10000    H1  H   
 VV =    0.52029  VL =    0.99255

Intermolecular potentials                X         Y         Z       Dihedral Angle
                d shortest  d center (A)                      kJ/mol
  1TH UNIT T01   10.00000  10.00000  (  -0.00000  -0.00000  10.00000 )   0.00000
     (   1.00000   0.00000   0.00000 )   0.00000   EvdW =    -0.0104
     (   0.00000   1.00000   0.00000 )   0.00000   Est  =     1.3899
     (   0.00000   0.00000   1.00000 )   1.00000   Etot =     1.3795

                                                   Etot =    1.37947

)";
  const std::string echo = "\n   1    0.10000   0.00000   0.00000   0.00000\n";
  std::string number = std::to_string(stack_unit);
  number.insert(0, 4 - number.size(), ' ');
  return head.replace(head.find(echo) + 1, 4, number);
}

inline const std::string report_before_map = report_head(1);

inline std::string minimum_line(const std::string& fields) {
  return std::string(110, ' ') + fields + "\n";
}

// Three VL shifts by two VS shifts.
inline const std::string map_3x2 = report_before_map +
                                   R"( Map of the stacked molecule shift at Z =   3.50000


 EvdW          0.000     0.500     1.000
    -1.000   -12.345    -3.210    25.000
    -0.500    -8.000   -15.500     1.500

)" + minimum_line("     0.500    -0.500   -15.500") +
                                   R"(
 Estat         0.000     0.500     1.000
    -1.000     1.200    -0.400     0.000
    -0.500    -2.100     0.300    -0.250

 Etot          0.000     0.500     1.000
    -1.000   -11.145    -3.610    25.000
    -0.500   -10.100   -15.200     1.250

)" + minimum_line("     0.500    -0.500   -15.200");

// One field of a map row as the program prints it.
inline std::string f10_3(double v) {
  static const records::Format row(records::report_layout::map_row);
  const records::Edit& field = row.edits().front();
  std::string text;
  records::put_real(text, static_cast<float>(v), field.w, field.d);
  return text;
}

// 100 VL shifts (-5.000 to 4.900) by three VS shifts (-1.000 to 0.000); each row
// wraps its hundredth energy onto a line of its own. The energy of row r,
// column c is offset + 100 r + c (offsets 0, 0.5, 0.25 for EvdW, Estat, Etot),
// except row 1, column 99, which is too wide for its field.
inline std::string hundred_column_map() {
  std::string labels;
  for (int c = 0; c < 100; ++c) {
    labels += f10_3(-5.0 + 0.1 * c);
  }
  std::string report =
      report_before_map + " Map of the stacked molecule shift at Z =   3.40000\n\n";
  for (const auto& [head, offset] :
       {std::pair{" EvdW     ", 0.0}, {" Estat    ", 0.5}, {" Etot     ", 0.25}}) {
    report += "\n" + std::string(head) + labels + "\n";
    for (int r = 0; r < 3; ++r) {
      report += f10_3(-1.0 + 0.5 * r);
      for (int c = 0; c < 99; ++c) {
        report += f10_3(offset + r * 100 + c);
      }
      report += "\n" + (r == 1 ? std::string(10, '*') : f10_3(offset + r * 100 + 99)) + "\n";
    }
    if (offset != 0.5) {
      report += "\n" + minimum_line("    -5.000    -1.000     0.000");
    }
  }
  return report;
}

}  // namespace zelk8::map::testing
