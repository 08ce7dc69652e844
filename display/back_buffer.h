// Off-screen 32-bit images and the window's client-sized screen image.
//
// A pixel is red x 65536 + green x 256 + blue (QImage::Format_RGB32). Qt keeps 0xFF in
// the top byte of such pixels, so everything written here carries it (kOpaque); compare
// pixels with the top byte masked off.
#pragma once

#include <cstdint>

#include <QImage>

constexpr uint32_t kOpaque = 0xFF000000u;

// Left, top, right, bottom; right and bottom are one past the last column and row.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const Rect&) const = default;
};

// The window's client area. Whatever the panel draws on the window lands in this one
// image; the widget copies it to the screen in its paint event. An image that could not
// be made (or a zero size) is a window without a drawing context: drawing does nothing.
//
// The widget's side: on a resize, Resize to the new client size (which erases to the
// background colour) and redraw the panel; after any panel call, update() the area that
// TakeChanged returns; in paintEvent, draw Image() at (0, 0).
class ScreenImage {
public:
    ScreenImage(int32_t width, int32_t height) { Resize(width, height); }

    // A new image of the client size filled with the background colour; false when it
    // could not be made.
    bool Resize(int32_t width, int32_t height);
    Rect ClientRect() const { return Rect{0, 0, image_.width(), image_.height()}; }
    bool Usable() const { return !image_.isNull(); }
    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }

    // The area drawn since the last call, for the widget's update; empty when none.
    void MarkChanged(const Rect& rect);
    Rect TakeChanged();

private:
    QImage image_;
    Rect changed_;
};

// An off-screen image drawn with QPainter or pixel by pixel, copied to the window whole.
class BackBuffer {
public:
    // Gives back any image held, then makes one of the rectangle's size: white, or black
    // (zeroed) when whiteFill is false. False (and no image) when the size is not
    // positive or the image cannot be made.
    bool Create(const Rect& rect, bool whiteFill);
    void Release();
    bool Valid() const { return !image_.isNull(); }

    // The whole image to the window at the rectangle's top-left corner, clipped.
    void CopyTo(ScreenImage& window, const Rect& windowRect) const;
    // length pixels (at least one) of column x from row y down, clipped to the image.
    void VerticalLine(int32_t x, int32_t y, int32_t length, uint32_t pixel);

    QImage& Image() { return image_; }
    const QImage& Image() const { return image_; }
    // First pixel of the top row; rows follow each other directly. Taken afresh on every
    // call, so a copy of the image made elsewhere is never written through.
    uint32_t* Pixels() { return reinterpret_cast<uint32_t*>(image_.bits()); }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    uint32_t ByteSize() const { return byteSize_; }

private:
    Rect rect_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t byteSize_ = 0;
    QImage image_;
};

// Pixel drawing on a 32-bit image, clipped to it; rectangles exclude right and bottom.
void FillRect(QImage& image, const Rect& rect, uint32_t pixel);
void FrameRect(QImage& image, const Rect& rect, uint32_t pixel);
// Fills the 4-connected area around (x, y) up to black pixels; nothing when (x, y) is
// black or outside the image.
void FloodFill(QImage& image, int32_t x, int32_t y, uint32_t pixel);
// Copies source to target with its top-left corner at (x, y), clipped.
void CopyImage(QImage& target, int32_t x, int32_t y, const QImage& source);
