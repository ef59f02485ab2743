#include "csvlayout.h"

#include "commanderror.h"
#include "csvfields.h"
#include "numbertext.h"
#include "textescape.h"

#include <algorithm>
#include <string_view>

namespace quelm::csv {

using inspect::quotedText;
using tools::InputError;
using tools::UsageError;

namespace {

constexpr const char *fieldNames[] = {"time", "date",  "open",   "high",
                                      "low",  "close", "volume", "-"};

// Whether a name holds its field whatever else the header names, or only when no other column
// holds it: a price or a last trade is the close only when there is no close.
enum class Claim
{
    Sure,
    Fallback
};

// The names of each field as normalName gives them, separated by |: in English, and as German,
// French, Spanish and Italian brokers write them. A time column holds the start of its bar.
struct Aliases
{
    Field field;
    Claim claim;
    std::string_view names;
};
constexpr Aliases aliases[] = {
    {Field::Time, Claim::Sure,
     "time|datetime|date time|timestamp|time stamp|ts event|gmt time|open time|opentime|"
     "start time|window start|unix|t|zeit|uhrzeit|heure|hora|ora"},
    {Field::Date, Claim::Sure, "date|datum|fecha|data"},
    {Field::Open, Claim::Sure, "open|o|eroffnung|eroeffnung|erster|ouverture|apertura"},
    {Field::High, Claim::Sure,
     "high|h|max|hoch|tageshoch|hochst|hochstkurs|haut|plus haut|+haut|+ haut|maximo|alto|"
     "massimo"},
    {Field::Low, Claim::Sure,
     "low|l|min|tief|tagestief|tiefst|tiefstkurs|bas|plus bas|+bas|+ bas|minimo|bajo"},
    {Field::Close, Claim::Sure, "close|c|schluss|schlusskurs|cloture|cierre|chiusura"},
    {Field::Close, Claim::Fallback, "price|last|letzter|kurs|dernier|cours|ultimo|precio|prezzo"},
    {Field::Volume, Claim::Sure, "volume|vol|v|volumen|stuck|stucke|volumi"},
};
// The names of a time column that, beside a date column, holds the time of day.
constexpr std::string_view clockNames[] = {"time", "zeit", "uhrzeit", "heure", "hora", "ora"};

std::size_t index(Field field)
{
    return static_cast<std::size_t>(field);
}

// The letter of the Latin-1 range U+00C0 to U+00FF without its accent, in lower case.
std::string_view plainLetter(unsigned char code)
{
    static constexpr std::string_view letters[64] = {
        "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
        "d", "n", "o", "o", "o", "o", "o",  "x", "o", "u", "u", "u", "u", "y", "th", "ss",
        "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
        "d", "n", "o", "o", "o", "o", "o",  "/", "o", "u", "u", "u", "u", "y", "th", "y"};
    return letters[code - 0xC0];
}

// A header name without blanks, quotes, < >, a trailing point or a byte order mark around it, in
// lower case, with _ as a blank and accented letters (in UTF-8 or Latin-1) without their accents.
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
        if (!name.empty() && std::string_view(" \t\">.").find(name.back()) != name.npos) {
            name.remove_suffix(1);
            trimmed = true;
        }
    }
    std::string normal;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (c == 0xC3 && next >= 0x80 && next <= 0xBF) {
            normal += plainLetter(static_cast<unsigned char>(next + 0x40));
            ++i;
        } else if (c >= 0xC0) {
            normal += plainLetter(c);
        } else {
            normal +=
                c == '_' ? ' ' : (c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : name[i]);
        }
    }
    return normal;
}

const Aliases *aliasOf(std::string_view name)
{
    const std::string normal = normalName(name);
    for (const Aliases &alias : aliases) {
        for (std::size_t at = 0; at < alias.names.size();) {
            const std::size_t end = std::min(alias.names.find('|', at), alias.names.size());
            if (alias.names.substr(at, end - at) == normal) {
                return &alias;
            }
            at = end + 1;
        }
    }
    return nullptr;
}

bool isClockName(std::string_view name)
{
    return std::find(std::begin(clockNames), std::end(clockNames), normalName(name)) !=
           std::end(clockNames);
}

bool looksLikeHeader(const std::vector<std::string_view> &fields)
{
    const std::string_view first = fields.front();
    const bool word =
        !first.empty() && ((first.front() | 0x20) >= 'a' && (first.front() | 0x20) <= 'z');
    return word || first.starts_with('<') ||
           std::any_of(fields.begin(), fields.end(),
                       [](std::string_view field) { return aliasOf(field) != nullptr; });
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
    std::vector<int> fallbackCloses;
    for (std::size_t i = 0; i < layout.names.size(); ++i) {
        if (const Aliases *alias = aliasOf(layout.names[i])) {
            (alias->claim == Claim::Sure ? claims[index(alias->field)] : fallbackCloses)
                .push_back(static_cast<int>(i));
        }
    }
    if (claims[index(Field::Close)].empty()) {
        claims[index(Field::Close)] = fallbackCloses;
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
        !isClockName(layout.names[static_cast<std::size_t>(time)])) {
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

// One number of the first records that speaks for a decimal mark.
struct Sighting
{
    std::uint64_t line = 0;
    int column = 0;
    std::string text;
};

std::string sightingText(const Layout &layout, const Sighting &sighting)
{
    return "line " + std::to_string(sighting.line) + ", column " +
           layout.columnText(sighting.column) + ": " + quotedText(sighting.text);
}

// The decimal mark that the numbers of the first records settle: a number read only one way
// settles it; a file delimited by commas whose numbers hold none has the point; numbers that
// read both ways and nothing to settle them are refused.
void settleDecimal(Layout &layout, const std::vector<Record> &records, std::size_t first)
{
    std::optional<Sighting> point, comma, either;
    bool anyComma = false;
    std::vector<std::string_view> fields;
    std::string scratch;
    for (std::size_t i = first; i < records.size(); ++i) {
        split(records[i].text, layout.delimiter, fields, scratch);
        for (const Field field :
             {Field::Open, Field::High, Field::Low, Field::Close, Field::Volume}) {
            const int at = layout.at(field);
            if (at < 0 || static_cast<std::size_t>(at) >= fields.size()) {
                continue;
            }
            const std::string_view text = fields[static_cast<std::size_t>(at)];
            anyComma = anyComma || text.find(',') != std::string_view::npos;
            const numbertext::Mark mark = numbertext::decimalMark(text, field == Field::Volume);
            std::optional<Sighting> &seen = mark == numbertext::Mark::Point   ? point
                                            : mark == numbertext::Mark::Comma ? comma
                                                                              : either;
            if (mark != numbertext::Mark::None && !seen) {
                seen = Sighting{records[i].line, at, std::string(text)};
            }
        }
    }
    if (point && comma) {
        throw InputError("the numbers use both marks as the decimal mark: '.' in " +
                         sightingText(layout, *point) + ", and ',' in " +
                         sightingText(layout, *comma) + "; --decimal . or --decimal , settles it");
    }
    if (point || comma || (layout.delimiter == ',' && !anyComma)) {
        layout.decimal = comma ? ',' : '.';
        layout.decimalHow = Layout::Settled::Detected;
        return;
    }
    if (either) {
        std::string grouped = either->text, decimal = either->text;
        const char mark = either->text.find(',') != std::string::npos ? ',' : '.';
        std::erase(grouped, mark);
        std::replace(decimal.begin(), decimal.end(), mark, '.');
        throw InputError(sightingText(layout, *either) + " reads as " + grouped + " ('" + mark +
                         "' grouping thousands) or as " + decimal + " ('" + mark +
                         "' the decimal mark), and no number of the first lines settles which; "
                         "--decimal " +
                         (mark == ',' ? "." : ",") + " or --decimal " + mark + " settles it");
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
        layout.decimalHow = Layout::Settled::Given;
    } else {
        settleDecimal(layout, records, first);
    }
    return layout;
}

} // namespace quelm::csv
