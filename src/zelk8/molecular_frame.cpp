// Centre of gravity, moment tensor and orientation axes of the central
// molecule; its coordinates in that frame.
#include <cmath>

#include "eigrs.hpp"
#include "stages.hpp"

namespace zelk8 {

namespace {

using Vec3 = std::array<float, 3>;

Vec3 cross(const Vec3& u, const Vec3& w) {
  return {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
}

// True when the first component is not within [-1, 1], NaN included.
bool axis_failed(const Vec3& v) { return !(v[0] >= -1.0f && v[0] <= 1.0f); }

}  // namespace

std::array<float, 3> plain_mean(const float* x, const float* y, const float* z, int count) {
  float sx = 0.0f, sy = 0.0f, sz = 0.0f;
  for (int k = 0; k < count; ++k) {
    sx += x[k];
    sy += y[k];
    sz += z[k];
  }
  const float n = static_cast<float>(count);
  return {sx / n, sy / n, sz / n};
}

void second_moments(const float* x, const float* y, const float* z, int count,
                    const std::array<float, 3>& centre, std::array<float, 9>& m) {
  m.fill(0.0f);
  for (int k = 0; k < count; ++k) {
    const float dx = x[k] - centre[0];
    const float dy = y[k] - centre[1];
    const float dz = z[k] - centre[2];
    m[0] += dx * dx;
    m[3] += dx * dy;
    m[6] += dx * dz;
    m[4] += dy * dy;
    m[7] += dy * dz;
    m[8] += dz * dz;
  }
  // the lower triangle copies the upper
  m[1] = m[3];
  m[2] = m[6];
  m[5] = m[7];
}

void build_molecular_frame(RunState& s, std::string& report) {
  for (int i = 0; i < s.atom_count; ++i) {
    const Cartesian c = to_cartesian(s, s.frac_x[i], s.frac_y[i], s.frac_z[i]);
    s.cart_x[i] = c.x;
    s.cart_y[i] = c.y;
    s.cart_z[i] = c.z;
  }

  // Plain mean of the leading atoms; a centre within 0.1 A^2 of the origin
  // (or not a number) leaves the coordinates where they are.
  auto [cx, cy, cz] =
      plain_mean(s.cart_x.data(), s.cart_y.data(), s.cart_z.data(), s.molecule_atom_count);
  const float r2 = (cx * cx + cy * cy) + cz * cz;
  if (!(r2 > 0.1f)) cx = cy = cz = 0.0f;
  s.centre_of_gravity = {cx, cy, cz};
  static const records::Format centre_line(records::report_layout::centre_of_gravity);
  put(report, centre_line, cx, cy, cz);

  for (int i = 0; i < s.element_total; ++i) {
    s.cart_x[i] = s.cart_x[i] - cx;
    s.cart_y[i] = s.cart_y[i] - cy;
    s.cart_z[i] = s.cart_z[i] - cz;
  }

  // Sum of outer products of the centred positions (not divided).
  auto& m = s.moment_tensor;
  second_moments(s.cart_x.data(), s.cart_y.data(), s.cart_z.data(), s.molecule_atom_count,
                 {0.0f, 0.0f, 0.0f}, m);
  static const records::Format moments_heading(records::report_layout::moments_heading);
  static const records::Format moments_line(records::report_layout::moments_row);
  put(report, moments_heading);
  for (int k = 0; k < 3; ++k) put(report, moments_line, m[3 * k], m[3 * k + 1], m[3 * k + 2]);

  // Principal axes: largest spread VL, then VS, smallest VV.
  std::array<float, 9> V{};
  float EPS = 1e-8f;
  EIGRS(m.data(), 3, 3, 3, 3, EPS, s.eigen_work.data(), s.eigen_iwork.data(), s.axis_length.data(),
        V.data());
  for (float& a : s.axis_length) {
    if (a < 0.0f) a = 0.0f;
    a = std::sqrt(a);
  }
  s.VL = {V[0], V[1], V[2]};
  s.VS = {V[3], V[4], V[5]};
  s.VV = {V[6], V[7], V[8]};

  // An axis the solver could not give is rebuilt from the other two.
  static const records::Format vl_line(records::report_layout::orientation_vl);
  static const records::Format vs_line(records::report_layout::orientation_vs);
  static const records::Format vv_line(records::report_layout::orientation_vv);
  if (axis_failed(s.VL)) s.VL = cross(s.VV, s.VS);
  put(report, vl_line, s.axis_length[0], s.VL[0], s.VL[1], s.VL[2]);
  if (axis_failed(s.VS)) s.VS = cross(s.VL, s.VV);
  put(report, vs_line, s.axis_length[1], s.VS[0], s.VS[1], s.VS[2]);
  if (axis_failed(s.VV)) s.VV = cross(s.VL, s.VS);
  put(report, vv_line, s.axis_length[2], s.VV[0], s.VV[1], s.VV[2]);
}

void build_frame_coordinates(RunState& s) {
  const auto& L = s.VL;
  const auto& S = s.VS;
  const auto& W = s.VV;
  for (int i = 0; i < s.atom_count; ++i) {
    const float x = s.cart_x[i], y = s.cart_y[i], z = s.cart_z[i];
    s.frame_l[i] = (L[0] * x + L[1] * y) + L[2] * z;
    s.frame_s[i] = (S[0] * x + S[1] * y) + S[2] * z;
    s.frame_v[i] = (W[0] * x + W[1] * y) + W[2] * z;
  }
}

}  // namespace zelk8
