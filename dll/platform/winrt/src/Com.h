// Small COM and Windows Runtime helpers: HRESULT checks that raise PlatformError, owned HSTRINGs,
// UTF-8 conversion, activation factories.
#pragma once

#include <string>

#include "Abi.h"
#include "qb7720/platform/Guid.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::winrt {

// The system's text for an HRESULT, or the hexadecimal code when it has none.
std::string describeHresult(HRESULT hr);

// Raises PlatformError carrying hr unchanged; `what` names the failed call.
[[noreturn]] void raise(HRESULT hr, const char* what);

inline void check(HRESULT hr, const char* what) {
    if (FAILED(hr)) raise(hr, what);
}

std::wstring toWide(const std::string& utf8);
std::string toUtf8(const wchar_t* text, std::size_t length);

class HString {
  public:
    HString() = default;
    explicit HString(const std::string& utf8);
    explicit HString(const wchar_t* text);
    ~HString();
    HString(const HString&) = delete;
    HString& operator=(const HString&) = delete;

    HSTRING get() const { return value_; }
    // For [out] HSTRING parameters; releases what was held.
    HSTRING* put();
    std::string utf8() const;

  private:
    HSTRING value_ = nullptr;
};

platform::Guid fromGuid(const GUID& guid);

// RoGetActivationFactory for a runtime class, as interface I.
template <typename I>
ComPtr<I> activationFactory(const wchar_t* runtimeClass) {
    HString name(runtimeClass);
    ComPtr<I> factory;
    check(RoGetActivationFactory(name.get(), __uuidof(I), reinterpret_cast<void**>(factory.GetAddressOf())),
          "RoGetActivationFactory");
    return factory;
}

// Default construction of an activatable runtime class, as interface I.
template <typename I>
ComPtr<I> activateInstance(const wchar_t* runtimeClass) {
    HString name(runtimeClass);
    ComPtr<IInspectable> instance;
    check(RoActivateInstance(name.get(), instance.GetAddressOf()), "RoActivateInstance");
    ComPtr<I> result;
    check(instance.As(&result), "QueryInterface");
    return result;
}

template <typename I, typename From>
ComPtr<I> query(const ComPtr<From>& object, const char* what) {
    ComPtr<I> result;
    check(object.As(&result), what);
    return result;
}

}  // namespace qb::winrt
