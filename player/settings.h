// The one setting kept between runs (the device number chosen last), and the shell's
// process-wide device state that the player and the shell share.
#pragma once

#include <atomic>
#include <cstdint>

// Index of the driver in the host's driver list, as the registry value "Devnum" under
// the current user's "Software\Marrow Lane Works\Bellwave\Options".
// True when a value was read into number; number is left alone otherwise.
bool LoadDeviceNumber(int32_t& number);
// True when the value was written.
bool SaveDeviceNumber(int32_t number);

// A device is started and configured (written by the player's start-up and device
// change and by the device dialog, read by the click handler; any thread).
extern std::atomic<bool> deviceUsable;
// The device index chosen last; -1 = none.
extern std::atomic<int32_t> selectedDevice;
