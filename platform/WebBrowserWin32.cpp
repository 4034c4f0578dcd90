// Opening a page on Windows: the program registered for https addresses, given the address, so that a
// local page shows in the browser even where .html files open in an editor.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <shlwapi.h>

#include <string>

#include "platform/WebBrowser.h"

namespace {

// The program registered for https addresses, or empty.
std::wstring BrowserProgram() {
    wchar_t program[MAX_PATH * 2] = {};
    DWORD size = sizeof program / sizeof program[0];
    if (AssocQueryStringW(ASSOCF_IS_PROTOCOL | ASSOCF_NOTRUNCATE, ASSOCSTR_EXECUTABLE, L"https", L"open",
                          program, &size) != S_OK)
        return {};
    return program;
}

// ShellExecuteW reports success as a value above 32.
bool Started(HINSTANCE result) {
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

bool OpenInWebBrowser(const QString& url) {
    const std::wstring address = url.toStdWString();
    const std::wstring program = BrowserProgram();
    if (!program.empty()) {
        const std::wstring argument = L"\"" + address + L"\"";
        if (Started(
                ShellExecuteW(nullptr, L"open", program.c_str(), argument.c_str(), nullptr, SW_SHOWNORMAL)))
            return true;
    }
    return Started(ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}
