#pragma once
// zorv --fetch [--connections N] LIST: downloads the queued items of LIST with
// the fetch workers and the same event handling as the window, then saves LIST.
#include <QStringList>

#include <cstdio>

namespace zorv {

int RunFetch(const QStringList& args, std::FILE* out, std::FILE* err);

} // namespace zorv
