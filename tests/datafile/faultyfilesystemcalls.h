#pragma once

#include <quelm/forwardingfilesystemcalls.h>

#include <array>
#include <functional>
#include <optional>

// The real system calls, except that a chosen call of the store's and the reader's fails with
// a chosen errno; those calls are counted, and a hook can run before each one.
class FaultyFileSystemCalls final : public quelm::ForwardingFileSystemCalls
{
public:
    enum Call
    {
        MakeDirectory,
        RemoveDirectory,
        OpenDirectory,
        HoldDirectory,
        CreateUnnamed,
        CreateNew,
        OpenExisting,
        OpenInDirectory,
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
        LocalTime,
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
    // Report that the file system does not tell its free space.
    bool freeUnknown = false;
    // The time to report instead of the clock's, in milliseconds since the epoch.
    std::optional<std::int64_t> fixedTime;
    std::function<void(Call)> before;

    int makeDirectory(const std::filesystem::path &p) override
    {
        return run(MakeDirectory, [&] { return target().makeDirectory(p); });
    }
    int removeDirectory(Handle &d, const std::filesystem::path &p) override
    {
        return run(RemoveDirectory, [&] { return target().removeDirectory(d, p); });
    }
    int openDirectory(const std::filesystem::path &p, Handle &h) override
    {
        return run(OpenDirectory, [&] { return target().openDirectory(p, h); });
    }
    int holdDirectory(const std::filesystem::path &p, bool w, Handle &h) override
    {
        return run(HoldDirectory, [&] { return target().holdDirectory(p, w, h); });
    }
    int createUnnamed(Handle d, Handle &h) override
    {
        return run(CreateUnnamed, [&] { return target().createUnnamed(d, h); });
    }
    int createNew(Handle d, const std::filesystem::path &n, Handle &h) override
    {
        return run(CreateNew, [&] { return target().createNew(d, n, h); });
    }
    int openExisting(const std::filesystem::path &p, bool w, Handle &h) override
    {
        return run(OpenExisting, [&] { return target().openExisting(p, w, h); });
    }
    int openInDirectory(Handle d, const std::filesystem::path &n, Handle &h) override
    {
        return run(OpenInDirectory, [&] { return target().openInDirectory(d, n, h); });
    }
    int reserve(Handle h, std::uint64_t size) override
    {
        return run(Reserve, [&] { return target().reserve(h, size); });
    }
    int writeAt(Handle h, std::uint64_t o, const void *d, std::size_t s) override
    {
        return run(WriteAt, [&] { return target().writeAt(h, o, d, s); });
    }
    int readAt(Handle h, std::uint64_t o, void *d, std::size_t s) override
    {
        return run(ReadAt, [&] { return target().readAt(h, o, d, s); });
    }
    int fileSize(Handle h, std::uint64_t &s) override
    {
        return run(FileSize, [&] { return target().fileSize(h, s); });
    }
    int syncData(Handle h) override
    {
        return run(SyncData, [&] { return target().syncData(h); });
    }
    int linkUnnamed(Handle h, Handle d, const std::filesystem::path &n) override
    {
        return run(LinkUnnamed, [&] { return target().linkUnnamed(h, d, n); });
    }
    int renameNoReplace(Handle &h, Handle d, const std::filesystem::path &f,
                        const std::filesystem::path &t) override
    {
        return run(RenameNoReplace, [&] { return target().renameNoReplace(h, d, f, t); });
    }
    int removeFile(Handle d, const std::filesystem::path &n) override
    {
        return run(RemoveFile, [&] { return target().removeFile(d, n); });
    }
    int syncDirectory(Handle h) override
    {
        return run(SyncDirectory, [&] { return target().syncDirectory(h); });
    }
    int close(Handle h) override
    {
        // The descriptor is released even when close reports an error, as on Linux.
        const int error = target().close(h);
        return run(Close, [&] { return error; });
    }
    int freeSpace(const std::filesystem::path &p, std::optional<std::uint64_t> &bytes) override
    {
        return run(FreeSpace, [&] {
            const int error = target().freeSpace(p, bytes);
            if (freeUnknown) {
                bytes.reset();
            } else if (reportedFree) {
                bytes = *reportedFree;
            }
            return error;
        });
    }

    std::int64_t currentTime() override { return fixedTime ? *fixedTime : target().currentTime(); }
    int localTime(std::time_t time, std::tm &local) override
    {
        return run(LocalTime, [&] { return target().localTime(time, local); });
    }

private:
    struct Rule
    {
        int error = 0;
        bool always = false;
        int skip = 0;
    };

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
