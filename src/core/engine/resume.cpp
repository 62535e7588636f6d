#include "engine/resume.h"

#include <filesystem>
#include <optional>
#include <system_error>

namespace zorv {

namespace {

std::filesystem::path FsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace

CResume PlanResume(const std::string& partPath, const std::string& url, bool ftp)
{
    bool absent = false;
    std::optional<CPartRecord> rec = ReadPartRecord(partPath, nullptr, &absent);
    if (!rec) {
        CResume none;
        none.noRecord = absent;
        return none;
    }
    // Over HTTP the validator (sent as If-Range) tells whether the server
    // still has the same file, whatever URL serves it now: a refreshed link
    // goes on from the bytes an older one left. FTP has no validator, so only
    // the same URL goes on.
    if ((ftp && rec->url != url) || (!ftp && rec->validator.empty()) || rec->done.Empty())
        return {};
    std::error_code ec;
    const auto size = std::filesystem::file_size(FsPath(partPath), ec);
    if (ec || size < rec->done.End() || (rec->length && size > rec->length))
        return {};
    CResume resume{std::move(*rec)};
    CRangeMap& done = resume.record.done;
    if (ftp || !resume.record.length) {
        const std::uint64_t prefix = done.PrefixEnd();
        done = {};
        done.Add(0, prefix);
    }
    if (resume.record.length && done.Holes(resume.record.length).empty()) {
        CRangeMap most;
        most.Add(0, resume.record.length - 1);
        done = most;
    }
    if (done.Empty())
        return {};
    resume.offset = done.Holes(resume.record.length ? resume.record.length : UINT64_MAX).front().first;
    return resume;
}
} // namespace zorv
