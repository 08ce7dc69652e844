/* An ALSA PCM plug-in for the ALSA driver's tests: a device without hardware that takes
 * only the formats it is told, appends what it plays to `file`, and captures bytes 0x11
 * on channel 1, 0x22 on channel 2 (and so on), a period more than taken always there.
 *   format "S16_LE,FLOAT_LE"  the formats it takes     capture 0   no capture side
 *   xrun_at N                 the Nth period moved (each side) reports an xrun, once
 *   stall_at N                from the Nth period played on, nothing moves; capture_stall_at N: as much for capture
 *   capture_gone_at N         from the Nth period on capture has gone: an xrun, and it never starts again
 *   paced 1                   playback plays in real time; else, like ALSA's null device, at once
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
    long xrunAt, stallAt, goneAt, transfers;
    int xrunPending, paced;
    struct timespec startedAt;
    snd_pcm_sframes_t stalledPointer;
} TestPcm;

static int TestStart(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &pcm->startedAt);
    return pcm->goneAt > 0 && pcm->transfers >= pcm->goneAt ? -ENODEV : 0;
}

static int TestStop(snd_pcm_ioplug_t* io) { return io != NULL ? 0 : -EINVAL; }

/* Paced playback: what real time has played since the start, of what was written.
 * Positions run up to the boundary (SND_PCM_IOPLUG_FLAG_BOUNDARY_WA). */
static snd_pcm_sframes_t Position(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = io->private_data;
    if (io->stream == SND_PCM_STREAM_CAPTURE) return (snd_pcm_sframes_t)(io->appl_ptr + io->period_size);
    if (!pcm->paced) return (snd_pcm_sframes_t)io->appl_ptr;
    if (io->state != SND_PCM_STATE_RUNNING) return 0;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    double seconds = (double)(now.tv_sec - pcm->startedAt.tv_sec) + (now.tv_nsec - pcm->startedAt.tv_nsec) / 1e9;
    snd_pcm_uframes_t played = (snd_pcm_uframes_t)(seconds * io->rate);
    return (snd_pcm_sframes_t)(played < io->appl_ptr ? played : io->appl_ptr);
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
    size_t sampleBytes = (size_t)snd_pcm_format_physical_width(io->format) / 8, bytes = size * sampleBytes * io->channels;
    char* data = (char*)areas[0].addr + (areas[0].first + areas[0].step * offset) / 8;
    for (size_t b = 0; io->stream == SND_PCM_STREAM_CAPTURE && b < bytes; ++b)
        data[b] = (char)(0x11 * (1 + b / sampleBytes % io->channels));
    if (io->stream == SND_PCM_STREAM_PLAYBACK && pcm->outFd >= 0 && write(pcm->outFd, data, bytes) != (ssize_t)bytes)
        return -EIO;
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
    .start = TestStart, .stop = TestStop, .pointer = TestPointer, .transfer = TestTransfer, .close = TestClose};

SND_PCM_PLUGIN_DEFINE_FUNC(bwtest) {
    (void)root;
    const char *formatNames = "", *file = NULL;
    static const char* const kFields[] = {"xrun_at", "stall_at", "capture_stall_at", "capture_gone_at", "capture", "paced"};
    long values[6] = {0, 0, 0, 0, 1, 0};
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(node, &id) < 0 || strcmp(id, "comment") == 0 || strcmp(id, "type") == 0) continue;
        if (strcmp(id, "format") == 0 && snd_config_get_string(node, &formatNames) == 0) continue;
        if (strcmp(id, "file") == 0 && snd_config_get_string(node, &file) == 0) continue;
        size_t f = 0;
        while (f < 6 && strcmp(id, kFields[f]) != 0) ++f;
        if (f == 6 || snd_config_get_integer(node, &values[f]) < 0) {
            SNDERR("bwtest: bad field %s", id);
            return -EINVAL;
        }
    }
    unsigned int formats[8], formatCount = 0;
    char names[128], *saved = NULL;
    snprintf(names, sizeof names, "%s", formatNames);
    for (char* one = strtok_r(names, ",", &saved); one != NULL && formatCount < 8; one = strtok_r(NULL, ",", &saved))
        if ((formats[formatCount++] = (unsigned int)snd_pcm_format_value(one)) == (unsigned int)SND_PCM_FORMAT_UNKNOWN)
            return -EINVAL;
    const int capturing = stream == SND_PCM_STREAM_CAPTURE;
    if (formatCount == 0 || (capturing && values[4] == 0)) return formatCount == 0 ? -EINVAL : -ENODEV;

    TestPcm* pcm = calloc(1, sizeof *pcm);
    if (pcm == NULL) return -ENOMEM;
    pcm->outFd = file != NULL && !capturing ? open(file, O_WRONLY | O_CREAT | O_APPEND, 0644) : -1;
    pcm->xrunAt = values[0];
    pcm->stallAt = values[capturing ? 2 : 1];
    pcm->goneAt = capturing ? values[3] : 0;
    pcm->paced = values[5] != 0;
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "Bellwave test PCM";
    pcm->io.callback = &kCallbacks;
    pcm->io.private_data = pcm;
    pcm->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
    pcm->io.poll_fd = open("/dev/null", O_RDWR); /* always ready */
    pcm->io.poll_events = capturing ? POLLIN : POLLOUT;
    int error = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (error < 0) {
        TestClose(&pcm->io);
        return error;
    }
    unsigned int access = SND_PCM_ACCESS_RW_INTERLEAVED;
    if ((error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 1, &access)) < 0 ||
        (error = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, formatCount, formats)) < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return error;
    }
    *pcmp = pcm->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(bwtest);
