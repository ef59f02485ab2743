#pragma once

#include "timetext.h"
#include "zone.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Where the fields of a bar are in a CSV file: its delimiter, decimal mark, banner, header and
// the column of each field, read from the file's first records and the user's settings.
namespace quelm::csv {

enum class Field
{
    Time,
    Date,
    Open,
    High,
    Low,
    Close,
    Volume,
    Skip
};
inline constexpr std::size_t fieldKinds = 7;
// "time", "date", ..., "-".
const char *fieldName(Field field);
std::optional<Field> fieldNamed(std::string_view name);

// What the user gave on the command line; what is not given is detected.
struct Settings
{
    std::optional<char> delimiter;
    std::optional<char> decimal;
    std::optional<std::vector<Field>> columns;
    std::vector<std::pair<Field, std::string>> maps;
    std::optional<std::string> timeFormat;
    std::optional<timetext::EpochUnit> epochUnit;
    std::optional<Zone> zone;
    std::uint64_t skip = 0;
};

// One record of the file and the line it starts on.
struct Record
{
    std::string text;
    std::uint64_t line = 0;
};

struct Layout
{
    char delimiter = ',';
    char decimal = '.';
    // How the decimal mark was found: given, settled by the numbers of the first records, or
    // assumed where none of them showed a mark (a later number that reads both ways is refused).
    enum class Settled
    {
        Given,
        Detected,
        Assumed
    };
    Settled decimalHow = Settled::Assumed;
    std::optional<Record> banner;
    std::optional<Record> header;
    std::vector<std::string> names; // of the header's columns
    // The column (from 0) of each field, by Field; -1 where there is none.
    std::array<int, fieldKinds> column{-1, -1, -1, -1, -1, -1, -1};
    // Fields a record holds: exactly this many with a header, at least this many with
    // --columns, and six without either.
    std::size_t fields = 6;
    bool atLeast = false;
    std::vector<int> ignored;

    int at(Field field) const { return column[static_cast<std::size_t>(field)]; }
    // "2 (Open)" or "2".
    std::string columnText(int at) const;
    // The field a column holds, if any.
    std::optional<Field> fieldAt(int at) const;
};

// Reads the layout from the first records of the file (blank and skipped ones left out).
// Throws quelm::tools::InputError when the records leave it open or the settings do not fit.
Layout decideLayout(const std::vector<Record> &records, const Settings &settings);

} // namespace quelm::csv
