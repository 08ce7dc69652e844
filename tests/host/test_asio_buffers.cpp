// The device query on a fake driver whose answers the test controls: a device of a sample
// type the host cannot convert is refused, not played as noise. Buffer creation, the
// sound buffers and the buffer switch are streamed end to end on the virtual device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_driver.h"
#include "host/asio_buffers.h"
#include "host/debug_log.h"
#include "virtual_devices.h"

namespace {

using host_test::ExpectInOrder;
using testing_support::IsolatedScope;

// The four types the host converts are served; any other is refused after logging it.
TEST(DeviceQuery, ServesFourTypesAndRefusesOthers) {
    const struct {
        long type;
        int format;  // 0: refused
    } cases[] = {{ASIOSTInt16LSB, 1}, {ASIOSTInt24LSB, 2}, {ASIOSTInt32LSB, 3}, {ASIOSTFloat32LSB, 4},
                 {ASIOSTInt32MSB, 0}, {ASIOSTFloat64LSB, 0}, {5, 0}};
    for (const auto& c : cases) {
        IsolatedScope scope;
        DebugLogOpen();
        FakeDriver drv;
        drv.type = c.type;
        drv.outputs = 3;
        drv.groups = {0, 0, 1};
        {
            ASIOBuffers b(&drv, nullptr);
            EXPECT_EQ(b.InitSuccess(), c.format != 0) << c.type;
            if (c.format) {
                EXPECT_EQ(static_cast<int>(b.Format()), c.format) << c.type;
                EXPECT_EQ(b.Record()->numOutputs, 2) << "outputs of the first group";
            }
        }
        DebugLogClose();
        const std::string type = std::string("ASIO sample type: ") + SampleTypeName(c.type);
        ExpectInOrder(host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"),
                      {"Channel: 2 - Group: 1 - Out 3, " + type, "First group output " + type,
                       c.format ? "Hardware output channels: 2" : "Can't support sound card's internal format!"});
    }
}

}  // namespace
