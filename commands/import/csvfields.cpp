#include "csvfields.h"

#include <cstring>

namespace quelm::csv {

namespace {

bool isBlank(char c, char delimiter)
{
    return (c == ' ' || c == '\t') && c != delimiter;
}

} // namespace

int split(std::string_view record, char delimiter, std::vector<std::string_view> &fields,
          std::string &scratch)
{
    fields.clear();
    scratch.clear();
    int broken = -1;
    std::size_t at = 0;
    for (;;) {
        while (at < record.size() && isBlank(record[at], delimiter)) {
            ++at;
        }
        std::size_t end = 0;
        if (at < record.size() && record[at] == '"') {
            // A quoted field runs to the quote that is not doubled.
            std::size_t close = ++at;
            bool doubled = false;
            while ((close = record.find('"', close)) != std::string_view::npos &&
                   close + 1 < record.size() && record[close + 1] == '"') {
                doubled = true;
                close += 2;
            }
            if (close == std::string_view::npos) {
                close = record.size();
                broken = broken < 0 ? static_cast<int>(fields.size()) : broken;
            }
            std::string_view field = record.substr(at, close - at);
            if (doubled) {
                // Reserved once for the whole record, so that earlier fields' views stay valid.
                scratch.reserve(record.size());
                const std::size_t start = scratch.size();
                for (std::size_t i = 0; i < field.size(); ++i) {
                    scratch += field[i];
                    i += field[i] == '"';
                }
                field = std::string_view(scratch).substr(start);
            }
            fields.push_back(field);
            end = std::min(close + 1, record.size());
            while (end < record.size() && isBlank(record[end], delimiter)) {
                ++end;
            }
            if (end < record.size() && record[end] != delimiter && broken < 0) {
                broken = static_cast<int>(fields.size()) - 1;
            }
            end = record.find(delimiter, end);
        } else {
            end = record.find(delimiter, at);
            std::size_t last = end == std::string_view::npos ? record.size() : end;
            while (last > at && isBlank(record[last - 1], delimiter)) {
                --last;
            }
            fields.push_back(record.substr(at, last - at));
        }
        if (end == std::string_view::npos) {
            return broken;
        }
        at = end + 1;
    }
}

bool endsInQuotes(std::string_view record)
{
    if (!std::memchr(record.data(), '"', record.size())) {
        return false;
    }
    std::size_t quotes = 0;
    for (const char c : record) {
        quotes += c == '"';
    }
    return quotes % 2 == 1;
}

std::optional<char> detectDelimiter(const std::vector<std::string> &records)
{
    std::optional<char> best;
    std::size_t bestCount = 1;
    std::vector<std::string_view> fields;
    std::string scratch;
    for (const char delimiter : delimiters) {
        std::size_t count = 0;
        bool steady = !records.empty();
        for (const std::string &record : records) {
            split(record, delimiter, fields, scratch);
            steady = steady && (count == 0 || fields.size() == count);
            count = fields.size();
        }
        if (steady && count > bestCount) {
            best = delimiter;
            bestCount = count;
        }
    }
    return best;
}

std::string delimiterName(char delimiter)
{
    return delimiter == '\t' ? "tab" : "'" + std::string(1, delimiter) + "'";
}

} // namespace quelm::csv
