/* An ALSA PCM plug-in for the ALSA driver's tests: a device without hardware that takes
 * only the sample formats it is told, keeps the bytes it is given, and can report one
 * xrun on request. Like ALSA's null device it never waits: every period written is consumed at
 * once (unless paced), every period read is there at once (every byte 0x11).
 *
 *   pcm_type.bwtest { lib "<this library>" }
 *   pcm.name {
 *       type bwtest
 *       format "S16_LE"       # the formats the device takes, comma-separated
 *       file "/path/out.raw"  # optional: playback bytes are appended here
 *       xrun_at 10            # optional: the 10th period moved reports an xrun, once
 *       stall_at 20           # optional: from the 20th period moved on, nothing moves
 *       capture 0             # optional: the capture side refuses to open
 *       capture_stall_at 20   # optional: as stall_at, for the capture side only
 *       capture_gone_at 20    # optional: from the 20th period on the capture side has
 *                             # gone: an xrun, and it never starts again
 *       paced 1               # optional: playback consumes in real time once started
 *   }
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef struct {
    snd_pcm_ioplug_t io;
    int outFd;
    long xrunAt;
    long stallAt;
    long goneAt;
    long transfers;
    int xrunPending;
    int paced;
    struct timespec startedAt;
    snd_pcm_sframes_t stalledPointer;
} TestPcm;

static int TestStart(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &pcm->startedAt);
    return pcm->goneAt > 0 && pcm->transfers >= pcm->goneAt ? -ENODEV : 0;
}

static int TestStop(snd_pcm_ioplug_t* io) { return io != NULL ? 0 : -EINVAL; }

/* Playback: everything written is consumed. Capture: one period more than taken is
 * always there. Positions run up to the boundary (SND_PCM_IOPLUG_FLAG_BOUNDARY_WA). */
static snd_pcm_sframes_t Position(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = io->private_data;
    if (io->stream == SND_PCM_STREAM_PLAYBACK && pcm->paced) {
        /* What real time has played since the start, of what was written. */
        if (io->state != SND_PCM_STATE_RUNNING) return 0;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        double seconds = (double)(now.tv_sec - pcm->startedAt.tv_sec) + (now.tv_nsec - pcm->startedAt.tv_nsec) / 1e9;
        snd_pcm_uframes_t played = (snd_pcm_uframes_t)(seconds * io->rate);
        return (snd_pcm_sframes_t)(played < io->appl_ptr ? played : io->appl_ptr);
    }
    if (io->stream == SND_PCM_STREAM_PLAYBACK) return (snd_pcm_sframes_t)io->appl_ptr;
    return (snd_pcm_sframes_t)(io->appl_ptr + io->period_size);
}

static snd_pcm_sframes_t TestPointer(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = io->private_data;
    if (pcm->xrunPending) {
        pcm->xrunPending = 0;
        return -EPIPE;
    }
    if (pcm->goneAt > 0 && pcm->transfers >= pcm->goneAt) return -ENODEV;
    if (pcm->stallAt > 0 && pcm->transfers >= pcm->stallAt) return pcm->stalledPointer;
    return Position(io);
}

static snd_pcm_sframes_t TestTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                      snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    TestPcm* pcm = io->private_data;
    size_t frameBytes = (size_t)snd_pcm_format_physical_width(io->format) / 8 * io->channels;
    char* data = (char*)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8;
    if (io->stream == SND_PCM_STREAM_PLAYBACK) {
        if (pcm->outFd >= 0 && write(pcm->outFd, data, size * frameBytes) != (ssize_t)(size * frameBytes)) return -EIO;
    } else {
        memset(data, 0x11, size * frameBytes);
    }
    if (++pcm->transfers == pcm->xrunAt) pcm->xrunPending = 1;
    if (pcm->transfers == pcm->stallAt) pcm->stalledPointer = Position(io);
    return (snd_pcm_sframes_t)size;
}

static int TestClose(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = io->private_data;
    if (pcm->outFd >= 0) close(pcm->outFd);
    close(io->poll_fd);
    free(pcm);
    return 0;
}

static const snd_pcm_ioplug_callback_t kCallbacks = {
    .start = TestStart,
    .stop = TestStop,
    .pointer = TestPointer,
    .transfer = TestTransfer,
    .close = TestClose,
};

SND_PCM_PLUGIN_DEFINE_FUNC(bwtest) {
    (void)root;
    const char* formatName = NULL;
    const char* file = NULL;
    /* The integer fields, in the order of their names. */
    static const char* const kFields[] = {"xrun_at", "stall_at", "capture_stall_at", "capture_gone_at", "capture", "paced"};
    long values[6] = {0, 0, 0, 0, 1, 0};
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(node, &id) < 0) continue;
        if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0) continue;
        if (strcmp(id, "format") == 0 && snd_config_get_string(node, &formatName) == 0) continue;
        if (strcmp(id, "file") == 0 && snd_config_get_string(node, &file) == 0) continue;
        size_t f = 0;
        while (f < 6 && strcmp(id, kFields[f]) != 0) ++f;
        if (f == 6 || snd_config_get_integer(node, &values[f]) < 0) {
            SNDERR("bwtest: bad field %s", id);
            return -EINVAL;
        }
    }
    unsigned int formats[8];
    unsigned int formatCount = 0;
    char names[128];
    snprintf(names, sizeof names, "%s", formatName ? formatName : "");
    char* saved = NULL;
    for (char* one = strtok_r(names, ",", &saved); one != NULL && formatCount < 8; one = strtok_r(NULL, ",", &saved)) {
        snd_pcm_format_t format = snd_pcm_format_value(one);
        if (format == SND_PCM_FORMAT_UNKNOWN) return -EINVAL;
        formats[formatCount++] = (unsigned int)format;
    }
    if (formatCount == 0) return -EINVAL;
    const int capturing = stream == SND_PCM_STREAM_CAPTURE;
    if (capturing && values[4] == 0) return -ENODEV;

    TestPcm* pcm = calloc(1, sizeof *pcm);
    if (pcm == NULL) return -ENOMEM;
    pcm->outFd = -1;
    if (file != NULL && !capturing) {
        pcm->outFd = open(file, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (pcm->outFd < 0) {
            free(pcm);
            return -errno;
        }
    }
    pcm->xrunAt = values[0];
    pcm->stallAt = capturing && values[2] > 0 ? values[2] : values[1];
    pcm->goneAt = capturing ? values[3] : 0;
    pcm->paced = !capturing && values[5] != 0;
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "Bellwave test PCM";
    pcm->io.callback = &kCallbacks;
    pcm->io.private_data = pcm;
    pcm->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
    /* Always ready: /dev/null polls readable and writable at once. */
    pcm->io.poll_fd = open("/dev/null", O_RDWR);
    pcm->io.poll_events = stream == SND_PCM_STREAM_PLAYBACK ? POLLOUT : POLLIN;
    int error = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (error < 0) {
        if (pcm->outFd >= 0) close(pcm->outFd);
        close(pcm->io.poll_fd);
        free(pcm);
        return error;
    }
    unsigned int access = SND_PCM_ACCESS_RW_INTERLEAVED;
    if ((error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 1, &access)) < 0 ||
        (error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, formatCount, formats)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 8)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return error;
    }
    *pcmp = pcm->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(bwtest);
