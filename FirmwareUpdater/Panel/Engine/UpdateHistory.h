#pragma once
// The update history: one line per attempt at a device, in "history" in the user's state folder
// ($XDG_STATE_HOME/Halvard/XR4000 NOVA Firmware Updater), so that "what happened to my wheel
// display last Friday" has an answer after the terminal is closed. A line is seven fields
// separated by tabs:
//
//     2026-12-07T05:52:40Z  Wheel display  2058345D5000  00.49  -  failed  writing block 6 ...
//
// time (UTC), device, bootloader serial, version before, version after, result ("updated" or
// "failed"), failure line (CUpdateFailure::Format); "-" stands for an empty field, and tabs or
// line ends inside a field become blanks.
//
// The file keeps the last kMaxLines lines. An attempt is one append of one line with O_APPEND;
// once the file holds kMaxLines lines, it is rewritten with the newest through a new file beside
// it and a rename, as the bootloader-serial record is. A run killed during an append leaves at
// worst a last line without its line end, and a later append or rewrite a line that is not seven
// fields: reading ignores both, so a kill never costs the lines before it.
//
// Threads: the folder is set at start-up; Append runs on the user-interface thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CUpdateHistory {
public:
    static constexpr const char* kFileName = "history";
    static constexpr std::size_t kMaxLines = 200;
    static constexpr std::size_t kFieldCount = 7;

    struct Entry {
        std::string Time; // "2026-12-07T05:52:40Z"; Now() when empty
        std::string Device;
        std::string BootloaderSerial;
        std::string VersionBefore;
        std::string VersionAfter;
        std::string Result;
        std::string Failure;
    };

    // The folder of the process's history; empty (the default) keeps none.
    static void SetFolder(const std::string& folder);
    [[nodiscard]] static std::string GetFilePath();
    // Appends entry to the process's history; false with one debug line when it cannot.
    static bool Record(const Entry& entry);

    // The current time as the history writes it.
    [[nodiscard]] static std::string Now();
    // The entry's line, with its line end.
    [[nodiscard]] static std::string FormatLine(const Entry& entry);
    // Appends entry's line to path, keeping the last maxLines whole lines. False with message set
    // when the file cannot be written; the lines already there are then untouched.
    static bool AppendTo(const std::string& path, const Entry& entry, std::string& message,
                         std::size_t maxLines = kMaxLines);
    // The whole lines of seven fields in text, oldest first, without their line ends.
    [[nodiscard]] static std::vector<std::string> WholeLines(std::string_view text);
    // WholeLines of the file at path; empty when it is missing or unreadable.
    [[nodiscard]] static std::vector<std::string> ReadLines(const std::string& path);
};
