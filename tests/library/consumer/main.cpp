// Makes a data file with room for three bars, appends two and reads them back.
// Usage: bars [data root], by default a folder in the temporary folder.
#include <quelm/datafile.h>
#include <quelm/datafileerror.h>
#include <quelm/datafilestore.h>

#include <filesystem>
#include <iostream>
#include <vector>

int main(int argc, char *argv[])
{
    const std::filesystem::path root =
        argc > 1 ? std::filesystem::path(argv[1])
                 : std::filesystem::temp_directory_path() / "quelm-example";
    try {
        quelm::DataFileStore store(root); // each run makes a new folder under root
        const std::filesystem::path path = store.createFile(1, 3); // file 1, room for 3 bars
        {
            auto file = quelm::DataFile::open(path, quelm::DataFile::Mode::ReadWrite);
            const std::vector<quelm::Bar> bars = {
                {1796623260000, 1.5, 2.0, 1.0, 1.75, 100}, // 2026-12-07 06:01 UTC
                {1796623320000, 1.75, 2.5, 1.5, 2.25, 80},
            };
            file.appendBars(bars);
            file.flush();
        }
        store.closeFile(1);

        const auto file = quelm::DataFile::open(path);
        std::cout << path.filename().string() << ": " << file.header().barsWritten << " of "
                  << file.header().capacity << " bars, closed cleanly: "
                  << (file.header().closedCleanly ? "yes" : "no") << "\n";
        for (const quelm::Bar &bar : file.readBars(0, file.header().barsWritten)) {
            std::cout << bar.timeMs << " " << bar.open << " " << bar.high << " " << bar.low
                      << " " << bar.close << " " << bar.volume << "\n";
        }
    } catch (const quelm::DataFileError &error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
