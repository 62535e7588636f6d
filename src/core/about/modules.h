#pragma once
// The facts that the About box shows: the program's version, the date of a
// file, and the run-time libraries this process has loaded. No widgets here:
// the box only lays the texts out.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace zorv {

// "v%d.%d.%d.%d".
std::string FormatVersion(unsigned major, unsigned minor, unsigned patch, unsigned build);
// The program's own version: the build's project version and build number.
std::string ProgramVersion();

// The 24-character asctime form of a broken-down time, without the line
// feed: "Wed Jan 02 02:03:55 1980" (English names whatever the locale).
std::string FormatAscTime(const std::tm& time);
// The modification time of a file in that form, in local time; nothing when
// the file cannot be read.
std::optional<std::string> FileDateText(const std::string& path);

// One library of the About box's list.
struct CModuleFacts {
    std::string name;      // the file name as loaded (its soname)
    std::string copyright;
    std::string version;
    std::string date;      // modification time of the file
};
// One entry of the list: name, tab, copyright; tab, version, tab, date.
// Lines end in "\r\n" as the list is stored; the box shows them as "\n".
std::string FormatModuleEntry(const CModuleFacts& module);

// The full paths of the shared objects loaded into this process (empty where
// the platform gives no such list).
std::vector<std::string> LoadedLibraryPaths();
// The list of the About box, from the given loaded files: Qt Core, Qt
// Widgets, libcurl and the C library in this order, each with its version
// and file date. A library that is not among `loaded` adds nothing.
std::vector<CModuleFacts> ModuleFacts(const std::vector<std::string>& loaded);
std::string ModuleList(const std::vector<std::string>& loaded);

} // namespace zorv
