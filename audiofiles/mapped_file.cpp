#include "audiofiles/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// The open mappings, read by the SIGBUS handler on whichever thread faulted.
std::atomic<MappedFile*> gMappings[MappedFile::kGuardedMappings];
struct sigaction gPreviousBusAction;
uintptr_t gPageBytes = 4096;

// True when the fault at `at` lay in a mapped file that was cut short; its pages from
// there on then read as zeros.
bool ZeroCutPages(uintptr_t at) {
    for (std::atomic<MappedFile*>& slot : gMappings) {
        MappedFile* file = slot.load(std::memory_order_acquire);
        if (file == nullptr) continue;
        const uintptr_t begin = reinterpret_cast<uintptr_t>(file->view);
        const uintptr_t end = begin + file->size;
        if (at < begin || at >= end) continue;
        // The file now ends before this page, so every later page is gone too. The raw
        // call, since sanitizers wrap mmap() with code not made for signal handlers.
        const uintptr_t page = at & ~(gPageBytes - 1);
        if (syscall(SYS_mmap, page, end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == -1)
            return false;
        file->cutShort.store(true, std::memory_order_release);
        return true;
    }
    return false;
}

void OnBusError(int number, siginfo_t* info, void* context) {
    // si_addr is the address read only for a fault, not for a signal sent by kill.
    // Returning retries the read, which now finds zeros.
    if (info->si_code > 0 && ZeroCutPages(reinterpret_cast<uintptr_t>(info->si_addr))) return;
    // Not a page of a mapped file: as if we were not here.
    if (gPreviousBusAction.sa_flags & SA_SIGINFO) {
        gPreviousBusAction.sa_sigaction(number, info, context);
    } else if (gPreviousBusAction.sa_handler != SIG_DFL && gPreviousBusAction.sa_handler != SIG_IGN) {
        gPreviousBusAction.sa_handler(number);
    } else {
        // Delivered again once this handler returns, it ends the process as it would have.
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigaction(SIGBUS, &fallback, nullptr);
        raise(number);
    }
}

void CatchBusErrors() {
    gPageBytes = uintptr_t(sysconf(_SC_PAGESIZE));
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGBUS, &action, &gPreviousBusAction);
}

}  // namespace

bool MappedFile::Open(const char* filePath) {
    Close();
    if (filePath == nullptr) return false;
    static std::once_flag caught;
    std::call_once(caught, CatchBusErrors);
    fileHandle = ::open(filePath, O_RDONLY | O_CLOEXEC);
    if (fileHandle < 0) return false;
    struct stat info {};
    if (::fstat(fileHandle, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        Close();
        return false;
    }
    const uint64_t fileBytes = uint64_t(info.st_size);
    const uint32_t bytes = fileBytes > UINT32_MAX ? UINT32_MAX : uint32_t(fileBytes);
    void* mapped = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fileHandle, 0);
    if (mapped == MAP_FAILED) {
        Close();
        return false;
    }
    view = static_cast<const uint8_t*>(mapped);
    size = bytes;
    // Only a mapping in the table is safe to read; all slots taken is a refusal.
    bool listed = false;
    for (std::atomic<MappedFile*>& slot : gMappings) {
        MappedFile* none = nullptr;
        if ((listed = slot.compare_exchange_strong(none, this, std::memory_order_acq_rel))) break;
    }
    if (!listed) {
        Close();
        return false;
    }
    ::madvise(mapped, bytes, MADV_SEQUENTIAL);  // playback reads front to back
    std::snprintf(path, sizeof path, "%s", filePath);
    return true;
}

void MappedFile::Close() {
    for (std::atomic<MappedFile*>& slot : gMappings) {
        MappedFile* self = this;
        slot.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    }
    if (view != nullptr) ::munmap(const_cast<uint8_t*>(view), size);
    if (fileHandle >= 0) ::close(fileHandle);
    view = nullptr;
    fileHandle = -1;
    size = 0;
    path[0] = '\0';
    cutShort.store(false, std::memory_order_release);
}
