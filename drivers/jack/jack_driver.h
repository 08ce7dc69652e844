// The JACK driver's class id, as registered in machine.reg. The driver is a JACK client
// with two output ports (out_1, out_2) and two input ports (in_1, in_2); the server sets
// the period and the rate, and its process callback runs the buffer switches. The host's
// buffer size divides the player's block (platform/audio_block.h) whatever the period; the driver
// also answers IID_IDriverDropouts (host/asio_driver.h) with the server's xruns.
//
// Settings (HKLM\software\asio\<key whose "clsid" is this class>):
//   "ClientName"       string  "Bellwave"  the JACK client's name
//   "ConnectPhysical"  dword   1           connect the ports to the server's physical
//                                          ports when started (0: leave them alone)
#pragma once

#include "platform/com.h"

// Written here only: the build reads it from here for machine.reg.
inline constexpr CLSID CLSID_JackDriver = {
    0x0cad8258, 0xa536, 0x4162, {0x89, 0x80, 0xa5, 0x50, 0xe3, 0x60, 0xe1, 0x4c}};
