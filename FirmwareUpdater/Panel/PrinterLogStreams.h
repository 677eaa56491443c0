#pragma once
// Log streams that hand each complete line to the progress printer, so that the debug lines of
// the engine and the framework share the terminal with the progress line instead of cutting
// into it. The application makes them the debug output's log streams
// (ZT::DebugOutput::SetLogStreams) while the debug console is open.
//
// Text is collected until a line end; a flush passes on what was collected as a line. Wide text
// is passed on as UTF-8.
//
// Threads: the debug output writes to its log streams under its own mutex, one line at a time.

#include "FirmwareUpdater/Panel/ProgressPrinter.h"

#include <ostream>
#include <streambuf>
#include <string>

class CPrinterLogStreams {
public:
    explicit CPrinterLogStreams(CProgressPrinter& printer);
    CPrinterLogStreams(const CPrinterLogStreams&) = delete;
    CPrinterLogStreams& operator=(const CPrinterLogStreams&) = delete;

    [[nodiscard]] std::ostream& Narrow() noexcept { return mNarrow; }
    [[nodiscard]] std::wostream& Wide() noexcept { return mWide; }

private:
    template <class C>
    class LineBuffer : public std::basic_streambuf<C> {
    public:
        explicit LineBuffer(CProgressPrinter& printer) : mPrinter(printer) {}

    protected:
        typename std::basic_streambuf<C>::int_type overflow(typename std::basic_streambuf<C>::int_type ch) override;
        int sync() override;

    private:
        void PassOn();

        CProgressPrinter& mPrinter;
        std::basic_string<C> mLine;
    };

    LineBuffer<char> mNarrowBuffer;
    LineBuffer<wchar_t> mWideBuffer;
    std::ostream mNarrow;
    std::wostream mWide;
};
