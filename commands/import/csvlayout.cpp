#include "csvlayout.h"

#include "commanderror.h"
#include "csvfields.h"

#include <algorithm>
#include <string_view>

namespace quelm::csv {

using tools::InputError;
using tools::UsageError;

namespace {

constexpr const char *fieldNames[] = {"time", "date",  "open",   "high",
                                      "low",  "close", "volume", "-"};

struct Alias
{
    std::string_view name;
    Field field;
};
// Header names as normalName gives them.
constexpr Alias aliases[] = {{"time", Field::Time},     {"date", Field::Date},
                             {"datetime", Field::Time}, {"timestamp", Field::Time},
                             {"gmt time", Field::Time}, {"open time", Field::Time},
                             {"opentime", Field::Time}, {"unix", Field::Time},
                             {"t", Field::Time},        {"window start", Field::Time},
                             {"open", Field::Open},     {"o", Field::Open},
                             {"high", Field::High},     {"h", Field::High},
                             {"low", Field::Low},       {"l", Field::Low},
                             {"close", Field::Close},   {"c", Field::Close},
                             {"last", Field::Close},    {"volume", Field::Volume},
                             {"vol", Field::Volume},    {"v", Field::Volume}};

std::size_t index(Field field)
{
    return static_cast<std::size_t>(field);
}

// A header name without blanks, quotes, < >, a byte order mark, in lower case, _ as a blank.
std::string normalName(std::string_view name)
{
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    for (bool trimmed = true; trimmed;) {
        trimmed = false;
        if (name.starts_with(byteOrderMark)) {
            name.remove_prefix(byteOrderMark.size());
            trimmed = true;
        }
        if (!name.empty() && std::string_view(" \t\"<").find(name.front()) != name.npos) {
            name.remove_prefix(1);
            trimmed = true;
        }
        if (!name.empty() && std::string_view(" \t\">").find(name.back()) != name.npos) {
            name.remove_suffix(1);
            trimmed = true;
        }
    }
    std::string normal(name);
    for (char &c : normal) {
        c = c == '_' ? ' ' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c);
    }
    return normal;
}

std::optional<Field> aliasOf(std::string_view name)
{
    const std::string normal = normalName(name);
    for (const Alias &alias : aliases) {
        if (alias.name == normal) {
            return alias.field;
        }
    }
    return std::nullopt;
}

bool looksLikeHeader(const std::vector<std::string_view> &fields)
{
    const std::string_view first = fields.front();
    const bool word =
        !first.empty() && ((first.front() | 0x20) >= 'a' && (first.front() | 0x20) <= 'z');
    return word || first.starts_with('<') ||
           std::any_of(fields.begin(), fields.end(),
                       [](std::string_view field) { return aliasOf(field).has_value(); });
}

std::string joined(const std::vector<std::string> &names)
{
    std::string text;
    for (const std::string &name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

// The columns of a header, by name and by --map.
void columnsByName(Layout &layout, const Settings &settings)
{
    std::array<std::vector<int>, fieldKinds> claims;
    for (std::size_t i = 0; i < layout.names.size(); ++i) {
        if (const auto field = aliasOf(layout.names[i])) {
            claims[index(*field)].push_back(static_cast<int>(i));
        }
    }
    for (const auto &[field, name] : settings.maps) {
        const auto named =
            std::find_if(layout.names.begin(), layout.names.end(), [&](const std::string &header) {
                return normalName(header) == normalName(name);
            });
        if (named == layout.names.end()) {
            throw InputError("--map " + std::string(fieldName(field)) + "=" + name +
                             ": the header names no such column; it names " + joined(layout.names));
        }
        const int column = static_cast<int>(named - layout.names.begin());
        for (std::vector<int> &claim : claims) {
            std::erase(claim, column);
        }
        claims[index(field)] = {column};
        if (field == Field::Time &&
            std::none_of(settings.maps.begin(), settings.maps.end(),
                         [](const auto &map) { return map.first == Field::Date; })) {
            claims[index(Field::Date)].clear();
        }
    }
    for (std::size_t f = 0; f < fieldKinds; ++f) {
        if (claims[f].size() > 1) {
            throw InputError("columns " + layout.columnText(claims[f][0]) + " and " +
                             layout.columnText(claims[f][1]) + " both hold the " +
                             (f == index(Field::Date) ? "time" : fieldNames[f]) + "; --map " +
                             fieldNames[f == index(Field::Date) ? 0 : f] +
                             "=NAME picks one, or --columns gives every field by position");
        }
        layout.column[f] = claims[f].empty() ? -1 : claims[f][0];
    }
    const int time = layout.at(Field::Time), date = layout.at(Field::Date);
    const bool mapped = std::any_of(settings.maps.begin(), settings.maps.end(),
                                    [](const auto &map) { return map.first == Field::Time; });
    if (time >= 0 && date >= 0 && !mapped &&
        normalName(layout.names[static_cast<std::size_t>(time)]) != "time") {
        throw InputError("columns " + layout.columnText(date) + " and " + layout.columnText(time) +
                         " both hold the time; --map time=NAME picks one");
    }
}

// The column of each field: from --columns, from the header's names, or by position.
void placeColumns(Layout &layout, const std::vector<Record> &records, std::size_t first,
                  const Settings &settings)
{
    const auto fieldCount = [&](const Record &record) {
        std::vector<std::string_view> fields;
        std::string scratch;
        split(record.text, layout.delimiter, fields, scratch);
        return fields.size();
    };
    if (settings.columns) {
        for (std::size_t i = 0; i < settings.columns->size(); ++i) {
            const Field field = (*settings.columns)[i];
            if (field == Field::Skip) {
                continue;
            }
            if (layout.column[index(field)] >= 0) {
                throw UsageError("--columns names the " + std::string(fieldName(field)) + " twice");
            }
            layout.column[index(field)] = static_cast<int>(i);
        }
        layout.fields = settings.columns->size();
        layout.atLeast = true;
    } else if (layout.header) {
        columnsByName(layout, settings);
        layout.fields = layout.names.size();
    } else {
        if (first < records.size() && fieldCount(records[first]) > 6) {
            throw InputError(
                "it holds " + std::to_string(fieldCount(records[first])) +
                " fields and there is no header line to name them: " + records[first].text +
                "; --columns says which field is which, for example --columns "
                "time,open,high,low,close,volume (fields after them are ignored)");
        }
        for (const Field field :
             {Field::Time, Field::Open, Field::High, Field::Low, Field::Close, Field::Volume}) {
            layout.column[index(field)] =
                static_cast<int>(index(field)) - 1 + (field == Field::Time);
        }
    }
    if (!settings.maps.empty() && (!layout.header || settings.columns)) {
        throw UsageError("--map needs a header line naming the columns, and no --columns");
    }

    if (layout.at(Field::Time) < 0) {
        std::swap(layout.column[index(Field::Time)], layout.column[index(Field::Date)]);
    }
    for (const Field field : {Field::Time, Field::Open, Field::High, Field::Low, Field::Close}) {
        if (layout.at(field) < 0) {
            const std::string name = fieldName(field);
            throw InputError(
                "no column holds the " + name +
                (layout.header ? "; the header names " + joined(layout.names) : std::string()) +
                "; --map " + name + "=NAME or --columns says which column does");
        }
    }
}

} // namespace

const char *fieldName(Field field)
{
    return fieldNames[index(field)];
}

std::optional<Field> fieldNamed(std::string_view name)
{
    for (std::size_t f = 0; f < std::size(fieldNames); ++f) {
        if (name == fieldNames[f]) {
            return static_cast<Field>(f);
        }
    }
    return std::nullopt;
}

std::string Layout::columnText(int at) const
{
    std::string text = std::to_string(at + 1);
    if (static_cast<std::size_t>(at) < names.size()) {
        text += " (" + names[static_cast<std::size_t>(at)] + ")";
    }
    return text;
}

std::optional<Field> Layout::fieldAt(int at) const
{
    for (std::size_t f = 0; f < fieldKinds; ++f) {
        if (column[f] == at) {
            return static_cast<Field>(f);
        }
    }
    return std::nullopt;
}

Layout decideLayout(const std::vector<Record> &records, const Settings &settings)
{
    Layout layout;
    if (settings.delimiter) {
        layout.delimiter = *settings.delimiter;
    } else {
        std::vector<std::string> sample;
        for (std::size_t i = records.size() > 1 ? 1 : 0; i < records.size(); ++i) {
            sample.push_back(records[i].text);
        }
        layout.delimiter = detectDelimiter(sample).value_or(',');
    }
    std::vector<std::string_view> fields;
    std::string scratch;
    const auto fieldsOf = [&](std::size_t i) -> const std::vector<std::string_view> & {
        split(records[i].text, layout.delimiter, fields, scratch);
        return fields;
    };

    std::size_t first = 0;
    if (records.size() > 1 && fieldsOf(0).size() == 1 && fieldsOf(1).size() > 1) {
        layout.banner = records[first++];
    }
    if (first < records.size() && looksLikeHeader(fieldsOf(first))) {
        layout.header = records[first];
        layout.names.assign(fields.begin(), fields.end());
        ++first;
    }

    try {
        placeColumns(layout, records, first, settings);
    } catch (const InputError &error) {
        // Named at the header, or at the first record the columns are read from.
        const std::uint64_t line =
            layout.header ? layout.header->line
                          : (first < records.size() ? records[first].line : std::uint64_t{1});
        throw InputError("line " + std::to_string(line) + ": " + error.what() + " (delimiter " +
                         delimiterName(layout.delimiter) +
                         (settings.delimiter ? ", given)" : ", detected)"));
    }
    const std::size_t width =
        layout.header ? layout.names.size()
                      : (first < records.size() ? std::max(fieldsOf(first).size(), layout.fields)
                                                : layout.fields);
    for (std::size_t i = 0; i < width; ++i) {
        if (!layout.fieldAt(static_cast<int>(i))) {
            layout.ignored.push_back(static_cast<int>(i));
        }
    }

    if (settings.decimal) {
        layout.decimal = *settings.decimal;
    } else if (layout.delimiter != ',') {
        bool comma = false, point = false;
        for (std::size_t i = first; i < records.size(); ++i) {
            fieldsOf(i);
            for (const Field field :
                 {Field::Open, Field::High, Field::Low, Field::Close, Field::Volume}) {
                const auto column = static_cast<std::size_t>(layout.at(field));
                if (layout.at(field) >= 0 && column < fields.size()) {
                    comma = comma || fields[column].find(',') != std::string_view::npos;
                    point = point || fields[column].find('.') != std::string_view::npos;
                }
            }
        }
        layout.decimal = comma && !point ? ',' : '.';
    }
    return layout;
}

} // namespace quelm::csv
