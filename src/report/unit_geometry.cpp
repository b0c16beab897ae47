#include "unit_geometry.hpp"

#include <cctype>
#include <cmath>

#include "contacts.hpp"

namespace zelk8::report {

namespace {

std::optional<double> value(const Field& field) { return field.value; }

double dot(const Point& a, const Point& b) { return (a[0] * b[0]) + (a[1] * b[1]) + (a[2] * b[2]); }

double distance(const Point& a, const Point& b) {
  const double dx = a[0] - b[0];
  const double dy = a[1] - b[1];
  const double dz = a[2] - b[2];
  return std::sqrt((dx * dx) + (dy * dy) + (dz * dz));
}

// The letters of a symbol in upper case ("Cl" -> "CL", "O1" -> "O").
std::string letters(const std::string& symbol) {
  std::string out;
  for (const char c : symbol) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

std::optional<Point> fractional(const Atom& atom) {
  if (!atom.x.value || !atom.y.value || !atom.z.value) {
    return std::nullopt;
  }
  return Point{*atom.x.value, *atom.y.value, *atom.z.value};
}

// The operation's matrix and translation, when every element has a value.
struct Operation {
  std::array<std::array<double, 3>, 3> a{};
  Point t{};
  Point apply(const Point& x) const {
    Point y{};
    for (std::size_t r = 0; r < 3; ++r) {
      y[r] = (a[r][0] * x[0]) + (a[r][1] * x[1]) + (a[r][2] * x[2]) + t[r];
    }
    return y;
  }
};

std::optional<Operation> operation_of(const Unit& unit) {
  Operation op;
  for (std::size_t k = 0; k < 12; ++k) {
    if (!unit.operation[k].value) {
      return std::nullopt;
    }
    const double v = *unit.operation[k].value;
    if (k < 9) {
      op.a[k / 3][k % 3] = v;
    } else {
      op.t[k - 9] = v;
    }
  }
  return op;
}

}  // namespace

Point MoleculeFrame::place(const Point& f) const {
  Point cartesian{};
  for (std::size_t r = 0; r < 3; ++r) {
    cartesian[r] =
        (transfer[r][0] * f[0]) + (transfer[r][1] * f[1]) + (transfer[r][2] * f[2]) - centre[r];
  }
  return {dot(cartesian, axes[0]), dot(cartesian, axes[1]), dot(cartesian, axes[2])};
}

Point MoleculeFrame::fractional_of(const Point& frame) const {
  Point c{};
  for (std::size_t r = 0; r < 3; ++r) {
    c[r] = centre[r] + (frame[0] * axes[0][r]) + (frame[1] * axes[1][r]) + (frame[2] * axes[2][r]);
  }
  // The transfer matrix is upper triangular: back substitution.
  Point f{};
  f[2] = c[2] / transfer[2][2];
  f[1] = (c[1] - (transfer[1][2] * f[2])) / transfer[1][1];
  f[0] = (c[0] - (transfer[0][1] * f[1]) - (transfer[0][2] * f[2])) / transfer[0][0];
  return f;
}

std::optional<MoleculeFrame> molecule_frame(const Report& report) {
  const TransferMatrix& t = report.transfer_matrix;
  for (const Field* f : {&t.t11, &t.t12, &t.t13, &t.t22, &t.t23, &t.t33}) {
    if (!f->value) {
      return std::nullopt;
    }
  }
  MoleculeFrame frame;
  frame.transfer = {{{*t.t11.value, *t.t12.value, *t.t13.value},
                     {0.0, *t.t22.value, *t.t23.value},
                     {0.0, 0.0, *t.t33.value}}};
  if (frame.transfer[0][0] == 0.0 || frame.transfer[1][1] == 0.0 || frame.transfer[2][2] == 0.0) {
    return std::nullopt;
  }
  const Axis* axes[] = {&report.orientation.vl, &report.orientation.vs, &report.orientation.vv};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::optional<double> c = value(report.centre_of_gravity[k]);
    if (!c) {
      return std::nullopt;
    }
    frame.centre[k] = *c;
    for (std::size_t j = 0; j < 3; ++j) {
      const std::optional<double> d = value(axes[k]->direction[j]);
      if (!d) {
        return std::nullopt;
      }
      frame.axes[k][j] = *d;
    }
  }
  return frame;
}

std::optional<std::vector<PlacedAtom>> unit_atoms(const Report& report, const MoleculeFrame& frame,
                                                  const Unit& unit) {
  const std::optional<Operation> op = operation_of(unit);
  if (!op) {
    return std::nullopt;
  }
  std::vector<PlacedAtom> atoms;
  atoms.reserve(report.atoms.size());
  for (std::size_t k = 0; k < report.atoms.size(); ++k) {
    const std::optional<Point> f = fractional(report.atoms[k]);
    if (!f) {
      return std::nullopt;
    }
    atoms.push_back({k, frame.place(op->apply(*f))});
  }
  return atoms;
}

std::optional<Point> unit_centre(const MoleculeFrame& frame, const Unit& unit) {
  const std::optional<Operation> op = operation_of(unit);
  if (!op) {
    return std::nullopt;
  }
  return frame.place(op->apply(frame.fractional_of({0.0, 0.0, 0.0})));
}

bool is_hydrogen(const std::string& symbol) {
  const std::string l = letters(symbol);
  return l == "H" || l == "D";
}

bool is_hbond_acceptor(const std::string& symbol) {
  const std::string l = letters(symbol);
  return l == "O" || l == "N" || l == "S";
}

std::vector<UnitHbond> hbond_contacts(const Report& report) {
  std::vector<UnitHbond> out(report.units.size());
  const std::optional<MoleculeFrame> frame = molecule_frame(report);
  const Unit identity_unit = [] {
    Unit u;
    for (std::size_t k = 0; k < 12; ++k) {
      u.operation[k] = parse_field(k == 0 || k == 4 || k == 8 ? "1" : "0");
    }
    return u;
  }();
  std::optional<std::vector<PlacedAtom>> central;
  if (frame) {
    central = unit_atoms(report, *frame, identity_unit);
  }
  bool second_set = false;
  for (std::size_t u = 0; u < report.units.size(); ++u) {
    const Unit& unit = report.units[u];
    UnitHbond& result = out[u];
    second_set = second_set || unit.marks_second_set();
    if (second_set) {
      result.note = "a unit of the second atom set, whose atoms the report does not list";
      continue;
    }
    if (!central) {
      result.note = "the report prints a coordinate, an axis or the transfer matrix off-scale";
      continue;
    }
    const std::optional<std::vector<PlacedAtom>> atoms = unit_atoms(report, *frame, unit);
    const std::optional<Point> centre = unit_centre(*frame, unit);
    if (!atoms || !centre) {
      result.note = "the unit's operation is printed off-scale";
      continue;
    }
    const Vector3& printed = unit.centre;
    if (printed[0].value && printed[1].value && printed[2].value &&
        distance(*centre, {*printed[0].value, *printed[1].value, *printed[2].value}) > 0.01) {
      result.note = "its operation does not put its centre where its block prints it";
      continue;
    }
    result.checked = true;
    for (const PlacedAtom& a : *central) {
      const std::string& sa = report.atoms[a.index].symbol;
      const bool a_h = is_hydrogen(sa);
      const bool a_acceptor = is_hbond_acceptor(sa);
      if (!a_h && !a_acceptor) {
        continue;
      }
      for (const PlacedAtom& b : *atoms) {
        const std::string& sb = report.atoms[b.index].symbol;
        if (!((a_h && is_hbond_acceptor(sb)) || (a_acceptor && is_hydrogen(sb)))) {
          continue;
        }
        const double d = distance(a.frame, b.frame);
        if (d < hbond_contact_max && (!result.contact || d < result.contact->distance)) {
          result.contact = UnitHbond::Contact{a.index, b.index, d};
        }
      }
    }
  }
  return out;
}

}  // namespace zelk8::report
