// Pictures of the panel in its main states, written to <build>/screenshots/ for people to
// look at: idle, playing with meters and visualiser, paused, record armed, psychedelic.
#include <cmath>
#include <filesystem>

#include "panel_test_support.h"
#include "test_support.h"

namespace {

// Level messages of a swelling and fading signal, handled as the shell handles them.
void Play(Panel& w, int messages) {
    for (int i = 0; i < messages; ++i) {
        const double level =
            32767 * (0.55 + 0.4 * std::sin(i * 0.07) * std::sin(i * 0.013 + 0.5)) * ((i % 12) < 3 ? 1.0 : 0.75);
        w.panel.SetMeterValues(false, static_cast<int32_t>(level), static_cast<int32_t>(level * 0.8));
        w.panel.DrawMeters();
        w.panel.GetVisualiser().Draw(&w.panel.VisualiserRect());
    }
}

void Start(Panel& w, const char* title, uint64_t seconds, bool psychedelic = false) {
    w.panel.GetVisualiser().SetPsychedelic(psychedelic);
    w.panel.DrawButtons(true, false, false);
    w.panel.DrawVolumeBar(11);
    w.panel.DrawTitle(title);
    w.panel.ShowPosition(44100, 44100ull * 245, 44100ull * seconds);
}

}  // namespace

TEST(Screenshots, MainStates) {
    Panel idle, playing, paused, armed, psychedelic;
    Start(playing, "Marrow Lane - Night Ferry.mp3", 84);
    Play(playing, 700);
    Start(paused, "Marrow Lane - Night Ferry.mp3", 150);
    Play(paused, 400);
    paused.panel.DrawButtons(true, true, false);
    armed.panel.DrawButtons(false, false, true);
    armed.panel.ShowPosition(48000, 48000ull * 7200, 48000ull * 3725);
    Play(armed, 300);
    Start(psychedelic, "Loop - 03 Spiral.wav", 200, true);
    Play(psychedelic, 700);

    const std::filesystem::path folder = testing_support::BuildDir() / "screenshots";
    std::filesystem::create_directories(folder);
    const std::pair<const char*, const Panel*> shots[] = {
        {"idle", &idle}, {"playing", &playing}, {"paused", &paused}, {"record_armed", &armed}, {"psychedelic", &psychedelic}};
    for (const auto& [name, w] : shots) {
        const QString file = QString::fromStdString((folder / (std::string(name) + ".png")).string());
        EXPECT_TRUE(w->screen.Image().save(file, "PNG")) << name;
        for (const auto& [other, v] : shots) EXPECT_TRUE(v == w || w->screen.Image() != v->screen.Image()) << name << " " << other;
    }
}
