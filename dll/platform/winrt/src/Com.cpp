#include "Com.h"

#include <cstdio>

namespace qb::winrt {

std::string describeHresult(HRESULT hr) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text != nullptr) {
        while (length > 0 &&
               (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ')) {
            --length;
        }
        result = toUtf8(text, length);
    }
    if (text != nullptr) LocalFree(text);
    if (result.empty()) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(hr));
        result = code;
    }
    return result;
}

void raise(HRESULT hr, const char* what) {
    throw platform::PlatformError(static_cast<platform::HResult>(hr),
                                  std::string(what) + ": " + describeHresult(hr));
}

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) raise(HRESULT_FROM_WIN32(GetLastError()), "MultiByteToWideChar");
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string toUtf8(const wchar_t* text, std::size_t length) {
    if (text == nullptr || length == 0) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0) raise(HRESULT_FROM_WIN32(GetLastError()), "WideCharToMultiByte");
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

HString::HString(const std::string& utf8) {
    std::wstring wide = toWide(utf8);
    check(WindowsCreateString(wide.c_str(), static_cast<UINT32>(wide.size()), &value_),
          "WindowsCreateString");
}

HString::HString(const wchar_t* text) {
    check(WindowsCreateString(text, static_cast<UINT32>(wcslen(text)), &value_), "WindowsCreateString");
}

HString::~HString() {
    if (value_ != nullptr) WindowsDeleteString(value_);
}

HSTRING* HString::put() {
    if (value_ != nullptr) {
        WindowsDeleteString(value_);
        value_ = nullptr;
    }
    return &value_;
}

std::string HString::utf8() const {
    UINT32 length = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(value_, &length);
    return toUtf8(raw, length);
}

platform::Guid fromGuid(const GUID& guid) {
    platform::Guid result;
    result.data1 = guid.Data1;
    result.data2 = guid.Data2;
    result.data3 = guid.Data3;
    for (int i = 0; i < 8; ++i) result.data4[i] = guid.Data4[i];
    return result;
}

}  // namespace qb::winrt
