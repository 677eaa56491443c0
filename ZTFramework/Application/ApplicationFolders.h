#pragma once
// The folders the application works with, by path ID:
//
//   0  the folder of the program file: the resolved /proc/self/exe without its last "/" part,
//      so a symbolic link to the program elsewhere still leads to the files beside the real one
//   1  "::", which stands for the program's own built-in resources
//   2  the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config), then the company
//      name and the product name as two further folders
//   3  the same below the user's data folder ($XDG_DATA_HOME, else ~/.local/share)
//   4  the user's documents folder: XDG_DOCUMENTS_DIR of user-dirs.dirs in the configuration
//      folder, else ~/Documents
//
// Besides them, GetStateFolder gives the user's state folder ($XDG_STATE_HOME, else
// ~/.local/state) with the company and product folders below it: what the program remembers
// between runs about the devices it has seen, which is neither a setting nor a document.
//
// Folders 2, 3 and 4 (and the state folder) are created, with every missing parent, when they are asked for; a folder
// that cannot be created is still returned (whoever opens a file in it then gets the error).
// Paths are joined with "/" and never end in "/" (except the root itself).
//
// Threads: const members may be called from any thread; the environment is read once, by
// FromProcess, which belongs to start-up.

#include "ZTFramework/Utilities/Storage/StringT.h"

#include <cstdint>
#include <string>

namespace ZT {

class CApplicationFolders {
public:
    enum PathId : std::uint32_t {
        kProgramFolder = 0,
        kResourceFolder = 1,
        kAppSettingsFolder = 2,
        kUserSettingsFolder = 3,
        kDocumentsFolder = 4,
    };

    // "::": folder 1, the program's built-in resources.
    static constexpr const wchar_t* kResourceFolderText = L"::";

    // What the folders are made from, as the process found it at start-up. Empty members were
    // not set.
    struct Environment {
        std::string Home;          // $HOME, else the password database's home of the user
        std::string XdgConfigHome; // $XDG_CONFIG_HOME
        std::string XdgDataHome;   // $XDG_DATA_HOME
        std::string XdgStateHome;  // $XDG_STATE_HOME
        std::string ProgramPath;   // the resolved program file

        // The process's own environment and program file.
        [[nodiscard]] static Environment FromProcess();
    };

    CApplicationFolders(Environment environment, WString companyName, WString productName);

    // The folder of pathId (see the table above). Throws ZT::Exception<std::out_of_range>
    // ("Out of Range : Unknown Path ID.") for an ID above 4. Folders 2 to 4 touch the file
    // system (they are created when missing); 0 and 1 do not.
    [[nodiscard]] WString GetFolder(std::uint32_t pathId) const;

    // The state folder (see the header comment), created when missing. Touches the file system.
    [[nodiscard]] WString GetStateFolder() const;

    [[nodiscard]] const Environment& GetEnvironment() const noexcept { return mEnvironment; }

    // The documents folder that a user-dirs.dirs text names, with "$HOME" replaced by home;
    // empty when the text has no usable XDG_DOCUMENTS_DIR line (only absolute paths and paths
    // starting with "$HOME" count, as the XDG user-dirs format allows).
    [[nodiscard]] static std::string ReadDocumentsDir(const std::string& userDirsText, const std::string& home);

private:
    // The base directory of an XDG variable: the variable when it is an absolute path (relative
    // ones are invalid and ignored), else home + fallback.
    [[nodiscard]] std::string XdgBase(const std::string& variable, const char* fallback) const;
    [[nodiscard]] std::string DocumentsFolder() const;

    Environment mEnvironment;
    std::string mCompanyName; // UTF-8
    std::string mProductName; // UTF-8
};

} // namespace ZT
