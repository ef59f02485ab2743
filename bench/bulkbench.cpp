#include "bulkbench.h"

#include "comparison.h"
#include "tempfolder.h"

#include <quelm/datafile.h>
#include <quelm/datafilestore.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <span>
#include <string>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

// The tails' checksum, timed as the library takes it.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace quelm::bench {
namespace {

constexpr std::int32_t bulkBars = 10'000'000;
constexpr std::int32_t singleBars = 10'000;
constexpr std::int32_t manySingleBars = 1'000'000;
constexpr std::size_t recordBytes = std::size_t{48} * bulkBars;
constexpr std::uint64_t recordsAt = 64;

[[noreturn]] void fail(const char *call, int error)
{
    throw std::system_error(error, std::generic_category(), call);
}

int openFile(const std::filesystem::path &path, int flags)
{
    const int file = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (file < 0) {
        fail("open", errno);
    }
    return file;
}

template <typename Call> double timed(Call call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return secondsSince(start);
}

const std::vector<Bar> &barsToWrite()
{
    static const std::vector<Bar> bars = [] {
        std::vector<Bar> made(bulkBars);
        for (std::size_t i = 0; i < made.size(); ++i) {
            const double price = 100.0 + static_cast<double>(i % 1000) / 8;
            made[i] = {static_cast<std::int64_t>(i) * 60'000,
                       price,
                       price + 1,
                       price - 1,
                       price,
                       static_cast<double>(i % 50)};
        }
        return made;
    }();
    return bars;
}

// A data file of the store with room for `capacity` bars, in a folder of its own under `base`.
std::filesystem::path madeFile(const std::filesystem::path &base, std::int32_t capacity = bulkBars)
{
    DataFileStore store(base);
    const std::filesystem::path path = store.createFile(1, capacity);
    store.closeFile(1);
    return path;
}

// Opens a file the store made as DataFile::open does, reading its header, so that the header's
// page is then in memory for both ways.
int openMade(const std::filesystem::path &path)
{
    const int file = openFile(path, O_RDWR);
    char header[64];
    if (::pread(file, header, sizeof header, 0) != sizeof header) {
        fail("pread", EIO);
    }
    return file;
}

void writeAll(int file, const void *data, std::size_t size, std::uint64_t offset)
{
    const char *bytes = static_cast<const char *>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t wrote =
            ::pwrite(file, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (wrote < 0) {
            fail("pwrite", errno);
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void syncData(int file)
{
    if (::fdatasync(file) != 0) {
        fail("fdatasync", errno);
    }
}

// Ours and the bare calls, each into a new file the store made (how the file was made and
// flushed changes how fast the file system takes writes into it), with or without a flush.
void compareAppends(benchmark::State &state, const Place &place, std::int32_t capacity,
                    const std::function<void(DataFile &)> &ours, const std::string &counter,
                    const std::function<void(int)> &bare)
{
    testsupport::TempFolder scratch(place.folder, /*settled=*/true);
    int made = 0;
    const Way ourWay{"", [&] {
                         const auto base = scratch.path() / ("ours" + std::to_string(made++));
                         double seconds = 0;
                         {
                             DataFile file = DataFile::open(madeFile(base, capacity),
                                                            DataFile::Mode::ReadWrite);
                             seconds = timed([&] { ours(file); });
                         }
                         std::filesystem::remove_all(base);
                         return seconds;
                     }};
    const Way bareWay{counter, [&] {
                          const auto base = scratch.path() / ("bare" + std::to_string(made++));
                          const int file = openMade(madeFile(base, capacity));
                          const double seconds = timed([&] { bare(file); });
                          ::close(file);
                          std::filesystem::remove_all(base);
                          return seconds;
                      }};
    compareWays(state, {ourWay, bareWay});
}

void appendFlushed(benchmark::State &state, const Place &place)
{
    const std::vector<Bar> &bars = barsToWrite();
    compareAppends(
        state, place, bulkBars,
        [&](DataFile &file) {
            file.appendBars(bars);
            file.flush();
        },
        "pwrite_fdatasync_us",
        [&](int file) {
            writeAll(file, bars.data(), recordBytes, recordsAt);
            syncData(file);
        });
}

// `count` bars one call a bar, each counted in the file's tail as it returns, against the bare
// pwrite of each record; with one flush at the end or none.
void singleAppends(benchmark::State &state, const Place &place, std::int32_t count, bool flush)
{
    const std::span<const Bar> bars = std::span(barsToWrite()).first(count);
    compareAppends(
        state, place, count,
        [&](DataFile &file) {
            for (const Bar &bar : bars) {
                file.appendBar(bar);
            }
            if (flush) {
                file.flush();
            }
        },
        flush ? "pwrite_fdatasync_us" : "pwrite_us",
        [&](int file) {
            for (std::size_t i = 0; i < bars.size(); ++i) {
                writeAll(file, &bars[i], sizeof(Bar), recordsAt + i * sizeof(Bar));
            }
            if (flush) {
                syncData(file);
            }
        });
}

// What the tail's checksum costs: XXH3-64 taken one more record at a time, as each append of
// one bar takes it, and over the longest tail a reader proves (1 MiB of records) at once.
void tailChecksum(benchmark::State &state)
{
    const std::span<const Bar> bars = std::span(barsToWrite()).first(quelm::format::maxTailBars);
    XXH3_state_t sum;
    XXH3_INITSTATE(&sum);
    std::uint64_t value = 0;
    const Way perRecord{"", [&] {
                            return timed([&] {
                                       XXH3_64bits_reset(&sum);
                                       for (const Bar &bar : bars) {
                                           XXH3_64bits_update(&sum, &bar, sizeof bar);
                                           value ^= XXH3_64bits_digest(&sum);
                                       }
                                   }) /
                                   static_cast<double>(bars.size());
                        }};
    const Way whole{"whole_tail_us", [&] {
                        return timed([&] { value ^= XXH3_64bits(bars.data(), bars.size_bytes()); });
                    }};
    compareWays(state, {perRecord, whole});
    benchmark::DoNotOptimize(value);
}
void read(benchmark::State &state, const Place &place)
{
    testsupport::TempFolder scratch(place.folder, /*settled=*/true);
    const auto path = madeFile(scratch.path() / "filled");
    DataFile::open(path, DataFile::Mode::ReadWrite).appendBars(barsToWrite());
    std::vector<Bar> into(bulkBars);
    char *const buffer = reinterpret_cast<char *>(into.data());
    const DataFile file = DataFile::open(path);
    const int fd = openFile(path, O_RDONLY);
    const Way ours{"", [&] { return timed([&] { file.readBars(0, into); }); }};
    const Way bare{"pread_us", [&] {
                       return timed([&] {
                           for (std::size_t done = 0; done < recordBytes;) {
                               const ssize_t got = ::pread(fd, buffer + done, recordBytes - done,
                                                           static_cast<off_t>(recordsAt + done));
                               if (got <= 0) {
                                   fail("pread", got < 0 ? errno : EIO);
                               }
                               done += static_cast<std::size_t>(got);
                           }
                       });
                   }};
    const Way mapped{"mmap_us", [&] {
                         return timed([&] {
                             const std::size_t length = recordsAt + recordBytes;
                             void *map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
                             if (map == MAP_FAILED) {
                                 fail("mmap", errno);
                             }
                             std::memcpy(buffer, static_cast<char *>(map) + recordsAt, recordBytes);
                             ::munmap(map, length);
                         });
                     }};
    compareWays(state, {ours, bare, mapped});
    ::close(fd);
}

} // namespace

// Each way goes first as often as the others: the first write after a benchmark removed its
// files pays for the file system catching up.
void registerBulk(const std::vector<Place> &places)
{
    benchmark::RegisterBenchmark("tail_checksum", tailChecksum)
        ->UseManualTime()
        ->Iterations(20)
        ->Unit(benchmark::kNanosecond);
    for (const Place &place : places) {
        benchmark::RegisterBenchmark(("bulk_append_flushed/" + place.name).c_str(), appendFlushed,
                                     place)
            ->UseManualTime()
            ->Iterations(4)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("single_appends/" + place.name).c_str(), singleAppends, place,
                                     singleBars, true)
            ->UseManualTime()
            ->Iterations(10)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("single_appends_unflushed/" + place.name).c_str(),
                                     singleAppends, place, manySingleBars, false)
            ->UseManualTime()
            ->Iterations(2)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("bulk_read/" + place.name).c_str(), read, place)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
}

void printBulkFigures(const FigureReporter &results, const std::vector<Place> &places,
                      GoalTally &tally, std::ostream &out)
{
    const auto perRecord = results.medianNs("tail_checksum");
    const auto wholeTail = results.counter("tail_checksum", "whole_tail_us");
    if (perRecord && wholeTail) {
        out << "Tail checksum (XXH3-64): one more record and the value, as each append of one bar "
               "takes it, "
            << format("%.1f ns", *perRecord) << "; the longest tail a reader proves (1 MiB) "
            << format("%.1f us", *wholeTail) << "\n";
    }
    out << "Bulk bars: 10^7 bars (480 MB) in one call into or from a file the store made, warm "
           "page cache, against bare calls on the same kind of file; 10^4 and 10^6 bars one call "
           "a bar, each counted in the file's tail\n";
    for (const Place &place : places) {
        const std::string read = "bulk_read/" + place.name;
        const std::string flushed = "bulk_append_flushed/" + place.name;
        if (const auto c = results.compared(flushed, "pwrite_fdatasync_us")) {
            out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder)
                << "): appendBars + flush " << format("%.1f ms", c->oursNs / 1e6)
                << ", pwrite + fdatasync " << format("%.1f ms", c->theirsUs / 1e3)
                << "; ratio = " << format("%.2f", c->ratio) << " "
                << tally.check(GoalId::bulkAppendFlushed, c->ratio) << "\n";
        }
        const std::string single = "single_appends/" + place.name;
        if (const auto c = results.compared(single, "pwrite_fdatasync_us")) {
            out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder)
                << "): 10^4 appendBar + one flush " << format("%.2f ms", c->oursNs / 1e6)
                << ", 10^4 pwrite + one fdatasync " << format("%.2f ms", c->theirsUs / 1e3)
                << "; ratio = " << format("%.2f", c->ratio) << " "
                << tally.check(GoalId::singleAppendsFlushed, c->ratio) << "\n";
        }
        const std::string many = "single_appends_unflushed/" + place.name;
        if (const auto c = results.compared(many, "pwrite_us")) {
            out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder)
                << "): 10^6 appendBar, no flush (a fold every "
                << std::to_string(quelm::format::maxTailBars) << " bars) "
                << format("%.1f ms", c->oursNs / 1e6) << ", 10^6 pwrite of a record "
                << format("%.1f ms", c->theirsUs / 1e3) << "; ratio = " << format("%.2f", c->ratio)
                << "\n";
        }
        const auto reading = results.compared(read, "pread_us");
        const auto mapped = results.counter(read, "mmap_us");
        if (reading && mapped) {
            out << "  " << place.name << " (" << testsupport::fileSystemName(place.folder)
                << "): readBars " << format("%.1f ms", reading->oursNs / 1e6) << ", pread "
                << format("%.1f ms", reading->theirsUs / 1e3) << ", mmap + copy "
                << format("%.1f ms", *mapped / 1e3)
                << "; readBars / pread = " << format("%.2f", reading->ratio) << " "
                << tally.check(GoalId::bulkRead, reading->ratio)
                << ", mmap + copy / pread = " << format("%.2f", *mapped / reading->theirsUs) << "\n";
        }
    }
}

} // namespace quelm::bench
