// The installed drivers: one record per usable driver under HKLM\software\asio, found
// through its class id in HKCR\clsid, in registry (alphabetical) order. A driver whose
// class has no library, whose library file is missing, will not load or lacks
// DllGetClassObject is left out; ids count the usable drivers only.
//
// Used on the application's thread only.
#pragma once

#include <vector>

#include "host/asio_driver.h"
#include "platform/com.h"

// Result codes of the list's operations; asioOpenDriver also passes on a failing COM
// result unchanged.
constexpr long DRVERR_OK = 0;
constexpr long DRVERR_INVALID_PARAM = -5001;
constexpr long DRVERR_DEVICE_ALREADY_OPEN = -5002;
constexpr long DRVERR_DEVICE_NOT_FOUND = -5003;

constexpr int kDriverPathBytes = 512;
constexpr int kDriverNameBytes = 128;
constexpr int kDriverNamesBufferBytes = 2048;  // GetASIODriverNames' buffer

struct AsioDriverRecord {
    int id = 0;
    CLSID clsid{};                      // all zero when the registered text does not parse
    char dllPath[kDriverPathBytes] = {};
    char name[kDriverNameBytes] = {};
    IASIO* driver = nullptr;            // created by asioOpenDriver
};

class AsioDriverList {
public:
    // Reads the registry; initialises COM for this thread when it finds a driver.
    AsioDriverList();
    // Releases every created driver (last first), then uninitialises COM if it was
    // initialised.
    ~AsioDriverList();
    AsioDriverList(const AsioDriverList&) = delete;
    AsioDriverList& operator=(const AsioDriverList&) = delete;

    int Count() const { return static_cast<int>(records_.size()); }

    // Creates driver id; on success it is also stored as the host's driver.
    long asioOpenDriver(int id);
    // The name into buffer of size bytes; a name that does not fit ends in "...".
    long asioGetDriverName(int id, char* buffer, int size);
    // The library path into a 128-byte buffer; a longer path leaves it empty (-5001).
    long asioGetDriverPath(int id, char* buffer);

private:
    std::vector<AsioDriverRecord> records_;
    bool comInitialised_ = false;
};

// Packs the installed drivers' names, each with its terminator, into a 2048-byte
// buffer (cleared by the caller), stopping before a name that would reach its end.
// Returns the number of installed drivers, even when not every name fitted.
int GetASIODriverNames(char* buffer);

// The host's driver: the single process-wide reference that asioOpenDriver sets. The
// list clears it when it releases that driver.
IASIO*& HostDriverReference();
