// quelm-inspect: prints the header of each data file named on the command line and whether the
// file is valid and was closed cleanly; exits 1 when any file is damaged or cannot be read.

#include "datafile.h"
#include "datafileerror.h"
#include "errortext.h"

#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char *const usage =
    "Usage: quelm-inspect [--json] FILE...\n"
    "\n"
    "Prints the header of each Quelm data file (.qdf) and whether it is valid and was\n"
    "closed cleanly. A file whose writer was killed is valid but not closed cleanly.\n"
    "\n"
    "  --json   one JSON object per file and line, with the keys file, valid, number,\n"
    "           capacity, bars, state (\"open\" or \"closed\"), created and, for a file\n"
    "           that is not valid, error (number, capacity, bars, state and created are\n"
    "           then null)\n"
    "  --help   shows this text\n"
    "\n"
    "Exit status: 0 when every file is valid, 1 when any is damaged or cannot be read,\n"
    "2 when the command line is wrong.\n";

std::string utcText(std::int64_t ms)
{
    const auto seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    const auto millis = static_cast<int>((ms % 1000 + 1000) % 1000);
    std::tm utc = {};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", millis);
    return text;
}

std::string jsonString(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        case '\n':
            quoted += "\\n";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

void printJson(const std::string &file, const quelm::DataFileHeader *header,
               const std::string &error)
{
    std::cout << "{\"file\":" << jsonString(file) << ",\"valid\":" << (header ? "true" : "false");
    if (header) {
        std::cout << ",\"number\":" << header->fileNumber << ",\"capacity\":" << header->capacity
                  << ",\"bars\":" << header->barsWritten << ",\"state\":\""
                  << (header->closedCleanly ? "closed" : "open") << "\",\"created\":\""
                  << utcText(header->createdMs) << "\"";
    } else {
        std::cout << ",\"number\":null,\"capacity\":null,\"bars\":null,\"state\":null,"
                     "\"created\":null,\"error\":"
                  << jsonString(error);
    }
    std::cout << "}\n";
}

void printText(const std::string &file, const quelm::DataFileHeader *header,
               const std::string &error)
{
    if (!header) {
        std::cout << file << ": damaged\n  " << error << "\n";
        return;
    }
    std::cout << file << ": valid, "
              << (header->closedCleanly ? "closed cleanly" : "not closed cleanly") << "\n"
              << "  file number   " << header->fileNumber << "\n"
              << "  capacity      " << header->capacity << " bars\n"
              << "  bars written  " << header->barsWritten << "\n"
              << "  created       " << utcText(header->createdMs) << "\n"
              << "  size          " << quelm::sizeText(quelm::fileSizeFor(header->capacity))
              << "\n";
}

} // namespace

int main(int argc, char **argv)
{
    bool json = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        }
        if (argument == "--json") {
            json = true;
        } else if (argument.starts_with("-") && argument != "-") {
            std::cerr << "quelm-inspect: unknown option " << argument << "\n\n" << usage;
            return 2;
        } else {
            files.emplace_back(argument);
        }
    }
    if (files.empty()) {
        std::cerr << "quelm-inspect: no file given\n\n" << usage;
        return 2;
    }

    bool anyDamaged = false;
    for (const std::string &file : files) {
        std::string error;
        quelm::DataFileHeader header;
        bool valid = false;
        try {
            header = quelm::DataFile::open(std::filesystem::path(file)).header();
            valid = true;
        } catch (const quelm::DataFileError &failure) {
            error = failure.what();
            anyDamaged = true;
        }
        (json ? printJson : printText)(file, valid ? &header : nullptr, error);
    }
    return anyDamaged ? 1 : 0;
}
