// Copying text into fixed buffers of bytes, by one of two rules: cut to fit, for text
// that is shown (names, messages); or refuse, for text whose cut would be wrong (paths).
#pragma once

#include <cstddef>
#include <cstring>

// Copies text, cut to bytes - 1 characters, always terminated; null text copies as
// empty. Does nothing with no buffer.
inline void CopyTextTruncated(char* to, size_t bytes, const char* text) {
    if (to == nullptr || bytes == 0) return;
    to[0] = '\0';
    if (text == nullptr) return;
    size_t length = std::strlen(text);
    if (length >= bytes) length = bytes - 1;
    std::memcpy(to, text, length);
    to[length] = '\0';
}

// Copies text whole; false, leaving the buffer empty, for null text or text that does
// not fit with its terminator.
inline bool CopyTextOrRefuse(char* to, size_t bytes, const char* text) {
    if (to == nullptr || bytes == 0) return false;
    to[0] = '\0';
    if (text == nullptr) return false;
    const size_t length = std::strlen(text);
    if (length >= bytes) return false;
    std::memcpy(to, text, length + 1);
    return true;
}
