// The encoder's tables against the copied data file of the standard's tables.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mp3enc/bitstream.h"
#include "mp3enc/tables.h"

namespace {

// The numbers of every "[section]", keyed "section" or "section/label" (codes:, lengths:).
std::map<std::string, std::vector<double>> ReadTables() {
    std::map<std::string, std::vector<double>> sections;
    std::ifstream in(MP3ENC_TEST_DATA);
    std::string line, key, section;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') key = section = line.substr(1, line.find(']') - 1);
        else if (line.back() == ':') key = section + "/" + line.substr(0, line.size() - 1);
        else {
            std::istringstream words(line);
            for (double v; words >> v;) sections[key].push_back(v);
        }
    }
    return sections;
}

}  // namespace

TEST(Mp3Tables, WindowHuffmanTablesAndBands) {
    auto t = ReadTables();
    const auto& window = t["analysis_window 512"];
    ASSERT_EQ(window.size(), 512u);
    for (int i = 0; i < 512; ++i) EXPECT_EQ(mp3enc::kAnalysisWindow[i], std::round(window[i] * 1e6) / 1e6) << i;

    mp3enc::HuffTableSet set;
    for (int n : {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24, 32, 33}) {
        const mp3enc::HuffTable& h = set.tables[n];
        const std::string key = n == 32 ? "count1 32 A" : n == 33 ? "count1 33 B" : "huffman " + std::to_string(n) +
                                " " + std::to_string(h.xlen) + " " + std::to_string(h.ylen);
        const size_t size = n < 32 ? h.xlen * h.ylen : 16;
        ASSERT_GT(size, 0u) << key;
        EXPECT_EQ(std::vector<double>(h.codes, h.codes + size), t[key + "/codes"]) << key;
        EXPECT_EQ(std::vector<double>(h.lengths, h.lengths + size), t[key + "/lengths"]) << key;
    }
    const int linbits[16] = {1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int n = 16; n < 32; ++n) {
        EXPECT_EQ(set.tables[n].linbits, linbits[n - 16]) << n;
        EXPECT_EQ(set.tables[n].linmax, (1 << linbits[n - 16]) - 1) << n;
        EXPECT_EQ(set.tables[n].codes, set.tables[n < 24 ? 16 : 24].codes) << n;
    }
    for (int n : {0, 4, 14}) EXPECT_EQ(set.tables[n].xlen, 0) << n;

    const char* rates[3] = {"sfb_long 44100", "sfb_long 48000", "sfb_long 32000"};
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(std::vector<double>(mp3enc::kSfbLong[r], mp3enc::kSfbLong[r] + 23), t[rates[r]]) << rates[r];
}
