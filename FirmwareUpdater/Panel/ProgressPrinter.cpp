#include "FirmwareUpdater/Panel/ProgressPrinter.h"

#include "FirmwareUpdater/Panel/Engine/FirmwareUpdateProgressNotificationData.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

// Moves the cursor to the start of the line and erases it.
constexpr std::string_view kClearLine = "\r\x1b[K";

double Clamp(double fraction)
{
    if (!(fraction >= 0.0)) // also NaN
        return 0.0;
    return fraction > 1.0 ? 1.0 : fraction;
}

int Percent(double fraction)
{
    // The small bias keeps 0.3 (0.29999...) at 30 %.
    return static_cast<int>(std::floor(Clamp(fraction) * 100.0 + 1e-9));
}

} // namespace

CProgressPrinter::CProgressPrinter(Style style, Sink sink) : mStyle(style), mSink(std::move(sink)) {}

std::string CProgressPrinter::FormatBar(double fraction)
{
    const int filled = static_cast<int>(std::floor(Clamp(fraction) * kBarWidth));
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    char percent[8];
    std::snprintf(percent, sizeof(percent), "] %3d%%", Percent(fraction));
    return bar + percent;
}

void CProgressPrinter::WriteLine(std::string_view text)
{
    std::lock_guard lock(mMutex);
    const bool redraw = mProgressOpen;
    if (redraw)
        mSink(kClearLine);
    std::string line(text);
    line += '\n';
    mSink(line);
    if (redraw)
        mSink(mProgressText);
}

void CProgressPrinter::Progress(std::string_view device, double fraction)
{
    std::lock_guard lock(mMutex);
    const int percent = Percent(fraction);
    const bool writing = Clamp(fraction) >= ZT::LFirmwareUpdateProgressNotificationData::kEraseShare;
    const bool newRun = device != mDevice || percent < mSeenPercent;
    mSeenPercent = percent;
    if (newRun) {
        EndProgressLocked();
        mDevice = std::string(device);
        mLastPercent = -1;
        mWriting = false;
    }
    const bool phaseChanged = mLastPercent < 0 || writing != mWriting;
    mWriting = writing;

    const std::string phase = writing ? "writing" : "erasing";
    switch (mStyle) {
    case Style::Terminal: {
        if (percent == mLastPercent && !phaseChanged)
            return;
        mLastPercent = percent;
        mProgressText = "  " + mDevice + ": " + (writing ? "writing " : "erasing ") + FormatBar(fraction);
        DrawProgressLocked();
        return;
    }
    case Style::Lines: {
        // The first figure of each phase, then one line per 10 % step reached.
        if (!phaseChanged && percent / 10 == mLastPercent / 10)
            return;
        mLastPercent = percent;
        char line[160];
        std::snprintf(line, sizeof(line), "  %s: %s %d%%\n", mDevice.c_str(), phase.c_str(), percent);
        mSink(line);
        return;
    }
    }
}

void CProgressPrinter::EndProgress()
{
    std::lock_guard lock(mMutex);
    EndProgressLocked();
    mDevice.clear();
    mLastPercent = -1;
    mSeenPercent = -1;
}

void CProgressPrinter::EndProgressLocked()
{
    if (!mProgressOpen)
        return;
    mSink("\n");
    mProgressOpen = false;
    mProgressText.clear();
}

void CProgressPrinter::DrawProgressLocked()
{
    mSink(kClearLine);
    mSink(mProgressText);
    mProgressOpen = true;
}
