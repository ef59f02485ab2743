#pragma once

#include <cstdint>
#include <filesystem>

namespace quelm::bench {

// The least a program must ask of the system to make file 0001.qdf of `bars` bars in `folder`.
// Each returns the seconds it took and throws std::system_error when a call fails.

// Crash-safe: made nameless, reserved, given its header and flushed; only then named (through
// /proc, as a process without special rights must), and the folder flushed so that the name
// survives a power cut. With `markClosed`, the close is also recorded in the header and flushed.
double durableFloor(const std::filesystem::path &folder, std::int64_t bars, bool markClosed);

// A named file, reserved and given its header, with nothing flushed.
double bareFloor(const std::filesystem::path &folder, std::int64_t bars);

} // namespace quelm::bench
