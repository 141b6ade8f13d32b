// Linux wave input on ALSA: the `default` capture PCM (its plug layer converts rate and format,
// so a 48 kHz microphone or a PulseAudio/PipeWire desktop both work).
//
// Each open device has a capture thread that fills the queued buffers in queue order, hands
// each back (byte count, done flag) and signals the event. Failure codes are positive errno
// values, ALSA's negated error numbers included.
//
// A fatal capture error (an overrun, EPIPE; a device gone, ENODEV or EIO; anything else ALSA
// reports) ends the capture thread and marks the event failed: once the buffers handed back
// before it have been taken, every wait on that event answers WAIT_FAILED with the code as the
// last error, so the listening loop closes and reopens the device. An overrun is not patched
// over with snd_pcm_prepare: audio was lost, and the reopen makes that show in the log.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/wave_input.h"
#include "wave_input_stats.h"

namespace platform {

struct Event {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
    std::uint32_t failure = 0;  // set by a capture thread that hit a fatal error
};

struct WaveDevice {
    snd_pcm_t* pcm = nullptr;
    Event* event = nullptr;
    std::uint32_t frame_bytes = 0;

    std::mutex mutex;
    std::condition_variable changed;  // a buffer was queued, or the thread is asked to stop
    std::deque<WaveHeader*> queue;    // queued buffers, oldest first
    bool stop = false;
    std::atomic<std::uint32_t> failure{0};
    std::thread thread;
    // Written by StopCapture, so that a capture thread waiting for frames stops at once rather
    // than at the end of its poll.
    int wake_fd = -1;
    std::vector<pollfd> poll_fds;  // the PCM's descriptors, then wake_fd

    // Bytes already captured into the oldest queued buffer. The capture thread's alone while it
    // runs; WaveInReset reads it after the join.
    std::uint32_t front_filled = 0;
};

namespace {

constexpr const char* kPcmName = "default";
constexpr snd_pcm_uframes_t kPeriodFrames = 1600;  // 100 ms at 16 kHz
constexpr snd_pcm_uframes_t kBufferFrames = 8000;  // 500 ms of slack behind the queued buffers
// Bounds how long a stop waits for the capture thread.
constexpr int kPollMs = 50;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

thread_local std::uint32_t t_last_error = 0;

// Times a capture thread came for the next buffer and found none queued (see
// wave_input_stats.h).
std::atomic<std::uint64_t> g_starved{0};

// ALSA prints its own errors to standard error unless told otherwise; the host owns that stream,
// and every failure here is reported through a result code instead.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaError); });
}

std::uint32_t Code(long alsa_error) {
    return static_cast<std::uint32_t>(alsa_error < 0 ? -alsa_error : alsa_error);
}

void SignalEvent(Event* event) {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = true;
    event->changed.notify_all();
}

void FailEvent(Event* event, std::uint32_t code) {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->failure = code;
    event->changed.notify_all();
}

bool Queued(const WaveDevice& device, const WaveHeader* header) {
    return std::find(device.queue.begin(), device.queue.end(), header) != device.queue.end();
}

std::uint32_t UsableBytes(const WaveDevice& device, const WaveHeader& header) {
    return header.dwBufferLength - header.dwBufferLength % device.frame_bytes;
}

std::uint32_t Configure(snd_pcm_t* pcm, const WaveFormat& format) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_uframes_t period = kPeriodFrames;
    snd_pcm_uframes_t buffer = kBufferFrames;
    int dir = 0;
    int err = snd_pcm_hw_params_any(pcm, hw);
    if (err >= 0) {
        err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_format(
            pcm, hw, format.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_channels(pcm, hw, format.nChannels);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_rate(pcm, hw, format.nSamplesPerSec, 0);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    }
    if (err >= 0) {
        err = snd_pcm_hw_params(pcm, hw);
    }
    return err < 0 ? Code(err) : 0;
}

void Fail(WaveDevice* device, std::uint32_t code) {
    device->failure = code;
    FailEvent(device->event, code);
}

// As snd_pcm_wait(pcm, kPollMs): > 0 when frames are ready, 0 when none came, < 0 an ALSA error;
// also answers 0 as soon as StopCapture writes the wake descriptor.
int WaitForFrames(WaveDevice* device) {
    const int ready = snd_pcm_wait(device->pcm, 0);
    if (ready != 0 || device->poll_fds.empty()) {
        return ready != 0 ? ready : snd_pcm_wait(device->pcm, kPollMs);
    }
    const int polled =
        poll(device->poll_fds.data(), static_cast<nfds_t>(device->poll_fds.size()), kPollMs);
    if (polled <= 0) {
        return 0;  // time-out, or a signal: the caller asks again
    }
    if ((device->poll_fds.back().revents & POLLIN) != 0) {
        eventfd_t ignored = 0;
        eventfd_read(device->wake_fd, &ignored);
        return 0;
    }
    return snd_pcm_wait(device->pcm, 0);  // ALSA reads the descriptors' events and its state
}

// The descriptors WaitForFrames polls; none (snd_pcm_wait alone) if they cannot be had.
void PreparePoll(WaveDevice* device) {
    const int count = snd_pcm_poll_descriptors_count(device->pcm);
    device->wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (count <= 0 || device->wake_fd < 0) {
        return;
    }
    device->poll_fds.resize(static_cast<std::size_t>(count) + 1);
    if (snd_pcm_poll_descriptors(device->pcm, device->poll_fds.data(),
                                 static_cast<unsigned int>(count)) != count) {
        device->poll_fds.clear();
        return;
    }
    device->poll_fds.back() = pollfd{device->wake_fd, POLLIN, 0};
}

void CaptureLoop(WaveDevice* device) {
    for (;;) {
        WaveHeader* header = nullptr;
        {
            std::unique_lock<std::mutex> lock(device->mutex);
            if (device->queue.empty() && !device->stop) {
                g_starved.fetch_add(1, std::memory_order_relaxed);
            }
            device->changed.wait(lock, [device] { return device->stop || !device->queue.empty(); });
            if (device->stop) {
                return;
            }
            // The oldest buffer stays this thread's until it is handed back: WaveInAddBuffer only
            // appends, and WaveInReset looks at the queue after joining this thread.
            header = device->queue.front();
        }

        const int ready = WaitForFrames(device);
        if (ready == 0) {
            continue;
        }
        if (ready < 0) {
            Fail(device, Code(ready));
            return;
        }
        const std::uint32_t usable = UsableBytes(*device, *header);
        const snd_pcm_sframes_t frames =
            snd_pcm_readi(device->pcm, header->lpData + device->front_filled,
                          (usable - device->front_filled) / device->frame_bytes);
        if (frames == -EAGAIN) {
            continue;
        }
        if (frames < 0) {
            Fail(device, Code(frames));
            return;
        }
        device->front_filled += static_cast<std::uint32_t>(frames) * device->frame_bytes;
        if (device->front_filled < usable) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(device->mutex);
            device->queue.pop_front();
        }
        header->dwBytesRecorded = device->front_filled;
        device->front_filled = 0;
        header->dwFlags |= kWaveHeaderDone;
        SignalEvent(device->event);
    }
}

void StopCapture(WaveDevice* device) {
    {
        std::lock_guard<std::mutex> lock(device->mutex);
        device->stop = true;
        device->changed.notify_all();
    }
    if (device->wake_fd >= 0) {
        eventfd_write(device->wake_fd, 1);
    }
    if (device->thread.joinable()) {
        device->thread.join();
    }
}

}  // namespace

std::uint64_t WaveInStarvedCount() {
    return g_starved.load(std::memory_order_relaxed);
}

std::uint32_t WaveInGetNumDevs() {
    SilenceAlsa();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, kPcmName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) {
        return 0;
    }
    snd_pcm_close(pcm);
    return 1;
}

EventHandle CreateCaptureEvent() {
    auto* event = new (std::nothrow) Event();
    if (event == nullptr) {
        t_last_error = ENOMEM;
    }
    return event;
}

void CloseEvent(EventHandle event) {
    delete event;
}

std::uint32_t LastError() {
    return t_last_error;
}

std::uint32_t WaveInOpen(WaveInHandle* wave_in, const WaveFormat& format, EventHandle event) {
    *wave_in = nullptr;
    const bool supported = format.wFormatTag == kWaveFormatPcm &&
                           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) &&
                           format.nChannels > 0 && format.nSamplesPerSec > 0 &&
                           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
    if (!supported || event == nullptr) {
        return EINVAL;
    }
    SilenceAlsa();
    snd_pcm_t* pcm = nullptr;
    const int err = snd_pcm_open(&pcm, kPcmName, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) {
        return Code(err);
    }
    const std::uint32_t configured = Configure(pcm, format);
    if (configured != 0) {
        snd_pcm_close(pcm);
        return configured;
    }
    auto* device = new (std::nothrow) WaveDevice();
    if (device == nullptr) {
        snd_pcm_close(pcm);
        return ENOMEM;
    }
    device->pcm = pcm;
    device->event = event;
    device->frame_bytes = format.nBlockAlign;
    PreparePoll(device);
    *wave_in = device;
    return 0;
}

std::uint32_t WaveInPrepareHeader(WaveInHandle wave_in, WaveHeader* header) {
    if (wave_in == nullptr || header == nullptr || header->lpData == nullptr ||
        UsableBytes(*wave_in, *header) == 0) {
        return EINVAL;
    }
    header->dwFlags |= kWaveHeaderPrepared;
    return 0;
}

std::uint32_t WaveInUnprepareHeader(WaveInHandle wave_in, WaveHeader* header) {
    if (wave_in == nullptr || header == nullptr) {
        return EINVAL;
    }
    std::lock_guard<std::mutex> lock(wave_in->mutex);
    if (Queued(*wave_in, header)) {
        return EBUSY;
    }
    header->dwFlags &= ~kWaveHeaderPrepared;
    return 0;
}

std::uint32_t WaveInAddBuffer(WaveInHandle wave_in, WaveHeader* header) {
    if (wave_in == nullptr || header == nullptr) {
        return EINVAL;
    }
    if ((header->dwFlags & kWaveHeaderPrepared) == 0) {
        return EINVAL;
    }
    std::lock_guard<std::mutex> lock(wave_in->mutex);
    if (Queued(*wave_in, header)) {
        return EBUSY;
    }
    header->dwBytesRecorded = 0;
    header->dwFlags &= ~kWaveHeaderDone;
    wave_in->queue.push_back(header);
    wave_in->changed.notify_all();
    return 0;
}

std::uint32_t WaveInStart(WaveInHandle wave_in) {
    if (wave_in == nullptr) {
        return EINVAL;
    }
    if (wave_in->thread.joinable()) {
        return 0;
    }
    if (const std::uint32_t failure = wave_in->failure) {
        return failure;
    }
    if (snd_pcm_state(wave_in->pcm) != SND_PCM_STATE_PREPARED) {
        const int err = snd_pcm_prepare(wave_in->pcm);
        if (err < 0) {
            return Code(err);
        }
    }
    const int err = snd_pcm_start(wave_in->pcm);
    if (err < 0) {
        return Code(err);
    }
    wave_in->stop = false;
    try {
        wave_in->thread = std::thread(CaptureLoop, wave_in);
    } catch (const std::system_error& e) {
        snd_pcm_drop(wave_in->pcm);
        return Code(e.code().value());
    }
    return 0;
}

std::uint32_t WaveInReset(WaveInHandle wave_in) {
    if (wave_in == nullptr) {
        return EINVAL;
    }
    StopCapture(wave_in);
    snd_pcm_drop(wave_in->pcm);
    bool handed_back = false;
    {
        std::lock_guard<std::mutex> lock(wave_in->mutex);
        std::uint32_t filled = wave_in->front_filled;
        for (WaveHeader* header : wave_in->queue) {
            header->dwBytesRecorded = filled;
            header->dwFlags |= kWaveHeaderDone;
            filled = 0;
            handed_back = true;
        }
        wave_in->queue.clear();
        wave_in->front_filled = 0;
    }
    if (handed_back) {
        SignalEvent(wave_in->event);
    }
    return 0;
}

std::uint32_t WaveInClose(WaveInHandle wave_in) {
    if (wave_in == nullptr) {
        return EINVAL;
    }
    WaveInReset(wave_in);
    snd_pcm_close(wave_in->pcm);
    if (wave_in->wake_fd >= 0) {
        close(wave_in->wake_fd);
    }
    delete wave_in;
    return 0;
}

std::uint32_t WaitForEvent(EventHandle event, std::uint32_t timeout_ms) {
    if (event == nullptr) {
        t_last_error = EINVAL;
        return kWaitFailed;
    }
    std::unique_lock<std::mutex> lock(event->mutex);
    event->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [event] { return event->signalled || event->failure != 0; });
    // Buffers handed back before a failure are still delivered first.
    if (event->signalled) {
        event->signalled = false;
        return kWaitObject0;
    }
    if (event->failure != 0) {
        t_last_error = event->failure;
        return kWaitFailed;
    }
    return kWaitTimeout;
}

}  // namespace platform
