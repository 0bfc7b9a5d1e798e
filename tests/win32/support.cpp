#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/win32/win32_platform.h"

namespace zxwin {

std::string programFolder() {
    std::string folder;
    zx::platform::win32::executableFolder(folder);
    return folder;
}

ScratchFolder::ScratchFolder() {
    static int counter = 0;
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "zxwin-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.flush()) << path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Child::Child(const std::string& program, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr;
    HANDLE childOut = nullptr;
    if (!::CreatePipe(&childIn, &toChild_, &inherit, 0) || !::CreatePipe(&fromChild_, &childOut, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return;
    }
    ::SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    const std::string path = programFolder() + program;
    std::string commandLine = "\"" + path + "\" " + arguments;
    if (!::CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process_)) {
        ADD_FAILURE() << "cannot start " << path << ": error " << ::GetLastError();
    }
    ::CloseHandle(childIn);
    ::CloseHandle(childOut);
}

Child::~Child() {
    if (process_.hProcess != nullptr) {
        kill();
        ::CloseHandle(process_.hProcess);
        ::CloseHandle(process_.hThread);
    }
    ::CloseHandle(toChild_);
    ::CloseHandle(fromChild_);
}

std::string Child::readLine() {
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (::ReadFile(fromChild_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (c != '\r') {
            line += c;
        }
    }
    return line;
}

void Child::writeLine(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(toChild_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

DWORD Child::wait() {
    DWORD code = 0;
    if (process_.hProcess == nullptr || ::WaitForSingleObject(process_.hProcess, 60000) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process_.hProcess, &code)) {
        ADD_FAILURE() << "child did not end";
        return 0xFFFFFFFF;
    }
    return code;
}

void Child::kill() {
    if (::WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        ::TerminateProcess(process_.hProcess, 9);
        ::WaitForSingleObject(process_.hProcess, 60000);
    }
}

}  // namespace zxwin

// The test program doubles as a lock holder for the tests that need the lock
// held by another process: "--hold-lock NAME" takes it, says "held" and
// keeps it until killed or told to end on its standard input.
int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold-lock") {
        const auto result = zx::platform::win32::takeNamedLock(argv[2]);
        std::printf("%s\n", result == zx::platform::NamedLockResult::Created ? "held" : "refused");
        std::fflush(stdout);
        char line[16];
        return std::fgets(line, sizeof line, stdin) != nullptr ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
