// The box reader: runs a program that shows one message box as a user would. It starts it, waits for
// its box, reads the box's caption, text and buttons, presses OK and reports the exit status.
// Everything it reads goes to standard output, one escaped line each, for comparison with an
// expected file.
//
//   box_reader [--second-instance | --wait-for-input] [--time-to-box] PROGRAM [ARGUMENTS]
//
// PROGRAM is looked up beside the box reader. --second-instance starts a second PROGRAM while the
// first one's box is up and reports both. --wait-for-input waits for a line on standard input before
// pressing OK (time for a screenshot). --time-to-box also reports the milliseconds from starting
// PROGRAM until its box was found.
#include <windows.h>

#include "box_text.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace
{

constexpr DWORD kBoxTimeoutMs = 30000;
constexpr DWORD kAnswerTimeoutMs = 30000; // for a box's thread to take messages
constexpr DWORD kExitTimeoutMs = 10000;
constexpr DWORD kPollMs = 1; // also the resolution of --time-to-box
constexpr const char *kUsage =
    "usage: box_reader [--second-instance | --wait-for-input] [--time-to-box] PROGRAM [ARGUMENTS]\n";

struct Program
{
    PROCESS_INFORMATION process = {};
    HWND box = nullptr;
};

std::vector<Program *> g_started; // ended by Fail, so no test leaves a program behind

void Report(const std::string &label, const std::string &value)
{
    std::printf("%s%s\n", label.c_str(), value.c_str());
    std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string &why)
{
    Report("error: ", why);
    for (Program *program : g_started)
    {
        if (program->process.hProcess != nullptr)
        {
            TerminateProcess(program->process.hProcess, 255);
        }
    }
    std::exit(2);
}

// Sends a message to a window of another process, asking again while its thread is busy: under
// Wine a box's thread sometimes stalls for seconds after the box appears, which makes a run slower,
// not different.
bool SendWhenAnswered(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR &result)
{
    const ULONGLONG deadline = GetTickCount64() + kAnswerTimeoutMs;
    while (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result))
    {
        if (GetTickCount64() >= deadline || !IsWindow(window))
        {
            return false;
        }
        Sleep(10);
    }
    return true;
}

// Text of a window in another process, through the message the system marshals across processes.
std::wstring WindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendWhenAnswered(window, WM_GETTEXTLENGTH, 0, 0, length))
    {
        return L"<no answer>";
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendWhenAnswered(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), copied);
    text.resize(copied);
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[64];
    const int length = GetClassNameW(window, name, ARRAYSIZE(name));
    return {name, static_cast<std::size_t>(length)};
}

struct BoxSearch
{
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<BoxSearch *>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window) && ClassName(window) == L"#32770")
    {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

void Start(Program &program, const std::wstring &commandLine)
{
    g_started.push_back(&program);
    std::wstring mutableLine = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program.process))
    {
        Fail("cannot start the program, error " + std::to_string(GetLastError()));
    }
}

void WaitForBox(Program &program)
{
    BoxSearch search = {program.process.dwProcessId, nullptr};
    for (DWORD waited = 0; search.box == nullptr; waited += kPollMs)
    {
        if (waited >= kBoxTimeoutMs)
        {
            Fail("no message box within " + std::to_string(kBoxTimeoutMs) + " ms");
        }
        if (WaitForSingleObject(program.process.hProcess, kPollMs) == WAIT_OBJECT_0)
        {
            Fail("the program ended without showing a message box");
        }
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    }
    program.box = search.box;
}

// Reports the box and returns its visible OK button, if it has one.
HWND ReportBox(const Program &program, const std::string &label)
{
    // Read once the box's thread waits for input.
    WaitForInputIdle(program.process.hProcess, kAnswerTimeoutMs);
    Report(label + "caption: ", QuotedBoxText(WindowText(program.box)));
    std::string buttons;
    HWND ok = nullptr;
    for (HWND child = GetWindow(program.box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT))
    {
        const std::wstring className = ClassName(child);
        if (className == L"Static" && GetWindowTextLengthW(child) > 0)
        {
            Report(label + "text: ", QuotedBoxText(WindowText(child)));
        }
        else if (className == L"Button" && IsWindowVisible(child))
        {
            const int id = GetDlgCtrlID(child);
            buttons +=
                (buttons.empty() ? "" : ", ") + std::to_string(id) + " " + QuotedBoxText(WindowText(child));
            ok = id == IDOK ? child : ok;
        }
    }
    Report(label + "buttons: ", buttons);
    return ok;
}

void PressOk(const Program &program, HWND ok)
{
    if (ok == nullptr)
    {
        Fail("the box has no OK button");
    }
    PostMessageW(program.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
}

void ReportExit(Program &program, const std::string &label)
{
    if (WaitForSingleObject(program.process.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0)
    {
        Fail("the program did not end after its box was dismissed");
    }
    DWORD status = 0;
    GetExitCodeProcess(program.process.hProcess, &status);
    Report(label + "exit status: ", std::to_string(static_cast<int>(status)));
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
    program.process = {};
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    _setmode(_fileno(stdout), _O_BINARY); // the expected files have Unix line ends

    enum class Mode
    {
        PressOk,
        SecondInstance,
        WaitForInput
    } mode = Mode::PressOk;
    bool timeToBox = false;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == L'-'; ++arg)
    {
        const std::wstring option = argv[arg];
        if (option == L"--second-instance")
        {
            mode = Mode::SecondInstance;
        }
        else if (option == L"--wait-for-input")
        {
            mode = Mode::WaitForInput;
        }
        else if (option == L"--time-to-box")
        {
            timeToBox = true;
        }
        else
        {
            break;
        }
    }
    if (arg >= argc || argv[arg][0] == L'-')
    {
        std::fputs(kUsage, stderr);
        return 2;
    }

    wchar_t readerPath[MAX_PATH];
    GetModuleFileNameW(nullptr, readerPath, MAX_PATH);
    std::wstring commandLine = readerPath;
    commandLine = L"\"" + commandLine.substr(0, commandLine.find_last_of(L'\\') + 1) + argv[arg] + L"\"";
    for (++arg; arg < argc; ++arg)
    {
        commandLine += std::wstring(L" ") + argv[arg];
    }

    Program first;
    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
    LARGE_INTEGER boxShown;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    Start(first, commandLine);
    WaitForBox(first);
    QueryPerformanceCounter(&boxShown);
    if (timeToBox)
    {
        const double ms = 1000.0 * static_cast<double>(boxShown.QuadPart - started.QuadPart) /
                          static_cast<double>(frequency.QuadPart);
        Report("box after ms: ", std::to_string(ms));
    }

    if (mode == Mode::SecondInstance)
    {
        HWND firstOk = ReportBox(first, "first ");
        Program second;
        Start(second, commandLine);
        WaitForBox(second);
        PressOk(second, ReportBox(second, "second "));
        ReportExit(second, "second ");
        Report("first still showing: ", IsWindowVisible(first.box) ? "yes" : "no");
        PressOk(first, firstOk);
        ReportExit(first, "first ");
        return 0;
    }

    HWND ok = ReportBox(first, "");
    if (mode == Mode::WaitForInput)
    {
        char line[16];
        std::fgets(line, sizeof line, stdin);
    }
    PressOk(first, ok);
    ReportExit(first, "");
    return 0;
}
