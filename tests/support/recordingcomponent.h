#pragma once

#include <quelm/datafilecomponent.h>
#include <quelm/datafileerror.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <vector>

// A data file component for tests: records every call with the values it was given, and can be
// told to fail for a number or to write back into its by-reference arguments. The log is shared,
// so a test can read it after the window that owned the component has gone.
struct ComponentLog
{
    enum class Operation
    {
        Create,
        Close
    };
    struct Call
    {
        Operation operation;
        std::int32_t fileNumber;
        std::int32_t barCount; // 0 for Close
        bool operator==(const Call &) const = default;
    };

    std::vector<Call> calls;
    std::set<std::int32_t> failCreateFor;
    std::set<std::int32_t> failCloseFor;
    // Run inside the call, after it is recorded; they may change the caller's variables.
    std::function<void(std::int32_t &fileNumber, std::int32_t &barCount)> onCreate;
    std::function<void(std::int32_t &fileNumber)> onClose;

    std::vector<std::int32_t> closed() const
    {
        std::vector<std::int32_t> numbers;
        for (const Call &call : calls) {
            if (call.operation == Operation::Close)
                numbers.push_back(call.fileNumber);
        }
        return numbers;
    }
};

class RecordingComponent final : public quelm::DataFileComponent
{
public:
    explicit RecordingComponent(std::shared_ptr<ComponentLog> log) : m_log(std::move(log)) {}

    std::int32_t CreateDataFile(std::int32_t &fileNumber, std::int32_t &barCount) override
    {
        m_log->calls.push_back({ComponentLog::Operation::Create, fileNumber, barCount});
        if (m_log->failCreateFor.count(fileNumber))
            throw quelm::DataFileError(
                "Cannot create file " + std::to_string(fileNumber) + ": the disk is full.", 28);
        if (m_log->onCreate)
            m_log->onCreate(fileNumber, barCount);
        return 0;
    }

    std::int32_t CloseDataFile(std::int32_t &fileNumber) override
    {
        m_log->calls.push_back({ComponentLog::Operation::Close, fileNumber, 0});
        if (m_log->failCloseFor.count(fileNumber))
            throw quelm::DataFileError(
                "Cannot close file " + std::to_string(fileNumber) + ": input/output error.", 5);
        if (m_log->onClose)
            m_log->onClose(fileNumber);
        return 0;
    }

private:
    std::shared_ptr<ComponentLog> m_log;
};

// The file numbers 1 to `last`, in the order the window releases them.
inline std::vector<std::int32_t> oneTo(int last)
{
    std::vector<std::int32_t> numbers(static_cast<std::size_t>(last));
    std::iota(numbers.begin(), numbers.end(), 1);
    return numbers;
}
