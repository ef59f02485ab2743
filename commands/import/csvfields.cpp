#include "csvfields.h"

#include <cstring>

namespace quelm::csv {

namespace {

bool isBlank(char c, char delimiter)
{
    return (c == ' ' || c == '\t') && c != delimiter;
}

} // namespace

std::string_view trimmed(const char *start, const char *end, char delimiter)
{
    while (start != end && isBlank(*start, delimiter)) {
        ++start;
    }
    while (end != start && isBlank(end[-1], delimiter)) {
        --end;
    }
    return {start, static_cast<std::size_t>(end - start)};
}

int splitQuoted(std::string_view record, char delimiter, std::vector<std::string_view> &fields,
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

void splitPlain(std::string_view record, char delimiter, std::vector<std::string_view> &fields)
{
    fields.clear();
    const char *start = record.data();
    const char *const end = start + record.size();
    for (;;) {
        const auto *at = static_cast<const char *>(
            std::memchr(start, delimiter, static_cast<std::size_t>(end - start)));
        if (!at) {
            fields.push_back(trimmed(start, end, delimiter));
            return;
        }
        fields.push_back(trimmed(start, at, delimiter));
        start = at + 1;
    }
}

int split(std::string_view record, char delimiter, std::vector<std::string_view> &fields,
          std::string &scratch)
{
    // Most records hold no quote: one pass over them finds their fields.
    fields.clear();
    const char *const end = record.data() + record.size();
    const char *start = record.data();
    for (const char *at = start; at != end; ++at) {
        if (*at == delimiter) {
            fields.push_back(trimmed(start, at, delimiter));
            start = at + 1;
        } else if (*at == '"') {
            return splitQuoted(record, delimiter, fields, scratch);
        }
    }
    fields.push_back(trimmed(start, end, delimiter));
    return -1;
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
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "'" + std::string.
    return delimiter == '\t' ? "tab" : std::string(1, '\'').append(1, delimiter).append(1, '\'');
}

} // namespace quelm::csv
