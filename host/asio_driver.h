// The driver boundary: the interface an audio driver plug-in implements and the host
// drives, with the structures, sample types, error codes and message selectors of the
// public ASIO standard, written here for Linux.
//
// Contract between host and driver
// - Creation: the host creates a driver through platform/com (CoCreateInstance), the
//   driver's class id serving as class and interface id. A plug-in library exports
//   DllGetClassObject (platform/com.h), which returns a new object with one reference.
// - Threads: every method is called from the host's application thread. The driver
//   calls ASIOCallbacks::bufferSwitch and ASIOCallbacks::asioMessage from its own
//   thread (its clock or the audio server's callback), never from inside a method the
//   host is calling, except that asioMessage may be called from any thread.
// - Order: init, then queries (getChannels, getLatencies, getBufferSize,
//   getSampleRate, getChannelInfo), createBuffers, outputReady once as a probe, start;
//   teardown is stop, disposeBuffers, Release. stop, disposeBuffers and Release must
//   return promptly even when the device or its server has gone away.
// - Buffers: createBuffers fills buffers[0] and buffers[1] of every ASIOBufferInfo with
//   two halves of bufferSize samples in the channel's sample type. After start the
//   driver calls bufferSwitch(index) once per period, alternating index 0, 1, 0, 1:
//   the host then fills output half `index` and reads input half `index`. A driver
//   plays output half `index` after that call returns (or after outputReady).
// - Validation: the driver validates every argument it is given (channel numbers,
//   buffer sizes, null pointers) and answers ASE_InvalidParameter or ASE_InvalidMode;
//   the host never assumes more than the results tell it.
// - Sample rate: the host never sets the rate; it reads it with getSampleRate. A
//   driver that cannot tell the rate answers ASE_NotPresent.
// - Reset request: a driver that can no longer serve its buffers (its device or server
//   gone, the rate changed, a period it cannot absorb) sends kAsioResetRequest through
//   asioMessage once, from a thread that may block. The host posts it on to the
//   application, which is expected to close the device and open it again.
// - Dropout counters (optional): a driver may answer QueryInterface(IID_IDriverDropouts)
//   with an IDriverDropouts (below). The host reads it on its application thread; the
//   driver updates the counts as atomics, with no lock and no allocation, on whatever
//   thread sees the dropout. A driver without it has no dropouts to tell.
// - Nothing is thrown across this boundary.
#pragma once

#include <cstdint>

#include "platform/com.h"

using ASIOBool = long;
enum : long { ASIOFalse = 0, ASIOTrue = 1 };

using ASIOSampleRate = double;  // Hz

struct ASIOSamples {
    unsigned long hi;
    unsigned long lo;
};

struct ASIOTimeStamp {
    unsigned long hi;
    unsigned long lo;
};

using ASIOError = long;
enum : long {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3f4847a0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

using ASIOSampleType = long;
enum : long {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
    ASIOSTDSDInt8LSB1 = 32,
    ASIOSTDSDInt8MSB1 = 33,
    ASIOSTDSDInt8NER8 = 40,
    ASIOSTLastEntry,
};

struct ASIOClockSource {
    long index;
    long associatedChannel;
    long associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    long channel;        // in: channel number
    ASIOBool isInput;    // in: direction
    ASIOBool isActive;   // out: a buffer was created for it
    long channelGroup;   // out
    ASIOSampleType type; // out
    char name[32];       // out
};

struct ASIOBufferInfo {
    ASIOBool isInput;  // in
    long channelNum;   // in
    void* buffers[2];  // out: the two halves
};

enum : unsigned long {
    kSystemTimeValid = 1,
    kSamplePositionValid = 1 << 1,
    kSampleRateValid = 1 << 2,
    kSpeedValid = 1 << 3,
    kSampleRateChanged = 1 << 4,
    kClockSourceChanged = 1 << 5,
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    unsigned long flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    unsigned long flags;
    char future[64];
};

struct ASIOTime {
    long reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

// Selectors of ASIOCallbacks::asioMessage.
enum : long {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion,
    kAsioResetRequest,
    kAsioBufferSizeChange,
    kAsioResyncRequest,
    kAsioLatenciesChanged,
    kAsioSupportsTimeInfo,
    kAsioSupportsTimeCode,
    kAsioMMCCommand,
    kAsioSupportsInputMonitor,
    kAsioSupportsInputGain,
    kAsioSupportsInputMeter,
    kAsioSupportsOutputGain,
    kAsioSupportsOutputMeter,
    kAsioOverload,
    kAsioNumMessageSelectors,
};

// The host's callbacks, given to createBuffers. Called on the driver's thread.
struct ASIOCallbacks {
    void (*bufferSwitch)(long doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sampleRate);
    long (*asioMessage)(long selector, long value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, long doubleBufferIndex, ASIOBool directProcess);
};

// The driver object, methods in the standard's order.
class IASIO : public IUnknown {
public:
    // sysHandle is the host's MessageWindow* (platform/messages.h), or null.
    // Returns ASIOTrue on success; on failure getErrorMessage tells why.
    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0;      // 32 bytes at least
    virtual long getDriverVersion() = 0;
    virtual void getErrorMessage(char* text) = 0;    // 128 bytes at least
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(long* numInputChannels, long* numOutputChannels) = 0;
    virtual ASIOError getLatencies(long* inputLatency, long* outputLatency) = 0;
    virtual ASIOError getBufferSize(long* minSize, long* maxSize, long* preferredSize, long* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource* clocks, long* numSources) = 0;
    virtual ASIOError setClockSource(long reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples* samplePosition, ASIOTimeStamp* timeStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, long numChannels, long bufferSize,
                                    ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(long selector, void* opt) = 0;
    virtual ASIOError outputReady() = 0;
};

// {3C6E1B52-9A0D-4F27-B8E4-71D05A2C9E16}
inline constexpr IID IID_IDriverDropouts = {
    0x3c6e1b52, 0x9a0d, 0x4f27, {0xb8, 0xe4, 0x71, 0xd0, 0x5a, 0x2c, 0x9e, 0x16}};

// What a driver lost on its side, counted since init. Any thread may call; nothing
// blocks.
class IDriverDropouts : public IUnknown {
public:
    // Cycles the device or its server missed: JACK's xruns, ALSA's under- and
    // over-runs it recovered from.
    virtual long long Xruns() = 0;
    // Times the device's inputs were lost while streaming (the capture side stalled or
    // went away): from then on the input halves are silence and the outputs play on.
    virtual long long InputLosses() = 0;
};
