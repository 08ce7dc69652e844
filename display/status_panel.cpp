#include "display/status_panel.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include "display/colours.h"

namespace {

constexpr Rect kButtonStrip{0, 0, 110, 24};
constexpr int32_t kVolumeStripWidth = 110;
constexpr const char* kZeroTime = "Position: 00:00:00";

// Text needs the application's font database; without a QGuiApplication nothing is drawn.
bool CanDrawText() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// Black text in the window's default font, clipped to box. opaque puts the background
// colour behind the glyphs.
void DrawTextIn(QImage& image, const Rect& box, const char* text, int flags, bool opaque) {
    if (!CanDrawText() || image.isNull() || box.Width() <= 0 || box.Height() <= 0) return;
    QPainter painter(&image);
    if (!painter.isActive()) return;
    const QRect r(box.left, box.top, box.Width(), box.Height());
    painter.setClipRect(r);
    painter.setFont(QGuiApplication::font());
    painter.setPen(Qt::black);
    if (opaque) {
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(QColor(QRgb(kBackground)));
    }
    painter.drawText(r, flags, QString::fromUtf8(text));
}

Rect Inside(const Rect& r) { return Rect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}; }

Rect Moved(const Rect& r, int32_t dx, int32_t dy) {
    return Rect{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

int32_t RoundUp8(int32_t n) { return (n + 7) / 8 * 8; }

}  // namespace

void FormatPosition(char* text, size_t size, uint32_t rate, uint64_t position) {
    const uint64_t seconds = rate != 0 ? position / rate : 0;
    std::snprintf(text, size, "Position: %02" PRIu64 ":%02u:%02u", seconds / 3600,
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
}

StatusPanel::StatusPanel(ScreenImage* window) : visualiser_(window), window_(window) {
    for (int i = 0; i < kLeds; ++i) {
        leftOn_[i] = rightOn_[i] = 1;  // the first drawing shows every LED lit
        leftWasOn_[i] = rightWasOn_[i] = 0;
        const uint32_t ref = MakeColour(19 + i, true);
        ledBrushes_[i] = ((ref & 0xFF) << 16) | (ref & 0xFF00) | ((ref >> 16) & 0xFF);
    }
}

void StatusPanel::BuildAll() {
    if (built_) return;
    DrawMeters();
    visualiser_.Draw(&visualiserRect_);
    MeasureTimeText(kZeroTime);
    DrawButtons(false, false, false);
    BuildVolumeBar();
    ShowPosition(0, 0, 0);
    ClearTitle();
    built_ = true;
}

void StatusPanel::SetMeterValues(bool reset, int32_t left, int32_t right) {
    if (reset) {
        std::memset(leftOn_, 0, sizeof leftOn_);
        std::memset(rightOn_, 0, sizeof rightOn_);
        visualiser_.Reset();
        return;
    }
    // Each LED stands for 1024 steps of a linear scale: LED i is lit from (i + 1) x 1024.
    for (int i = 0; i < kLeds; ++i) {
        leftOn_[i] = left != 0 && i + 1 <= left / 1024;
        rightOn_[i] = right != 0 && i + 1 <= right / 1024;
    }
    visualiser_.PushLevel(static_cast<float>(left > right ? left : right) * (1.0f / 32768.0f));
}

void StatusPanel::LayOutMeters(const Rect& client) {
    const int32_t w = client.Width();
    const int32_t h = client.Height();
    const int32_t cell = w / 32;
    const int32_t x0 = (w - 32 * cell + 31) / 2;
    const int32_t right = x0 + 32 * cell - 31;
    meterArea_ = Rect{x0, h - 97, right, h - 34};
    visualiserRect_ = Rect{x0, 48, right, h - 118};
    positionBarRect_ = Rect{x0, h - 21, right, h - 13};
    for (int i = 0; i < kLeds; ++i) {
        const int32_t left = x0 + i * (cell - 1);
        leftLeds_[i] = Moved(Rect{left, h - 97, left + cell, h - 76}, -meterArea_.left, -meterArea_.top);
        rightLeds_[i] = Moved(Rect{left, h - 55, left + cell, h - 34}, -meterArea_.left, -meterArea_.top);
    }
    FrameRect(window_->Image(), visualiserRect_, kBlack);
    FrameRect(window_->Image(), positionBarRect_, kBlack);
    window_->MarkChanged(visualiserRect_);
    window_->MarkChanged(positionBarRect_);
    if (metersBuffer_.Create(meterArea_, true)) {
        FillRect(metersBuffer_.Image(), Rect{0, leftLeds_[0].bottom, meterArea_.Width(), rightLeds_[0].top},
                 kBackground);
    }
}

void StatusPanel::DrawLed(const Rect& led, bool on, uint32_t colour) {
    FrameRect(metersBuffer_.Image(), led, kBlack);
    FillRect(metersBuffer_.Image(), Inside(led), on ? colour : kWhite);
}

void StatusPanel::DrawMeters() {
    if (window_ == nullptr || !window_->Usable()) return;
    const Rect client = window_->ClientRect();
    if (client.Width() != lastMeterClient_.Width() || client.Height() != lastMeterClient_.Height()) {
        lastMeterClient_ = client;
        metersDrawn_ = false;
    }
    const bool full = !metersDrawn_;
    if (full) LayOutMeters(client);
    if (!metersBuffer_.Valid()) return;

    for (int i = 0; i < kLeds; ++i) {
        if (full || leftOn_[i] != leftWasOn_[i]) DrawLed(leftLeds_[i], leftOn_[i], ledBrushes_[i]);
        if (full || rightOn_[i] != rightWasOn_[i]) DrawLed(rightLeds_[i], rightOn_[i], ledBrushes_[i]);
        leftWasOn_[i] = leftOn_[i];
        rightWasOn_[i] = rightOn_[i];
    }
    if (full) {
        const Rect* led = rightLeds_;
        const int32_t bottom = led[0].top;
        const int32_t top = bottom - 18;
        struct Label {
            const char* text;
            int32_t left, right;
        };
        const Label labels[] = {
            {"dB", led[0].left + 2, led[1].right + 2}, {"-18", led[3].left, led[4].right},
            {"-12", led[7].left, led[8].right},        {"-6", led[15].left + 3, led[16].right},
            {"-3", led[21].left, led[23].right},       {"0", led[31].left + 5, led[31].right},
        };
        for (const Label& label : labels) {
            DrawTextIn(metersBuffer_.Image(), Rect{label.left, top, label.right, bottom}, label.text,
                       Qt::AlignLeft | Qt::AlignTop, false);
        }
        metersDrawn_ = true;
    }
    metersBuffer_.CopyTo(*window_, meterArea_);
}

void StatusPanel::DrawButtons(bool playing, bool paused, bool recordArmed) {
    if (window_ == nullptr || !window_->Usable()) return;
    if (!buttonsBuffer_.Valid()) {
        if (!buttonsBuffer_.Create(kButtonStrip, true)) return;
        playRect_ = Rect{1, 1, 38, 24};
        recordRect_ = Rect{37, 1, 74, 24};
        stopRect_ = Rect{73, 1, 110, 24};
        buttonState_ = -1;  // a fresh strip is blank whatever state was drawn last
    }
    recordArmed_ = recordArmed;
    const int32_t state = playing * 4 + paused * 2 + recordArmed;
    if (state != buttonState_) {
        QImage& image = buttonsBuffer_.Image();
        image.fill(kWhite | kOpaque);
        const Rect* buttons[] = {&playRect_, &recordRect_, &stopRect_};
        for (const Rect* b : buttons) FrameRect(image, *b, kBlack);
        const Rect circle{recordRect_.left + 10, recordRect_.top + 4, recordRect_.right - 10, recordRect_.bottom - 4};
        const Rect square{stopRect_.left + 10, stopRect_.top + 4, stopRect_.right - 10, stopRect_.bottom - 4};
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(QPen(Qt::black, 0));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(QRect(circle.left, circle.top, circle.Width() - 1, circle.Height() - 1));
        }
        FrameRect(image, square, kBlack);
        for (const Rect* b : buttons) FloodFill(image, b->left + 4, (b->top + b->bottom) / 2, kLight);
        FloodFill(image, (square.left + square.right) / 2, (square.top + square.bottom) / 2, kStrong);

        const Rect& p = playRect_;
        const int32_t centre = (p.top + p.bottom) / 2;
        if (!playing || paused) {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(QPen(Qt::black, 0));
            const QPoint corners[3] = {{p.left + 12, p.top + 4}, {p.left + 26, centre}, {p.left + 12, p.bottom - 4}};
            painter.drawPolygon(corners, 3);
            painter.end();
            FloodFill(image, p.left + 18, centre, kStrong);
        } else {
            FrameRect(image, Rect{p.left + 13, p.top + 4, p.left + 17, p.bottom - 4}, kBlack);
            FrameRect(image, Rect{p.left + 19, p.top + 4, p.left + 23, p.bottom - 4}, kBlack);
            FloodFill(image, p.left + 14, centre, kStrong);
            FloodFill(image, p.left + 20, centre, kStrong);
        }
        FloodFill(image, (recordRect_.left + recordRect_.right) / 2, (recordRect_.top + recordRect_.bottom) / 2,
                  recordArmed ? kRecordColour : kStrong);
        buttonState_ = state;
    }
    buttonsBuffer_.CopyTo(*window_, kButtonStrip);
}

void StatusPanel::BuildVolumeBar() {
    if (window_ == nullptr || !window_->Usable()) return;
    const int32_t w = window_->ClientRect().Width();
    volumeRect_ = Rect{w - kVolumeStripWidth, 0, w, 24};
    if (!volumeBuffer_.Create(volumeRect_, true)) return;
    QImage& image = volumeBuffer_.Image();
    FrameRect(image, Rect{1, 1, 109, 24}, kBlack);
    FloodFill(image, 5, 12, kLight);
    FrameRect(image, Rect{7, 5, 104, 20}, kBlack);
    for (int32_t x = 8; x <= 102; ++x) {
        FillRect(image, Rect{x, 6, x + 1, 19}, MakeColour(19 + (x - 8) * 32 / 95, false));
    }
    for (int i = 0; i < kVolumeSteps; ++i) {
        volumeSegments_[i] = Rect{7 + 6 * i, 5, 14 + 6 * i, 20};
        FrameRect(image, volumeSegments_[i], kBlack);
        volumeSegments_[i] = Moved(volumeSegments_[i], volumeRect_.left, volumeRect_.top);
    }
    DrawVolumeBar(kVolumeSteps - 1);
}

bool StatusPanel::DrawVolumeBar(int32_t level) {
    if (level < 0 || level >= kVolumeSteps) return false;
    if (window_ == nullptr || !window_->Usable() || !volumeBuffer_.Valid()) return false;
    // The bar keeps to the right edge of the client area.
    const int32_t dx = window_->ClientRect().right - volumeRect_.right;
    if (dx != 0) {
        volumeRect_ = Moved(volumeRect_, dx, 0);
        for (Rect& segment : volumeSegments_) segment = Moved(segment, dx, 0);
    }
    volumeBuffer_.CopyTo(*window_, volumeRect_);
    // The marker lives on the window only, so the next copy erases it.
    const Rect& s = volumeSegments_[level];
    const int32_t x = (s.left + s.right) / 2;
    const int32_t y = (s.top + s.bottom) / 2;
    FillRect(window_->Image(), Rect{x - 1, y, x + 2, y + 1}, kBlack);
    FillRect(window_->Image(), Rect{x, y - 1, x + 1, y + 2}, kBlack);
    return true;
}

// The box is measured from the zero time; a longer text (100 hours and more) widens it,
// so that no digit is cut off. It never narrows, so the wider box always covers the old.
bool StatusPanel::MeasureTimeText(const char* text) {
    if (!CanDrawText()) return false;
    const QFontMetrics metrics(QGuiApplication::font());
    const int32_t width = RoundUp8(metrics.horizontalAdvance(QString::fromLatin1(text)));
    if (timeTextBuffer_.Valid() && width <= timeTextRect_.Width()) return true;
    const Rect box{0, 0, width, RoundUp8(metrics.height())};
    if (!timeTextBuffer_.Create(box, true)) return false;
    timeTextRect_ = box;
    FillRect(timeTextBuffer_.Image(), timeTextRect_, kBackground);
    return true;
}

void StatusPanel::DrawTimeText() {
    if (!timeTextBuffer_.Valid() || !MeasureTimeText(timeText_)) return;
    FillRect(timeTextBuffer_.Image(), timeTextRect_, kBackground);
    DrawTextIn(timeTextBuffer_.Image(), timeTextRect_, timeText_, Qt::AlignCenter, true);
    const int32_t x = (window_->ClientRect().Width() - timeTextRect_.Width()) / 2;
    timeTextBuffer_.CopyTo(*window_, Moved(timeTextRect_, x, 0));
    if (dropouts_ == 0) return;
    // From the text's right edge to the volume bar, over what an earlier drawing left.
    char text[40];
    std::snprintf(text, sizeof text, "Dropouts: %" PRIu64, dropouts_);
    dropoutsRect_ = Rect{x + timeTextRect_.Width() + 8, 0, window_->ClientRect().right - kVolumeStripWidth,
                         timeTextRect_.Height()};
    if (dropoutsRect_.Width() <= 0) return;
    FillRect(window_->Image(), dropoutsRect_, kBackground);
    DrawTextIn(window_->Image(), dropoutsRect_, text, Qt::AlignLeft | Qt::AlignVCenter, true);
    window_->MarkChanged(dropoutsRect_);
}

void StatusPanel::ShowDropouts(uint64_t count) {
    dropouts_ = count;
    if (window_ != nullptr && window_->Usable()) DrawTimeText();
}

void StatusPanel::ResetPositionBar() {
    FillRect(positionBuffer_.Image(), Inside(Rect{0, 0, positionBuffer_.Width(), positionBuffer_.Height()}), kLight);
    filledColumns_ = 1;
}

void StatusPanel::ShowPosition(uint32_t rate, uint64_t total, uint64_t position) {
    if (window_ == nullptr || !window_->Usable() || !timeTextBuffer_.Valid()) return;
    if (total != 0 && position != 0 && position > total) position %= total;
    if (rate != 0 && position != 0) {
        FormatPosition(timeText_, sizeof timeText_, rate, position);
    } else {
        std::snprintf(timeText_, sizeof timeText_, "%s", kZeroTime);
        filledColumns_ = 1;
    }
    DrawTimeText();
    if (recordArmed_) return;

    const int32_t width = positionBarRect_.Width();
    const int32_t height = positionBarRect_.Height();
    if (!positionBuffer_.Valid() || positionBuffer_.Width() != width || positionBuffer_.Height() != height) {
        if (!positionBuffer_.Create(positionBarRect_, true)) return;
        FrameRect(positionBuffer_.Image(), Rect{0, 0, width, height}, kBlack);
        ResetPositionBar();
    }
    if (total != 0 && position != 0) {
        fraction_ = static_cast<float>(position) / static_cast<float>(total);
        const auto target = static_cast<int32_t>(fraction_ * static_cast<float>(width - 2));
        if (target < filledColumns_) ResetPositionBar();
        for (; filledColumns_ < target; ++filledColumns_) positionBuffer_.VerticalLine(filledColumns_, 1, height - 2, kStrong);
    } else {
        ResetPositionBar();
        fraction_ = 0.0f;  // a later repaint must not bring back the old track's progress
    }
    positionBuffer_.CopyTo(*window_, positionBarRect_);
}

void StatusPanel::DrawPositionBar() {
    if (window_ == nullptr || !window_->Usable()) return;
    DrawTimeText();
    const Rect& bar = positionBarRect_;
    if (bar.Width() <= 0 || bar.Height() <= 0) return;
    FrameRect(window_->Image(), bar, kBlack);
    FillRect(window_->Image(), Inside(bar), kLight);
    const auto filled = static_cast<int32_t>(static_cast<float>(bar.Width()) * fraction_);
    if (filled != 0) FillRect(window_->Image(), Inside(Rect{bar.left, bar.top, bar.left + filled, bar.bottom}), kStrong);
    window_->MarkChanged(bar);
}

void StatusPanel::ClearTitle() {
    if (!buttonsBuffer_.Valid() || window_ == nullptr || !window_->Usable()) return;
    const Rect client = window_->ClientRect();
    titleRect_ = Rect{0, 25, client.Width(), 43};
    if (!titleBuffer_.Valid() || client.Width() != lastTitleClient_.Width() ||
        client.Height() != lastTitleClient_.Height()) {
        lastTitleClient_ = client;
        if (!titleBuffer_.Create(titleRect_, true)) return;
        FillRect(titleBuffer_.Image(), Rect{0, 0, titleRect_.Width(), titleRect_.Height()}, kBackground);
    }
    titleBuffer_.CopyTo(*window_, titleRect_);
}

void StatusPanel::DrawTitle(const char* text) {
    if (text == nullptr || text[0] == '\0' || !buttonsBuffer_.Valid()) return;
    if (window_ == nullptr || !window_->Usable()) return;
    // Centred in the band of the current width, also after a resize without ClearTitle,
    // and over an empty band: a shorter title must not leave the ends of a longer one.
    titleRect_ = Rect{0, 25, window_->ClientRect().Width(), 43};
    FillRect(window_->Image(), titleRect_, kBackground);
    DrawTextIn(window_->Image(), titleRect_, text, Qt::AlignCenter, true);
    window_->MarkChanged(titleRect_);
}
