#pragma once

#include "filesystemcalls.h"

#include <array>
#include <functional>
#include <optional>

// The real system calls, except that a chosen call fails with a chosen errno; every call is
// counted, and a hook can run before each one.
class FaultyFileSystemCalls final : public quelm::FileSystemCalls
{
public:
    enum Call
    {
        MakeDirectory,
        RemoveDirectory,
        OpenDirectory,
        CreateUnnamed,
        CreateNew,
        OpenExisting,
        Reserve,
        WriteAt,
        ReadAt,
        FileSize,
        SyncData,
        LinkUnnamed,
        RenameNoReplace,
        RemoveFile,
        SyncDirectory,
        Close,
        FreeSpace,
        CallKinds
    };

    // The next call of that kind after `skip` more fails with `error`; with `always`, every
    // later one does.
    void fail(Call call, int error, bool always = false, int skip = 0)
    {
        m_rules[call] = {error, always, skip};
    }
    int count(Call call) const { return m_counts[call]; }
    // Free space to report instead of the real figure.
    std::optional<std::uint64_t> reportedFree;
    std::function<void(Call)> before;

    int makeDirectory(const std::filesystem::path &p) override
    {
        return run(MakeDirectory, [&] { return real().makeDirectory(p); });
    }
    int removeDirectory(const std::filesystem::path &p) override
    {
        return run(RemoveDirectory, [&] { return real().removeDirectory(p); });
    }
    int openDirectory(const std::filesystem::path &p, Handle &h) override
    {
        return run(OpenDirectory, [&] { return real().openDirectory(p, h); });
    }
    int createUnnamed(const std::filesystem::path &p, Handle &h) override
    {
        return run(CreateUnnamed, [&] { return real().createUnnamed(p, h); });
    }
    int createNew(const std::filesystem::path &p, Handle &h) override
    {
        return run(CreateNew, [&] { return real().createNew(p, h); });
    }
    int openExisting(const std::filesystem::path &p, bool w, Handle &h) override
    {
        return run(OpenExisting, [&] { return real().openExisting(p, w, h); });
    }
    int reserve(Handle h, std::uint64_t size) override
    {
        return run(Reserve, [&] { return real().reserve(h, size); });
    }
    int writeAt(Handle h, std::uint64_t o, const void *d, std::size_t s) override
    {
        return run(WriteAt, [&] { return real().writeAt(h, o, d, s); });
    }
    int readAt(Handle h, std::uint64_t o, void *d, std::size_t s) override
    {
        return run(ReadAt, [&] { return real().readAt(h, o, d, s); });
    }
    int fileSize(Handle h, std::uint64_t &s) override
    {
        return run(FileSize, [&] { return real().fileSize(h, s); });
    }
    int syncData(Handle h) override
    {
        return run(SyncData, [&] { return real().syncData(h); });
    }
    int linkUnnamed(Handle h, const std::filesystem::path &t) override
    {
        return run(LinkUnnamed, [&] { return real().linkUnnamed(h, t); });
    }
    int renameNoReplace(Handle &h, const std::filesystem::path &f,
                        const std::filesystem::path &t) override
    {
        return run(RenameNoReplace, [&] { return real().renameNoReplace(h, f, t); });
    }
    int removeFile(const std::filesystem::path &p) override
    {
        return run(RemoveFile, [&] { return real().removeFile(p); });
    }
    int syncDirectory(Handle h) override
    {
        return run(SyncDirectory, [&] { return real().syncDirectory(h); });
    }
    int close(Handle h) override
    {
        // The descriptor is released even when close reports an error, as on Linux.
        const int error = real().close(h);
        return run(Close, [&] { return error; });
    }
    int freeSpace(const std::filesystem::path &p, std::uint64_t &bytes) override
    {
        return run(FreeSpace, [&] {
            const int error = real().freeSpace(p, bytes);
            if (reportedFree) {
                bytes = *reportedFree;
            }
            return error;
        });
    }

private:
    struct Rule
    {
        int error = 0;
        bool always = false;
        int skip = 0;
    };

    static quelm::FileSystemCalls &real() { return quelm::systemFileCalls(); }

    template <typename Body> int run(Call call, Body body)
    {
        ++m_counts[call];
        if (before) {
            before(call);
        }
        Rule &rule = m_rules[call];
        if (rule.error != 0 && rule.skip > 0) {
            --rule.skip;
        } else if (rule.error != 0) {
            const int error = rule.error;
            if (!rule.always) {
                rule = {};
            }
            return error;
        }
        return body();
    }

    std::array<Rule, CallKinds> m_rules{};
    std::array<int, CallKinds> m_counts{};
};
