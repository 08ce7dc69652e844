// The panel's colours as pixels (red x 65536 + green x 256 + blue), the LED and volume
// bar colour ramp and the visualiser's palette.
#pragma once

#include <cstdint>

constexpr uint32_t kBackground = 0xEDF5FE;  // window, text, title band, band between meters
constexpr uint32_t kLight = 0xC7E1FA;       // button faces, volume bar face, empty position bar
constexpr uint32_t kStrong = 0x3692ED;      // glyphs, filled position bar
constexpr uint32_t kRecordColour = 0xFF0000;  // record glyph while armed
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kMiddleLine = 0x808080;  // the visualiser's middle line, mid grey

constexpr int kPaletteSize = 90;

// Colour i of the ramp (19 to 50 are used: blue-violet to pinkish red). forBrush packs it
// as a colour reference (red in the low byte), otherwise as a pixel (red in the high byte).
uint32_t MakeColour(int index, bool forBrush);

// The 90-colour hue circle blue, cyan, green, yellow, red, magenta and back towards blue,
// as pixels; returns the number of entries written (kPaletteSize).
int MakePalette(uint32_t (&palette)[kPaletteSize]);
