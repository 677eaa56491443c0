// Every fault the simulator injects, at every step of an update, on each of the two devices,
// through both front ends that drive the update sequence: the sequence with a host of the test's
// own, and the command-line run of a silent update. Each cell runs the pair in virtual time with
// the fault on one device, checks how the run ended, then starts the updater again as a person
// would (the fault gone, the same devices with their flash and their bootloaders' state, a device
// that left the bus or stopped answering plugged in again) and checks that this plain rerun brings
// both devices to their new firmware. Neither run may write a device with the other's image.
//
// The matrix goes into docs/RELIABILITY.md between its markers; the test fails when the document
// says something else. XR4000_WRITE_RELIABILITY_DOC=1 rewrites that section (scripts/fault-matrix.sh).

#include "FaultMatrix.h"

#include "tests/FirmwareUpdater/Panel/Engine/UpdateEngineTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using namespace FaultMatrix;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(FaultMatrix, EveryFaultAtEveryStepEndsAsDesignedAndAPlainRerunRecovers)
{
    CMatrixBench bench;
    const Calibration calibration = bench.Calibrate();
    ASSERT_TRUE(calibration.Problem.empty()) << calibration.Problem;

    std::vector<RowResult> rows;
    for (const FaultRow& row : AllRows()) {
        RowResult result{row, {}};
        for (const Column& column : AllColumns()) {
            CellResult cell = bench.RunCell(row, column, calibration);
            for (const std::string& problem : cell.Problems)
                ADD_FAILURE() << row.Label() << " on the " << ColumnLabel(column) << ": " << problem << "\n"
                              << cell.Transcript;
            result.Cells.push_back(std::move(cell));
        }
        rows.push_back(std::move(result));
    }

    const std::string section = RenderSection(rows, calibration);
    const std::string documentPath = ZT_RELIABILITY_DOC;
    const std::string document = ReadFile(documentPath);
    const char* write = std::getenv("XR4000_WRITE_RELIABILITY_DOC");
    if (write && std::string(write) == "1") {
        std::string rewritten;
        const std::string why = ReplaceSection(document, section, rewritten);
        ASSERT_TRUE(why.empty()) << documentPath << ": " << why;
        std::ofstream(documentPath, std::ios::binary | std::ios::trunc) << rewritten;
        return;
    }
    const std::string difference = CompareSection(document, section);
    EXPECT_TRUE(difference.empty()) << documentPath << " does not hold the fault matrix this run produced: "
                                    << difference
                                    << "\nRun scripts/fault-matrix.sh (XR4000_WRITE_RELIABILITY_DOC=1) to rewrite it.";
}

// What the section's text is checked with, on small documents.
TEST(FaultMatrixDocument, TheFirstDifferingLineIsNamed)
{
    const std::string document = "intro\n" + std::string(kBeginMarker) + "\nline 1\nline 2\n" + kEndMarker + "\nrest\n";
    EXPECT_EQ(CompareSection(document, "line 1\nline 2\n"), "");
    EXPECT_EQ(CompareSection(document, "line 1\nline two\n"),
              "line 2 of the section: the document has \"line 2\", the run produced \"line two\"");
    EXPECT_EQ(CompareSection(document, "line 1\nline 2\nline 3\n"),
              "line 3 of the section: the document has nothing (its section ends), the run produced \"line 3\"");
    EXPECT_EQ(CompareSection("no markers\n", "line 1\n"),
              "the document has no line \"" + std::string(kBeginMarker) + "\" followed by a line \"" + kEndMarker + "\"");
}

TEST(FaultMatrixDocument, RewritingReplacesOnlyTheSection)
{
    const std::string document = "intro\n" + std::string(kBeginMarker) + "\nold\n" + kEndMarker + "\nrest\n";
    std::string rewritten;
    EXPECT_EQ(ReplaceSection(document, "new 1\nnew 2\n", rewritten), "");
    EXPECT_EQ(rewritten, "intro\n" + std::string(kBeginMarker) + "\nnew 1\nnew 2\n" + kEndMarker + "\nrest\n");
    EXPECT_EQ(CompareSection(rewritten, "new 1\nnew 2\n"), "");
    EXPECT_NE(ReplaceSection(std::string(kEndMarker) + "\n" + kBeginMarker + "\n", "x\n", rewritten), "")
        << "an end marker before the begin marker was taken for a section";
}

} // namespace
