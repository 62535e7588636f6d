#pragma once
// The resume plan: what a fetch keeps of a partial file an earlier fetch
// left, judged from the partial file's record (engine/partfile.h).
#include "engine/partfile.h"

#include <cstdint>
#include <string>

namespace zorv {

// What a fetch keeps of a partial file that an earlier fetch left.
struct CResume {
    CPartRecord record; // the earlier fetch's; its map: the bytes kept
    std::uint64_t offset = 0; // the first byte to ask for; 0: start over
    bool noRecord = false; // the partial file had no record file at all
};

// The partial file's record, when the partial file still holds what its map
// names and the record can tell the file again: over HTTP by its validator
// (whatever URL it was written for: the server answers the If-Range of the
// item's URL now), over FTP only for the same URL. FTP goes on from the
// gapless start alone (REST). A map of the whole file keeps all but the
// last byte, which is asked for to learn whether the file is still the same.
CResume PlanResume(const std::string& partPath, const std::string& url, bool ftp);

} // namespace zorv
