#pragma once
// zorv --fetch [--connections N] [--max-segments N] [--limit-rate K]
// [--max-per-server N] [--cacert FILE] [--existing rename|replace|skip] LIST:
// downloads the queued items of LIST with the fetch workers and the same
// event handling as the window, then saves LIST. --max-segments,
// --limit-rate, --max-per-server, --cacert and --existing stand in for the
// settings MaxSegments, SpeedLimit (KiB/s), MaxConnectionsPerServer,
// CaCertificates and ExistingFile.
#include <QStringList>

#include <cstdio>

namespace zorv {

int RunFetch(const QStringList& args, std::FILE* out, std::FILE* err);

} // namespace zorv
