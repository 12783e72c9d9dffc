#include "line/system_message_win32.h"

#include <windows.h>

namespace rq::platform {

std::string SystemMessage(unsigned long code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    std::string message;
    if (length && text) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        message.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), message.data(), size, nullptr, nullptr);
    }
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) message = "Error " + std::to_string(code);
    return message;
}

}  // namespace rq::platform
