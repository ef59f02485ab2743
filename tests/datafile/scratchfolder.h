#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// A new empty folder in the system's temporary folder, removed with all it holds when the
// object goes.
class ScratchFolder
{
public:
    ScratchFolder()
    {
        std::random_device device;
        m_path = std::filesystem::temp_directory_path() /
                 ("quelm-test-" + std::to_string(device()) + std::to_string(device()));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};
