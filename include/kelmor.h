// Kelmor: keyword spotting on the default microphone.
//
// The library initialises itself while it is loaded: it finds the "sherpa-onnx" folder beside
// its own file, loads the model and the encrypted keyword configuration found there, and keeps
// one engine object for the whole process. A host then registers a wake callback and starts and
// stops listening. Each time a configured keyword is heard, the wake callback runs on the
// library's worker thread.
//
// The exports return nothing; failures are reported only as log lines (see SetKelmorLogCallback).
//
// Threading contract:
// - Call the exports from one host thread at a time.
// - Register the wake callback while not listening (before OpenListenVoice or after
//   CloseListenVoice).
// - Never call OpenListenVoice, CloseListenVoice or UninitKelmor from inside the wake callback:
//   stopping waits for the worker thread that runs the callback.
// - The wake callback should return promptly; no audio is consumed while it runs.
// - Stop listening (CloseListenVoice or UninitKelmor) before unloading the library.
#ifndef KELMOR_H
#define KELMOR_H

#include <cstdint>
#include <functional>

#if defined(_WIN32)
#if defined(KELMOR_BUILDING_LIBRARY)
#define KELMOR_API extern "C" __declspec(dllexport)
#else
#define KELMOR_API extern "C" __declspec(dllimport)
#endif
#else
#define KELMOR_API extern "C" __attribute__((visibility("default")))
#endif

// The wake callback: no arguments, no result. It is passed by value; the library keeps its own
// copy, so the host may destroy its callable as soon as RegOnKelmor returns. Host and library
// must be built against the same C++ standard library.
using WakeCallback = std::function<void()>;

// Log levels. A line below the minimum level (SetKelmorLogLevel) is dropped.
enum class LogLevel : std::int32_t { Debug = 0, Info = 1, Warn = 2, Error = 3 };

// The host's log callback: the line's level (a LogLevel value), the NUL-terminated UTF-8 line
// ("[kelmor.dll] " followed by the message, no line end), and the host's user data. The text is
// valid only during the call. Calls are serialised by a lock held during the call, and may come
// from any thread that logs (the loading thread, host threads, the worker thread). The callback
// must not call back into the library.
using LogCallback = void (*)(std::int32_t level, const char* line, void* user_data);

// Starts listening: stops any earlier listening, opens the default capture device and starts the
// worker thread. Calling it while listening restarts listening.
KELMOR_API void OpenListenVoice();

// Stops listening: ends and joins the worker thread and closes the capture device.
KELMOR_API void CloseListenVoice();

// Replaces the wake callback (an empty callable means detections call nothing).
KELMOR_API void RegOnKelmor(WakeCallback callback);

// Routes every later log line to `callback` (with `user_data`); null routes them back to the
// console (standard output when it is a terminal) or else the debug output (standard error on
// Linux, OutputDebugString on Windows).
KELMOR_API void SetKelmorLogCallback(LogCallback callback, void* user_data);

// Sets the minimum level of lines that are delivered. Any value is accepted: 4 or more silences
// the library, a negative value lets everything through.
KELMOR_API void SetKelmorLogLevel(std::int32_t level);

// Stops listening and releases the engine. Afterwards the exports find no engine until the
// library is loaded again.
KELMOR_API void UninitKelmor();

#endif  // KELMOR_H
