#include "host/debug_log.h"

#include <locale.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/kernel.h"

namespace {

const char* const kLogName = "CorvaneDbg.Log";
const char* const kPreviousName = "CorvaneDbg1.Log";
const char* const kOldestName = "CorvaneDbg2.Log";

// The lock lives as long as the process, so a thread that writes while another closes
// the log finds either the open file or none, never a destroyed lock.
std::mutex gLock;
std::FILE* gFile = nullptr;

// Reset at each opening; kept for the log's own use, read by nothing else.
struct Timer {
    double elapsedSeconds = 0.0;
    int64_t start = 0;
    int64_t last = 0;
    int counter = 0;
    bool running = false;
    int64_t frequency = 0;
};
Timer gTimer;

// Writes text cut to fit room bytes (room counts no terminator).
void Append(char* line, size_t* used, const char* text, size_t room) {
    size_t length = text ? std::strlen(text) : 0;
    if (length > room) length = room;
    if (length) std::memcpy(line + *used, text, length);
    *used += length;
    line[*used] = '\0';
}

void WriteLocked(const char* line, size_t bytes, bool flush) {
    if (!gFile) return;
    std::fwrite(line, 1, bytes, gFile);
    if (flush) std::fflush(gFile);
}

// text, then the formatted tail; the text is cut so that both fit in bufferBytes.
void WriteLine(const char* text, const char* tail, size_t bufferBytes) {
    char line[kDebugLogBytes];
    size_t tailLength = std::strlen(tail);
    size_t used = 0;
    Append(line, &used, text, bufferBytes - 1 - tailLength);
    Append(line, &used, tail, tailLength);
    std::lock_guard<std::mutex> lock(gLock);
    WriteLocked(line, used, true);
}

void WriteDateLocked() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    FormatDebugLogDate(local, text, sizeof(text));
    WriteLocked(text, std::strlen(text), false);
}

void WriteTimeLocked() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    char text[32];
    FormatDebugLogTime(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000), text,
                       sizeof(text));
    WriteLocked(text, std::strlen(text), false);
}

void WriteTextLocked(const char* text) {
    WriteLocked(text, std::strlen(text), false);
}

}  // namespace

void FormatDebugLogDate(const std::tm& local, char* text, size_t bytes) {
    if (!text || bytes == 0) return;
    // Day and month names in English whatever the process's locale.
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    size_t written = cLocale ? strftime_l(text, bytes, "%A, %B/%d/%Y ", &local, cLocale)
                             : std::strftime(text, bytes, "%A, %B/%d/%Y ", &local);
    if (written == 0) text[0] = '\0';
}

void FormatDebugLogTime(int hours, int minutes, int seconds, int milliseconds, char* text, size_t bytes) {
    if (!text || bytes == 0) return;
    std::snprintf(text, bytes, "%02d:%02d:%02d %03d\n", hours, minutes, seconds, milliseconds);
}

void DebugLogOpen() {
    std::lock_guard<std::mutex> lock(gLock);
    if (gFile) {
        // Opened again without a close: finish the old file before it is rotated away.
        std::fclose(gFile);
        gFile = nullptr;
    }
    std::remove(kOldestName);
    std::rename(kPreviousName, kOldestName);
    std::rename(kLogName, kPreviousName);
    gFile = std::fopen(kLogName, "w");
    if (gFile) {
        WriteTextLocked("Corvane Debug log\r\n\r\n");
        WriteTextLocked("Date: ");
        WriteDateLocked();
        WriteTextLocked("- Time started: ");
        WriteTimeLocked();
        WriteTextLocked("\r\n");
    }
    gTimer = Timer{};
    WriteLocked("Timer initialized\n", std::strlen("Timer initialized\n"), true);
    gTimer.frequency = QueryPerformanceFrequency();
}

void DebugLogClose() {
    std::lock_guard<std::mutex> lock(gLock);
    if (!gFile) return;
    WriteTextLocked("\n\nShutting down debug logging system...\n");
    WriteTextLocked("Date: ");
    WriteDateLocked();
    WriteTextLocked("- Time: ");
    WriteTimeLocked();
    std::fflush(gFile);
    std::fclose(gFile);
    gFile = nullptr;
}

void DebugLog(const char* text) {
    WriteLine(text, "\n", kDebugLogBytes);
}

void DebugLogValue(const char* text, int value) {
    char tail[32];
    std::snprintf(tail, sizeof(tail), ": %d\n", value);
    WriteLine(text, tail, kDebugLogValueBytes);
}

void DebugLogValueInline(const char* text, int value) {
    char tail[32];
    std::snprintf(tail, sizeof(tail), ": %d - ", value);
    WriteLine(text, tail, kDebugLogValueBytes);
}

void DebugLogPair(const char* text1, int value1, const char* text2, int value2) {
    char middle[32], tail[32];
    std::snprintf(middle, sizeof(middle), ": %d, ", value1);
    std::snprintf(tail, sizeof(tail), ": %d\n", value2);
    // The texts share what the numbers leave; when both are long each keeps half.
    long room = static_cast<long>(kDebugLogPairBytes - 1 - std::strlen(middle) - std::strlen(tail));
    long length1 = text1 ? static_cast<long>(std::strlen(text1)) : 0;
    long length2 = text2 ? static_cast<long>(std::strlen(text2)) : 0;
    long keep2 = std::min(length2, std::max(room - length1, room / 2));
    long keep1 = std::min(length1, room - keep2);
    char line[kDebugLogPairBytes];
    size_t used = 0;
    Append(line, &used, text1, static_cast<size_t>(keep1));
    Append(line, &used, middle, std::strlen(middle));
    Append(line, &used, text2, static_cast<size_t>(keep2));
    Append(line, &used, tail, std::strlen(tail));
    std::lock_guard<std::mutex> lock(gLock);
    WriteLocked(line, used, true);
}

void DebugLogDate() {
    std::lock_guard<std::mutex> lock(gLock);
    WriteDateLocked();
}

void DebugLogTime() {
    std::lock_guard<std::mutex> lock(gLock);
    WriteTimeLocked();
}
