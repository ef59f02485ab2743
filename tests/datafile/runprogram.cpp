#include "runprogram.h"

#ifdef _WIN32
#include <cstdio>
#else
#include "childprocess.h"

#include <sys/wait.h>
#endif

#ifdef _WIN32

namespace {

// One argument for cmd.exe and the C runtime's parser: in double quotes, inner quotes escaped.
std::string quoted(const std::string &argument)
{
    std::string text = "\"";
    for (const char c : argument) {
        if (c == '"') {
            text += '\\';
        }
        text += c;
    }
    return text + "\"";
}

} // namespace

// The program ends by itself: it reads no input and its arguments are files or options.
ProgramResult runProgram(const std::filesystem::path &program,
                         const std::vector<std::string> &arguments)
{
    std::string command = quoted(program.string());
    for (const std::string &argument : arguments) {
        command += ' ' + quoted(argument);
    }
    // cmd.exe drops the outermost pair of quotes of the whole line.
    command = "\"" + command + " 2>&1\"";
    ProgramResult result;
    FILE *pipe = ::_popen(command.c_str(), "rb");
    if (!pipe) {
        return result;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        result.output.append(buffer, got);
    }
    result.exitCode = ::_pclose(pipe);
    return result;
}

#else

ProgramResult runProgram(const std::filesystem::path &program,
                         const std::vector<std::string> &arguments)
{
    std::vector<std::string> command{program.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto deadline = ChildProcess::in(std::chrono::seconds(30));
    ChildProcess child([&]() -> int { ChildProcess::execute(command); });
    ProgramResult result;
    result.output = child.readUntil('\0', deadline);
    const std::optional<int> status = child.wait(deadline);
    if (status && WIFEXITED(*status)) {
        result.exitCode = WEXITSTATUS(*status);
    }
    return result;
}

#endif
