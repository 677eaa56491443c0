#include "FirmwareUpdater/Panel/PrinterLogStreams.h"
#include "FirmwareUpdater/Panel/ProgressPrinter.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Capture {
    std::string text;
    CProgressPrinter::Sink Sink()
    {
        return [this](std::string_view bytes) { text.append(bytes); };
    }
};

TEST(ProgressPrinter, BarsFillWithTheFraction)
{
    const struct {
        double fraction;
        const char* bar;
    } cases[] = {
        {0.0, "[..............................]   0%"},
        {0.5, "[###############...............]  50%"},
        {0.999, "[#############################.]  99%"},
        {1.0, "[##############################] 100%"},
        {-3.0, "[..............................]   0%"},
        {7.0, "[##############################] 100%"},
        {std::numeric_limits<double>::quiet_NaN(), "[..............................]   0%"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CProgressPrinter::FormatBar(c.fraction), c.bar) << c.fraction;
}

TEST(ProgressPrinter, OnATerminalTheFigureIsRedrawnInPlaceAndLinesGoAboveIt)
{
    Capture out;
    CProgressPrinter printer(CProgressPrinter::Style::Terminal, out.Sink());
    printer.WriteLine("Controller: writing firmware 00.31...");
    printer.Progress("Controller", 0.1);
    printer.Progress("Controller", 0.1001); // same figure: nothing drawn
    printer.Progress("Controller", 0.6);
    printer.WriteLine("Engine: a line from the worker");
    printer.EndProgress();
    printer.EndProgress(); // nothing open any more

    const std::string erasing = "  Controller: erasing " + CProgressPrinter::FormatBar(0.1);
    const std::string writing = "  Controller: writing " + CProgressPrinter::FormatBar(0.6);
    const std::string expected = "Controller: writing firmware 00.31...\n"
                                 "\r\x1b[K" + erasing +
                                 "\r\x1b[K" + writing +
                                 "\r\x1b[KEngine: a line from the worker\n" + writing + "\n";
    EXPECT_EQ(out.text, expected);
}

TEST(ProgressPrinter, IntoAFileOrPipeItWritesPlainLinesEveryTenPercent)
{
    Capture out;
    CProgressPrinter printer(CProgressPrinter::Style::Lines, out.Sink());
    for (int i = 0; i <= 100; ++i)
        printer.Progress("Wheel display", i / 100.0);
    printer.Progress("Controller", 0.0); // another device starts over
    printer.Progress("Controller", 0.05);
    printer.Progress("Controller", 0.02); // a new run of the same device starts over too
    std::string expected; // the first half of a run erases, the second writes
    for (int percent = 0; percent <= 100; percent += 10)
        expected += "  Wheel display: " + std::string(percent < 50 ? "erasing " : "writing ") + std::to_string(percent) + "%\n";
    EXPECT_EQ(out.text, expected + "  Controller: erasing 0%\n  Controller: erasing 2%\n");
    EXPECT_EQ(out.text.find('\r'), std::string::npos);
}

TEST(PrinterLogStreams, DebugLinesFromManyThreadsArriveWholeAboveTheProgress)
{
    Capture out;
    CProgressPrinter printer(CProgressPrinter::Style::Terminal, out.Sink());
    std::mutex streamMutex; // the debug output's lock, held for a whole line
    CPrinterLogStreams streams(printer);
    printer.Progress("Controller", 0.25);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                std::lock_guard lock(streamMutex);
                if (t % 2 == 0)
                    streams.Narrow() << "narrow " << t << " line " << i << '\n' << std::flush;
                else
                    streams.Wide() << L"wide ✓ " << t << L" line " << i << L'\n' << std::flush;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    printer.EndProgress();

    const std::string bar = "  Controller: erasing " + CProgressPrinter::FormatBar(0.25);
    std::size_t lines = 0;
    const std::string lead = "\r\x1b[K";
    std::size_t position = out.text.find(lead + bar) + lead.size() + bar.size();
    while (out.text.compare(position, lead.size(), lead) == 0) {
        position += lead.size();
        const std::size_t end = out.text.find('\n', position);
        ASSERT_NE(end, std::string::npos);
        const std::string line = out.text.substr(position, end - position);
        EXPECT_TRUE(line.rfind("narrow ", 0) == 0 || line.rfind("wide \xe2\x9c\x93 ", 0) == 0) << line;
        position = end + 1;
        ASSERT_EQ(out.text.compare(position, bar.size(), bar), 0) << "the progress is drawn again below each line";
        position += bar.size();
        ++lines;
    }
    EXPECT_EQ(lines, 200u);
    EXPECT_EQ(out.text.substr(position), "\n");
}

} // namespace
