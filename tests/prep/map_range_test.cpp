#include "map_range.hpp"

#include <gtest/gtest.h>

#include "crystal.hpp"
#include "options.hpp"

using zelk8::prep::default_map;
using zelk8::prep::fitting_step;
using zelk8::prep::scan_points;

TEST(MapRange, PointsCountedAsTheProgramScans) {
  for (const auto& [start, end, step, points] : {
           std::tuple{-3.0, 3.0, 0.25, 25},
           {-2.0, 2.0, 0.25, 17},
           {0.0, 0.0, 1.0, 1},
           {1.0, -1.0, 0.5, 1},     // the first point is already beyond the end
           {-3.0, 3.0, 0.01, 602},  // 0.01 summed in single precision falls short of 3
           {0.0, 1.0, 0.3, 5},      // 0, .3, .6, .9, 1.2: the last point passes the end
           {0.0, 24.75, 0.25, 100},
           {0.0, 25.0, 0.25, 101},
       })
    EXPECT_EQ(scan_points(start, end, step), points) << start << ":" << end << ":" << step;
}

TEST(MapRange, FittingStepIsTheSmallestThatFits) {
  for (const auto& [start, end] : {std::pair{-3.0, 3.0}, {0.0, 9.9}, {-10.0, 12.5}, {0.0, 0.05}}) {
    const double step = fitting_step(start, end);
    EXPECT_LE(scan_points(start, end, step), 100) << start << ":" << end;
    EXPECT_GT(scan_points(start, end, step - 0.001), 100) << start << ":" << end;
  }
  EXPECT_EQ(fitting_step(-3.0, 3.0), 0.061);
}

TEST(MapRange, DefaultMapAroundTheOffset) {
  // Rounded to the quarter Angstrom, 3 A either side along VL, 2 A along VS.
  EXPECT_EQ(default_map(0.8205, -5.42107),
            (std::array<double, 7>{-2.25, 3.75, 0.25, -7.5, -3.5, 0.25, 0.0}));
  EXPECT_EQ(default_map(-0.13, 0.12), (std::array<double, 7>{-3.25, 2.75, 0.25, -2, 2, 0.25, 0}));
  // -11.25 does not fit five columns: the centre goes to the half Angstrom.
  EXPECT_EQ(default_map(0.0, -9.3), (std::array<double, 7>{-3, 3, 0.25, -11.5, -7.5, 0.25, 0}));
}

TEST(MapRange, TooManyPointsAreRefusedWithAStepThatFits) {
  try {
    zelk8::prep::parse_command_line({"x.cif", "--map", "-3:3:0.01,-2:2:0.25"});
    FAIL() << "601 points accepted";
  } catch (const zelk8::prep::PrepError& e) {
    EXPECT_STREQ(e.what(),
                 "--map: 602 points along VL (-3 to 3 by 0.01), but the program scans at most 100 "
                 "per axis; a step of 0.061 would fit");
  }
  EXPECT_NO_THROW(zelk8::prep::parse_command_line({"x.cif", "--map", "0:24.75:0.25,-2:2:0.25"}));
  EXPECT_THROW(zelk8::prep::parse_command_line({"x.cif", "--map", "-2:2:0.25,0:25:0.25"}),
               zelk8::prep::PrepError);
}
