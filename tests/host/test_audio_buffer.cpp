// A sound buffer's header queues and its exchange with device areas.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/audio_buffer.h"
#include "host/buffer_switch.h"

namespace {

constexpr int kN = 4;  // device buffer size in samples

// A header over `data` with `sideBytes` per channel.
void Fill(WaveHeader& h, std::vector<uint8_t>& data, uint32_t sideBytes) {
    h.data = data.data();
    h.length = sideBytes;
}

int16_t Sample(const std::vector<uint8_t>& bytes, size_t i) {
    int16_t v;
    std::memcpy(&v, bytes.data() + 2 * i, 2);
    return v;
}

int32_t Device32(const std::vector<uint8_t>& area, size_t i) {
    int32_t v;
    std::memcpy(&v, area.data() + 4 * i, 4);
    return v;
}

TEST(AudioBufferQueue, HeaderResultCodes) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 4, kFormatInt32, kN);
    std::vector<uint8_t> d1(64), d2(64);
    WaveHeader h1, h2, never;
    Fill(h1, d1, 32);
    Fill(h2, d2, 32);

    EXPECT_FALSE(b.PrepareOutHeader(nullptr));
    EXPECT_EQ(b.QueueOutHeader(nullptr), kHeaderNone);
    EXPECT_EQ(b.UnprepareOutHeader(nullptr), kHeaderNone);
    EXPECT_EQ(b.UnprepareOutHeader(&h1), kHeaderNone);  // empty queue
    EXPECT_EQ(b.QueueOutHeader(&never), kHeaderUnprepared);
    EXPECT_EQ(never.state.load(), 0u);

    ASSERT_TRUE(b.PrepareOutHeader(&h1));
    ASSERT_TRUE(b.PrepareOutHeader(&h2));
    EXPECT_EQ(h1.state.load(), WHDR_PREPARED);
    EXPECT_EQ(h1.next.load(), &h2);
    EXPECT_EQ(b.GetOutHeaders(), &h1);
    EXPECT_EQ(b.QueueOutHeader(&h1), kHeaderOk);
    EXPECT_EQ(h1.state.load(), WHDR_PREPARED | WHDR_INQUEUE);

    // A queued header stays where it is.
    EXPECT_EQ(b.UnprepareOutHeader(&h1), kHeaderStillQueued);
    EXPECT_EQ(b.GetOutHeaders(), &h1);
    EXPECT_EQ(h1.next.load(), &h2);

    // An unqueued one is cut out and marked done; queueing it again needs a prepare.
    EXPECT_EQ(b.UnprepareOutHeader(&h2), kHeaderOk);
    EXPECT_EQ(h2.state.load(), WHDR_DONE);
    EXPECT_EQ(h1.next.load(), nullptr);
    EXPECT_EQ(b.QueueOutHeader(&h2), kHeaderUnprepared);
}

TEST(AudioBufferQueue, RemovingTheLastOutputHeaderClearsEverything) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 6, kFormatInt32, kN);
    std::vector<uint8_t> out(64), in(64);
    WaveHeader ho, hi;
    Fill(ho, out, 32);
    Fill(hi, in, 32);
    ASSERT_TRUE(b.PrepareOutHeader(&ho));
    ASSERT_TRUE(b.PrepareInHeader(&hi));
    b.SetAttenuation(5);
    EXPECT_EQ(b.GetAttenuation(), 5);

    EXPECT_EQ(b.UnprepareOutHeader(&ho), kHeaderOk);
    EXPECT_EQ(b.GetOutHeaders(), nullptr);
    EXPECT_EQ(b.GetInHeaders(), nullptr);
    EXPECT_EQ(b.GetAttenuation(), 0);
    int position = -1;
    EXPECT_TRUE(b.GetPosition(&position));
    EXPECT_EQ(position, 0);

    // Attenuation is capped at 15, negative levels read as large unsigned ones.
    b.SetAttenuation(20);
    EXPECT_EQ(b.GetAttenuation(), 15);
    b.SetAttenuation(-1);
    EXPECT_EQ(b.GetAttenuation(), 15);
}

TEST(AudioBufferQueue, ResetMarksEveryHeaderDoneAndStops) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 4, kFormatInt32, kN);
    EXPECT_EQ(b.ResetOut(), kHeaderNone);
    std::vector<uint8_t> d(64);
    WaveHeader h[3];
    for (WaveHeader& x : h) {
        Fill(x, d, 32);
        x.reserved = 9;
        ASSERT_TRUE(b.PrepareOutHeader(&x));
        ASSERT_EQ(b.QueueOutHeader(&x), kHeaderOk);
    }
    b.Play();
    EXPECT_TRUE(b.IsPlaying());
    EXPECT_EQ(b.ResetOut(), kHeaderOk);
    EXPECT_FALSE(b.IsPlaying());
    EXPECT_EQ(b.GetOutHeaders(), nullptr);
    for (WaveHeader& x : h) {
        EXPECT_EQ(x.state.load(), WHDR_DONE);
        EXPECT_EQ(x.next.load(), nullptr);
        EXPECT_EQ(x.reserved, 0u);
    }
}

// Stereo output, Int32 device: two device buffers per header, then the ring wraps.
TEST(AudioBufferExchange, OutputPlaysHeadersInOrderThenDropsWhenNothingIsQueued) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 4, kFormatInt32, kN);
    const uint32_t side = 2 * kN * 2;  // two device buffers of 16-bit samples per channel
    std::vector<uint8_t> data(2 * side);
    for (size_t i = 0; i < data.size() / 2; ++i) {
        const int16_t v = static_cast<int16_t>(100 + i);  // left 100.., right 100 + 2N..
        std::memcpy(data.data() + 2 * i, &v, 2);
    }
    WaveHeader h;
    Fill(h, data, side);
    ASSERT_TRUE(b.PrepareOutHeader(&h));
    ASSERT_EQ(b.QueueOutHeader(&h), kHeaderOk);
    b.Play();

    std::vector<uint8_t> left(kN * 4), right(kN * 4);
    EXPECT_FALSE(b.Exchange(left.data(), right.data(), nullptr, nullptr));
    for (int i = 0; i < kN; ++i) {
        EXPECT_EQ(Device32(left, i), (100 + i) * 65536);
        EXPECT_EQ(Device32(right, i), (100 + 2 * kN + i) * 65536);
    }
    int position = 0;
    b.GetPosition(&position);
    EXPECT_EQ(position, kN);
    EXPECT_FALSE(event.WaitFor(0));

    // The second buffer uses the header up: it is done and the event is set.
    EXPECT_TRUE(b.Exchange(left.data(), right.data(), nullptr, nullptr));
    EXPECT_EQ(Device32(left, 0), (100 + kN) * 65536);
    EXPECT_EQ(Device32(right, kN - 1), (100 + 4 * kN - 1) * 65536);
    EXPECT_EQ(h.state.load(), WHDR_DONE | WHDR_PREPARED);
    EXPECT_TRUE(event.WaitFor(0));
    b.GetPosition(&position);
    EXPECT_EQ(position, 0);

    // Not queued again: silence, a dropped buffer, and the event all the same.
    EXPECT_TRUE(b.Exchange(left.data(), right.data(), nullptr, nullptr));
    EXPECT_EQ(left, std::vector<uint8_t>(kN * 4, 0));
    EXPECT_EQ(right, std::vector<uint8_t>(kN * 4, 0));
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_EQ(b.DroppedBuffers(), 1u);
    EXPECT_EQ(b.DeviceCalls(), 3u);
    EXPECT_EQ(b.FailedBuffers(), 0u);

    // Queued again, it plays from its start.
    ASSERT_EQ(b.QueueOutHeader(&h), kHeaderOk);
    b.Exchange(left.data(), right.data(), nullptr, nullptr);
    EXPECT_EQ(Device32(left, 0), 100 * 65536);
}

TEST(AudioBufferExchange, HeaderWithoutAWholeDeviceBufferLeftFailsAndLeavesTheAreas) {
    for (int formatClass : {kFormatInt16, kFormatInt24, kFormatInt32, kFormatFloat32}) {
        AutoResetEvent event;
        AudioBuffer b(0, &event, 1, formatClass, kN);
        std::vector<uint8_t> data(64, 0x11);
        WaveHeader h;
        Fill(h, data, 2 * kN - 2);  // one sample short of a device buffer
        ASSERT_TRUE(b.PrepareOutHeader(&h));
        ASSERT_EQ(b.QueueOutHeader(&h), kHeaderOk);
        b.Play();
        std::vector<uint8_t> area(kN * 4, 0xAB);
        b.Exchange(area.data(), nullptr, nullptr, nullptr);
        EXPECT_EQ(b.FailedBuffers(), 1u) << formatClass;
        EXPECT_EQ(b.DroppedBuffers(), 0u) << formatClass;
        EXPECT_EQ(area, std::vector<uint8_t>(kN * 4, 0xAB)) << formatClass;
    }
}

TEST(AudioBufferExchange, DuplexRecordsInputAndAdvancesBothTogether) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 6, kFormatFloat32, kN);
    const uint32_t side = kN * 2;  // one device buffer per header
    std::vector<uint8_t> outData(2 * side, 0), inData(2 * side, 0x55);
    WaveHeader ho, hi;
    Fill(ho, outData, side);
    Fill(hi, inData, side);
    ASSERT_TRUE(b.PrepareOutHeader(&ho));
    ASSERT_TRUE(b.PrepareInHeader(&hi));

    std::vector<uint8_t> outL(kN * 4), outR(kN * 4), inL(kN * 4), inR(kN * 4);
    const float left[kN] = {0.5f, -0.5f, 1.5f, 0.0f};
    const float right[kN] = {-1.0f, 0.25f, -3.0f, 1.0f};
    std::memcpy(inL.data(), left, sizeof left);
    std::memcpy(inR.data(), right, sizeof right);
    b.Play();

    // Only the output header queued: silence, a dropped buffer, no input taken.
    ASSERT_EQ(b.QueueOutHeader(&ho), kHeaderOk);
    outL.assign(outL.size(), 0x77);
    b.Exchange(outL.data(), outR.data(), inL.data(), inR.data());
    EXPECT_EQ(b.DroppedBuffers(), 1u);
    EXPECT_EQ(outL, std::vector<uint8_t>(kN * 4, 0));
    EXPECT_EQ(inData, std::vector<uint8_t>(2 * side, 0x55));

    ASSERT_EQ(b.QueueInHeader(&hi), kHeaderOk);
    EXPECT_TRUE(b.Exchange(outL.data(), outR.data(), inL.data(), inR.data()));
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_EQ(ho.state.load(), WHDR_DONE | WHDR_PREPARED);
    EXPECT_EQ(hi.state.load(), WHDR_DONE | WHDR_PREPARED);
    const int16_t wantLeft[kN] = {16383, -16383, 32767, 0};
    const int16_t wantRight[kN] = {-32767, 8191, -32768, 32767};
    for (int i = 0; i < kN; ++i) {
        EXPECT_EQ(Sample(inData, i), wantLeft[i]) << i;
        EXPECT_EQ(Sample(inData, kN + i), wantRight[i]) << i;
    }
}

TEST(AudioBufferExchange, StoppedBufferWritesFourSilencesThenLeavesTheAreas) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 4, kFormatInt16, kN);
    std::vector<uint8_t> l(kN * 2), r(kN * 2);
    void* areas[4] = {l.data(), r.data(), nullptr, nullptr};
    for (int i = 0; i < 6; ++i) {
        l.assign(l.size(), 0x5A);
        b.WriteSilence(areas);
        if (i < 4) EXPECT_EQ(l, std::vector<uint8_t>(kN * 2, 0)) << i;
        else EXPECT_EQ(l, std::vector<uint8_t>(kN * 2, 0x5A)) << i;
    }
    b.Stop();  // stopping again starts a new run of silences
    l.assign(l.size(), 0x5A);
    b.WriteSilence(areas);
    EXPECT_EQ(l, std::vector<uint8_t>(kN * 2, 0));

    // An input-only buffer never writes the device's areas.
    AudioBuffer in(0, &event, 5, kFormatInt16, kN);
    l.assign(l.size(), 0x5A);
    in.WriteSilence(areas);
    EXPECT_EQ(l, std::vector<uint8_t>(kN * 2, 0x5A));
}

}  // namespace
