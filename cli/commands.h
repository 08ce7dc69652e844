// bellwave-cli's commands. Each returns the exit status: 0 success, 1 a failure it
// explained on standard error, 2 bad usage.
#pragma once

int RunDevices(int argc, char** argv);
int RunTone(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunEncode(int argc, char** argv);
