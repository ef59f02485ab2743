#include "benchmarks.h"
#include "scratchfolder.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace quelm::bench {
namespace {

// The size of a file with room for `bars` bars: a 64-byte header and 48 bytes a bar.
off_t fileSize(std::int64_t bars)
{
    return static_cast<off_t>(64 + 48 * bars);
}

std::array<char, 64> header = {'Q', 'U', 'E', 'L', 'M'};

bool writeHeader(int file)
{
    return ::pwrite(file, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size());
}

// What a close that records "closed cleanly" in the header adds: read the header back, write
// it again and flush it.
bool markClosed(int file)
{
    return ::pread(file, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
           writeHeader(file) && ::fdatasync(file) == 0;
}

// Figure 2, durable floor: the system calls that a crash-safe creation cannot do without. The
// file is made nameless, reserved, given its header and flushed; only then does it get its name
// (through /proc, as a process without special rights must), and the folder is flushed so that
// the name survives a power cut. With `marked`, the close is also recorded in the header.
void durableFloor(benchmark::State &state, const std::filesystem::path &base, bool marked)
{
    const off_t size = fileSize(state.range(0));
    for (auto _ : state) {
        ScratchFolder folder(base);
        const std::string target = (folder.path() / "0001.qdf").string();
        const auto start = std::chrono::steady_clock::now();
        const int directory = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int file = ::open(folder.path().c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
        const std::string self = "/proc/self/fd/" + std::to_string(file);
        const bool made =
            directory >= 0 && file >= 0 && (errno = ::posix_fallocate(file, 0, size)) == 0 &&
            writeHeader(file) && ::fdatasync(file) == 0 &&
            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 &&
            ::fsync(directory) == 0 && (!marked || markClosed(file));
        const bool closed = ::close(file) == 0 && ::close(directory) == 0;
        state.SetIterationTime(secondsSince(start));
        if (!made || !closed) {
            state.SkipWithError(std::strerror(errno));
            break;
        }
    }
}

// Figure 2, bare minimum: a named file, reserved and given its header, with nothing flushed.
void bareFloor(benchmark::State &state, const std::filesystem::path &base)
{
    const off_t size = fileSize(state.range(0));
    for (auto _ : state) {
        ScratchFolder folder(base);
        const std::filesystem::path target = folder.path() / "0001.qdf";
        const auto start = std::chrono::steady_clock::now();
        const int file = ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const bool made =
            file >= 0 && (errno = ::posix_fallocate(file, 0, size)) == 0 && writeHeader(file);
        const bool closed = ::close(file) == 0;
        state.SetIterationTime(secondsSince(start));
        if (!made || !closed) {
            state.SkipWithError(std::strerror(errno));
            break;
        }
    }
}

void withBarCounts(benchmark::internal::Benchmark *benchmark)
{
    for (const std::int64_t bars : barCounts) {
        benchmark->Arg(bars);
    }
    benchmark->UseManualTime()->Unit(benchmark::kMicrosecond);
}

} // namespace

void registerFloors(const std::vector<Place> &places)
{
    for (const Place &place : places) {
        withBarCounts(benchmark::RegisterBenchmark(("floor_durable/" + place.name).c_str(),
                                                   durableFloor, place.folder, false));
        withBarCounts(benchmark::RegisterBenchmark(("floor_marked/" + place.name).c_str(),
                                                   durableFloor, place.folder, true));
        withBarCounts(benchmark::RegisterBenchmark(("floor_bare/" + place.name).c_str(), bareFloor,
                                                   place.folder));
    }
}

} // namespace quelm::bench
