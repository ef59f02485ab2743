// The power-cut check's workload, written against the data file library's public API only: the
// shared tool's, with a sixth file filled one bar a call, so that cuts find tails of single
// appends, one folded in by the append that passed the tail's bound.
//
//   workload run ROOT LOG IMPORT_TOOL CSV_FOLDER
//       a store on ROOT makes six files, fills five in bulk calls with a flush after each and
//       one a bar a call, mostly without flushes, has quelm-import add bars to two of them, and
//       closes them all
//   workload restart ROOT LOG
//       a new store on ROOT (as the next start after a power cut): makes one file, fills it,
//       flushes and closes it
//
// After each step that returned, one line goes to LOG (a file outside the disk under test),
// written and fsync'ed before the next step:
//   created N CAPACITY RELATIVE/PATH     flushed N TOTAL      appended N TOTAL
//   closed N TOTAL                       imported N TOTAL     done
// An append that passed the tail's bound is folded in with a flush: "flushed" follows it.
// The first failure is logged as "failed ..." and ends the program with 3.
// Bar i of file N is barFor(N, i); the check computes the same bars to compare.
#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

int logFd = -1;

void note(const std::string &line)
{
    const std::string text = line + "\n";
    if (::write(logFd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::fsync(logFd) != 0) {
        std::perror("log");
        std::exit(4);
    }
}

// Exact in binary and in shortest decimal: halves, quarters, eighths.
quelm::Bar barFor(int file, std::uint64_t i)
{
    const double base = 1000.0 * file + static_cast<double>(i % 100000) + 0.5;
    return {1796623260000 + static_cast<std::int64_t>(i) * 60000,
            base,
            base + 1.25,
            base - 0.75,
            base + 0.125,
            static_cast<double>(i + 1)};
}

std::vector<quelm::Bar> barsFor(int file, std::uint64_t first, std::uint64_t count)
{
    std::vector<quelm::Bar> bars;
    bars.reserve(count);
    for (std::uint64_t i = first; i < first + count; ++i) {
        bars.push_back(barFor(file, i));
    }
    return bars;
}

struct Run
{
    std::filesystem::path root;
    std::string importTool;
    std::filesystem::path csvFolder;
    std::optional<quelm::DataFileStore> store;
    std::map<int, std::uint64_t> total;     // bars appended to each file so far
    std::map<int, std::uint64_t> unflushed; // of those, the bars appended since its last flush
    std::map<int, quelm::DataFile> open;

    std::filesystem::path path(int n) { return *store->filePath(n); }

    void create(int n, int capacity)
    {
        std::int32_t number = n;
        std::int32_t bars = capacity;
        store->CreateDataFile(number, bars);
        total[n] = 0;
        note("created " + std::to_string(n) + " " + std::to_string(capacity) + " " +
             std::filesystem::relative(path(n), root).string());
    }

    quelm::DataFile &file(int n)
    {
        auto found = open.find(n);
        if (found == open.end()) {
            found =
                open.emplace(n, quelm::DataFile::open(path(n), quelm::DataFile::Mode::ReadWrite))
                    .first;
        }
        return found->second;
    }

    void append(int n, std::uint64_t count, bool flush = true)
    {
        quelm::DataFile &f = file(n);
        if (count == 1) {
            f.appendBar(barFor(n, total[n]));
        } else {
            f.appendBars(barsFor(n, total[n], count));
        }
        total[n] += count;
        unflushed[n] += count;
        note("appended " + std::to_string(n) + " " + std::to_string(total[n]));
        if (flush) {
            f.flush();
        }
        if (flush || unflushed[n] > quelm::format::maxTailBars) {
            unflushed[n] = 0;
            note("flushed " + std::to_string(n) + " " + std::to_string(total[n]));
        }
    }

    void close(int n)
    {
        open.erase(n); // the handle goes without a flush
        std::int32_t number = n;
        store->CloseDataFile(number);
        note("closed " + std::to_string(n) + " " + std::to_string(total[n]));
    }

    // quelm-import adds `count` bars to file n from a CSV made here (times in milliseconds).
    void import(int n, std::uint64_t count)
    {
        open.erase(n); // no stale header of ours may be written after the import's
        const std::filesystem::path csv = csvFolder / ("import-" + std::to_string(n) + ".csv");
        {
            std::ofstream out(csv);
            out << "time,open,high,low,close,volume\n";
            char line[256];
            for (std::uint64_t i = total[n]; i < total[n] + count; ++i) {
                const quelm::Bar b = barFor(n, i);
                std::snprintf(line, sizeof line, "%lld,%.17g,%.17g,%.17g,%.17g,%.17g\n",
                              static_cast<long long>(b.timeMs), b.open, b.high, b.low, b.close,
                              b.volume);
                out << line;
            }
        }
        const std::string target = path(n).string();
        const pid_t child = ::fork();
        if (child == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::execl(importTool.c_str(), importTool.c_str(), target.c_str(), csv.c_str(),
                    static_cast<char *>(nullptr));
            _exit(127);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            throw quelm::DataFileError(
                "quelm-import of " + std::to_string(count) + " bars into file " +
                std::to_string(n) + " ended with " +
                std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)));
        }
        total[n] += count;
        note("imported " + std::to_string(n) + " " + std::to_string(total[n]));
    }
};

int run(Run &r)
{
    r.store.emplace(r.root);
    r.create(1, 0);
    r.create(2, 10);
    r.append(2, 4);
    r.create(3, 1000);
    r.append(3, 300);
    r.append(2, 6); // full
    r.close(2);
    r.create(4, 100000);
    r.append(4, 5000);
    r.append(3, 700); // full
    r.create(5, 100);
    r.append(5, 1); // one bar alone: appendBar
    r.append(4, 20000);
    r.close(1);
    r.append(5, 49);
    r.create(6, 30000);
    for (int i = 0; i < 40; ++i) {
        r.append(6, 1, false); // each counted in the tail at once
    }
    r.append(6, 1);
    for (int i = 0; i < 30; ++i) {
        r.append(6, 1, false);
    }
    r.append(6, 25000, false); // past the tail's bound: folded in with a flush
    for (int i = 0; i < 20; ++i) {
        r.append(6, 1, false);
    }
    r.append(4, 1000, false); // counted in page cache only; the close makes it durable
    r.close(3);
    r.close(5);
    r.close(6);
    if (!r.importTool.empty()) {
        r.import(5, 50);    // into a file closed cleanly: it must stay so
        r.import(4, 70000); // two batches of the import, one flush
    }
    r.close(4);
    note("done");
    return 0;
}

int restart(Run &r)
{
    r.store.emplace(r.root);
    r.create(1, 20);
    r.append(1, 20);
    r.close(1);
    note("done");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 4) {
        std::cerr << "usage: workload run ROOT LOG IMPORT_TOOL CSV_FOLDER | restart ROOT LOG\n";
        return 2;
    }
    const std::string mode = argv[1];
    logFd = ::open(argv[3], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0) {
        std::perror(argv[3]);
        return 2;
    }
    Run r;
    r.root = argv[2];
    if (argc > 5) {
        r.importTool = argv[4];
        r.csvFolder = argv[5];
    }
    try {
        return mode == "restart" ? restart(r) : run(r);
    } catch (const std::exception &error) {
        std::string what = error.what();
        for (char &c : what) {
            if (c == '\n') {
                c = ' ';
            }
        }
        note("failed " + what);
        return 3;
    }
}
