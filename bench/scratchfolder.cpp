#include "scratchfolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/statfs.h>
#include <unistd.h>

namespace quelm::bench {

ScratchFolder::ScratchFolder(const std::filesystem::path &base)
{
    std::string pattern = (base / "quelm-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("Cannot make a scratch folder in " + base.string() + ": " +
                                 std::strerror(errno));
    }
    m_path = pattern;
    settle(base);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
    settle(m_path.parent_path());
}

void settle(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

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

} // namespace quelm::bench
