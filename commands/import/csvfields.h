#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The fields of CSV records, as RFC 4180 writes them, with any of the usual delimiters.
namespace quelm::csv {

// The delimiters a file may use, in the order a tie between them is settled.
inline constexpr char delimiters[] = {'\t', ';', '|', ','};

// Splits one record at `delimiter`. A field may be quoted ("" stands for a quote inside it);
// blanks around a field are dropped. The views point into `record` or, for a quoted field
// that holds "", into `scratch`. Returns the index of the first field whose quote never closes
// or is followed by more than blanks before the delimiter, -1 when every field is whole.
int split(std::string_view record, char delimiter, std::vector<std::string_view> &fields,
          std::string &scratch);

// The same for a record known to hold no quote.
void splitPlain(std::string_view record, char delimiter, std::vector<std::string_view> &fields);

// Whether the record ends inside a quoted field, so that its line end belongs to the field.
bool endsInQuotes(std::string_view record);

// The delimiter that gives the same number of fields, more than one, on each record, and the
// most fields where several do.
std::optional<char> detectDelimiter(const std::vector<std::string> &records);

// "','", "';'", "tab", "'|'".
std::string delimiterName(char delimiter);

} // namespace quelm::csv
