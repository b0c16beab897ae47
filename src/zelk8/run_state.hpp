// The run state: one record of fixed capacity that lives for the whole run.
// Every stage reads what the earlier stages left here and adds its results.
//
// Indices in the report and the input are 1-based; the arrays here are
// 0-based, so atom i of the report is slot i - 1.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "records.hpp"

namespace zelk8 {

using records::Text4;

constexpr int atom_slots = 200;  // both atom sets share these slots
constexpr int element_slots = 7;
constexpr int unit_slots = 20;
constexpr int unit_values = 15;  // room per unit; 12 are read and used
constexpr int map_slots = 200;   // declared table size per axis
constexpr int map_points = 100;  // at most this many columns and rows are scanned

// pi / 180 rounded to single precision: the bits are 0x3C8EFA35
// (0.017453292384...). The decimal literal 0.0174533f would round to a float
// four units in the last place higher.
inline constexpr float deg_to_rad = std::bit_cast<float>(std::uint32_t{0x3C8EFA35u});

template <typename T>
using AtomArray = std::array<T, atom_slots>;

struct RunState {
  // Atom list: the first set (the central molecule) and both sets as read.
  int molecule_atom_count = 0;
  int atom_count = 0;
  int element_count = 0;
  bool second_set_read = false;   // the atom list ended with a negative index
  AtomArray<int> atom_element{};  // first set, then the terminator's index
  AtomArray<float> frac_x{}, frac_y{}, frac_z{};
  AtomArray<Text4> atom_label{}, atom_symbol{};
  AtomArray<int> atom_element_full{};
  AtomArray<float> frac_x_full{}, frac_y_full{}, frac_z_full{};
  AtomArray<Text4> atom_label_full{}, atom_symbol_full{};

  // Element table.
  std::array<Text4, element_slots> element_symbol{};
  std::array<float, element_slots> element_emin{};
  std::array<float, element_slots> element_r0{};
  std::array<int, element_slots> element_atom_count{};
  int element_total = 0;
  int heavy_count = 0;
  int heavy_atom_count = 0;

  // Cell and transfer matrix (upper triangle).
  float cell_a = 0, cell_b = 0, cell_c = 0;
  float cell_alpha = 0, cell_beta = 0, cell_gamma = 0;
  float T11 = 0, T12 = 0, T13 = 0, T22 = 0, T23 = 0, T33 = 0;

  // Molecular frame.
  AtomArray<float> cart_x{}, cart_y{}, cart_z{};
  std::array<float, 3> centre_of_gravity{};
  std::array<float, 9> moment_tensor{};  // 3 x 3, column-major
  std::array<float, 3> axis_length{};
  std::array<float, 3> VL{}, VS{}, VV{};
  std::array<float, 3 * 6> eigen_work{};
  std::array<int, 3> eigen_iwork{};
  AtomArray<float> frame_l{}, frame_s{}, frame_v{};

  // Unit list and run parameters.
  std::array<std::array<float, unit_values>, unit_slots> unit_ops{};
  std::array<Text4, unit_slots> unit_names{};
  int unit_count = 0;
  int stack_unit = 0;
  float charge_h = 0, charge_1 = 0, charge_2 = 0, charge_3 = 0;

  // Partial charges, one per atom position of the central molecule.
  AtomArray<float> atom_charge{};

  // Unit-by-unit report: the last unit built stays here.
  AtomArray<int> unit_element{};
  AtomArray<float> unit_frame_l{}, unit_frame_s{}, unit_frame_v{};
  float lattice_etot = 0;
  float stack_centre_v = 0;

  // Map record.
  float map_l_start = 0, map_l_end = 0, map_l_step = 0;
  float map_s_start = 0, map_s_end = 0, map_s_step = 0;
  float map_height = 0;
  float map_unused_8 = 0, map_unused_9 = 0;
};

// Appends the records of one write statement to `out`.
template <typename... Ts>
void put(std::string& out, const records::Format& f, const Ts&... items) {
  if constexpr (sizeof...(Ts) == 0) {
    records::format_to(out, f, {});
  } else {
    const records::Item list[] = {records::to_item(items)...};
    records::format_to(out, f, list);
  }
}

// Raises the read-failure diagnostic for input that the layout cannot hold,
// naming the line just read.
[[noreturn]] void reject(const records::InputFile& in, std::string_view record,
                         std::string_view what);

}  // namespace zelk8
