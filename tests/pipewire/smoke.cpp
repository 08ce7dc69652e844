// Both sound drivers through PipeWire, the sound server of most desktops: a private one
// (every runtime, state and configuration folder its own, wireplumber under a D-Bus
// session of its own, a null sink and a null source), and `bellwave-cli play` through it
// to the end of a file: the ALSA driver on PipeWire's ALSA device, and the JACK driver
// under pw-jack at PipeWire's default quantum, which changes mid-play.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "drivers/alsa/alsa_driver.h"
#include "drivers/jack/jack_driver.h"
#include "tests/jack/driver_test_support.h"
#include "tests/soundfile/sound_fixtures.h"

namespace {

using testing_support::EnvironmentScope;
using testing_support::FinishProcess;
using testing_support::ReadFile;
using testing_support::StartProcess;
using testing_support::WaitUntil;

TEST(PipeWire, BothDriversPlayAFileToTheEndThroughIt) {
    testing_support::IsolatedScope scope;
    for (const char* program : {"pipewire", "wireplumber", "pw-cli", "pw-metadata", "pw-jack", "dbus-run-session"})
        if (std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) != 0)
            GTEST_SKIP() << "no private PipeWire: " << program << " is not installed (scripts/install-deps.sh)";
    testing_support::TempDir runtime;
    chmod(runtime.path().c_str(), 0700);
    const std::string state = runtime / "state", config = runtime / "config", out = runtime / "out", err = runtime / "err";
    std::vector<std::unique_ptr<EnvironmentScope>> environment;
    for (const auto& [name, value] : {std::pair<const char*, const char*>{"XDG_RUNTIME_DIR", runtime.path().c_str()},
                                      {"XDG_STATE_HOME", state.c_str()}, {"XDG_CONFIG_HOME", config.c_str()},
                                      {"JACK_DEFAULT_SERVER", nullptr}, {"PIPEWIRE_REMOTE", nullptr}})
        environment.push_back(std::make_unique<EnvironmentScope>(name, value));
    const pid_t session = StartProcess({"dbus-run-session", "--", "sh", "-c", "pipewire & wireplumber & wait"},
                                      runtime / "session.out", runtime / "session.err");
    ASSERT_NE(session, 0);
    struct Ender {  // the whole session's group, whatever happens below
        pid_t pid;
        ~Ender() {
            kill(-pid, SIGTERM);
            EXPECT_NE(FinishProcess(pid, 5.0), -1) << "the private PipeWire did not end when asked";
        }
    } ender{session};
    auto run = [&](const std::vector<std::string>& args, double seconds) {
        const pid_t pid = StartProcess(args, out, err);
        return pid == 0 ? -1 : FinishProcess(pid, seconds);
    };
    ASSERT_TRUE(WaitUntil([&] { return access((runtime / "pipewire-0").c_str(), F_OK) == 0; }, 20.0))
        << "pipewire never made its socket: " << ReadFile(runtime / "session.err");
    // Two null nodes for the graph to play into and record from.
    for (const char* node : {"bw-sink media.class=Audio/Sink", "bw-source media.class=Audio/Source/Virtual"})
        ASSERT_EQ(run({"pw-cli", "create-node", "adapter", std::string("{ factory.name=support.null-audio-sink node.name=") +
                                                                node + " object.linger=true audio.position=[FL FR] }"},
                      20.0), 0) << ReadFile(err);
    // Once wireplumber has linked them into the graph, JACK clients see them.
    ASSERT_TRUE(WaitUntil([&] { return run({"pw-jack", "jack_lsp"}, 10.0) == 0 &&
                                       ReadFile(out).find("bw-sink:playback_FL") != std::string::npos; }, 20.0))
        << "the null sink never showed: " << ReadFile(err);

    // ALSA on PipeWire's ALSA device, JACK as pw-jack gives it.
    scope.WriteMachineHive("REGEDIT4\n\n" +
                           driver_test::DriverEntry(CLSID_AlsaDriver, "ALSA", ALSA_DRIVER_PATH,
                                                    testing_support::Text("Device", "pipewire")) +
                           driver_test::DriverEntry(CLSID_JackDriver, "JACK", JACK_DRIVER_PATH));
    std::vector<int16_t> tone(48000 * 3 * 2);  // 3 s of a 240 Hz sawtooth
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(i % 400 * 20 - 4000);
    fixtures::WriteBytes(scope.workDir() / "tone.wav", fixtures::MakeWav(1, 2, 48000, 16, fixtures::Samples(tone)));
    const std::string cli = (testing_support::BuildDir() / "bin" / "bellwave-cli").string();
    EXPECT_EQ(run({cli, "play", "--device", "ALSA", "tone.wav"}, 60.0), 0) << ReadFile(err);
    EXPECT_NE(ReadFile(out).find("end of track\nplayed 1 track\n"), std::string::npos) << ReadFile(out);

    // JACK at PipeWire's default quantum, which a client then forces to 512 frames
    // mid-play. (PipeWire's own JACK library keeps some memory past the client's close;
    // a leak checker in the build is told so.)
    testing_support::WriteFile(runtime / "lsan.supp", "leak:/pipewire-0.3/jack/libjack.so\nleak:libpipewire-0.3.so\n");
    EnvironmentScope leaks("LSAN_OPTIONS", ("suppressions=" + (runtime / "lsan.supp").string()).c_str());
    const pid_t pid = StartProcess({"pw-jack", cli, "play", "--device", "JACK", "tone.wav"}, runtime / "play", err);
    ASSERT_NE(pid, 0);
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(runtime / "play").find("position 0:01") != std::string::npos; }, 30.0))
        << ReadFile(runtime / "play") << ReadFile(err);
    EXPECT_EQ(run({"pw-metadata", "-n", "settings", "0", "clock.force-quantum", "512"}, 10.0), 0);
    EXPECT_EQ(FinishProcess(pid, 60.0), 0) << ReadFile(err);
    EXPECT_NE(ReadFile(runtime / "play").find("end of track\nplayed 1 track\n"), std::string::npos);
    // The driver chose a size that divides the player's block, and heard the change.
    const std::string log = ReadFile(scope.workDir() / "CorvaneDbg.Log");
    EXPECT_NE(log.find("preferredSize: 512"), std::string::npos) << log;
    EXPECT_NE(log.find("asioMessages: kAsioLatenciesChanged"), std::string::npos) << log;
    EXPECT_EQ(log.find("asioMessages: kAsioResetRequest"), std::string::npos) << log;
}

}  // namespace
