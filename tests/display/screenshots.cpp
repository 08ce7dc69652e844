// Pictures of the panel in its main states, written to <build>/screenshots/ for people
// to look at: idle, playing with meters and visualiser, paused, record armed, psychedelic.
#include <cmath>
#include <filesystem>
#include <string>

#include "display/status_panel.h"
#include "panel_test_support.h"
#include "test_support.h"

namespace {

// The window as the shell shows it at its smallest: 680 x 256 client pixels.
struct Window {
    ScreenImage screen{680, 256};
    StatusPanel panel{&screen};
    Window() { panel.BuildAll(); }

    // One level message: meters, history and visualiser, as the shell handles it.
    void Levels(int32_t left, int32_t right) {
        panel.SetMeterValues(false, left, right);
        panel.DrawMeters();
        panel.GetVisualiser().Draw(&panel.VisualiserRect());
    }
    // A swelling and fading signal, one message per 4608-frame segment.
    void Play(int messages) {
        for (int i = 0; i < messages; ++i) {
            double envelope = 0.55 + 0.4 * std::sin(i * 0.07) * std::sin(i * 0.013 + 0.5);
            double beat = (i % 12) < 3 ? 1.0 : 0.75;
            auto left = static_cast<int32_t>(32767 * envelope * beat);
            auto right = static_cast<int32_t>(32767 * envelope * beat * (0.8 + 0.2 * std::cos(i * 0.21)));
            Levels(left, right);
        }
    }
};

bool Save(const Window& w, const std::string& name) {
    const std::filesystem::path folder = testing_support::BuildDir() / "screenshots";
    std::filesystem::create_directories(folder);
    return w.screen.Image().save(QString::fromStdString((folder / (name + ".png")).string()), "PNG");
}

}  // namespace

TEST(Screenshots, MainStates) {
    Window idle;
    ASSERT_TRUE(Save(idle, "idle"));

    Window playing;
    playing.panel.DrawButtons(true, false, false);
    playing.panel.DrawVolumeBar(11);
    playing.panel.ClearTitle();
    playing.panel.DrawTitle("Marrow Lane - Night Ferry.mp3");
    playing.panel.ShowPosition(44100, 44100ull * 245, 44100ull * 84);
    playing.Play(700);
    ASSERT_TRUE(Save(playing, "playing"));

    Window paused;
    paused.panel.DrawButtons(true, false, false);
    paused.panel.ClearTitle();
    paused.panel.DrawTitle("Marrow Lane - Night Ferry.mp3");
    paused.panel.ShowPosition(44100, 44100ull * 245, 44100ull * 150);
    paused.Play(400);
    paused.panel.DrawButtons(true, true, false);
    ASSERT_TRUE(Save(paused, "paused"));

    Window armed;
    armed.panel.DrawButtons(false, false, true);
    armed.panel.ShowPosition(48000, 48000ull * 3600 * 2, 48000ull * 3725);
    armed.Play(300);
    ASSERT_TRUE(Save(armed, "record_armed"));

    Window psychedelic;
    psychedelic.panel.GetVisualiser().SetPsychedelic(true);
    psychedelic.panel.DrawButtons(true, false, false);
    psychedelic.panel.ClearTitle();
    psychedelic.panel.DrawTitle("Loop - 03 Spiral.wav");
    psychedelic.panel.ShowPosition(44100, 44100ull * 60, 44100ull * 40);
    psychedelic.Play(700);
    ASSERT_TRUE(Save(psychedelic, "psychedelic"));

    // Every state looks different from the others.
    const QImage* shots[] = {&idle.screen.Image(), &playing.screen.Image(), &paused.screen.Image(),
                             &armed.screen.Image(), &psychedelic.screen.Image()};
    for (int i = 0; i < 5; ++i)
        for (int j = i + 1; j < 5; ++j) EXPECT_NE(*shots[i], *shots[j]) << i << " " << j;
}
