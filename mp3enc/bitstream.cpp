#include "mp3enc/bitstream.h"

#include <cstdlib>

#include "mp3enc/tables.h"

namespace mp3enc {

namespace {

const HuffSource* FindSource(int number) {
    for (const HuffSource& s : kHuffSources)
        if (s.number == number) return &s;
    return nullptr;
}

void SetFrom(HuffTable& table, const HuffSource* source, int32_t linbits, int32_t linmax) {
    table.xlen = source->xlen;
    table.ylen = source->ylen;
    table.linbits = linbits;
    table.linmax = linmax;
    table.codes = source->codes;
    table.lengths = source->lengths;
}

}  // namespace

HuffTableSet::HuffTableSet() {
    static const int32_t kLinbits16[8] = {1, 2, 3, 4, 6, 8, 10, 13};
    static const int32_t kLinbits24[8] = {4, 5, 6, 7, 8, 9, 11, 13};
    for (int t = 1; t <= 15; ++t)
        if (const HuffSource* s = FindSource(t)) SetFrom(tables[t], s, 0, 0);
    for (int k = 0; k < 8; ++k) {
        SetFrom(tables[16 + k], FindSource(16), kLinbits16[k], (1 << kLinbits16[k]) - 1);
        SetFrom(tables[24 + k], FindSource(24), kLinbits24[k], (1 << kLinbits24[k]) - 1);
    }
    SetFrom(tables[32], FindSource(32), 0, 0);
    SetFrom(tables[33], FindSource(33), 0, 0);
}

int32_t CodePair(const HuffTableSet& set, int t, int32_t x, int32_t y, PairCode* out) {
    *out = PairCode{};
    if (t == 0) return 0;
    const HuffTable& h = set.tables[t];
    const uint32_t ax = static_cast<uint32_t>(std::abs(x));
    const uint32_t ay = static_cast<uint32_t>(std::abs(y));
    if (t <= 15) {
        const uint32_t index = ax * static_cast<uint32_t>(h.ylen) + ay;
        out->code = h.codes[index];
        out->codeBits = h.lengths[index];
        if (x != 0) {
            out->code = out->code * 2 + (x < 0 ? 1u : 0u);
            out->codeBits += 1;
        }
        if (y != 0) {
            out->code = out->code * 2 + (y < 0 ? 1u : 0u);
            out->codeBits += 1;
        }
        return out->codeBits;
    }
    uint32_t xs = ax, ys = ay, lx = 0, ly = 0;
    if (ax > 14) {
        xs = 15;
        lx = ax - 15;
    }
    if (ay > 14) {
        ys = 15;
        ly = ay - 15;
    }
    out->code = h.codes[xs * 16 + ys];
    out->codeBits = h.lengths[xs * 16 + ys];
    uint32_t ext = 0;
    int32_t extBits = 0;
    auto push = [&](uint32_t value, int32_t bits) {
        ext = (ext << bits) | value;
        extBits += bits;
    };
    if (xs == 15) push(lx, h.linbits);
    if (xs != 0) push(x < 0 ? 1u : 0u, 1);
    if (ys == 15) push(ly, h.linbits);
    if (ys != 0) push(y < 0 ? 1u : 0u, 1);
    out->extension = ext;
    out->extensionBits = extBits;
    return out->codeBits + extBits;
}

void BitWriter::Flush() {
    if (byteCount_ == 0) return;
    std::fwrite(buffer_, 1, static_cast<size_t>(byteCount_), file_);
    byteCount_ = 0;
    ++writeCount_;
}

FrameFormatter::FrameFormatter(const FrameSettings& settings, const HuffTableSet& tables, BitWriter& writer)
    : settings_(settings), tables_(tables), writer_(writer) {
    for (int padding = 0; padding < 2; ++padding) {
        BitList& h = header_[padding];
        h.entries.reserve(13);
        h.Append(4095, 12);
        h.Append(static_cast<uint32_t>(settings.version), 1);
        h.Append(1, 2);  // Layer III
        h.Append(settings.errorProtection == 0 ? 1u : 0u, 1);
        h.Append(static_cast<uint32_t>(settings.bitRateIndex), 4);
        h.Append(static_cast<uint32_t>(settings.sampleRateIndex), 2);
        h.Append(static_cast<uint32_t>(padding), 1);
        h.Append(static_cast<uint32_t>(settings.privateBit), 1);
        h.Append(static_cast<uint32_t>(settings.mode), 2);
        h.Append(static_cast<uint32_t>(settings.modeExtension), 2);
        h.Append(static_cast<uint32_t>(settings.copyright), 1);
        h.Append(static_cast<uint32_t>(settings.original), 1);
        h.Append(static_cast<uint32_t>(settings.emphasis), 2);
    }
}

void FrameFormatter::CodeSideInfo(const SideInfo& side) {
    const int channels = Channels();
    frameSide_.Reset();
    frameSide_.Append(static_cast<uint32_t>(side.main_data_begin), 9);
    frameSide_.Append(static_cast<uint32_t>(side.private_bits), channels == 2 ? 3 : 5);
    for (int c = 0; c < channels; ++c) {
        scfsi_[c].Reset();
        for (int band = 0; band < 4; ++band) scfsi_[c].Append(static_cast<uint32_t>(side.scfsi[c][band]), 1);
    }
    for (int g = 0; g < 2; ++g)
        for (int c = 0; c < channels; ++c) {
            const GranuleInfo& gi = side.at(g, c);
            BitList& list = granuleSide_[g * 2 + c];
            list.Reset();
            list.Append(static_cast<uint32_t>(gi.part2_3_length), 12);
            list.Append(static_cast<uint32_t>(gi.big_values), 9);
            list.Append(static_cast<uint32_t>(gi.global_gain), 8);
            list.Append(static_cast<uint32_t>(gi.scalefac_compress), 4);
            list.Append(0, 1);  // window_switching_flag: long blocks only
            for (int r = 0; r < 3; ++r) list.Append(static_cast<uint32_t>(gi.table_select[r]), 5);
            list.Append(static_cast<uint32_t>(gi.region0_count), 4);
            list.Append(static_cast<uint32_t>(gi.region1_count), 3);
            list.Append(static_cast<uint32_t>(gi.preflag), 1);
            list.Append(static_cast<uint32_t>(gi.scalefac_scale), 1);
            list.Append(static_cast<uint32_t>(gi.count1table_select), 1);
        }
}

void FrameFormatter::CodeGranule(const int32_t* ix, const GranuleInfo& gi, BitList& list) {
    list.Reset();
    const int32_t* l = kSfbLong[settings_.sampleRateIndex];
    const int32_t region1start = l[gi.region0_count + 1];
    const int32_t region2start = l[gi.region0_count + gi.region1_count + 2];
    PairCode pc;
    for (int32_t i = 0; i < 2 * gi.big_values; i += 2) {
        const int region = i < region1start ? 0 : (i < region2start ? 1 : 2);
        const int t = gi.table_select[region];
        if (t == 0) continue;
        CodePair(tables_, t, ix[i], ix[i + 1], &pc);
        list.Append(pc.code, pc.codeBits);
        if (pc.extensionBits > 0) list.Append(pc.extension, pc.extensionBits);
    }
    const HuffTable& quad = tables_.tables[32 + gi.count1table_select];
    for (int32_t q = 0, j = 2 * gi.big_values; q < gi.count1; ++q, j += 4) {
        const int32_t v[4] = {ix[j], ix[j + 1], ix[j + 2], ix[j + 3]};
        const int index = 8 * std::abs(v[0]) + 4 * std::abs(v[1]) + 2 * std::abs(v[2]) + std::abs(v[3]);
        list.Append(quad.codes[index], quad.lengths[index]);
        for (int k = 0; k < 4; ++k)
            if (v[k] != 0) list.Append(v[k] < 0 ? 1u : 0u, 1);
    }
    // Stuffing: one-bits read as quadruples of zeros in either count1 table.
    const int32_t s = gi.part2_3_length - gi.part2_length - list.totalBits;
    for (int32_t k = 0; k < s / 32; ++k) list.Append(0xFFFFFFFFu, 32);
    if (s > 0 && s % 32 != 0) list.Append((1u << (s % 32)) - 1u, s % 32);
}

void FrameFormatter::CodeMainData(const int32_t* ix, const SideInfo& side) {
    const int channels = Channels();
    for (int g = 0; g < 2; ++g)
        for (int c = 0; c < channels; ++c)
            CodeGranule(ix + (2 * g + c) * kGranuleLines, side.at(g, c), mainData_[g * 2 + c]);
}

void FrameFormatter::WriteFrame() {
    const int channels = Channels();
    auto drain = [this](const BitList& list) {
        for (const BitList::Entry& e : list.entries) writer_.Put(e.value, e.bits);
    };
    drain(header_[settings_.padding != 0 ? 1 : 0]);
    drain(frameSide_);
    for (int c = 0; c < channels; ++c) drain(scfsi_[c]);
    for (int g = 0; g < 2; ++g)
        for (int c = 0; c < channels; ++c) drain(granuleSide_[g * 2 + c]);
    for (int g = 0; g < 2; ++g)
        for (int c = 0; c < channels; ++c) drain(mainData_[g * 2 + c]);
    writer_.Flush();
}

}  // namespace mp3enc
