// The host's debug log: plain-text lines in "CorvaneDbg.Log" of the current folder,
// with the two previous runs kept as "CorvaneDbg1.Log" and "CorvaneDbg2.Log".
//
// Every operation may be called from any thread; one process-wide lock serialises the
// writes, so lines from the application's thread and the driver's thread never
// interleave. While no log is open (before DebugLogOpen, after DebugLogClose, or when
// the file could not be created) every operation writes nothing.
#pragma once

#include <cstddef>
#include <ctime>

// Rotates the logs, creates the new one and writes its header and "Timer initialized".
void DebugLogOpen();
// Writes the footer and closes the file.
void DebugLogClose();

void DebugLog(const char* text);                                        // text "\n"
void DebugLogValue(const char* text, int value);                        // text ": " value "\n"
void DebugLogValueInline(const char* text, int value);                  // text ": " value " - "
void DebugLogPair(const char* text1, int value1, const char* text2, int value2);  // "a: 1, b: 2\n"
void DebugLogDate();  // e.g. "Saturday, December/05/2026 "
void DebugLogTime();  // e.g. "09:05:03 045\n"

// Line buffers with their terminators; a longer text is cut so that the line fits.
constexpr size_t kDebugLogBytes = 1024;
constexpr size_t kDebugLogValueBytes = 160;
constexpr size_t kDebugLogPairBytes = 256;

// The date and time texts as DebugLogDate and DebugLogTime write them, for a given
// local time. text holds at least 64 bytes.
void FormatDebugLogDate(const std::tm& local, char* text, size_t bytes);
void FormatDebugLogTime(int hours, int minutes, int seconds, int milliseconds, char* text, size_t bytes);
