// Cell line, transfer matrix and the MOPAC header.
#include <cmath>

#include "stages.hpp"

namespace zelk8 {

void read_cell(RunState& s, records::InputFile& in, std::string& report) {
  static const records::Format cell_record("(7F10.0)");
  in.read("cell record", cell_record, &s.cell_a, &s.cell_b, &s.cell_c, &s.cell_alpha, &s.cell_beta,
          &s.cell_gamma);
  static const records::Format cell_line(records::report_layout::cell);
  put(report, cell_line, s.cell_a, s.cell_b, s.cell_c, s.cell_alpha, s.cell_beta, s.cell_gamma);
}

void build_transfer_matrix(RunState& s, std::string& report) {
  const float cos_alpha = std::cos(s.cell_alpha * deg_to_rad);
  const float cos_beta = std::cos(s.cell_beta * deg_to_rad);
  const float cos_gamma = std::cos(s.cell_gamma * deg_to_rad);
  const float sin_alpha = std::sqrt(1.0f - cos_alpha * cos_alpha);
  const float sin_beta = std::sqrt(1.0f - cos_beta * cos_beta);
  const float sin_gamma = std::sqrt(1.0f - cos_gamma * cos_gamma);
  // reciprocal-cell cosines of alpha* and beta*
  const float cos_alpha_star = (cos_beta * cos_gamma - cos_alpha) / (sin_beta * sin_gamma);
  const float cos_beta_star = (cos_gamma * cos_alpha - cos_beta) / (sin_gamma * sin_alpha);
  const float sin_beta_star = std::sqrt(1.0f - cos_beta_star * cos_beta_star);

  // Columns are the Cartesian vectors of the cell axes: a along X, b in XY.
  s.T11 = s.cell_a;
  s.T12 = s.cell_b * cos_gamma;
  s.T13 = s.cell_c * cos_beta;
  s.T22 = s.cell_b * sin_gamma;
  s.T23 = -((s.cell_c * sin_beta) * cos_alpha_star);
  s.T33 = (s.cell_c * sin_alpha) * sin_beta_star;

  static const records::Format section(records::report_layout::transfer_matrix);
  put(report, section, s.T11, s.T12, s.T13, s.T22, s.T23, s.T33);
}

void write_mopac_header(std::string& mopac) {
  static const records::Format header("(' AM1 1SCF VECTORS XYZ',//)");
  put(mopac, header);
}

Cartesian to_cartesian(const RunState& s, float fx, float fy, float fz) {
  return {(s.T11 * fx + s.T12 * fy) + s.T13 * fz, s.T22 * fy + s.T23 * fz, s.T33 * fz};
}

}  // namespace zelk8
