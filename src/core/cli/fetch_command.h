#pragma once
// zorv --fetch [--connections N] [--max-segments N] [--limit-rate K] LIST:
// downloads the queued items of LIST with the fetch workers and the same
// event handling as the window, then saves LIST. --max-segments and
// --limit-rate stand in for the settings MaxSegments and SpeedLimit (KiB/s).
#include <QStringList>

#include <cstdio>

namespace zorv {

int RunFetch(const QStringList& args, std::FILE* out, std::FILE* err);

} // namespace zorv
