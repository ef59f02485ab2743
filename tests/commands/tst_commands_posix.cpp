// The commands where only POSIX systems can stage the world: a terminal, a reader that closes
// its pipe early, a device that is always full.

#include "commandtest.h"

#include <quelm/datafile.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

using namespace quelm;
using namespace testsupport;

namespace {

using Import = CommandTest;
using Export = CommandTest;

const std::string importer = QUELM_IMPORT;
const std::string exporter = QUELM_EXPORT;
const Bar stored{1'796'601'600'000, 10, 11, 9, 10.5, 5}; // 2026-12-07T00:00:00Z

} // namespace

// On a terminal, a long import shows its progress on standard error; elsewhere it says nothing.
TEST_F(Import, ShowsProgressOnATerminal)
{
    const std::string csv = csvOf(sampleBars(20'000, stored.timeMs + 60'000));
    for (const bool terminal : {true, false}) {
        const auto path = dataFile(20'001, {stored});
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        // Only the ends the child is given may reach it, or its input would never end.
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        int input[2];
        ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
        Child::Streams streams;
        streams.inputFd = input[0];
        if (terminal) {
            streams.errorFd = slave;
        }
        Child import({importer, path.string()}, streams, scratch.path());
        ::close(input[0]);
        ::close(slave);
        // Half now and half later, so that the import runs long enough to show progress.
        const std::size_t half = csv.find('\n', csv.size() / 2) + 1;
        EXPECT_EQ(::write(input[1], csv.data(), half), static_cast<ssize_t>(half));
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        const std::size_t rest = csv.size() - half;
        EXPECT_EQ(::write(input[1], csv.data() + half, rest), static_cast<ssize_t>(rest));
        ::close(input[1]);
        EXPECT_EQ(import.wait(), 0) << import.err();
        std::string shown;
        char chunk[4096];
        for (ssize_t got; (got = ::read(master, chunk, sizeof chunk)) > 0;) {
            shown.append(chunk, static_cast<std::size_t>(got));
        }
        ::close(master);
        if (terminal) {
            EXPECT_TRUE(contains(shown, "\rchecking ")) << shown;
            EXPECT_TRUE(contains(shown, " bytes")) << shown;
        } else {
            EXPECT_EQ(import.err(), "");
        }
        EXPECT_EQ(DataFile::open(path).header().barsWritten, 20'001u);
    }
}

// A reader that stops early, like head, ends the export quietly and without failure.
TEST_F(Export, EndsQuietlyWhenTheReaderStops)
{
    const auto path = dataFile(200'000, sampleBars(200'000));
    int output[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    Child::Streams streams;
    streams.outputFd = output[1];
    Child exportRun({exporter, path.string()}, streams, scratch.path());
    ::close(output[1]);
    char start[100];
    EXPECT_EQ(::read(output[0], start, sizeof start), static_cast<ssize_t>(sizeof start));
    ::close(output[0]);
    EXPECT_EQ(exportRun.wait(), 0);
    EXPECT_EQ(exportRun.err(), "");
}

TEST_F(Export, FailsWhenTheOutputCannotBeWritten)
{
    const auto path = dataFile(10, sampleBars(10));
    Child::Streams streams;
    streams.output = "/dev/full";
    Child exportRun({exporter, path.string()}, streams, scratch.path());
    EXPECT_EQ(exportRun.wait(), 1);
    EXPECT_TRUE(contains(exportRun.err(), "quelm-export: cannot write to standard output: "
                                          "the disk is full"))
        << exportRun.err();
}
