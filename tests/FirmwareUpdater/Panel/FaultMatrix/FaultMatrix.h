#pragma once
// The fault matrix's parts: its rows (a step of the update and a fault kind), its columns (the
// device at fault and the front end), the bench that runs one cell in a world of its own, and the
// generated section of docs/RELIABILITY.md.

#include "FirmwareUpdater/Panel/Engine/UpdateEngineInterface.h"
#include "FirmwareUpdater/Panel/Engine/UpdateFailure.h"
#include "FirmwareUpdater/Panel/Engine/UpdateSequence.h"
#include "Simulator/SimulatedDeviceFaults.h"
#include "tests/ZTFramework/Utilities/Storage/TempFolder.h"
#include "tools/DfuSeImage.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace FaultMatrix {

constexpr const char* kBeginMarker = "<!-- fault-matrix:begin -->";
constexpr const char* kEndMarker = "<!-- fault-matrix:end -->";

enum class Target : std::uint32_t { Controller = 0, Display = 1 };
enum class FrontEnd { Sequence, CommandLine };

// Which request of a phase: the phase's only one, or a place among those a clean run sends.
enum class Place { Only, First, Middle, LastButOne, Last };

struct FaultRow {
    std::string Step; // "first erase"
    SimulatedFaultPhase Phase = SimulatedFaultPhase::ModeSwitch;
    Place Where = Place::Only;
    SimulatedFaultKind Kind = SimulatedFaultKind::Stall;

    [[nodiscard]] std::string Label() const;
};

struct Column {
    Target Device = Target::Controller;
    FrontEnd Through = FrontEnd::Sequence;
};

// Every step with every fault kind that has something to hit there.
[[nodiscard]] std::vector<FaultRow> AllRows();
[[nodiscard]] std::vector<Column> AllColumns();
[[nodiscard]] std::string ColumnLabel(const Column& column);

// How many requests of each counted phase a clean update sends to each device.
struct RequestCounts {
    std::uint32_t Erases = 0;
    std::uint32_t SetAddresses = 0;
    std::uint32_t DataBlocks = 0;
};
struct Calibration {
    std::array<RequestCounts, 2> Counts; // controller, wheel display
    std::string Problem;                 // why a clean update did not do for counting; empty if it did
};
// The fault point a row makes for one device: its request number from the counts.
[[nodiscard]] SimulatedFaultAt PointFor(const FaultRow& row, const RequestCounts& counts);

// How the device at fault ends the first run, as the design has it.
struct Expectation {
    LUpdateSequence::Outcome Result = LUpdateSequence::Outcome::Updated;
    CUpdateFailure::Phase Where = CUpdateFailure::Phase::None; // for Failed
};
[[nodiscard]] Expectation Expected(SimulatedFaultPhase phase, SimulatedFaultKind kind);

struct CellResult {
    std::string Text;                  // the matrix's cell: deterministic, no timings
    bool Recovered = false;
    std::vector<std::string> Problems; // each a broken promise, in words
    std::string Transcript;            // what both runs said, for failure messages
};
struct RowResult {
    FaultRow Row;
    std::vector<CellResult> Cells; // in the order of AllColumns
};

// The images both devices are written with, in a folder that serves as the application's folder.
class CMatrixBench {
public:
    CMatrixBench();
    // One clean update through the sequence, counted.
    [[nodiscard]] Calibration Calibrate();
    [[nodiscard]] CellResult RunCell(const FaultRow& row, const Column& column, const Calibration& calibration);

private:
    ZT::Testing::TempFolder mFolder{"zt-fault-matrix"};
    std::array<DfuSeImage, 2> mImages;
};

// The section between the markers (without them).
[[nodiscard]] std::string RenderSection(const std::vector<RowResult>& rows, const Calibration& calibration);
// Empty when document's section is section; otherwise the first line that differs, in words.
[[nodiscard]] std::string CompareSection(const std::string& document, const std::string& section);
// Puts section between the markers of document into rewritten; empty, or why it cannot.
[[nodiscard]] std::string ReplaceSection(const std::string& document, const std::string& section, std::string& rewritten);

} // namespace FaultMatrix
