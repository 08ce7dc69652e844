// Pair and quadruple coding, the bit writer, frame headers and the exact frame of silence.
#include <gtest/gtest.h>

#include "mp3enc/bitstream.h"
#include "tests/mp3enc/mp3_test_util.h"

using namespace mp3test;
using mp3enc::BitList;
using mp3enc::PairCode;

namespace {

std::vector<uint8_t> Drain(const std::vector<const BitList*>& lists) {
    std::FILE* f = std::tmpfile();
    mp3enc::BitWriter writer(f);
    for (const BitList* list : lists)
        for (const BitList::Entry& e : list->entries) writer.Put(e.value, e.bits);
    writer.Flush();
    std::vector<uint8_t> bytes = ReadBack(f);
    std::fclose(f);
    return bytes;
}

}  // namespace

TEST(Mp3Bitstream, PairCodesCarrySignsAndEscapes) {
    mp3enc::HuffTableSet set;
    PairCode pc;
    // (-1, 0) in table 1: the codeword of (1, 0), "01", then the sign 1.
    EXPECT_EQ(mp3enc::CodePair(set, 1, -1, 0, &pc), 3);
    EXPECT_EQ(pc.code, 0b011u);
    EXPECT_EQ(pc.codeBits, 3);
    EXPECT_EQ(pc.extensionBits, 0);
    // (0, 2) in table 2 keeps only y's sign; (0, 0) has none.
    EXPECT_EQ(mp3enc::CodePair(set, 2, 0, 2, &pc), set.tables[2].lengths[2] + 1);
    EXPECT_EQ(pc.code, set.tables[2].codes[2] * 2);
    EXPECT_EQ(mp3enc::CodePair(set, 2, 0, 0, &pc), 1);
    // (20, -3) in table 19 (linbits 4): codeword of (15, 3), then 0101 (20 - 15), sign 0, sign 1.
    const int32_t bits = mp3enc::CodePair(set, 19, 20, -3, &pc);
    EXPECT_EQ(pc.code, set.tables[16].codes[15 * 16 + 3]);
    EXPECT_EQ(pc.codeBits, set.tables[16].lengths[15 * 16 + 3]);
    EXPECT_EQ(pc.extension, 0b010101u);
    EXPECT_EQ(pc.extensionBits, 6);
    EXPECT_EQ(bits, pc.codeBits + 6);
    // 14 is not escaped; the largest value of table 31 escapes 8191 in 13 bits.
    mp3enc::CodePair(set, 24, 14, 0, &pc);
    EXPECT_EQ(pc.code, set.tables[24].codes[14 * 16]);
    EXPECT_EQ(pc.extensionBits, 1);
    mp3enc::CodePair(set, 31, -8206, 15, &pc);
    EXPECT_EQ(pc.extension, (8191u << 15) | (1u << 14) | (0u << 1) | 0u);
    EXPECT_EQ(pc.extensionBits, 13 + 1 + 13 + 1);
    EXPECT_EQ(mp3enc::CodePair(set, 0, 5, 5, &pc), 0);
}

TEST(Mp3Bitstream, WriterPutsBitsMostSignificantFirstAndMasksValues) {
    BitList list;
    list.Append(0b101, 3);
    list.Append(0xFFFF, 4);  // only the low four bits
    list.Append(0, 0);
    list.Append(0x1, 1);
    list.Append(0xABCDEF12u, 32);
    EXPECT_EQ(list.totalBits, 40);
    const std::vector<uint8_t> bytes = Drain({&list});
    ASSERT_EQ(bytes.size(), 5u);
    EXPECT_EQ(bytes[0], 0b10111111);
    EXPECT_EQ(bytes[1], 0xAB);
    EXPECT_EQ(bytes[4], 0x12);
}

TEST(Mp3Bitstream, Count1QuadruplesAndStuffing) {
    mp3enc::FrameSettings settings;
    settings.sampleRateIndex = 0;
    settings.bitRateIndex = 9;
    mp3enc::HuffTableSet set;
    std::FILE* f = std::tmpfile();
    mp3enc::BitWriter writer(f);
    mp3enc::FrameFormatter formatter(settings, set, writer);
    std::vector<int32_t> ix(2304, 0);
    ix[0] = -1;
    mp3enc::SideInfo side;
    mp3enc::GranuleInfo& gi = side.at(0, 0);
    gi.count1 = 1;
    gi.count1table_select = 0;
    gi.part2_3_length = 5 + 37;  // the quadruple and 37 bits of stuffing
    formatter.CodeMainData(ix.data(), side);
    const BitList& main = formatter.MainData(0, 0);
    ASSERT_EQ(main.entries.size(), 4u);
    EXPECT_EQ(main.entries[0].value, 0b0111u);  // (1, 0, 0, 0) in table A
    EXPECT_EQ(main.entries[0].bits, 4);
    EXPECT_EQ(main.entries[1].value, 1u);  // its sign
    EXPECT_EQ(main.entries[1].bits, 1);
    EXPECT_EQ(main.entries[2].value, 0xFFFFFFFFu);
    EXPECT_EQ(main.entries[2].bits, 32);
    EXPECT_EQ(main.entries[3].value, 0x1Fu);
    EXPECT_EQ(main.entries[3].bits, 5);
    EXPECT_EQ(main.totalBits, gi.part2_3_length);
    // The same quadruple in table B is 0111 too (index 8), and a block with no length writes nothing.
    gi.count1table_select = 1;
    gi.part2_3_length = 5;
    formatter.CodeMainData(ix.data(), side);
    EXPECT_EQ(formatter.MainData(0, 0).entries[0].value, 15u - 8u);
    EXPECT_EQ(formatter.MainData(0, 0).totalBits, 5);
    EXPECT_EQ(formatter.MainData(1, 1).totalBits, 0);
    std::fclose(f);
}

TEST(Mp3Bitstream, HeaderBytesAtEveryRateWithAndWithoutPadding) {
    const struct {
        int index;
        uint8_t third;
    } rates[] = {{0, 0x90}, {1, 0x94}, {2, 0x98}};
    for (const auto& r : rates) {
        mp3enc::FrameSettings settings;
        settings.sampleRateIndex = r.index;
        settings.bitRateIndex = mp3enc::BitRateIndex(128);
        mp3enc::HuffTableSet set;
        mp3enc::BitWriter writer(nullptr);
        mp3enc::FrameFormatter formatter(settings, set, writer);
        for (int padding = 0; padding < 2; ++padding) {
            EXPECT_EQ(formatter.Header(padding).entries.size(), 13u);
            const std::vector<uint8_t> bytes = Drain({&formatter.Header(padding)});
            ASSERT_EQ(bytes.size(), 4u);
            EXPECT_EQ(bytes[0], 0xFF);
            EXPECT_EQ(bytes[1], 0xFB);
            EXPECT_EQ(bytes[2], r.third + 2 * padding) << "rate index " << r.index;
            EXPECT_EQ(bytes[3], 0x84);
        }
    }
    EXPECT_EQ(mp3enc::BitRateIndex(128), 9);
    EXPECT_EQ(mp3enc::BitRateIndex(32), 1);
    EXPECT_EQ(mp3enc::BitRateIndex(320), 14);
    EXPECT_EQ(mp3enc::BitRateIndex(0), -1);
    EXPECT_EQ(mp3enc::BitRateIndex(100), -1);
}

TEST(Mp3Bitstream, FrameOfSilenceAt44100IsExact) {
    // Frames 1-23 at 44100 Hz are padded; frame 24 is the first of 417 bytes.
    const std::vector<uint8_t> s = EncodeWithEntryPoints(Pcm(2 * 1152 * 24, 0), 44100);
    bool ok = false;
    const std::vector<Frame> frames = SplitFrames(s, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(frames.size(), 27u);
    for (int padded = 0; padded < 2; ++padded) {
        const Frame& f = frames[padded ? 0 : 23];
        ASSERT_EQ(f.bytes, padded ? 418 : 417);
        const uint8_t* p = s.data() + f.offset;
        EXPECT_EQ(p[0], 0xFF);
        EXPECT_EQ(p[1], 0xFB);
        EXPECT_EQ(p[2], padded ? 0x92 : 0x90);
        EXPECT_EQ(p[3], 0x84);
        const ReadSideInfo si = ParseSideInfo(p);
        EXPECT_EQ(si.main_data_begin, 0u);
        EXPECT_EQ(si.private_bits, 0u);
        EXPECT_EQ(si.scfsi[0] | si.scfsi[1], 0u);
        for (int g = 0; g < 2; ++g)
            for (int c = 0; c < 2; ++c) {
                const ReadGranule& gr = si.gr[g][c];
                EXPECT_EQ(gr.part2_3_length, g == 0 && c == 0 ? (padded ? 3056u : 3048u) : 0u);
                EXPECT_EQ(gr.global_gain, 142u);
                EXPECT_EQ(gr.big_values, 0u);
                EXPECT_EQ(gr.table_select[0] | gr.table_select[1] | gr.table_select[2], 0u);
                EXPECT_EQ(gr.region0_count | gr.region1_count | gr.scalefac_compress, 0u);
                EXPECT_EQ(gr.window_switching_flag | gr.preflag | gr.scalefac_scale, 0u);
                EXPECT_EQ(gr.count1table_select, 1u);
            }
        for (int i = 36; i < f.bytes; ++i) ASSERT_EQ(p[i], 0xFF) << "main data byte " << i;
    }
}

TEST(Mp3Bitstream, StuffingAt32000IsSpreadSoEveryLengthFits) {
    // 4320 bits of main data per frame; silence uses none, and one block holds 4095.
    const std::vector<uint8_t> s = EncodeWithEntryPoints(Pcm(2 * 1152 * 4, 0), 32000);
    bool ok = false;
    const std::vector<Frame> frames = SplitFrames(s, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(frames.size(), 7u);
    const uint8_t* p = s.data() + frames[0].offset;
    const ReadSideInfo si = ParseSideInfo(p);
    EXPECT_EQ(si.gr[0][0].part2_3_length, 4095u);
    EXPECT_EQ(si.gr[0][1].part2_3_length, 4320u - 4095u);
    EXPECT_EQ(si.gr[1][0].part2_3_length + si.gr[1][1].part2_3_length, 0u);
    EXPECT_EQ(si.gr[0][1].global_gain, 142u);
    for (int i = 36; i < 576; ++i) ASSERT_EQ(p[i], 0xFF) << "main data byte " << i;
    const Decoded d = HipDecode(s, frames);
    EXPECT_EQ(d.failedFrames, 0);
    EXPECT_EQ(d.reportedErrors, 0);
    EXPECT_EQ(d.pcm.size(), 7u * 2304);
    for (int16_t v : d.pcm) ASSERT_EQ(v, 0);
}
