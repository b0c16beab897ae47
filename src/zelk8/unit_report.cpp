// Every neighbour unit placed in the central frame: distances, dihedral
// angle, energies; then the lattice sum.
#include <algorithm>
#include <cmath>

#include "eigrs.hpp"
#include "pair_energy.hpp"
#include "stages.hpp"

namespace zelk8 {

namespace {

// Builds unit u's atoms in the central frame; returns nothing, fills the
// run state's unit arrays.
void place_unit(RunState& s, const std::array<float, unit_values>& op, bool from_second_set,
                bool apply_operation) {
  const auto& [a11, a12, a13, a21, a22, a23, a31, a32, a33, t1, t2, t3, x13, x14, x15] = op;
  const auto& c = s.centre_of_gravity;
  for (int k = 0; k < s.atom_count; ++k) {
    float x, y, z;
    if (from_second_set) {
      const int slot = s.atom_count + k;
      x = s.frac_x_full[slot];
      y = s.frac_y_full[slot];
      z = s.frac_z_full[slot];
      s.unit_element[k] = s.atom_element_full[slot];
    } else {
      x = s.frac_x[k];
      y = s.frac_y[k];
      z = s.frac_z[k];
      s.unit_element[k] = s.atom_element[k];
    }
    if (apply_operation) {
      const float u = ((a11 * x + a12 * y) + a13 * z) + t1;
      const float v = ((a21 * x + a22 * y) + a23 * z) + t2;
      const float w = ((a31 * x + a32 * y) + a33 * z) + t3;
      x = u;
      y = v;
      z = w;
    }
    const Cartesian p = to_cartesian(s, x, y, z);
    const float X = p.x - c[0], Y = p.y - c[1], Z = p.z - c[2];
    s.unit_frame_l[k] = (s.VL[0] * X + s.VL[1] * Y) + s.VL[2] * Z;
    s.unit_frame_s[k] = (s.VS[0] * X + s.VS[1] * Y) + s.VS[2] * Z;
    s.unit_frame_v[k] = (s.VV[0] * X + s.VV[1] * Y) + s.VV[2] * Z;
  }
}

}  // namespace

float dihedral_angle(float n_v) {
  // Rounding may put the component just outside [-1, 1].
  n_v = std::clamp(n_v, -1.0f, 1.0f);
  const float angle = std::acos(n_v) / deg_to_rad;
  return angle > 90.0f ? 180.0f - angle : angle;
}

void write_unit_report(RunState& s, std::string& report, std::string* coord,
                       std::vector<PlacedUnit>* placed) {
  static const records::Format heading(records::report_layout::units_heading);
  static const records::Format block(records::report_layout::unit_block);
  static const records::Format total(records::report_layout::lattice_sum);
  static const records::Format atom_line("(A4,3F12.7)");

  s.lattice_etot = 0.0f;
  s.stack_centre_v = 0.0f;
  put(report, heading);

  const PairTable table = make_pair_table(s);
  const MoleculeView central{s.frame_l.data(),      s.frame_s.data(),     s.frame_v.data(),
                             s.atom_element.data(), s.atom_charge.data(), s.atom_count};
  bool second_set_active = false;
  for (int u = 0; u < s.unit_count; ++u) {
    const auto& op = s.unit_ops[u];
    if (!second_set_active && op[0] == records::second_set_marker) {
      // The marker unit: the second atom set as read; later units move it.
      place_unit(s, op, true, false);
      second_set_active = true;
    } else {
      place_unit(s, op, second_set_active, true);
    }

    // Plain mean of the leading atoms.
    const auto [l, sc, v] = plain_mean(s.unit_frame_l.data(), s.unit_frame_s.data(),
                                       s.unit_frame_v.data(), s.molecule_atom_count);
    const float centre_distance = std::sqrt((l * l + sc * sc) + v * v);

    // Second moments about the unit centre; the normal of the mean plane is
    // the eigenvector of the smallest eigenvalue.
    auto& m = s.moment_tensor;
    second_moments(s.unit_frame_l.data(), s.unit_frame_s.data(), s.unit_frame_v.data(),
                   s.molecule_atom_count, {l, sc, v}, m);
    std::array<float, 9> V{};
    float EPS = 1e-8f;
    EIGRS(m.data(), 3, 3, 3, 3, EPS, s.eigen_work.data(), s.eigen_iwork.data(),
          s.axis_length.data(), V.data());
    const float angle = dihedral_angle(V[8]);

    if (coord != nullptr) {
      for (int k = 0; k < s.atom_count; ++k) {
        put(*coord, atom_line, s.atom_symbol[k], s.unit_frame_l[k], s.unit_frame_s[k],
            s.unit_frame_v[k]);
      }
    }

    const MoleculeView unit{s.unit_frame_l.data(), s.unit_frame_s.data(), s.unit_frame_v.data(),
                            s.unit_element.data(), s.atom_charge.data(),  s.atom_count};
    const MoleculeEnergy e = molecule_pair_energy(table, unit, central);
    s.lattice_etot = s.lattice_etot + e.etot;

    put(report, block, u + 1, s.unit_names[u], e.shortest, centre_distance, l, sc, v, angle, op[0],
        op[1], op[2], op[9], e.evdw, op[3], op[4], op[5], op[10], e.estat, op[6], op[7], op[8],
        op[11], e.etot);
    if (u + 1 == s.stack_unit) s.stack_centre_v = v;
    if (placed != nullptr) {
      PlacedUnit& p = placed->emplace_back();
      p.number = u + 1;
      p.name = s.unit_names[u];
      p.second_set = second_set_active;
      p.shortest = e.shortest;
      p.centre_distance = centre_distance;
      p.centre = {l, sc, v};
      p.dihedral = angle;
      std::copy_n(op.begin(), 12, p.operation.begin());
      p.evdw = e.evdw;
      p.estat = e.estat;
      p.etot = e.etot;
      p.element.assign(s.unit_element.begin(), s.unit_element.begin() + s.atom_count);
      p.l.assign(s.unit_frame_l.begin(), s.unit_frame_l.begin() + s.atom_count);
      p.s.assign(s.unit_frame_s.begin(), s.unit_frame_s.begin() + s.atom_count);
      p.v.assign(s.unit_frame_v.begin(), s.unit_frame_v.begin() + s.atom_count);
    }
  }
  put(report, total, s.lattice_etot);
}

}  // namespace zelk8
