// bellwave-screenshot OUT.png [SECONDS]: opens the window offscreen on the virtual
// device, plays a generated tone for SECONDS (default 1.5) and saves the whole window,
// menu bar included, as a PNG; then the three dialogs beside it (bellwave-about.png,
// bellwave-devices.png, bellwave-playlist.png). Run it in a scratch folder with
// BELLWAVE_REGISTRY_DIR naming a folder that holds the build's machine.reg
// (scripts/screenshot.sh does).
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>

#include "audiofiles/wav_writer.h"
#include "player/player.h"
#include "player/settings.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr const char* kTrackName = "Bellwave demo tone.wav";

// Ten seconds of a slow sweep under a beating pair of tones, louder and softer in turn.
bool WriteTone(const char* path) {
    if (!WavOpenForWrite(path, kRate)) return false;
    std::vector<int16_t> block(2 * 4800);
    double phase1 = 0.0, phase2 = 0.0;
    for (uint32_t frame = 0; frame < 10 * kRate;) {
        for (size_t i = 0; i < block.size(); i += 2, ++frame) {
            const double t = double(frame) / kRate;
            const double swell = 0.55 + 0.45 * std::sin(2 * M_PI * 0.7 * t) * std::sin(2 * M_PI * 3.1 * t);
            phase1 += 2 * M_PI * (220.0 + 110.0 * t) / kRate;
            phase2 += 2 * M_PI * 331.0 / kRate;
            block[i] = int16_t(14000 * swell * std::sin(phase1));
            block[i + 1] = int16_t(14000 * swell * std::sin(phase2));
        }
        uint32_t written = 0;
        if (WavWriteData(block.data(), uint32_t(block.size() * 2), written) != kWavWriteOk) return false;
    }
    return WavCloseForWrite() > 0;
}

// The virtual device's index in the driver list, or -1.
int VirtualDeviceIndex() {
    DeviceLink lister(nullptr, nullptr, nullptr);
    std::vector<std::string> names;
    lister.ListDrivers(names);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == "Bellwave Virtual Device") return int(i);
    return -1;
}

// Shows dialog, saves its picture as name in folder, and closes it.
bool SaveDialog(QDialog& dialog, const QString& folder, const char* name) {
    dialog.show();
    QCoreApplication::processEvents();
    const bool saved = dialog.grab().save(folder + "/" + name, "PNG");
    dialog.done(0);
    return saved;
}

void RunFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bellwave-screenshot OUT.png [SECONDS]\n");
        return 2;
    }
    const double seconds = argc == 3 ? std::atof(argv[2]) : 1.5;
    QApplication app(argc, argv);
    if (!WriteTone(kTrackName)) {
        std::fprintf(stderr, "bellwave-screenshot: cannot write %s\n", kTrackName);
        return 1;
    }
    const int device = VirtualDeviceIndex();
    if (device < 0 || !SaveDeviceNumber(device)) {
        std::fprintf(stderr, "bellwave-screenshot: no virtual device registered\n");
        return 1;
    }
    MainWindow window;
    window.show();
    Player* player = window.GetPlayer();
    if (player == nullptr || !player->DeviceReady()) {
        std::fprintf(stderr, "bellwave-screenshot: the virtual device did not start\n");
        return 1;
    }
    PlayList list;
    char folder[512];
    if (getcwd(folder, sizeof folder) == nullptr) return 1;
    AddSelectionToList(list, player->Directories(), {QString::fromLocal8Bit(folder) + "/" + kTrackName});
    AppendListToQueue(list, player->Queue());
    const Rect& play = window.Panel().PlayRect();
    window.OnClick((play.left + play.right) / 2, (play.top + play.bottom) / 2);
    RunFor(int(seconds * 1000));
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool saved = window.grab().save(out, "PNG");

    const QString pictures = out.contains('/') ? out.left(out.lastIndexOf('/')) : QStringLiteral(".");
    AboutDialog about(&window);
    saved = SaveDialog(about, pictures, "bellwave-about.png") && saved;
    DeviceDialog devices(&window, player);
    saved = SaveDialog(devices, pictures, "bellwave-devices.png") && saved;
    const int index = player->Directories().AddDirectory(folder);
    for (const char* name : {"Overture.mp3", "Second movement - Andante.wav", "Finale.mp3"}) {
        PlayEntry entry;
        if (MakePlayEntry(entry, name, index)) player->Queue().Append(entry);
    }
    PlaylistDialog playlist(&window, player);
    saved = SaveDialog(playlist, pictures, "bellwave-playlist.png") && saved;
    window.close();
    if (!saved) {
        std::fprintf(stderr, "bellwave-screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", argv[1]);
    return 0;
}
