// Bellwave's own icon, drawn here: a dark tile with a short run of visualiser bars in
// the panel's colours, centred on the middle line and rising to a bell-shaped peak.
#pragma once

#include <QIcon>
#include <QImage>

// The icon at size x size pixels, with a transparent surround.
QImage DrawAppIcon(int size);
// Large and small sizes together, for the window and the About box.
QIcon MakeAppIcon();
