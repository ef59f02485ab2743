#include <quelm/filesystemcalls.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace quelm {

namespace {

HANDLE toHandle(FileSystemCalls::Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

// The errno that says the same as a Windows error, so that messages read alike everywhere;
// any other error keeps its Windows code, for its own message.
int errorFrom(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return EOPNOTSUPP;
    case ERROR_HANDLE_EOF:
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
        return EIO;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    default:
        return error <= static_cast<DWORD>(INT_MAX) ? fromWindowsError(error) : EIO;
    }
}

int lastError()
{
    return errorFrom(GetLastError());
}

// The errno behind an error of the standard library's file system calls.
int errnoFrom(const std::error_code &error)
{
    const std::error_condition condition = error.default_error_condition();
    if (condition.category() == std::generic_category()) {
        return condition.value();
    }
    return error.category() == std::system_category() ? errorFrom(static_cast<DWORD>(error.value()))
                                                      : EIO;
}

// Whether a name in `path` is longer than its volume takes (255 on NTFS, FAT and exFAT).
bool nameTooLong(const std::wstring &path)
{
    DWORD longest = 255;
    std::wstring volume(path.size() + 1, L'\0');
    if (GetVolumePathNameW(path.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
        GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, &longest, nullptr, nullptr, 0);
    }
    const std::filesystem::path names = std::filesystem::path(path).relative_path();
    return std::any_of(names.begin(), names.end(), [&](const std::filesystem::path &name) {
        return name.native().size() > longest;
    });
}

// Whether a file stands where a folder on the path to `path` should be.
bool fileInTheWay(const std::wstring &path)
{
    for (auto folder = std::filesystem::path(path).parent_path(); folder.has_relative_path();
         folder = folder.parent_path()) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        }
    }
    return false;
}

// The error of a failed call on `path`. Windows says a path is not found (or, for some file
// systems, that a name is invalid) where POSIX says what is in the way: a name too long, or a
// file where a folder should be. The user is told the same on both.
int pathError(const std::wstring &path)
{
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME) {
        if (nameTooLong(path)) {
            return ENAMETOOLONG;
        }
        if (error == ERROR_PATH_NOT_FOUND && fileInTheWay(path)) {
            return ENOTDIR;
        }
    }
    return errorFrom(error);
}

// Errors that say a file system or a filter driver does not do what was asked, as opposed
// to failing at it.
bool notSupported(DWORD error)
{
    switch (error) {
    case ERROR_CALL_NOT_IMPLEMENTED:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER:
        return true;
    default:
        return false;
    }
}

// The full path as the system calls take it: absolute, with backslashes, and with the
// "\\?\" prefix when it is too long for the old 260-character rules, so that long paths
// work whatever the machine's long path setting.
std::wstring systemPath(const std::filesystem::path &path)
{
    const std::wstring &given = path.native();
    if (given.starts_with(L"\\\\?\\") || given.starts_with(L"\\\\.\\")) {
        return given;
    }
    std::wstring full(std::max<std::size_t>(given.size() + MAX_PATH, MAX_PATH), L'\0');
    DWORD length =
        GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length =
            GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return given;
    }
    full.resize(length);
    // 248 is the longest folder name CreateDirectoryW takes without the prefix.
    if (full.size() < MAX_PATH - 12) {
        return full;
    }
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

OVERLAPPED at(std::uint64_t offset)
{
    OVERLAPPED overlapped = {};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

// Marks an open file to be deleted when its last handle closes, or takes that mark back.
bool setDeleteOnClose(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(remove)};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

bool setHidden(HANDLE file, bool hidden)
{
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    DWORD attributes = basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_NORMAL};
    attributes = hidden ? attributes | FILE_ATTRIBUTE_HIDDEN : attributes & ~FILE_ATTRIBUTE_HIDDEN;
    // Zero times leave them as they are; zero attributes would too, hence NORMAL.
    FILE_BASIC_INFO changed = {};
    changed.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &changed, sizeof changed);
}

// Renames the file behind `file` itself, so that nobody else's handle on it (a virus scanner,
// an indexer) can stand in the way of opening it again by name.
bool renameHandle(HANDLE file, const std::wstring &target)
{
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), info->FileName);
    return SetFileInformationByHandle(file, FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size()));
}

// The path of the folder open as `directory` as the system knows it, for a handle opened
// elsewhere than by this class.
int finalPath(FileSystemCalls::Handle directory, std::filesystem::path &path)
{
    // Room for the longest path there is, so that one call does.
    std::wstring folder(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(toHandle(directory), folder.data(),
                                                   static_cast<DWORD>(folder.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= folder.size()) {
        return length == 0 ? lastError() : ENAMETOOLONG;
    }
    folder.resize(length);
    path = folder;
    return 0;
}

// Whether the open file or folder is a symbolic link or junction, opened as itself.
bool isReparsePoint(HANDLE handle)
{
    FILE_BASIC_INFO basic = {};
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
           (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

class WindowsFileSystemCalls final : public FileSystemCalls
{
public:
    int makeDirectory(const std::filesystem::path &path) override
    {
        const std::wstring folder = systemPath(path);
        return CreateDirectoryW(folder.c_str(), nullptr) ? 0 : pathError(folder);
    }

    int removeDirectory(Handle &held, const std::filesystem::path &path) override
    {
        if (held != invalidHandle) {
            if (setDeleteOnClose(toHandle(held), true)) {
                return 0;
            }
            if (GetLastError() != ERROR_ACCESS_DENIED) {
                return lastError();
            }
            // The run's own hold has no right to delete: let go, and hold the folder again
            // should it stay.
            close(std::exchange(held, invalidHandle));
            if (RemoveDirectoryW(systemPath(path).c_str())) {
                return 0;
            }
            const int error = lastError();
            holdDirectory(path, true, held);
            return error;
        }
        return RemoveDirectoryW(systemPath(path).c_str()) ? 0 : lastError();
    }

    int openDirectory(const std::filesystem::path &path, Handle &directory) override
    {
        // A folder opens only with backup semantics; flushing it needs write access.
        const int error =
            openPath(path, GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, directory);
        if (error == 0) {
            remember(directory, path);
        }
        return error;
    }

    int holdDirectory(const std::filesystem::path &path, bool wait, Handle &directory) override
    {
        // Not sharing the right to delete keeps the folder from being renamed or removed. The
        // run's handle flushes the folder; the one to clear it removes it, and with that right
        // cannot be had while the run holds it, nor the run's while it is held so. The run's
        // handle asks for no right to delete: programs that list the folder without sharing
        // that right can still do so.
        const std::wstring name = systemPath(path);
        const DWORD access = wait ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ | DELETE;
        for (int attempt = 0;; ++attempt) {
            const HANDLE opened = CreateFileW(
                name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (opened != INVALID_HANDLE_VALUE) {
                if (isReparsePoint(opened)) {
                    CloseHandle(opened);
                    return ELOOP;
                }
                directory = reinterpret_cast<Handle>(opened);
                remember(directory, path);
                return 0;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_SHARING_VIOLATION) {
                return errorFrom(error);
            }
            // Another holder clearing an earlier run's leftovers lets go within moments.
            if (!wait || attempt == 1000) {
                return EWOULDBLOCK;
            }
            Sleep(10);
        }
    }

    int createUnnamed(Handle, Handle &) override { return EOPNOTSUPP; }

    int createNew(Handle directory, const std::filesystem::path &name, Handle &file) override
    {
        std::filesystem::path path;
        if (const int error = pathIn(directory, name, path)) {
            return error;
        }
        // DELETE access lets renameNoReplace rename the file through this very handle.
        if (const int error = openPath(path, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW,
                                       FILE_ATTRIBUTE_HIDDEN, file)) {
            return error;
        }
        // Until it is renamed, the file goes with its last handle, even when the process is
        // killed. Where the file system cannot, the store still removes it on failure.
        setDeleteOnClose(toHandle(file), true);
        return 0;
    }

    int openExisting(const std::filesystem::path &path, bool writable, Handle &file) override
    {
        const DWORD access = writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        const int error = openPath(path, access, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, file);
        if (error != EACCES) {
            return error;
        }
        // Windows refuses a folder, and a read-only file to write, as "access denied"; say what
        // it is instead, as POSIX does for a folder.
        const DWORD attributes = GetFileAttributesW(systemPath(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return error;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            return EISDIR;
        }
        if (writable && (attributes & FILE_ATTRIBUTE_READONLY)) {
            return fromWindowsError(ERROR_FILE_READ_ONLY);
        }
        return error;
    }

    int openToRead(const std::filesystem::path &path, Handle &file, FileKind &kind) override
    {
        kind = FileKind::Regular;
        Handle opened = invalidHandle;
        if (const int error = openExisting(path, false, opened)) {
            kind = error == EISDIR ? FileKind::Folder : FileKind::Regular;
            return error;
        }
        switch (GetFileType(toHandle(opened))) {
        case FILE_TYPE_DISK:
            break;
        case FILE_TYPE_PIPE:
            kind = FileKind::NamedPipe;
            break;
        case FILE_TYPE_CHAR:
            kind = FileKind::Device;
            break;
        default:
            kind = FileKind::Other;
            break;
        }
        file = opened;
        return 0;
    }

    int sameFile(const std::filesystem::path &first, const std::filesystem::path &second,
                 bool &same) override
    {
        same = false;
        BY_HANDLE_FILE_INFORMATION one = {};
        BY_HANDLE_FILE_INFORMATION other = {};
        for (const auto &[path, information] :
             {std::pair(&first, &one), std::pair(&second, &other)}) {
            // Opened for no access at all, a folder too, only to learn which file it is.
            const std::wstring name = systemPath(*path);
            const HANDLE opened =
                CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (opened == INVALID_HANDLE_VALUE) {
                const int error = pathError(name);
                return error == ENOENT || error == ENOTDIR ? 0 : error;
            }
            const bool known = GetFileInformationByHandle(opened, information);
            const int error = known ? 0 : lastError();
            CloseHandle(opened);
            if (!known) {
                return error;
            }
        }
        same = one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
               one.nFileIndexHigh == other.nFileIndexHigh &&
               one.nFileIndexLow == other.nFileIndexLow;
        return 0;
    }

    int openInDirectory(Handle directory, const std::filesystem::path &name, Handle &file) override
    {
        std::filesystem::path path;
        if (const int error = pathIn(directory, name, path)) {
            return error;
        }
        if (const int error = openPath(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, file)) {
            return error;
        }
        if (isReparsePoint(toHandle(file))) {
            CloseHandle(toHandle(std::exchange(file, invalidHandle)));
            return ELOOP;
        }
        return 0;
    }

    int reserve(Handle file, std::uint64_t size) override
    {
        if (size > static_cast<std::uint64_t>(INT64_MAX)) {
            return EFBIG;
        }
        // Allocation first, where the file system takes it; the end of file then sets the
        // size, and on NTFS allocates the space by itself where allocation was refused.
        FILE_ALLOCATION_INFO allocation = {};
        allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFileInformationByHandle(toHandle(file), FileAllocationInfo, &allocation,
                                        sizeof allocation)) {
            const DWORD error = GetLastError();
            if (!notSupported(error)) {
                return errorFrom(error);
            }
        }
        FILE_END_OF_FILE_INFO end = {};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFileInformationByHandle(toHandle(file), FileEndOfFileInfo, &end, sizeof end)) {
            // Wine reports a size beyond what its file system takes as a lack of memory: such a
            // file does not fit on the disk.
            const DWORD error = GetLastError();
            return error == ERROR_NOT_ENOUGH_MEMORY ? ENOSPC : errorFrom(error);
        }
        return 0;
    }

    int writeAt(Handle file, std::uint64_t offset, const void *data, std::size_t size) override
    {
        const auto *bytes = static_cast<const char *>(data);
        while (size > 0) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            OVERLAPPED overlapped = at(offset);
            DWORD written = 0;
            if (!WriteFile(toHandle(file), bytes, chunk, &written, &overlapped)) {
                return lastError();
            }
            bytes += written;
            size -= written;
            offset += written;
        }
        return 0;
    }

    int readAt(Handle file, std::uint64_t offset, void *data, std::size_t size) override
    {
        auto *bytes = static_cast<char *>(data);
        while (size > 0) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            OVERLAPPED overlapped = at(offset);
            DWORD got = 0;
            if (!ReadFile(toHandle(file), bytes, chunk, &got, &overlapped)) {
                return lastError();
            }
            if (got == 0) {
                return EIO;
            }
            bytes += got;
            size -= got;
            offset += got;
        }
        return 0;
    }

    int fileSize(Handle file, std::uint64_t &size) override
    {
        LARGE_INTEGER value = {};
        if (!GetFileSizeEx(toHandle(file), &value)) {
            return lastError();
        }
        size = static_cast<std::uint64_t>(value.QuadPart);
        return 0;
    }

    int syncData(Handle file) override
    {
        return FlushFileBuffers(toHandle(file)) ? 0 : lastError();
    }

    int linkUnnamed(Handle, Handle, const std::filesystem::path &) override { return EOPNOTSUPP; }

    int renameNoReplace(Handle &file, Handle directory, const std::filesystem::path &,
                        const std::filesystem::path &to) override
    {
        std::filesystem::path target;
        if (const int error = pathIn(directory, to, target)) {
            return error;
        }
        // The file made by createNew sheds its temporary marks first: a file being deleted
        // cannot be renamed, and its final name must not hide it. The attributes are flushed
        // with it, so that a power cut cannot bring the file back hidden.
        const HANDLE handle = toHandle(file);
        if (!setHidden(handle, false) || !setDeleteOnClose(handle, false) ||
            !FlushFileBuffers(handle)) {
            return lastError();
        }
        if (!renameHandle(handle, systemPath(target))) {
            const int error = lastError();
            setDeleteOnClose(handle, true);
            setHidden(handle, true);
            return error;
        }
        // The handle with the right to delete bars every other program that does not share
        // that right (as the C library's fopen does not) from opening the file while it is
        // kept open; a new one without it does not. Should that fail, the old one serves.
        const HANDLE reopened =
            ReOpenFile(handle, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
        if (reopened != INVALID_HANDLE_VALUE) {
            file = reinterpret_cast<Handle>(reopened);
        }
        return 0;
    }

    int removeFile(Handle directory, const std::filesystem::path &name) override
    {
        std::filesystem::path path;
        if (const int error = pathIn(directory, name, path)) {
            return error;
        }
        return DeleteFileW(systemPath(path).c_str()) ? 0 : lastError();
    }

    int syncDirectory(Handle directory) override
    {
        // On NTFS this writes the folder's entries and the journal behind them. A file system
        // that cannot flush a folder on its own says so; there is nothing more to do there.
        if (FlushFileBuffers(toHandle(directory))) {
            return 0;
        }
        const DWORD error = GetLastError();
        return notSupported(error) ? 0 : errorFrom(error);
    }

    int close(Handle handle) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_folders.erase(handle);
        }
        return CloseHandle(toHandle(handle)) ? 0 : lastError();
    }

    int freeSpace(const std::filesystem::path &path, std::optional<std::uint64_t> &bytes) override
    {
        std::wstring folder = systemPath(path);
        if (!folder.ends_with(L'\\')) {
            folder += L'\\';
        }
        ULARGE_INTEGER available = {};
        ULARGE_INTEGER total = {};
        if (!GetDiskFreeSpaceExW(folder.c_str(), &available, &total, nullptr)) {
            return lastError();
        }
        // A file system that reports no size at all keeps no count of its space.
        if (total.QuadPart == 0) {
            bytes.reset();
        } else {
            bytes = available.QuadPart;
        }
        return 0;
    }

    int lockFile(Handle file, bool wait) override
    {
        // Windows locks byte ranges and enforces them on reads and writes. One byte at the very
        // end of the offset range, which no data file reaches, makes the lock advisory.
        OVERLAPPED overlapped = at(0x7FFFFFFFFFFFFFFEull);
        const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
        if (LockFileEx(toHandle(file), flags, 0, 1, 0, &overlapped)) {
            return 0;
        }
        const DWORD error = GetLastError();
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                          : errorFrom(error);
    }

    int pathKind(const std::filesystem::path &path, bool followLinks, PathKind &kind) override
    {
        std::error_code error;
        const auto status = followLinks ? std::filesystem::status(path, error)
                                        : std::filesystem::symlink_status(path, error);
        if (status.type() == std::filesystem::file_type::not_found) {
            kind = PathKind::None;
            return 0;
        }
        if (error) {
            return errnoFrom(error);
        }
        kind = std::filesystem::is_directory(status) ? PathKind::Folder
               : std::filesystem::is_symlink(status) ? PathKind::Link
                                                     : PathKind::Other;
        return 0;
    }

    int readLink(const std::filesystem::path &path, std::filesystem::path &target) override
    {
        std::error_code error;
        target = std::filesystem::read_symlink(path, error);
        return error ? errnoFrom(error) : 0;
    }

    int listDirectory(const std::filesystem::path &path,
                      std::vector<std::filesystem::path> &names) override
    {
        names.clear();
        std::error_code error;
        for (std::filesystem::directory_iterator entry(path, error), end; !error && entry != end;
             entry.increment(error)) {
            names.push_back(entry->path().filename());
        }
        return error ? errnoFrom(error) : 0;
    }

    Handle standardHandle(StandardStream stream) override
    {
        return reinterpret_cast<Handle>(
            GetStdHandle(stream == StandardStream::Input ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE));
    }

    int readSome(Handle file, void *data, std::size_t size, std::size_t &got) override
    {
        DWORD length = 0;
        got = 0;
        if (!ReadFile(toHandle(file), data,
                      static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), &length,
                      nullptr)) {
            // A pipe whose writer has gone has ended.
            const DWORD error = GetLastError();
            return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : errorFrom(error);
        }
        got = length;
        return 0;
    }

    int writeAll(Handle file, const void *data, std::size_t size) override
    {
        const auto *bytes = static_cast<const char *>(data);
        while (size > 0) {
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(toHandle(file), bytes, chunk, &written, nullptr)) {
                const DWORD error = GetLastError();
                return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ? EPIPE
                                                                            : errorFrom(error);
            }
            bytes += written;
            size -= written;
        }
        return 0;
    }

    int openForWriting(const std::filesystem::path &path, bool &created, Handle &file) override
    {
        created = false;
        const int error = openPath(path, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, file);
        if (error != EEXIST) {
            created = error == 0;
            return error;
        }
        return openPath(path, GENERIC_WRITE, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, file);
    }

    std::int64_t currentTime() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    int localTime(std::time_t time, std::tm &local) override { return localtime_s(&local, &time); }

private:
    // The folders opened by this class, by their handles: the path a held folder was opened by
    // stays its path, since nobody can rename it meanwhile.
    void remember(Handle directory, const std::filesystem::path &path)
    {
        const std::lock_guard lock(m_mutex);
        m_folders[directory] = path;
    }

    // The path of `name` in the folder open as `directory`.
    int pathIn(Handle directory, const std::filesystem::path &name, std::filesystem::path &path)
    {
        std::filesystem::path folder;
        {
            const std::lock_guard lock(m_mutex);
            if (const auto found = m_folders.find(directory); found != m_folders.end()) {
                folder = found->second;
            }
        }
        if (folder.empty()) {
            if (const int error = finalPath(directory, folder)) {
                return error;
            }
        }
        path = folder / name;
        return 0;
    }

    static int openPath(const std::filesystem::path &path, DWORD access, DWORD disposition,
                        DWORD flags, Handle &handle)
    {
        // Others may read and write a file while it is open here, but neither rename nor delete
        // it: they are told it is in use. A folder opened to be flushed keeps all its sharing.
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE |
                            ((flags & FILE_FLAG_BACKUP_SEMANTICS) != 0 ? FILE_SHARE_DELETE : 0);
        const std::wstring name = systemPath(path);
        const HANDLE opened =
            CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
        if (opened == INVALID_HANDLE_VALUE) {
            return pathError(name);
        }
        handle = reinterpret_cast<Handle>(opened);
        return 0;
    }

    std::mutex m_mutex;
    std::map<Handle, std::filesystem::path> m_folders;
};

} // namespace

FileSystemCalls &systemFileCalls()
{
    static WindowsFileSystemCalls calls;
    return calls;
}

} // namespace quelm
