// The device a first start opens, on the drivers the build registers: with nothing
// stored, JACK when its server runs (never starting one), else ALSA's default device,
// else the virtual device; the choice is remembered and the log says why each one
// before it was passed over. A stored device is kept whatever else would work.
#include <string>
#include <vector>

#include "jack_test_support.h"
#include "player/player.h"
#include "player/settings.h"
#include "tests/host/virtual_devices.h"

using namespace jack_test;
using testing_support::EnvironmentScope;
using testing_support::IsolatedScope;

namespace {

enum Driver { kAlsa, kVirtual, kJack, kNone = -1 };  // the build's numbers

// alsaDefault: the ALSA configuration's default device; opened: the driver the player opens.
struct Case { const char* name; bool serverRuns; const char* alsaDefault; Driver stored, opened;
              std::vector<std::string> notes; };

constexpr const char* kNoSuchCard = "pcm.!default { type hw card 31 }\n";  // a card nobody has
constexpr const char* kNullCard = "pcm.!default { type null }\n";          // a card that takes anything

class FirstStart : public testing::TestWithParam<Case> {};

TEST_P(FirstStart, OpensTheFirstDeviceThatWorksAndRemembersIt) {
    const Case& c = GetParam();
    IsolatedScope scope;
    std::filesystem::copy_file(testing_support::BuildDir() / "share/bellwave/machine.reg",
                               scope.registryDir() / "machine.reg");
    testing_support::WriteFile(scope.workDir() / "asoundrc", c.alsaDefault);
    EnvironmentScope alsa("ALSA_CONFIG_PATH", (scope.workDir() / "asoundrc").c_str());
    PrivateServer server;
    ASSERT_TRUE(!c.serverRuns || server.Start()) << kNoJackd;
    const std::string absent = "bw-absent-" + std::to_string(getpid());
    EnvironmentScope serverName("JACK_DEFAULT_SERVER", c.serverRuns ? server.name() : absent.c_str());
    ASSERT_TRUE(c.stored == kNone || SaveDeviceNumber(c.stored));

    testing_support::RecordingWindow window;
    {
        Player player(&window, scope.workDir().c_str());
        EXPECT_TRUE(player.DeviceReady());
        EXPECT_EQ(player.DeviceNumber(), c.opened);
    }
    int32_t stored = -1;
    EXPECT_TRUE(LoadDeviceNumber(stored));
    EXPECT_EQ(stored, c.opened);
    EXPECT_TRUE(c.serverRuns || !ServerAnswers()) << "a server was started";

    std::vector<std::string> notes;
    for (const std::string& line : host_test::ReadLines(scope.workDir() / "CorvaneDbg.Log"))
        if (line.rfind("First start: ", 0) == 0) notes.push_back(line);
    ASSERT_EQ(notes.size(), c.notes.size()) << host_test::Dump(notes);
    for (size_t i = 0; i < notes.size(); ++i) {  // "..." ends a prefix
        const std::string want = c.notes[i].substr(0, c.notes[i].rfind("..."));
        EXPECT_EQ(want.size() < c.notes[i].size() ? notes[i].substr(0, want.size()) : notes[i], want);
    }
}

const std::string kAbsentServer = "First start: passed over JACK: No JACK server is running (server \"bw-absent-" +
                                  std::to_string(getpid()) + "\")";

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstStart,
    testing::Values(
        Case{"NoServerNoCard", false, kNoSuchCard, kNone, kVirtual,
             {kAbsentServer, "First start: passed over ALSA: ALSA device \"default\" cannot be opened: ...",
              "First start: chose Bellwave Virtual Device, driver 1, remembered"}},
        Case{"NoServerACard", false, kNullCard, kNone, kAlsa,
             {kAbsentServer, "First start: chose ALSA, driver 0, remembered"}},
        Case{"ServerRunning", true, kNoSuchCard, kNone, kJack,
             {"First start: chose JACK, driver 2, remembered"}},
        Case{"StoredChoiceKept", true, kNullCard, kVirtual, kVirtual, {}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
