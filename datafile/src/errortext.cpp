#include <quelm/errortext.h>
#include <quelm/filesystemcalls.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace quelm {

namespace {

#ifdef _WIN32
std::string utf8(const wchar_t *text, int length)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, converted.data(), size, nullptr, nullptr);
    return converted;
}

// The system's own message for a Windows error, in the user's language, without its line
// break and full stop.
std::string systemMessage(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text = length > 0 ? utf8(buffer, static_cast<int>(length)) : std::string();
    LocalFree(buffer);
    while (!text.empty() &&
           (std::isspace(static_cast<unsigned char>(text.back())) || text.back() == '.')) {
        text.pop_back();
    }
    return text;
}
#endif

// A Windows error that has no errno counterpart: its own message and its code.
std::string windowsReason(std::uint32_t code)
{
    const std::string number = "Windows error " + std::to_string(code);
    std::string text;
#ifdef _WIN32
    switch (code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        text = "it is in use by another program";
        break;
    case ERROR_FILE_READ_ONLY:
        text = "it is marked read-only";
        break;
    default:
        text = systemMessage(code);
        break;
    }
#endif
    return text.empty() ? number : text + " (" + number + ")";
}

} // namespace

std::string reasonText(int errorNumber)
{
    if (isWindowsError(errorNumber)) {
        return windowsReason(windowsErrorCode(errorNumber));
    }
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
    case EMFILE:
        return "too many files are open in this program";
    case ENFILE:
        return "too many files are open in the system";
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
