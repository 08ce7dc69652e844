// Both sound drivers through PipeWire, the sound server of most desktops: a private one
// (its own runtime folder, wireplumber under a D-Bus session of its own, a null sink and
// a null source), and `bellwave-cli play` through it to the end of a file: the ALSA
// driver on PipeWire's ALSA device, and the JACK driver under pw-jack at PipeWire's
// default quantum, which changes mid-play.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drivers/alsa/alsa_driver.h"
#include "drivers/jack/jack_driver.h"
#include "test_support.h"

namespace {

using testing_support::EnvironmentScope;
using testing_support::FinishProcess;
using testing_support::IsolatedScope;
using testing_support::ReadFile;
using testing_support::StartProcess;
using testing_support::TempDir;

bool Installed(const char* program) {
    return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// Polls cond every 20 ms until it holds or `seconds` pass; true when it held.
template <typename Cond>
bool WaitUntil(Cond cond, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// A PipeWire of the test's own: pipewire and wireplumber in a D-Bus session of their
// own, every runtime, state and configuration folder a temporary one, and two null
// nodes, "bw-sink" and "bw-source", for the graph to play into and record from.
class PrivatePipeWire {
public:
    ~PrivatePipeWire() { Stop(); }

    // False, with why() telling, when it cannot be had.
    bool Start() {
        for (const char* program : {"pipewire", "wireplumber", "pw-cli", "pw-metadata", "pw-jack", "dbus-run-session"})
            if (!Installed(program)) return Refuse(std::string(program) + " is not installed (scripts/install-deps.sh)");
        chmod(runtime_.path().c_str(), 0700);
        const std::string state = runtime_ / "state", config = runtime_ / "config";
        const std::pair<const char*, const char*> variables[] = {
            {"XDG_RUNTIME_DIR", runtime_.path().c_str()}, {"XDG_STATE_HOME", state.c_str()},
            {"XDG_CONFIG_HOME", config.c_str()}, {"JACK_DEFAULT_SERVER", nullptr}, {"PIPEWIRE_REMOTE", nullptr}};
        for (const auto& [name, value] : variables) environment_.push_back(std::make_unique<EnvironmentScope>(name, value));
        pid_ = StartProcess({"dbus-run-session", "--", "sh", "-c", "pipewire & wireplumber & wait"}, Log("session.out"),
                       Log("session.err"));
        if (pid_ == 0) return Refuse("dbus-run-session does not start");
        const std::string socket = (runtime_ / "pipewire-0").string();
        if (!WaitUntil([&] { return access(socket.c_str(), F_OK) == 0; }, 20.0))
            return Refuse("pipewire never made its socket: " + ReadFile(Log("session.err")));
        for (const char* node : {"bw-sink media.class=Audio/Sink", "bw-source media.class=Audio/Source/Virtual"}) {
            const std::string properties = std::string("{ factory.name=support.null-audio-sink node.name=") + node +
                                           " object.linger=true audio.position=[FL FR] }";
            if (Run({"pw-cli", "create-node", "adapter", properties}, 20.0) != 0) return Refuse("pw-cli create-node failed");
        }
        // Once wireplumber has linked the nodes into the graph, JACK clients see them.
        const bool ready = WaitUntil([&] { return Run({"pw-jack", "jack_lsp"}, 10.0) == 0 &&
                                                  ReadFile(Log("run.out")).find("bw-sink:playback_FL") != std::string::npos; },
                                     20.0);
        return ready || Refuse("the null sink never showed: " + ReadFile(Log("run.err")));
    }
    void Stop() {
        if (pid_ > 0) {
            kill(-pid_, SIGTERM);
            if (FinishProcess(pid_, 5.0) == -1) ADD_FAILURE() << "the private PipeWire did not end when asked";
        }
        pid_ = 0;
        while (!environment_.empty()) environment_.pop_back();
    }
    // Runs a tool to its end; its exit status, its output in Log("run.out").
    int Run(const std::vector<std::string>& args, double seconds) {
        const pid_t pid = StartProcess(args, Log("run.out"), Log("run.err"));
        return pid == 0 ? -1 : FinishProcess(pid, seconds);
    }
    std::string Log(const char* name) const { return (runtime_ / name).string(); }
    const std::string& why() const { return why_; }

private:
    bool Refuse(const std::string& why) {
        why_ = why;
        Stop();
        return false;
    }

    TempDir runtime_;
    std::vector<std::unique_ptr<EnvironmentScope>> environment_;
    pid_t pid_ = 0;
    std::string why_;
};

// A 48000 Hz 16-bit stereo WAV of a 440 Hz sine, `seconds` long.
void WriteSine(const std::string& path, int seconds) {
    const uint32_t frames = 48000u * uint32_t(seconds), bytes = frames * 4;
    std::string wav = "RIFF";
    auto le = [&wav](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) wav += char(v >> (8 * i));
    };
    le(36 + bytes, 4);
    wav += "WAVEfmt ";
    le(16, 4), le(1, 2), le(2, 2), le(48000, 4), le(192000, 4), le(4, 2), le(16, 2);
    wav += "data";
    le(bytes, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const auto v = uint16_t(int16_t(8000 * std::sin(2 * 3.14159265358979 * 440 * i / 48000)));
        le(v, 2), le(v, 2);
    }
    testing_support::WriteFile(path, wav);
}

// The build's ALSA and JACK drivers, ALSA on PipeWire's ALSA device.
std::string Hive() {
    char alsa[40], jack[40];
    StringFromCLSID(CLSID_AlsaDriver, alsa);
    StringFromCLSID(CLSID_JackDriver, jack);
    return std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\ALSA]\n\"clsid\"=\"") + alsa +
           "\"\n\"description\"=\"ALSA\"\n\"Device\"=\"pipewire\"\n\n[HKEY_CLASSES_ROOT\\clsid\\" + alsa +
           "\\InprocServer32]\n@=\"" + ALSA_DRIVER_PATH + "\"\n\n[HKEY_LOCAL_MACHINE\\software\\asio\\JACK]\n\"clsid\"=\"" +
           jack + "\"\n\"description\"=\"JACK\"\n\n[HKEY_CLASSES_ROOT\\clsid\\" + jack + "\\InprocServer32]\n@=\"" +
           JACK_DRIVER_PATH + "\"\n";
}

TEST(PipeWire, BothDriversPlayAFileToTheEndThroughIt) {
    IsolatedScope scope;
    PrivatePipeWire server;
    if (!server.Start()) GTEST_SKIP() << "no private PipeWire: " << server.why();
    scope.WriteMachineHive(Hive());
    const std::string wav = (scope.workDir() / "sine.wav").string();
    WriteSine(wav, 3);
    const std::string cli = (testing_support::BuildDir() / "bin" / "bellwave-cli").string();
    const std::string out = (scope.workDir() / "play.out").string(), err = (scope.workDir() / "play.err").string();

    // ALSA: the pipewire device of pipewire-alsa.
    pid_t pid = StartProcess({cli, "play", "--device", "ALSA", wav}, out, err);
    ASSERT_NE(pid, 0);
    EXPECT_EQ(FinishProcess(pid, 60.0), 0) << ReadFile(err);
    EXPECT_NE(ReadFile(out).find("end of track\nplayed 1 track\n"), std::string::npos) << ReadFile(out);

    // JACK under pw-jack, at PipeWire's default quantum, which a client then forces to
    // 512 frames mid-play. (PipeWire's own JACK library keeps some memory past the
    // client's close; a leak checker in the build is told so.)
    const std::string suppressions = (scope.workDir() / "lsan.supp").string();
    testing_support::WriteFile(suppressions, "leak:/pipewire-0.3/jack/libjack.so\nleak:libpipewire-0.3.so\n");
    {
        EnvironmentScope leaks("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str());
        pid = StartProcess({"pw-jack", cli, "play", "--device", "JACK", wav}, out, err);
    }
    ASSERT_NE(pid, 0);
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(out).find("position 0:01") != std::string::npos; }, 30.0))
        << ReadFile(out) << ReadFile(err);
    EXPECT_EQ(server.Run({"pw-metadata", "-n", "settings", "0", "clock.force-quantum", "512"}, 10.0), 0);
    EXPECT_EQ(FinishProcess(pid, 60.0), 0) << ReadFile(err);
    EXPECT_NE(ReadFile(out).find("end of track\nplayed 1 track\n"), std::string::npos) << ReadFile(out);
    // The driver chose a size that divides the player's block, and heard the change.
    const std::string log = ReadFile(scope.workDir() / "CorvaneDbg.Log");
    EXPECT_NE(log.find("preferredSize: 512"), std::string::npos) << log;
    EXPECT_NE(log.find("asioMessages: kAsioLatenciesChanged"), std::string::npos) << log;
    EXPECT_EQ(log.find("asioMessages: kAsioResetRequest"), std::string::npos) << log;
}

}  // namespace
