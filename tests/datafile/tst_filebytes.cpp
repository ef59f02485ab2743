// A data file has the same bytes whichever system made it: this test runs on Linux and, cross
// built, on Windows, against the same expected bytes. Only the creation time and the checksum
// that covers it differ from file to file; they are zeroed before comparing.

#include "testsupport.h"

#include <quelm/datafile.h>
#include <quelm/datafilestore.h>

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using namespace quelm;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fromHex(const std::string &hex)
{
    Bytes bytes;
    std::istringstream in(hex);
    for (unsigned value = 0; in >> std::hex >> value;) {
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return bytes;
}

Bytes contents(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The header with its creation time (bytes 40 to 47) and checksum (60 to 63) zeroed.
Bytes comparableHeader(const Bytes &file)
{
    Bytes header(file.begin(), file.begin() + std::min<std::size_t>(file.size(), 64));
    if (header.size() == 64) {
        std::fill(header.begin() + 40, header.begin() + 48, 0);
        std::fill(header.begin() + 60, header.end(), 0);
    }
    return header;
}

struct FileCase
{
    const char *name;
    std::int32_t number;
    std::int32_t bars;
    const char *header; // as made: state 0, no bars written
};

void PrintTo(const FileCase &row, std::ostream *out)
{
    *out << row.name;
}

const FileCase fileCases[] = {
    {"first_file_no_bars", 1, 0,
     "51 55 45 4c 4d 44 41 54 01 00 40 00 30 00 00 00 "
     "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"file_42_ten_bars", 42, 10,
     "51 55 45 4c 4d 44 41 54 01 00 40 00 30 00 00 00 "
     "2a 00 00 00 00 00 00 00 0a 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    {"last_file_thousand_bars", 9999, 1000,
     "51 55 45 4c 4d 44 41 54 01 00 40 00 30 00 00 00 "
     "0f 27 00 00 00 00 00 00 e8 03 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
};

class FileBytes : public testing::TestWithParam<FileCase>
{
protected:
    testsupport::TempFolder folder;
};

TEST_P(FileBytes, MadeFileIsTheSameEverywhere)
{
    const FileCase &row = GetParam();
    DataFileStore store(folder.path());
    const Bytes made = contents(store.createFile(row.number, row.bars));
    ASSERT_EQ(made.size(), 64u + 48u * static_cast<std::size_t>(row.bars));
    EXPECT_EQ(comparableHeader(made), fromHex(row.header));
    // Room for the bars holds zeros.
    EXPECT_EQ(Bytes(made.begin() + 64, made.end()), Bytes(made.size() - 64, 0));
    store.closeFile(row.number);
}

INSTANTIATE_TEST_SUITE_P(Files, FileBytes, testing::ValuesIn(fileCases), testsupport::RowName());

TEST(FileBytesAfterUse, BarAndClosedHeaderAreTheSameEverywhere)
{
    testsupport::TempFolder folder;
    DataFileStore store(folder.path());
    const std::filesystem::path path = store.createFile(3, 2);
    {
        DataFile file = DataFile::open(path, DataFile::Mode::ReadWrite);
        file.appendBar({1700000000123, 1.5, 2.25, -0.125, 1234.0625, 1e10});
        file.flush();
    }
    store.closeFile(3);

    const Bytes closed = contents(path);
    ASSERT_EQ(closed.size(), 64u + 2 * 48u);
    EXPECT_EQ(comparableHeader(closed), fromHex("51 55 45 4c 4d 44 41 54 01 00 40 00 30 00 00 00 "
                                                "03 00 00 00 01 00 00 00 02 00 00 00 00 00 00 00 "
                                                "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                                                "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(Bytes(closed.begin() + 64, closed.begin() + 112),
              fromHex("7b 68 e5 cf 8b 01 00 00 00 00 00 00 00 00 f8 3f "
                      "00 00 00 00 00 00 02 40 00 00 00 00 00 00 c0 bf "
                      "00 00 00 00 40 48 93 40 00 00 00 20 5f a0 02 42"));
    EXPECT_EQ(Bytes(closed.begin() + 112, closed.end()), Bytes(48, 0));
}

} // namespace
