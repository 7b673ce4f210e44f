// The formatting routines against snprintf, the reference for every byte the program writes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <random>

#include "Format.hpp"

void expect_like_printf(double v, int p) {  // %.*g for p = 0 too, which printf reads as 1
  char a[max_number_chars], b[max_number_chars];
  int n = std::snprintf(a, sizeof a, "%.*g", p, v);
  ASSERT_EQ(std::string(b, append_g(b, v, p)), std::string(a, n)) << std::hexfloat << v << " " << p;
  if (p == 0) return;
  n = std::snprintf(a, sizeof a, "%*.*e", p + 7, p - 1, v);
  ASSERT_EQ(std::string(b, append_e(b, v, p + 7, p - 1)), std::string(a, n)) << std::hexfloat << v;
}

TEST(Format, SpecialValuesTheirNeighboursAndPowersOfTenMatchPrintfAtEveryPrecision) {
  std::ifstream file(TEST_DATA "/format-values.txt");
  std::vector<double> seeds;
  for (std::string line; std::getline(file, line);)
    if (!line.empty() && line[0] != '#') seeds.push_back(std::strtod(line.c_str(), nullptr));
  ASSERT_GT(seeds.size(), 20u);
  for (int k = -323; k <= 308; k++) seeds.insert(seeds.end(), {std::pow(10.0, k), k + 323.5});
  for (double seed : seeds)
    for (double v : {seed, -seed})
      for (double u : {v, std::nextafter(v, -INFINITY), std::nextafter(v, INFINITY)})
        for (int p = 0; p <= 99; p++) ASSERT_NO_FATAL_FAILURE(expect_like_printf(u, p));
}

TEST(Format, RandomBitPatternsOfEveryExponentAndNearTiesMatchPrintfAtRandomPrecisions) {
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 300000; i++) {  // i % 3: any bits; 17 digits, 1e-25..1e35; a near tie
    int p = 1 + int(random() % (i % 3 ? 17 : 99));
    double v = std::bit_cast<double>(i % 3 ? random() >> 12 | 0x3ff0000000000000 : random());
    if (i % 3 == 1) v *= std::pow(10.0, int(random() % 60) - 25);
    std::string tie = std::to_string(1 + random() % 9);  // p digits and a 5: a hair from a tie
    while (i % 3 == 2 && int(tie.size()) < p) tie += char('0' + random() % 10);
    if (i % 3 == 2)
      v = std::strtod((tie + "5e" + std::to_string(int(random() % 80) - 40)).c_str(), 0);
    ASSERT_NO_FATAL_FAILURE(expect_like_printf(v, p));
  }
}
