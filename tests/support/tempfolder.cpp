#include "tempfolder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <chrono>
#include <thread>
#include <windows.h>
#else
#include <cstdio>
#include <fcntl.h>
#include <sys/statfs.h>
#include <unistd.h>
#endif

namespace testsupport {

#ifdef _WIN32

namespace {

// Removes `folder` (in the long-path form, which std::filesystem does not take) with all it
// holds, read-only files included; false when something stays.
bool removeTree(const std::wstring &folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            const std::wstring path = folder + L"\\" + name;
            if (name == L"." || name == L"..") {
                continue;
            }
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

} // namespace

#else

namespace {

// Flushes everything pending on the file system that holds `folder`.
void settle(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

} // namespace

#endif

TempFolder::TempFolder() : TempFolder(std::filesystem::temp_directory_path()) {}

TempFolder::TempFolder(const std::filesystem::path &base, bool settled) : m_settled(settled)
{
    std::random_device device;
    std::mt19937_64 random(device());
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        auto candidate = base / ("quelm-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
        }
    }
    if (m_path.empty()) {
        throw std::runtime_error("no temporary folder could be made in " + base.string());
    }
#ifndef _WIN32
    if (m_settled) {
        settle(base);
    }
#endif
}

TempFolder::~TempFolder()
{
#ifdef _WIN32
    // A file stays in use for a moment after the process that held it ended (and while a
    // scanner looks at it), so removing is tried again for a while.
    for (int attempt = 0; attempt < 100 && !removeTree(L"\\\\?\\" + m_path.native()); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
#else
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    if (m_settled) {
        settle(m_path.parent_path());
    }
#endif
}

std::string contents(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void write(const std::filesystem::path &path, std::string_view bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

#ifndef _WIN32

std::string fileSystemName(const std::filesystem::path &folder)
{
    struct statfs status = {};
    if (::statfs(folder.c_str(), &status) != 0) {
        return "unknown";
    }
    switch (static_cast<unsigned long>(status.f_type)) {
    case 0xEF53:
        return "ext4";
    case 0x01021994:
        return "tmpfs";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x794C7630:
        return "overlayfs";
    case 0x6969:
        return "nfs";
    case 0x2FC12FC1:
        return "zfs";
    default:
        char name[32];
        std::snprintf(name, sizeof name, "type 0x%lx", static_cast<unsigned long>(status.f_type));
        return name;
    }
}

#endif

} // namespace testsupport
