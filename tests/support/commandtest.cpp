#include "commandtest.h"

#include "bartext.h"

#include <quelm/datafile.h>
#include <quelm/datafilestore.h>

#include <atomic>

namespace testsupport {

std::filesystem::path makeDataFile(const std::filesystem::path &root, std::int32_t capacity,
                                   const std::vector<quelm::Bar> &bars)
{
    static std::atomic<int> made{0};
    quelm::DataFileStore store(root / std::to_string(made++));
    const std::filesystem::path path = store.createFile(1, capacity);
    if (!bars.empty()) {
        quelm::DataFile::open(path, quelm::DataFile::Mode::ReadWrite).appendBars(bars);
    }
    store.closeFile(1);
    return path;
}

std::vector<quelm::Bar> sampleBars(std::size_t count, std::int64_t startMs)
{
    std::vector<quelm::Bar> bars(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double base = 100.0 + static_cast<double>(i % 1000) / 7.0;
        bars[i] = {startMs + static_cast<std::int64_t>(i) * 60'000,
                   base,
                   base + 1.25,
                   base - 0.5,
                   base + 0.1,
                   static_cast<double>(i % 97) * 10.5};
    }
    return bars;
}

std::string csvOf(const std::vector<quelm::Bar> &bars)
{
    std::string text = std::string(quelm::bartext::csvHeader) + "\n";
    char line[quelm::bartext::maxLineLength];
    for (const quelm::Bar &bar : bars) {
        text.append(line, quelm::bartext::writeCsvLine(line, bar));
    }
    return text;
}

std::string utf16(std::string_view text, bool little)
{
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    const auto put = [&](char32_t unit) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += little ? low : high;
        bytes += little ? high : low;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + ((c - 0x10000) & 0x3FF);
        }
        put(c);
    }
    return bytes;
}

std::vector<quelm::Bar> storedBars(const std::filesystem::path &path)
{
    const quelm::DataFile file = quelm::DataFile::open(path);
    return file.readBars(0, file.header().barsWritten);
}

} // namespace testsupport
