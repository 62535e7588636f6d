#include "model/destination.h"

#include "model/item.h"
#include "model/paths.h"
#include "model/prompt.h"

#ifdef _WIN32
#include <QDir>
#include <QFileInfo>
#else
#include <sys/stat.h>
#endif

#include <vector>

namespace zorv {

namespace {

// A text with a NUL byte names no file: the system would see only the part
// before it (and create the wrong folder).
bool Nameable(const std::string& path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

// Creates one folder whose parent exists; false on any refusal (it exists,
// no permission, a name too long, ...).
bool MakeFolder(const std::string& path)
{
    if (!Nameable(path))
        return false;
#ifdef _WIN32
    return QDir().mkdir(QString::fromStdString(path));
#else
    return ::mkdir(path.c_str(), 0777) == 0;
#endif
}

} // namespace

bool IsDirectory(const std::string& path)
{
    if (!Nameable(path))
        return false;
#ifdef _WIN32
    return QFileInfo(QString::fromStdString(path)).isDir();
#else
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

bool CreateDirectoryTree(const std::string& path)
{
    // Climb while creation fails: the first level that can be created (its
    // parent exists) ends the climb. A text without a separator left has
    // nothing to climb to. Then create the levels passed on the way down,
    // the given folder last.
    std::vector<size_t> below; // lengths of the levels still to create, innermost first
    size_t len = path.size();
    while (!MakeFolder(path.substr(0, len))) {
        const size_t sep = len == 0 ? std::string::npos : path.rfind(kPathSeparator, len - 1);
        if (sep == std::string::npos)
            return false;
        below.push_back(len);
        len = sep;
    }
    for (auto it = below.rbegin(); it != below.rend(); ++it) {
        if (!MakeFolder(path.substr(0, *it)))
            return false;
    }
    return true;
}

int CItem::CheckDestination(IPrompt& prompt, bool& changed)
{
    std::string destination;
    {
        // A worker may be reading the text of a queued item it just took.
        const auto lock = Lock();
        // The root ("/") keeps its separator: it would name nothing without.
        while (m_strDestination.size() > 1 && m_strDestination.back() == kPathSeparator) {
            m_strDestination.pop_back();
            changed = true;
        }
        destination = m_strDestination;
    }
    if (IsDirectory(destination))
        return IDOK;
    const int answer = prompt.Ask(CPrompt{IDS_DEST_CONFIRM, IDS_DEST_CREATE, destination,
                                          PromptButtons::YesNoCancel, PromptIcon::Question});
    if (answer == IDNO)
        return IDNO;
    if (answer != IDYES)
        return IDCANCEL;
    if (CreateDirectoryTree(destination))
        return IDYES;
    // The cause is not told: any refusal reads the same to the user.
    const int goOn = prompt.Ask(CPrompt{IDS_DEST_CONFIRM, IDS_DEST_CREATE_FAILED, destination,
                                        PromptButtons::YesNo, PromptIcon::Error});
    return goOn == IDYES ? IDYES : IDCANCEL;
}

} // namespace zorv
