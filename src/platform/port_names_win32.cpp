#include "platform/port_names.h"

#include <optional>
#include <utility>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// clang-format off: initguid.h must come first, so that devguid.h defines
// the ports class's GUID here instead of only declaring it.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

namespace rq::platform {

namespace {

// Where Windows lists the serial ports its drivers made: one value per port,
// the port's name ("COM5") as its data.
const wchar_t* const kSerialCommKey = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string Utf8(const wchar_t* text, std::size_t length)
{
    while (length > 0 && text[length - 1] == L'\0') --length;
    if (length == 0) return {};
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), needed, nullptr, nullptr);
    return out;
}

// A registry string value; the data need not end with a NUL.
std::optional<std::string> ReadStringValue(HKEY key, const wchar_t* name)
{
    wchar_t data[256] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ) return std::nullopt;
    return Utf8(data, size / sizeof(wchar_t));
}

}  // namespace

std::vector<std::string> SystemPortNames()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    static_assert(kEnumSuccess == ERROR_SUCCESS && kEnumMoreData == ERROR_MORE_DATA &&
                  kEnumNoMoreItems == ERROR_NO_MORE_ITEMS);
    names = EnumeratedStrings([key](unsigned long index) {
        wchar_t valueName[256];
        DWORD nameLength = 256;
        wchar_t data[256] = {};
        DWORD size = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        EnumeratedValue value;
        value.result = RegEnumValueW(key, static_cast<DWORD>(index), valueName, &nameLength, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &size);
        if (value.result == ERROR_SUCCESS && type == REG_SZ) value.text = Utf8(data, size / sizeof(wchar_t));
        return value;
    });
    RegCloseKey(key);
    SortPortNames(names, {"COM"});
    return names;
}

std::string SystemStableNameDirectory()
{
    return {};
}

std::vector<std::string> StablePortNames(const std::string& /*directory*/, const std::vector<std::string>& /*consoles*/)
{
    return {};
}

std::vector<std::string> StablePortNames(const std::string& /*directory*/)
{
    return {};
}

PortDescriptions SystemPortDescriptions(const std::string& /*stableDirectory*/)
{
    // The ports class's present devices: each one's "PortName" in its device
    // key, and the friendly name Device Manager shows. Reading them opens no port.
    PortDescriptions descriptions;
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return descriptions;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::optional<std::string> port = ReadStringValue(key, L"PortName");
        RegCloseKey(key);
        if (!port || port->empty()) continue;
        wchar_t friendly[256] = {};
        DWORD type = 0;
        DWORD size = 0;
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, &type, reinterpret_cast<BYTE*>(friendly),
                                               sizeof friendly - sizeof(wchar_t), &size) ||
            type != REG_SZ) {
            continue;
        }
        const std::string name = Utf8(friendly, size / sizeof(wchar_t));
        if (!name.empty()) descriptions.emplace_back(*port, name);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return descriptions;
}

bool SystemListsPorts()
{
    return true;
}

bool PortHeldByAnotherProgram(int openErrorCode)
{
    // A COM port opens for one program at a time; the next one is refused.
    return openErrorCode == ERROR_ACCESS_DENIED || openErrorCode == ERROR_SHARING_VIOLATION;
}

std::string GroupGrantingAccess(const std::string& /*name*/, int /*openErrorCode*/)
{
    // A refused open on Windows (ERROR_ACCESS_DENIED) means another program
    // holds the port; there is no group to join.
    return {};
}

}  // namespace rq::platform
