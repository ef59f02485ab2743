#include "tempfolder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <chrono>
#include <thread>
#include <windows.h>
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

#endif

TempFolder::TempFolder()
{
    std::random_device device;
    std::mt19937_64 random(device());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("quelm-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
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

} // namespace testsupport
