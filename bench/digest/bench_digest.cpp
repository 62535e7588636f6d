// The check of a downloaded file against its server's digest, as a fetch
// runs it (engine/digest.h): the file is hashed on the check's own thread
// while this thread polls it as the transfer loop would.
//
//   zorv_bench_digest FOLDER [SIZE_MIB]     (default 1024)
//
// Writes a file of SIZE_MIB MiB into FOLDER (it stays in the page cache, as
// a file just downloaded does), hashes it with SHA-256, SHA-512 and MD5 and
// prints each rate, then starts one more SHA-256 check, stops it after
// 100 ms and prints how long the stop took. Target: SHA-256 at 200 MB/s or
// more (10^6 bytes), a stop within 50 ms. Exit status: 0 met, 1 missed, 2
// set-up error.
#include "engine/digest.h"

#include <QFile>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace zorv;
using Clock = std::chrono::steady_clock;

namespace {

CFileIdentity IdentityOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Runs a check to its end (or stops it after `stopAfter`); the seconds it took.
double Run(const std::string& path, EDigest algorithm, CDigestCheck::EState& state,
           std::chrono::milliseconds stopAfter = std::chrono::hours(24))
{
    CDigestCheck check(path, IdentityOf(path), CDigest{algorithm, QByteArray(DigestSize(algorithm), '\0')}, {});
    const auto start = Clock::now();
    auto stopAt = start;
    bool stopped = false;
    while ((state = check.State()) == CDigestCheck::EState::Running) {
        if (!stopped && Clock::now() - start >= stopAfter) {
            check.Stop();
            stopAt = Clock::now();
            stopped = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::chrono::duration<double>(Clock::now() - (stopped ? stopAt : start)).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zorv_bench_digest FOLDER [SIZE_MIB]\n");
        return 2;
    }
    const long mib = argc > 2 ? std::atol(argv[2]) : 1024;
    if (mib <= 0)
        return 2;
    const std::string path = std::string(argv[1]) + "/zorv-bench-digest.bin";
    {
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 2;
        std::mt19937_64 random(1);
        std::vector<std::uint64_t> block(1 << 17); // 1 MiB
        for (long i = 0; i < mib; ++i) {
            for (auto& w : block)
                w = random();
            if (file.write(reinterpret_cast<const char*>(block.data()), 1 << 20) != 1 << 20)
                return 2;
        }
    }
    const double bytes = static_cast<double>(mib) * (1 << 20);
    double sha256 = 0;
    bool ok = true;
    for (EDigest algorithm : {EDigest::Sha256, EDigest::Sha512, EDigest::Md5}) {
        CDigestCheck::EState state{};
        const double s = Run(path, algorithm, state);
        if (state != CDigestCheck::EState::Mismatch) {
            std::fprintf(stderr, "%s: the check did not read the file\n", DigestName(algorithm));
            ok = false;
        }
        const double rate = bytes / s / 1e6;
        if (algorithm == EDigest::Sha256)
            sha256 = rate;
        std::printf("%-8s %ld MiB in %.2f s: %.0f MB/s\n", DigestName(algorithm), mib, s, rate);
    }
    CDigestCheck::EState state{};
    const double stop = Run(path, EDigest::Sha256, state, std::chrono::milliseconds(100)) * 1000;
    std::printf("stop     %.1f ms after Stop (%s)\n", stop,
                state == CDigestCheck::EState::Stopped ? "stopped" : "had ended");
    QFile::remove(QString::fromStdString(path));
    const bool met = ok && sha256 >= 200 && stop <= 50;
    std::printf("%s\n", met ? "targets met" : "target missed");
    return met ? 0 : 1;
}
