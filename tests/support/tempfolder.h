#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// What every test folder shares: a temporary folder of its own, and whole files read and
// written as bytes.
namespace testsupport {

// A new empty folder under the system's temporary folder, removed with all it holds.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::string contents(const std::filesystem::path &path);
void write(const std::filesystem::path &path, std::string_view bytes);

} // namespace testsupport
