#include "display/back_buffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "display/colours.h"

namespace {

// The part of rect inside a width x height image.
Rect Clip(const Rect& rect, int32_t width, int32_t height) {
    return Rect{std::max(rect.left, 0), std::max(rect.top, 0), std::min(rect.right, width),
                std::min(rect.bottom, height)};
}

}  // namespace

bool ScreenImage::Resize(int32_t width, int32_t height) {
    image_ = QImage();
    changed_ = Rect{};
    if (width <= 0 || height <= 0) return false;
    image_ = QImage(width, height, QImage::Format_RGB32);
    if (image_.isNull()) return false;
    image_.fill(kBackground | kOpaque);
    changed_ = ClientRect();
    return true;
}

void ScreenImage::MarkChanged(const Rect& rect) {
    Rect clipped = Clip(rect, image_.width(), image_.height());
    if (clipped.Width() <= 0 || clipped.Height() <= 0) return;
    if (changed_.Width() <= 0 || changed_.Height() <= 0) {
        changed_ = clipped;
        return;
    }
    changed_ = Rect{std::min(changed_.left, clipped.left), std::min(changed_.top, clipped.top),
                    std::max(changed_.right, clipped.right), std::max(changed_.bottom, clipped.bottom)};
}

Rect ScreenImage::TakeChanged() {
    Rect changed = changed_;
    changed_ = Rect{};
    return changed;
}

bool BackBuffer::Create(const Rect& rect, bool whiteFill) {
    Release();
    if (rect.Width() <= 0 || rect.Height() <= 0) return false;
    image_ = QImage(rect.Width(), rect.Height(), QImage::Format_RGB32);
    if (image_.isNull()) return false;
    rect_ = Rect{0, 0, rect.Width(), rect.Height()};
    width_ = rect.Width();
    height_ = rect.Height();
    byteSize_ = static_cast<uint32_t>(width_) * static_cast<uint32_t>(height_) * 4u;
    image_.fill(whiteFill ? (kWhite | kOpaque) : kOpaque);
    return true;
}

void BackBuffer::Release() {
    image_ = QImage();
    rect_ = Rect{};
    width_ = height_ = 0;
    byteSize_ = 0;
}

void BackBuffer::CopyTo(ScreenImage& window, const Rect& windowRect) const {
    if (!Valid() || !window.Usable()) return;
    CopyImage(window.Image(), windowRect.left, windowRect.top, image_);
    window.MarkChanged(Rect{windowRect.left, windowRect.top, windowRect.left + width_, windowRect.top + height_});
}

void BackBuffer::VerticalLine(int32_t x, int32_t y, int32_t length, uint32_t pixel) {
    if (!Valid() || x < 0 || x >= width_) return;
    int32_t first = std::max(y, 0);
    int32_t end = std::min(y + std::max(length, 1), height_);
    uint32_t* p = Pixels() + static_cast<size_t>(first) * width_ + x;
    for (int32_t row = first; row < end; ++row, p += width_) *p = pixel | kOpaque;
}

void FillRect(QImage& image, const Rect& rect, uint32_t pixel) {
    if (image.isNull()) return;
    Rect r = Clip(rect, image.width(), image.height());
    for (int32_t y = r.top; y < r.bottom; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        std::fill(row + r.left, row + std::max(r.left, r.right), pixel | kOpaque);
    }
}

void FrameRect(QImage& image, const Rect& rect, uint32_t pixel) {
    if (rect.Width() <= 0 || rect.Height() <= 0) return;
    FillRect(image, Rect{rect.left, rect.top, rect.right, rect.top + 1}, pixel);
    FillRect(image, Rect{rect.left, rect.bottom - 1, rect.right, rect.bottom}, pixel);
    FillRect(image, Rect{rect.left, rect.top, rect.left + 1, rect.bottom}, pixel);
    FillRect(image, Rect{rect.right - 1, rect.top, rect.right, rect.bottom}, pixel);
}

void FloodFill(QImage& image, int32_t x, int32_t y, uint32_t pixel) {
    const int32_t width = image.width();
    const int32_t height = image.height();
    auto isBorder = [&](int32_t px, int32_t py) {
        return (reinterpret_cast<const uint32_t*>(image.constScanLine(py))[px] & 0xFFFFFFu) == 0;
    };
    if (image.isNull() || x < 0 || y < 0 || x >= width || y >= height || isBorder(x, y)) return;
    // The areas filled here are buttons and strips, a few thousand pixels at most.
    std::vector<uint8_t> seen(static_cast<size_t>(width) * height, 0);
    std::vector<std::pair<int32_t, int32_t>> pending{{x, y}};
    seen[static_cast<size_t>(y) * width + x] = 1;
    while (!pending.empty()) {
        auto [px, py] = pending.back();
        pending.pop_back();
        reinterpret_cast<uint32_t*>(image.scanLine(py))[px] = pixel | kOpaque;
        const int32_t next[4][2] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
        for (const auto& n : next) {
            if (n[0] < 0 || n[1] < 0 || n[0] >= width || n[1] >= height) continue;
            uint8_t& mark = seen[static_cast<size_t>(n[1]) * width + n[0]];
            if (mark || isBorder(n[0], n[1])) continue;
            mark = 1;
            pending.push_back({n[0], n[1]});
        }
    }
}

void CopyImage(QImage& target, int32_t x, int32_t y, const QImage& source) {
    if (target.isNull() || source.isNull()) return;
    Rect r = Clip(Rect{x, y, x + source.width(), y + source.height()}, target.width(), target.height());
    if (r.Width() <= 0 || r.Height() <= 0) return;
    const size_t bytes = static_cast<size_t>(r.Width()) * 4;
    for (int32_t row = r.top; row < r.bottom; ++row) {
        const auto* from = reinterpret_cast<const uint32_t*>(source.constScanLine(row - y)) + (r.left - x);
        std::memcpy(reinterpret_cast<uint32_t*>(target.scanLine(row)) + r.left, from, bytes);
    }
}
