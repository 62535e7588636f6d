#pragma once
// The commands zorv runs without a window: --list, --add, --fetch, --help,
// --version. They need only a QCoreApplication.
#include <QStringList>

#include <cstdio>

namespace zorv {

// Exit statuses of the headless commands.
enum : int {
    EXIT_OK = 0,
    EXIT_PARTIAL = 1, // some URL refused, some item failed
    EXIT_USAGE = 2,   // usage error, unreadable or invalid list
    EXIT_INTERRUPTED = 130,
};

// True when `args` (without the program name) asks for a headless command.
bool IsHeadlessCommand(const QStringList& args);

// Runs the headless command in `args` (without the program name) and
// returns the exit status.
int RunHeadless(const QStringList& args, std::FILE* out = stdout, std::FILE* err = stderr);

// Prints the usage text.
void PrintUsage(std::FILE* to);

} // namespace zorv
