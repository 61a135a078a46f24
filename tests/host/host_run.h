// Running quirebinder.exe as a user runs it, from the folder that holds it
// with the module and the tests' stand-in propsys.dll, its output captured.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/console.h"
#include "tests/support/module_under_test.h"

struct HostRun {
    DWORD exit_code = 0xFFFFFFFF;
    std::string out, err;  // UTF-8
};

inline std::wstring host_folder()
{
    return windows_path(QB_HOST_DIR);
}

inline std::vector<std::uint8_t> read_file(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    std::vector<std::uint8_t> bytes;
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    BYTE chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    CloseHandle(file);
    return bytes;
}

inline void write_file(const std::wstring& path, const std::vector<std::uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

inline HANDLE inheritable_file(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs quirebinder.exe with command_line (after the program name) in folder;
// while_running is called once the program has started.
template <class Action>
HostRun run_host(const std::wstring& command_line, const std::wstring& folder,
                 Action while_running, const std::wstring& program_folder = host_folder())
{
    const std::wstring out_path = folder + L"\\stdout.txt";
    const std::wstring err_path = folder + L"\\stderr.txt";
    const HANDLE out = inheritable_file(out_path);
    const HANDLE err = inheritable_file(err_path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    const std::wstring program = program_folder + L"\\quirebinder.exe";
    std::wstring line = L"\"" + program + L"\" " + command_line;
    PROCESS_INFORMATION process = {};
    HostRun run;
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       folder.c_str(), &startup, &process)) {
        while_running();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
        GetExitCodeProcess(process.hProcess, &run.exit_code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << utf8(program);
    }
    CloseHandle(out);
    CloseHandle(err);
    const std::vector<std::uint8_t> out_bytes = read_file(out_path);
    const std::vector<std::uint8_t> err_bytes = read_file(err_path);
    run.out.assign(out_bytes.begin(), out_bytes.end());
    run.err.assign(err_bytes.begin(), err_bytes.end());
    return run;
}

inline HostRun run_host(const std::wstring& command_line, const std::wstring& folder)
{
    return run_host(command_line, folder, [] {});
}
