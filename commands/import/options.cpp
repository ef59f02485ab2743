#include "options.h"

#include "commanderror.h"

namespace quelm::import {

using tools::UsageError;

namespace {

char delimiterOf(const std::string &text)
{
    if (text == "tab" || text == "\\t" || text == "\t") {
        return '\t';
    }
    if (text.size() != 1 || std::string_view(",;|").find(text[0]) == std::string_view::npos) {
        throw UsageError("--delimiter " + text + ": a delimiter is , ; | or tab");
    }
    return text[0];
}

std::vector<csv::Field> columnsOf(const std::string &text)
{
    std::vector<csv::Field> fields;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string name = text.substr(at, comma - at);
        const auto field = csv::fieldNamed(name);
        if (!field) {
            throw UsageError("--columns " + text + ": " + name +
                             " is not a field; the fields are time, date, open, high, low, "
                             "close, volume, and - for a field to skip");
        }
        fields.push_back(*field);
        at = comma + 1;
    }
    return fields;
}

std::pair<csv::Field, std::string> mapOf(const std::string &text)
{
    const std::size_t equals = text.find('=');
    const auto field = csv::fieldNamed(text.substr(0, std::min(equals, text.size())));
    if (equals == std::string::npos || !field || *field == csv::Field::Skip ||
        equals + 1 == text.size()) {
        throw UsageError("--map " + text +
                         ": a map is FIELD=NAME, FIELD one of time, date, "
                         "open, high, low, close, volume");
    }
    return {*field, text.substr(equals + 1)};
}

} // namespace

Options readOptions(std::vector<tools::Argument> arguments)
{
    Options options;
    std::vector<tools::Argument> operands;
    csv::Settings &settings = options.csv;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i].text;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return options;
        }
        if (argument == "--dry-run" || argument == "--create") {
            (argument == "--create" ? options.create : options.dryRun) = true;
            continue;
        }
        if (!argument.starts_with("--")) {
            if (argument.starts_with("-") && argument != "-") {
                throw UsageError("unknown option " + argument);
            }
            operands.push_back(std::move(arguments[i]));
            continue;
        }
        const std::string name = argument.substr(0, argument.find('='));
        if (name != "--delimiter" && name != "--decimal" && name != "--columns" &&
            name != "--map" && name != "--time-format" && name != "--epoch-unit" &&
            name != "--tz" && name != "--skip" && name != "--capacity") {
            throw UsageError("unknown option " + argument);
        }
        std::string value;
        if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i].text;
        } else {
            throw UsageError(argument + " needs a value");
        }
        if (argument == "--delimiter") {
            settings.delimiter = delimiterOf(value);
        } else if (argument == "--decimal") {
            if (value != "." && value != ",") {
                throw UsageError("--decimal " + value + ": the decimal mark is . or ,");
            }
            settings.decimal = value[0];
        } else if (argument == "--columns") {
            settings.columns = columnsOf(value);
        } else if (argument == "--map") {
            settings.maps.push_back(mapOf(value));
        } else if (argument == "--time-format") {
            timetext::checkFormat(value);
            settings.timeFormat = value;
        } else if (argument == "--epoch-unit") {
            settings.epochUnit = timetext::unitNamed(value);
            if (!settings.epochUnit) {
                throw UsageError("--epoch-unit " + value + ": the unit is s, ms, us or ns");
            }
        } else if (argument == "--tz") {
            settings.zone = Zone::named(value);
        } else if (argument == "--capacity") {
            options.capacity = tools::wholeNumber(value);
            if (!options.capacity || *options.capacity == 0) {
                throw UsageError("--capacity " + value +
                                 ": the room is a count of bars, 1 or more");
            }
        } else {
            const auto skip = tools::wholeNumber(value);
            if (!skip) {
                throw UsageError("--skip " + value + ": the lines to skip are a count");
            }
            settings.skip = *skip;
        }
    }
    if (operands.empty() || operands.size() > 2) {
        throw UsageError(operands.empty() ? "no file given" : "too many operands");
    }
    if (options.capacity && !options.create) {
        throw UsageError("--capacity sets the room of a file that --create makes");
    }
    options.file = std::move(operands[0]);
    if (operands.size() == 2) {
        options.input = std::move(operands[1]);
    }
    return options;
}

} // namespace quelm::import
