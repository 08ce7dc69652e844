// bellwave-cli's commands. Each returns the exit status: 0 success, 1 a failure it
// explained on standard error, 2 bad usage.
#pragma once

int RunDevices(int argc, char** argv);
int RunTone(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunEncode(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunRecord(int argc, char** argv);

// ---- shared by play and record (cli/cmd_play.cpp) ----------------------------------

// A driver id or a driver's name -> the driver's index; -1 when none matches.
int FindDriver(const char* device);
// Ctrl-C ends play and record cleanly (the device stopped, files completed).
void CatchInterrupt();
bool Interrupted();

// ---- the device failing under play and record (cli/device_report.cpp) ---------------

class DeviceWatch;
enum class DeviceEvent;
class TerminalWindow;

// The dropouts on the status line when their count changed.
void ReportDropouts(const DeviceWatch& watch, TerminalWindow& window);
// Tells the person what the device watch reported: dropouts as ReportDropouts; for
// `command`, the device gone, back or given up on, on standard error.
void ReportDeviceEvent(const char* command, DeviceEvent event, const DeviceWatch& watch, TerminalWindow& window);
