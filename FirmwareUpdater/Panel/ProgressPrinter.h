#pragma once
// Shows a person what an update run does, as text: one line per phase ("Controller: switching
// to update mode") and the download's progress.
//
// Styles:
//   Terminal  standard error is a terminal: the progress figure is redrawn in place on one line
//             ("\r" and erase-to-end-of-line); any other line first ends the progress line.
//   Lines     standard error is a file or a pipe: plain lines only, the progress at the start of
//             each phase and at every 10 %.
// The sink receives the bytes to write (the program's is standard error).
//
// Threads: every member may be called from any thread; mMutex serialises the writes, so lines
// from the engine's worker (WriteLine) never cut into the progress line. The sink and the line
// observer are called with mMutex held and must not call back.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class CProgressPrinter {
public:
    enum class Style { Terminal, Lines };
    using Sink = std::function<void(std::string_view bytes)>;

    static constexpr int kBarWidth = 30;

    CProgressPrinter(Style style, Sink sink);

    // One whole line; ends an open progress line first and, on a terminal, draws it again
    // below the new line.
    void WriteLine(std::string_view text);

    // The download's progress for device: fraction 0.0 to 0.5 while erasing, 0.5 to 1.0 while
    // writing. Fractions outside 0..1 (and NaN) are clamped.
    void Progress(std::string_view device, double fraction);

    // Ends an open progress line (after a download has ended); nothing otherwise.
    void EndProgress();

    // "[###############...............]  50%" for a fraction; the bar has kBarWidth places.
    [[nodiscard]] static std::string FormatBar(double fraction);

private:
    void EndProgressLocked();
    void DrawProgressLocked();

    const Style mStyle;
    const Sink mSink;
    std::mutex mMutex;
    // Everything below is guarded by mMutex.
    bool mProgressOpen = false;  // Terminal: the cursor stands at the end of the progress line
    std::string mProgressText;   // the progress line as last drawn, without "\r"
    std::string mDevice;         // of the download in progress
    int mLastPercent = -1;       // last figure drawn (Terminal) or printed (Lines)
    int mSeenPercent = -1;       // last figure given, drawn or not: a lower one starts a new run
    bool mWriting = false;       // the phase last shown: writing, else erasing
};
