#include "mp3enc/mp3enc.h"

#include <cstring>
#include <new>

namespace mp3enc {

int32_t BitRateIndex(int32_t kbitPerSecond) {
    static const int32_t kRates[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    for (int32_t i = 1; i <= 14; ++i)
        if (kRates[i] == kbitPerSecond) return i;
    return -1;
}

int32_t SampleRateIndex(int32_t sampleRateHz) {
    switch (sampleRateHz) {
        case 44100: return 0;
        case 48000: return 1;
        case 32000: return 2;
        default: return -1;
    }
}

namespace {

// Process-wide state of the entry points.
int32_t gChannels = 0;
int32_t gBitRate = 0;
int32_t gSampleRate = 0;
Mp3Encoder* gEncoder = nullptr;
bool gActive = false;

template <typename T>
T* ZeroedArray(size_t count) {
    T* p = new (std::nothrow) T[count];
    if (p) std::memset(static_cast<void*>(p), 0, sizeof(T) * count);
    return p;
}

}  // namespace

Mp3Encoder::Mp3Encoder(int32_t sampleRate, int32_t bitRate, int channels, std::FILE* file)
    : channels_(channels == 1 ? 1 : 2), sideInfoBits_(channels == 1 ? 168 : 288) {
    settings_.mode = channels_ == 1 ? 3 : 2;
    settings_.bitRate = bitRate;
    settings_.bitRateIndex = BitRateIndex(bitRate);
    settings_.sampleRateIndex = SampleRateIndex(sampleRate);
    if (settings_.sampleRateIndex < 0 || settings_.bitRateIndex < 0 || file == nullptr) return;

    averageSlots_ = settings_.samplesPerFrame / (sampleRate / 1000.0) * bitRate / settings_.bitsPerSlot;
    wholeSlots_ = static_cast<int32_t>(averageSlots_);
    fractionalSlots_ = averageSlots_ - wholeSlots_;
    slotLag_ = -fractionalSlots_;
    if (fractionalSlots_ == 0.0) settings_.padding = 0;

    pcm_ = ZeroedArray<int16_t[kFrameSamples]>(2);
    subbands_ = ZeroedArray<SubbandSlots>(2);
    spectrum_ = ZeroedArray<double>(4 * kGranuleLines);
    ix_ = ZeroedArray<int32_t>(4 * kGranuleLines);
    writer_ = new (std::nothrow) BitWriter(file);
    tables_ = new (std::nothrow) HuffTableSet;
    filter_ = new (std::nothrow) SubbandFilter;
    mdct_ = new (std::nothrow) Mdct(channels_);
    if (tables_) quant_ = new (std::nothrow) QuantLoop(settings_, *tables_);
    if (tables_ && writer_) formatter_ = new (std::nothrow) FrameFormatter(settings_, *tables_, *writer_);
    ready_ = pcm_ && subbands_ && spectrum_ && ix_ && writer_ && tables_ && filter_ && mdct_ &&
             quant_ && formatter_;
}

Mp3Encoder::~Mp3Encoder() {
    delete formatter_;
    delete quant_;
    delete mdct_;
    delete filter_;
    delete tables_;
    delete writer_;
    delete[] ix_;
    delete[] spectrum_;
    delete[] subbands_;
    delete[] pcm_;
}

void Mp3Encoder::EncodeFrame(int32_t sampleCount, const int16_t* samples, bool flush) {
    if (!ready_) return;
    if (sampleCount < 0) sampleCount = 0;
    if (channels_ == 2) {
        int32_t m = sampleCount / 2;
        if (m > kFrameSamples) m = kFrameSamples;
        for (int32_t i = 0; i < m; ++i) {
            pcm_[0][i] = samples[2 * i];
            pcm_[1][i] = samples[2 * i + 1];
        }
        for (int32_t i = m; i < kFrameSamples; ++i) pcm_[0][i] = pcm_[1][i] = 0;
    } else {
        const int32_t m = sampleCount < kFrameSamples ? sampleCount : kFrameSamples;
        for (int32_t i = 0; i < m; ++i) pcm_[0][i] = samples[i];
        for (int32_t i = m; i < kFrameSamples; ++i) pcm_[0][i] = pcm_[1][i] = 0;
    }
    EncodeOne();
    if (flush) {
        EncodeOne();
        EncodeOne();
    }
}

void Mp3Encoder::EncodeOne() {
    if (fractionalSlots_ != 0.0) {
        if (slotLag_ > fractionalSlots_ - 1.0) {
            settings_.padding = 0;
            slotLag_ -= fractionalSlots_;
        } else {
            settings_.padding = 1;
            slotLag_ += 1.0 - fractionalSlots_;
        }
    }
    settings_.bitsPerFrame = 8 * (wholeSlots_ + settings_.padding);
    meanBits_ = (settings_.bitsPerFrame - sideInfoBits_) >> 1;

    filter_->Analyse(pcm_, subbands_, channels_);
    mdct_->Transform(subbands_, spectrum_);
    quant_->QuantiseFrame(spectrum_, side_, ix_, meanBits_, channels_);
    for (int i = 0; i < 4 * kGranuleLines; ++i) ix_[i] = spectrum_[i] < 0.0 ? -ix_[i] : ix_[i];
    formatter_->CodeSideInfo(side_);
    formatter_->CodeMainData(ix_, side_);
    formatter_->WriteFrame();
}

Mp3Encoder* ActiveMp3Encoder() { return gActive ? gEncoder : nullptr; }

}  // namespace mp3enc

using mp3enc::Mp3Encoder;

bool InitMp3Encoder(int32_t sampleRate, std::FILE* file) {
    if (mp3enc::gActive) return false;  // one recording at a time: the running one is left alone
    mp3enc::gChannels = 2;
    mp3enc::gBitRate = 128;
    mp3enc::gSampleRate = sampleRate;
    Mp3Encoder* encoder = new (std::nothrow) Mp3Encoder(sampleRate, mp3enc::gBitRate, mp3enc::gChannels, file);
    if (encoder && !encoder->Ready()) {
        delete encoder;
        encoder = nullptr;
    }
    mp3enc::gEncoder = encoder;
    mp3enc::gActive = encoder != nullptr;
    return mp3enc::gActive;
}

int32_t EncodeMp3(const int16_t* samples, int32_t frameCount) {
    if (!mp3enc::gActive) return 0;
    if (frameCount < 1 || samples == nullptr) return 1;
    const int32_t perFrame = mp3enc::gChannels * mp3enc::kFrameSamples;
    const int32_t frames = (frameCount - 1) / mp3enc::kFrameSamples + 1;
    for (int32_t f = 0; f < frames; ++f) {
        // A last, partial frame takes only the samples given and silence after them.
        const int32_t left = frameCount - f * mp3enc::kFrameSamples;
        const int32_t count = left < mp3enc::kFrameSamples ? left * mp3enc::gChannels : perFrame;
        mp3enc::gEncoder->EncodeFrame(count, samples + static_cast<size_t>(f) * perFrame, false);
    }
    return 1;
}

void CloseMp3Encoder() {
    if (!mp3enc::gActive) return;
    int16_t* zeros = new (std::nothrow) int16_t[2 * mp3enc::kFrameSamples]();
    if (zeros) mp3enc::gEncoder->EncodeFrame(mp3enc::gChannels * mp3enc::kFrameSamples, zeros, true);
    delete[] zeros;
    delete mp3enc::gEncoder;
    mp3enc::gEncoder = nullptr;
    mp3enc::gActive = false;
}
