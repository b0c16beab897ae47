// The layout of the report "at8.dat": every format its lines are written
// with, in the order of its sections. The program writes with these, the
// report reader (src/report) takes its columns from the same formats compiled
// (records::placements), and the tests print reports with them; a change here
// changes all three together.
#pragma once

#include <string_view>

namespace records::report_layout {

// The cell: a b c alpha beta gamma.
inline constexpr std::string_view cell = "(6F10.4)";
// The atom list, one line per atom: element index, fractional x y z, label,
// symbol (the two counts at the end are never written). The input's atom
// record has the same layout.
inline constexpr std::string_view atom = "(I4,X,3F10.5,4X,A4,X,A4,2I5)";
// The element table: its heading (with a value), a row per element and the
// Sum line.
inline constexpr std::string_view element_heading =
    "(/,2X,'Atom',5X,'  NEL NOBL     Emin      R0',F10.4)";
inline constexpr std::string_view element_row = "(2X,A4,3I5,2F10.5)";
inline constexpr std::string_view element_sum = "(2X,'Sum ',8I5)";
// The transfer matrix: its heading, then T11 T12 T13 / T22 T23 / T33.
inline constexpr std::string_view transfer_matrix =
    "(//,' TRANSFER MATRIX',/,3X,3F10.5,/,13X,2F10.5,/,23X,F10.5)";
inline constexpr std::string_view centre_of_gravity = "(/,' CENTER OF GRAVITY= (',3F10.5,'  )')";
inline constexpr std::string_view moments_heading = "(/,' Molecular moments')";
inline constexpr std::string_view moments_row = "(8F10.5)";
// The orientation: its heading with the VL line, then the VS and VV lines
// (length, label, direction).
inline constexpr std::string_view orientation_vl =
    "(/,' Molecular orientation vectors',                          /,F10.5,' A  VL = ',3F10.5)";
inline constexpr std::string_view orientation_vs = "(F10.5,' A  VS = ',3F10.5)";
inline constexpr std::string_view orientation_vv = "(F10.5,' A  VV = ',3F10.5)";
// The run parameters (stacking unit, four charge increments), and the
// Molecular Coordinates' atom lines (element index, VL VS VV, charge, label,
// symbol): one layout.
inline constexpr std::string_view run_parameters = "(I4,1X,4F10.5,4X,2A4)";
inline constexpr std::string_view coordinates_heading =
    R"fmt((/," Molecular Coordinates",/,7X,"VL//",6X,"VS//",6X,"VV//"))fmt";
inline constexpr std::string_view coordinates_atom = run_parameters;
// The extents: the value labelled VV is the extent along VS.
inline constexpr std::string_view extents = "(' VV = ',F10.5,'  VL = ',F10.5)";
// The units: two heading lines, then a block of four lines per unit (number,
// name, d shortest, d center, centre, dihedral angle; three lines of the
// operation, its translation and an energy; an empty line).
inline constexpr std::string_view units_heading =
    "(/,'Intermolecular potentials',16X,'X',9X,'Y',9X,'Z',7X,     'Dihedral Angle',/,16X,'d "
    "shortest  d center (A)',22X,'kJ/mol')";
inline constexpr std::string_view unit_block =
    "(I3,'TH UNIT ',A4,2F10.5,'  (',3F10.5,' )',F10.5,/,5X,       '(',3F10.5,' )',F10.5,'   "
    "EvdW = ',F10.4,/,5X,'(',3F10.5,         ' )',F10.5,'   Est  = ',F10.4,/,5X,'(',3F10.5,' "
    ")',F10.5,         '   Etot = ',F10.4,/)";
// The lattice sum.
inline constexpr std::string_view lattice_sum = "(51X,'Etot = ',F10.5,/)";
// The shift map: its heading with the height, then per table a header line
// (the VL shifts), one row per VS shift (the shift, then the energies), and
// after the EvdW and Etot tables the minimum line (VL, VS, energy).
inline constexpr std::string_view map_heading =
    "(' Map of the stacked molecule shift at Z =',F10.5,/)";
inline constexpr std::string_view map_evdw_header = "(/,' EvdW',5X,100F10.3)";
inline constexpr std::string_view map_estat_header = "(/,' Estat',4X,100F10.3)";
inline constexpr std::string_view map_etot_header = "(/,' Etot',5X,100F10.3)";
inline constexpr std::string_view map_row = "(100F10.3)";
inline constexpr std::string_view map_minimum = "(/,110X,3F10.3)";

}  // namespace records::report_layout
