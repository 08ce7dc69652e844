// A sound buffer's header queues and its exchange with device areas.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/audio_buffer.h"
#include "host/buffer_switch.h"

namespace {

constexpr int kN = 4;  // device buffer size in samples

void Fill(WaveHeader& h, std::vector<uint8_t>& data, uint32_t sideBytes) {
    h.data = data.data();
    h.length = sideBytes;
}

int32_t Device32(const std::vector<uint8_t>& area, size_t i) {
    int32_t v;
    std::memcpy(&v, area.data() + 4 * i, 4);
    return v;
}

TEST(AudioBuffer, HeaderQueueResultsAndUnlinking) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 6, kFormatInt32, kN);
    std::vector<uint8_t> d(64);
    WaveHeader h1, h2, in, never;
    Fill(h1, d, 32);
    Fill(h2, d, 32);
    Fill(in, d, 32);

    EXPECT_EQ(b.UnprepareOutHeader(&h1), kHeaderNone);  // empty queue
    EXPECT_EQ(b.QueueOutHeader(&never), kHeaderUnprepared);

    ASSERT_TRUE(b.PrepareOutHeader(&h1));
    ASSERT_TRUE(b.PrepareOutHeader(&h2));
    ASSERT_TRUE(b.PrepareInHeader(&in));
    EXPECT_EQ(h1.next.load(), &h2);
    EXPECT_EQ(b.QueueOutHeader(&h1), kHeaderOk);
    EXPECT_EQ(h1.state.load(), WHDR_PREPARED | WHDR_INQUEUE);
    b.SetAttenuation(20);
    EXPECT_EQ(b.GetAttenuation(), 15);

    // A queued header stays; an unqueued one is cut out and must be prepared again.
    EXPECT_EQ(b.UnprepareOutHeader(&h1), kHeaderStillQueued);
    EXPECT_EQ(b.GetOutHeaders(), &h1);
    EXPECT_EQ(b.UnprepareOutHeader(&h2), kHeaderOk);
    EXPECT_EQ(h2.state.load(), WHDR_DONE);
    EXPECT_EQ(h1.next.load(), nullptr);
    EXPECT_EQ(b.QueueOutHeader(&h2), kHeaderUnprepared);

    // The last output header leaves: the input queue and the attenuation go too.
    h1.state.store(WHDR_DONE | WHDR_PREPARED);
    EXPECT_EQ(b.UnprepareOutHeader(&h1), kHeaderOk);
    EXPECT_EQ(b.GetOutHeaders(), nullptr);
    EXPECT_EQ(b.GetInHeaders(), nullptr);
    EXPECT_EQ(b.GetAttenuation(), 0);
}

// Stereo output on an Int32 device: two device buffers per header, then the ring wraps.
TEST(AudioBuffer, OutputPlaysInOrderThenDropsWhenNothingIsQueued) {
    AutoResetEvent event;
    AudioBuffer b(0, &event, 4, kFormatInt32, kN);
    const uint32_t side = 2 * kN * 2;
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
    EXPECT_EQ(Device32(left, 0), 100 * 65536);
    EXPECT_EQ(Device32(right, kN - 1), (100 + 3 * kN - 1) * 65536);
    int position = 0;
    b.GetPosition(&position);
    EXPECT_EQ(position, kN);
    EXPECT_FALSE(event.WaitFor(0));

    // The second buffer uses the header up: done, and the event is set.
    EXPECT_TRUE(b.Exchange(left.data(), right.data(), nullptr, nullptr));
    EXPECT_EQ(Device32(left, 0), (100 + kN) * 65536);
    EXPECT_EQ(h.state.load(), WHDR_DONE | WHDR_PREPARED);
    EXPECT_TRUE(event.WaitFor(0));

    // Not queued again: silence, a dropped buffer, and the event all the same.
    EXPECT_TRUE(b.Exchange(left.data(), right.data(), nullptr, nullptr));
    EXPECT_EQ(left, std::vector<uint8_t>(kN * 4, 0));
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_EQ(b.DroppedBuffers(), 1u);
    EXPECT_EQ(b.DeviceCalls(), 3u);

    // Queued again, it plays from its start.
    ASSERT_EQ(b.QueueOutHeader(&h), kHeaderOk);
    b.Exchange(left.data(), right.data(), nullptr, nullptr);
    EXPECT_EQ(Device32(left, 0), 100 * 65536);
    EXPECT_EQ(b.FailedBuffers(), 0u);
}

// A header without room for a whole device buffer loses that buffer (a failed buffer, not
// a dropped one) and nothing is written: playing from each device type, and recording into
// 16-bit from each type and into the device's own type.
TEST(AudioBuffer, HeaderWithoutRoomForADeviceBufferCountsAFailedBuffer) {
    for (int formatClass : {kFormatInt16, kFormatInt24, kFormatInt32, kFormatFloat32}) {
        for (int path : {0, 1, 2}) {  // output, 16-bit input, native input
            SCOPED_TRACE(testing::Message() << "class " << formatClass << " path " << path);
            AutoResetEvent event;
            AudioBuffer b(0, &event, path == 0 ? 1 : 2, formatClass, kN);  // mono output or mono input
            if (path == 2) b.SetNativeIn();
            const int side = path == 2 || formatClass == kFormatInt16 ? kN * BytesPerDeviceSample(formatClass) : 2 * kN;
            std::vector<uint8_t> data(64, 0x11);
            WaveHeader h;
            Fill(h, data, uint32_t(side - 2));  // one sample short
            ASSERT_TRUE(path == 0 ? b.PrepareOutHeader(&h) : b.PrepareInHeader(&h));
            ASSERT_EQ(path == 0 ? b.QueueOutHeader(&h) : b.QueueInHeader(&h), kHeaderOk);
            b.Play();
            std::vector<uint8_t> area(kN * 4, 0xAB);
            if (path == 0) b.Exchange(area.data(), nullptr, nullptr, nullptr);
            else b.Exchange(nullptr, nullptr, area.data(), nullptr);
            EXPECT_EQ(b.FailedBuffers(), 1u);
            EXPECT_EQ(b.DroppedBuffers(), 0u);
            EXPECT_EQ(area, std::vector<uint8_t>(kN * 4, 0xAB));
            EXPECT_EQ(data, std::vector<uint8_t>(64, 0x11));
        }
    }
}

}  // namespace
