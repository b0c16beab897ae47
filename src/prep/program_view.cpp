#include "program_view.hpp"

#include <memory>

#include "crystal.hpp"
#include "stages.hpp"

namespace zelk8::prep {

ProgramView view_in_program(const std::string& input) {
  auto s = std::make_unique<zelk8::RunState>();
  records::InputFile in("zelk8.dat", input);
  std::string report;
  try {
    zelk8::read_molecule(*s, in);
    zelk8::read_cell(*s, in, report);
    zelk8::build_atom_table(*s, report);
    zelk8::build_transfer_matrix(*s, report);
    zelk8::count_heavy_atoms(*s);
    zelk8::build_molecular_frame(*s, report);
    zelk8::build_frame_coordinates(*s);
    zelk8::read_unit_list(*s, in, report);
    zelk8::assign_partial_charges(*s);
  } catch (const records::ReadError& e) {
    throw PrepError(std::string("the written file would not run: ") + e.what());
  }

  ProgramView view;
  for (int k = 0; k < s->atom_count; ++k) {
    view.charges.push_back(s->atom_charge[k]);
    view.net_charge += s->atom_charge[k];
  }
  // Each unit's atoms placed in the central frame as the unit report places
  // them: the operation on the fractional coordinates, the cell's Cartesian
  // position, its offset from the centre of gravity along VL, VS and VV. The
  // marker unit (a11 = 5) places the second atom set as read, and the units
  // after it move that set.
  const auto& c = s->centre_of_gravity;
  bool second_set = false;
  zelk8::AtomArray<float> l{}, sv{}, v{};
  for (int u = 0; u < s->unit_count; ++u) {
    const auto& op = s->unit_ops[u];
    const bool marker = !second_set && op[0] == 5.0f;
    if (marker) second_set = true;
    const auto& [a11, a12, a13, a21, a22, a23, a31, a32, a33, t1, t2, t3, x13, x14, x15] = op;
    for (int k = 0; k < s->atom_count; ++k) {
      const int slot = second_set ? s->atom_count + k : k;
      float x = second_set ? s->frac_x_full[slot] : s->frac_x[k];
      float y = second_set ? s->frac_y_full[slot] : s->frac_y[k];
      float z = second_set ? s->frac_z_full[slot] : s->frac_z[k];
      if (!marker) {
        const float p = ((a11 * x + a12 * y) + a13 * z) + t1;
        const float q = ((a21 * x + a22 * y) + a23 * z) + t2;
        const float r = ((a31 * x + a32 * y) + a33 * z) + t3;
        x = p;
        y = q;
        z = r;
      }
      const zelk8::Cartesian p = zelk8::to_cartesian(*s, x, y, z);
      const float X = p.x - c[0], Y = p.y - c[1], Z = p.z - c[2];
      l[k] = (s->VL[0] * X + s->VL[1] * Y) + s->VL[2] * Z;
      sv[k] = (s->VS[0] * X + s->VS[1] * Y) + s->VS[2] * Z;
      v[k] = (s->VV[0] * X + s->VV[1] * Y) + s->VV[2] * Z;
    }
    view.unit_centres.push_back(
        zelk8::plain_mean(l.data(), sv.data(), v.data(), s->molecule_atom_count));
  }
  return view;
}

}  // namespace zelk8::prep
