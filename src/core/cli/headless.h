#pragma once
// The commands zorv runs without a window: --list, --add, --import, --reset,
// --remove, --edit, --fetch, --help, --version. They need only a QCoreApplication.
#include <QStringList>

#include <cstdio>

namespace zorv {

// Exit statuses of the headless commands.
enum : int {
    EXIT_OK = 0,
    EXIT_PARTIAL = 1, // some URL refused, import file failed, item failed or busy
    EXIT_USAGE = 2,   // usage error, unreadable or invalid list
};

// True when `args` (without the program name) asks for a headless command.
bool IsHeadlessCommand(const QStringList& args);

// Runs the headless command in `args` (without the program name) and
// returns the exit status.
int RunHeadless(const QStringList& args, std::FILE* out = stdout, std::FILE* err = stderr);

// Prints the usage text.
void PrintUsage(std::FILE* to);

// ---- shared by the commands ------------------------------------------------

class CZorvDoc;

// Writes `text` as UTF-8.
void Print(std::FILE* to, const QString& text);
// "zorv: message" and a pointer to --help on `err`; returns EXIT_USAGE.
int UsageError(std::FILE* err, const QString& message);
// Opens the list file (a new list when it does not exist and `mayBeNew`);
// false, with the file and the cause on `err`, when it cannot be read.
bool OpenList(CZorvDoc& doc, const QString& path, bool mayBeNew, std::FILE* err);
// Saves the list; false, with the file and the cause on `err`, on failure.
bool SaveList(CZorvDoc& doc, const QString& path, std::FILE* err);

} // namespace zorv
