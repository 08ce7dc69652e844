// Shared by the display tests: an offscreen QGuiApplication for the whole run (text needs
// the font database, not a display), pixel reading without the top byte, and a panel
// built on a 680 x 256 client area, the smallest window's.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>
#include <QGuiApplication>

#include "display/colours.h"
#include "display/status_panel.h"

class OffscreenApp : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "display_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

inline ::testing::Environment* const kOffscreenApp = ::testing::AddGlobalTestEnvironment(new OffscreenApp);

inline uint32_t Px(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }
inline uint32_t Px(const ScreenImage& screen, int x, int y) { return Px(screen.Image(), x, y); }

struct Panel {
    ScreenImage screen{680, 256};
    StatusPanel panel{&screen};
    Panel() { panel.BuildAll(); }
};
