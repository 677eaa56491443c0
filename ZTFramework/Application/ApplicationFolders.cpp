#include "ZTFramework/Application/ApplicationFolders.h"

#include "ZTFramework/Errors/Exception.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace ZT {

namespace {

std::string EnvironmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string JoinPath(std::string folder, const std::string& name)
{
    if (name.empty())
        return folder;
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + name;
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Made with every missing parent. A failure is left for whoever uses the folder to meet.
void CreateFolder(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

} // namespace

CApplicationFolders::Environment CApplicationFolders::Environment::FromProcess()
{
    Environment environment;
    environment.Home = EnvironmentValue("HOME");
    if (environment.Home.empty()) {
        // A service or a cleaned environment: the account's own home.
        if (const passwd* account = getpwuid(getuid()); account && account->pw_dir)
            environment.Home = account->pw_dir;
    }
    environment.XdgConfigHome = EnvironmentValue("XDG_CONFIG_HOME");
    environment.XdgDataHome = EnvironmentValue("XDG_DATA_HOME");
    environment.XdgStateHome = EnvironmentValue("XDG_STATE_HOME");
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        environment.ProgramPath = program.string();
    return environment;
}

CApplicationFolders::CApplicationFolders(Environment environment, WString companyName, WString productName)
    : mEnvironment(std::move(environment)), mCompanyName(companyName.ToUTF8()), mProductName(productName.ToUTF8())
{
}

WString CApplicationFolders::GetFolder(std::uint32_t pathId) const
{
    std::string folder;
    switch (pathId) {
    case kProgramFolder: {
        const std::string& program = mEnvironment.ProgramPath;
        const std::size_t slash = program.rfind('/');
        if (slash == std::string::npos)
            return WString();
        folder = slash == 0 ? std::string("/") : program.substr(0, slash);
        return WString(folder.c_str());
    }
    case kResourceFolder:
        return WString(kResourceFolderText);
    case kAppSettingsFolder:
        folder = JoinPath(JoinPath(XdgBase(mEnvironment.XdgConfigHome, ".config"), mCompanyName), mProductName);
        break;
    case kUserSettingsFolder:
        folder = JoinPath(JoinPath(XdgBase(mEnvironment.XdgDataHome, ".local/share"), mCompanyName), mProductName);
        break;
    case kDocumentsFolder:
        folder = DocumentsFolder();
        break;
    default:
        ZT_THROW(OutOfRange, "Unknown Path ID.", "ZT::CApplicationFolders::GetFolder");
    }
    folder = WithoutTrailingSlash(folder);
    CreateFolder(folder);
    return WString(folder.c_str());
}

WString CApplicationFolders::GetStateFolder() const
{
    const std::string folder = WithoutTrailingSlash(
        JoinPath(JoinPath(XdgBase(mEnvironment.XdgStateHome, ".local/state"), mCompanyName), mProductName));
    CreateFolder(folder);
    return WString(folder.c_str());
}

std::string CApplicationFolders::XdgBase(const std::string& variable, const char* fallback) const
{
    if (!variable.empty() && variable.front() == '/')
        return variable;
    return JoinPath(mEnvironment.Home, fallback);
}

std::string CApplicationFolders::DocumentsFolder() const
{
    const std::string userDirs = JoinPath(XdgBase(mEnvironment.XdgConfigHome, ".config"), "user-dirs.dirs");
    std::ifstream file(userDirs);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        std::string documents = ReadDocumentsDir(text.str(), mEnvironment.Home);
        if (!documents.empty())
            return documents;
    }
    return JoinPath(mEnvironment.Home, "Documents");
}

std::string CApplicationFolders::ReadDocumentsDir(const std::string& userDirsText, const std::string& home)
{
    static constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
    std::string found;
    std::istringstream lines(userDirsText);
    std::string line;
    // The last assignment wins, as when the file is sourced by a shell.
    while (std::getline(lines, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0)
            continue;
        std::string value = line.substr(start + kKey.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            continue;
        value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) {
            const std::string rest = value.substr(5);
            if (!rest.empty() && rest.front() != '/')
                continue; // "$HOMEWORK" is no path below the home folder
            found = home + rest;
        } else if (!value.empty() && value.front() == '/') {
            found = value;
        }
    }
    return WithoutTrailingSlash(found);
}

} // namespace ZT
