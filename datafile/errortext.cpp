#include "errortext.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace quelm {

std::string reasonText(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
        return "the disk is full";
#ifdef EDQUOT
    case EDQUOT:
        return "the disk quota is used up";
#endif
    case EFBIG:
        return "the file would be larger than this process may write (its file size limit)";
    case ENAMETOOLONG:
        return "a name in the path is too long for the file system";
    case ENOTDIR:
        return "a file stands where a folder should be";
    case EEXIST:
        return "something of that name already exists";
    case ENOENT:
        return "it or a folder on its path does not exist";
    case EIO:
        return "the disk reported an input/output error";
    case EROFS:
        return "the disk is read-only";
    case EACCES:
    case EPERM:
        return "permission was denied";
    default:
        break;
    }
    std::string text = std::generic_category().message(errorNumber);
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

std::string sizeText(std::uint64_t bytes)
{
    if (bytes < 1024) {
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    }
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    // Compared as it will be printed: 1023.96 KiB shows as "1.0 MiB", not "1024.0 KiB".
    while (value >= 1023.95 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string pathText(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace quelm
