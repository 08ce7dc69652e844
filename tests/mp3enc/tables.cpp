// The encoder's tables against the copied data file, and the derived coefficients.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mp3enc/bitstream.h"
#include "mp3enc/filterbank.h"
#include "mp3enc/tables.h"

namespace {

// Sections of the data file: "[name args]" followed by numbers, optionally under
// "codes:" / "lengths:" labels. Keyed by the bracket text plus the label.
std::map<std::string, std::vector<std::string>> ReadTables() {
    std::map<std::string, std::vector<std::string>> sections;
    std::ifstream in(MP3ENC_TEST_DATA);
    std::string line, section, label;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            label.clear();
            continue;
        }
        if (line.back() == ':') {
            label = line.substr(0, line.size() - 1);
            continue;
        }
        std::istringstream words(line);
        std::string w;
        while (words >> w) sections[section + (label.empty() ? "" : "/" + label)].push_back(w);
    }
    return sections;
}

}  // namespace

TEST(Mp3Tables, AnalysisWindowIsTheDataRoundedToSixPlaces) {
    auto t = ReadTables();
    const auto& window = t["analysis_window 512"];
    ASSERT_EQ(window.size(), 512u);
    for (int i = 0; i < 512; ++i) {
        const double nine = std::stod(window[i]);
        EXPECT_NEAR(mp3enc::kAnalysisWindow[i], std::round(nine * 1e6) / 1e6, 1e-12) << "aw[" << i << "]";
    }
    EXPECT_EQ(mp3enc::kAnalysisWindow[256], 0.035781);
    EXPECT_EQ(mp3enc::kAnalysisWindow[255], -0.035759);
}

TEST(Mp3Tables, HuffmanTablesAreTheDataWithTheirLinbits) {
    auto t = ReadTables();
    mp3enc::HuffTableSet set;
    const int pairTables[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
    for (int number : pairTables) {
        const mp3enc::HuffTable& h = set.tables[number];
        const std::string key = "huffman " + std::to_string(number) + " " + std::to_string(h.xlen) + " " +
                                std::to_string(h.ylen);
        const auto& codes = t[key + "/codes"];
        const auto& lengths = t[key + "/lengths"];
        ASSERT_EQ(codes.size(), static_cast<size_t>(h.xlen * h.ylen)) << key;
        ASSERT_EQ(lengths.size(), codes.size()) << key;
        for (size_t i = 0; i < codes.size(); ++i) {
            EXPECT_EQ(h.codes[i], std::stoul(codes[i])) << key << " code " << i;
            EXPECT_EQ(h.lengths[i], std::stoul(lengths[i])) << key << " length " << i;
        }
    }
    const char* count1[2] = {"count1 32 A", "count1 33 B"};
    for (int k = 0; k < 2; ++k) {
        const mp3enc::HuffTable& h = set.tables[32 + k];
        ASSERT_EQ(t[std::string(count1[k]) + "/codes"].size(), 16u);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(h.codes[i], std::stoul(t[std::string(count1[k]) + "/codes"][i])) << count1[k];
            EXPECT_EQ(h.lengths[i], std::stoul(t[std::string(count1[k]) + "/lengths"][i])) << count1[k];
        }
    }
    // Sizes, linbits and shared codes of the whole set.
    const int xlen[16] = {0, 2, 3, 3, 0, 4, 4, 6, 6, 6, 8, 8, 8, 16, 0, 16};
    for (int n = 0; n < 16; ++n) EXPECT_EQ(set.tables[n].xlen, xlen[n]) << n;
    const int linbits[16] = {1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int n = 16; n < 32; ++n) {
        EXPECT_EQ(set.tables[n].linbits, linbits[n - 16]) << n;
        EXPECT_EQ(set.tables[n].linmax, (1 << linbits[n - 16]) - 1) << n;
        EXPECT_EQ(set.tables[n].codes, set.tables[n < 24 ? 16 : 24].codes) << n;
    }
}

TEST(Mp3Tables, BandBoundariesAreTheData) {
    auto t = ReadTables();
    const char* rates[3] = {"sfb_long 44100", "sfb_long 48000", "sfb_long 32000"};
    for (int r = 0; r < 3; ++r) {
        ASSERT_EQ(t[rates[r]].size(), 23u);
        for (int i = 0; i < 23; ++i) EXPECT_EQ(mp3enc::kSfbLong[r][i], std::stoi(t[rates[r]][i])) << rates[r];
    }
}

TEST(Mp3Tables, MatrixingCoefficientsAreCutToNinePlaces) {
    mp3enc::SubbandFilter filter;
    EXPECT_EQ(filter.M[0][16], 1.0);
    EXPECT_EQ(filter.M[0][0], 0.707106781);  // cos(pi/4) = 0.70710678118...
    EXPECT_EQ(filter.M[1][16], 1.0);
    EXPECT_EQ(filter.M[31][0], 0.707106781);  // cos(31 * 16 * pi / 64) = cos(7.75 pi)
}
