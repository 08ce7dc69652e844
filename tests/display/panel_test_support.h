// An offscreen QGuiApplication (text needs the font database, not a display), pixels
// without the top byte, and a panel on the smallest window's 680 x 256 client area.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>
#include <QGuiApplication>

#include "display/colours.h"
#include "display/status_panel.h"

struct OffscreenApp : ::testing::Environment {
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    int argc = 1;
    char name[16] = "display_test";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QGuiApplication> app;
};
inline ::testing::Environment* const kOffscreenApp = ::testing::AddGlobalTestEnvironment(new OffscreenApp);

inline uint32_t Px(const ScreenImage& screen, int x, int y) { return screen.Image().pixel(x, y) & 0xFFFFFFu; }
// Pixels of the rectangle that differ from the background.
inline int Ink(const ScreenImage& screen, const Rect& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) n += Px(screen, x, y) != kBackground;
    return n;
}

struct Panel {
    ScreenImage screen{680, 256};
    StatusPanel panel{&screen};
    Panel() { panel.BuildAll(); }
};
