// The device to open at start-up, chosen before the host starts (the host's own choice,
// for a caller's index below 0, stays as it is).
//
// A stored device number wins. With none stored and more than one driver installed, the
// drivers that work out of the box are tried in turn: "JACK" (its init never starts a
// server, so it succeeds only when one already runs), "ALSA" (its "Device", "default" as
// installed), then "Bellwave Virtual Device". The first whose init succeeds is stored as
// the device number and returned. Otherwise -1: the host chooses (the only driver, or
// none).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// notes receives one line per step of a first start: every driver passed over and why,
// then the one chosen; nothing when a number was stored or there was nothing to choose.
int32_t ChooseStartDevice(std::vector<std::string>& notes);
// Writes the notes to the host's debug log, which opens with ASIOInit.
void LogStartNotes(const std::vector<std::string>& notes);
