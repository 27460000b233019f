#include "Radio.h"

#include <windows.h>

#include <bluetoothapis.h>

namespace qb::winrt {
namespace {

// CTL_CODE(FILE_DEVICE_BLUETOOTH, 0x00, METHOD_BUFFERED, FILE_ANY_ACCESS); bthioctl.h is not in mingw.
constexpr DWORD kIoctlBthGetLocalInfo = 0x410000;

using FindFirstRadio = HBLUETOOTH_RADIO_FIND(WINAPI*)(const BLUETOOTH_FIND_RADIO_PARAMS*, HANDLE*);
using FindNextRadio = BOOL(WINAPI*)(HBLUETOOTH_RADIO_FIND, HANDLE*);
using FindRadioClose = BOOL(WINAPI*)(HBLUETOOTH_RADIO_FIND);
using GetRadioInfo = DWORD(WINAPI*)(HANDLE, PBLUETOOTH_RADIO_INFO);

struct RadioApi {
    FindFirstRadio findFirst = nullptr;
    FindNextRadio findNext = nullptr;
    FindRadioClose findClose = nullptr;
    GetRadioInfo getInfo = nullptr;
    bool complete() const { return findFirst && findNext && findClose && getInfo; }
};

template <typename F>
F lookup(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const RadioApi& radioApi() {
    static const RadioApi api = [] {
        RadioApi loaded;
        HMODULE module = LoadLibraryW(L"bluetoothapis.dll");
        if (module == nullptr) return loaded;
        loaded.findFirst = lookup<FindFirstRadio>(module, "BluetoothFindFirstRadio");
        loaded.findNext = lookup<FindNextRadio>(module, "BluetoothFindNextRadio");
        loaded.findClose = lookup<FindRadioClose>(module, "BluetoothFindRadioClose");
        loaded.getInfo = lookup<GetRadioInfo>(module, "BluetoothGetRadioInfo");
        return loaded;
    }();
    return api;
}

class Radio final : public platform::BluetoothRadio {
  public:
    explicit Radio(HANDLE handle) : handle_(handle) {}
    ~Radio() override { CloseHandle(handle_); }
    Radio(const Radio&) = delete;
    Radio& operator=(const Radio&) = delete;

    bool getRadioInfo() override {
        BLUETOOTH_RADIO_INFO info{};
        info.dwSize = sizeof info;
        return radioApi().getInfo(handle_, &info) == ERROR_SUCCESS;
    }

    bool getLocalInfo(platform::LocalRadioInfo& info) override {
        info.fill(0);
        DWORD returned = 0;
        return DeviceIoControl(handle_, kIoctlBthGetLocalInfo, info.data(), static_cast<DWORD>(info.size()),
                               info.data(), static_cast<DWORD>(info.size()), &returned, nullptr) != FALSE;
    }

  private:
    HANDLE handle_;
};

std::shared_ptr<platform::BluetoothRadio> wrap(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_shared<Radio>(handle);
}

class RadioFind final : public platform::BluetoothRadioFind {
  public:
    RadioFind(HBLUETOOTH_RADIO_FIND find, HANDLE first) : find_(find), first_(wrap(first)) {}
    ~RadioFind() override { radioApi().findClose(find_); }
    RadioFind(const RadioFind&) = delete;
    RadioFind& operator=(const RadioFind&) = delete;

    std::shared_ptr<platform::BluetoothRadio> first() override { return first_; }

    bool findNext(std::shared_ptr<platform::BluetoothRadio>& radio) override {
        HANDLE next = nullptr;
        if (!radioApi().findNext(find_, &next)) return false;
        radio = wrap(next);
        return true;
    }

  private:
    HBLUETOOTH_RADIO_FIND find_;
    std::shared_ptr<platform::BluetoothRadio> first_;
};

}  // namespace

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<platform::BluetoothRadioFind> findFirstRadio() {
    if (runningUnderWine() || !radioApi().complete()) return nullptr;
    BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    HANDLE first = nullptr;
    HBLUETOOTH_RADIO_FIND find = radioApi().findFirst(&params, &first);
    if (find == nullptr) return nullptr;
    return std::make_unique<RadioFind>(find, first);
}

std::optional<int> localControllerVersion() {
    std::unique_ptr<platform::BluetoothRadioFind> search = findFirstRadio();
    if (!search) return std::nullopt;
    std::optional<int> version;
    std::shared_ptr<platform::BluetoothRadio> radio = search->first();
    do {
        platform::LocalRadioInfo info{};
        if (radio && radio->getLocalInfo(info)) version = info[platform::kLocalRadioInfoVersionOffset];
    } while (search->findNext(radio));
    return version;
}

}  // namespace qb::winrt
