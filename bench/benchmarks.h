#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quelm::bench {

// A folder the data file benchmarks make their files in, and the short name they go by.
struct Place
{
    std::string name; // "disk" or "tmpfs"
    std::filesystem::path folder;
};

// The bar counts of figures 1 and 2.
inline const std::vector<std::int64_t> barCounts = {0, 10, 10'000, 1'000'000, 10'000'000};
// The builds of one whole run (figure 4): as many as the window allows.
inline constexpr int buildsPerRun = 100;

// The seconds since `start`, for benchmarks that time only part of each iteration.
inline double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The store makes and closes file 1 of a run of its own in `folder`, as the first build of a run
// does; returns the seconds the two calls took.
double storeCreateAndClose(const std::filesystem::path &folder, std::int32_t bars);

// Each registers the benchmarks of one figure, in the order they are to run.
void registerCreation(const std::vector<Place> &places);
void registerWindowStart();
void registerWholeRun(const Place &tmpfs);
void registerConversions();

// Shows one window ("frmQuelm" or "plain") and prints the nanoseconds it took to be exposed:
// the child's side of the first-window measurement. Returns the process's exit status.
int showFirstWindow(const std::string &which);

} // namespace quelm::bench
