// A sound buffer's exchange with device areas: headers played in order, completed, and a
// dropped buffer counted when nothing is queued (what the player reports as dropped).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/audio_buffer.h"
#include "host/buffer_switch.h"

namespace {

constexpr int kN = 4;  // device buffer size in samples

int32_t Device32(const std::vector<uint8_t>& area, size_t i) {
    int32_t v;
    std::memcpy(&v, area.data() + 4 * i, 4);
    return v;
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
    h.data = data.data();
    h.length = side;
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

// Recording into a header without room for a device buffer loses that buffer on every input
// path (16-bit from each device type, and the device's own type) and writes nothing.
TEST(AudioBuffer, InputHeaderWithoutRoomForADeviceBufferCountsAFailedBuffer) {
    for (int formatClass : {kFormatInt16, kFormatInt24, kFormatInt32, kFormatFloat32}) {
        for (bool native : {false, true}) {
            AutoResetEvent event;
            AudioBuffer b(0, &event, 2, formatClass, kN);  // mono, input only
            if (native) b.SetNativeIn();
            const int side = native || formatClass == kFormatInt16 ? kN * BytesPerDeviceSample(formatClass) : 2 * kN;
            std::vector<uint8_t> data(64, 0x11);
            WaveHeader h;
            h.data = data.data();
            h.length = uint32_t(side - 2);
            ASSERT_TRUE(b.PrepareInHeader(&h));
            ASSERT_EQ(b.QueueInHeader(&h), kHeaderOk);
            b.Play();
            const std::vector<uint8_t> area(kN * 4, 0xAB);
            b.Exchange(nullptr, nullptr, area.data(), nullptr);
            EXPECT_EQ(b.FailedBuffers(), 1u) << formatClass << (native ? " native" : " 16-bit");
            EXPECT_EQ(data, std::vector<uint8_t>(64, 0x11)) << formatClass << (native ? " native" : " 16-bit");
        }
    }
}

}  // namespace
