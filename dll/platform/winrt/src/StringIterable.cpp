#include "StringIterable.h"

#include "Com.h"

namespace qb::winrt {
namespace {

// E_BOUNDS, which mingw's winerror.h lacks.
constexpr HRESULT kBoundsError = static_cast<HRESULT>(0x8000000B);

// Wine's IDL declares the iterator's flags as BOOL; the runtime's ABI type is the one-byte boolean,
// so only one byte is ever written.
void storeBoolean(BOOL* value, bool state) {
    *reinterpret_cast<unsigned char*>(value) = state ? 1 : 0;
}

HRESULT createString(const std::wstring& text, HSTRING* value) {
    return WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), value);
}

class StringIterator final : public Delegate<wfc::IIterator<HSTRING>> {
  public:
    explicit StringIterator(ComPtr<StringIterable> owner) : owner_(std::move(owner)) {}

    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
        *name = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        *level = BaseTrust;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Current(HSTRING* value) override {
        if (value == nullptr) return E_POINTER;
        const auto& texts = owner_->texts();
        if (position_ >= texts.size()) return kBoundsError;
        return createString(texts[position_], value);
    }

    HRESULT STDMETHODCALLTYPE get_HasCurrent(BOOL* value) override {
        if (value == nullptr) return E_POINTER;
        storeBoolean(value, position_ < owner_->texts().size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE MoveNext(BOOL* value) override {
        if (value == nullptr) return E_POINTER;
        if (position_ < owner_->texts().size()) ++position_;
        storeBoolean(value, position_ < owner_->texts().size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetMany(UINT32 size, HSTRING* items, UINT32* count) override {
        if (count == nullptr || (size > 0 && items == nullptr)) return E_POINTER;
        const auto& texts = owner_->texts();
        UINT32 written = 0;
        while (written < size && position_ < texts.size()) {
            HRESULT hr = createString(texts[position_], &items[written]);
            if (FAILED(hr)) {
                while (written > 0) WindowsDeleteString(items[--written]);
                return hr;
            }
            ++written;
            ++position_;
        }
        *count = written;
        return S_OK;
    }

  private:
    ComPtr<StringIterable> owner_;
    std::size_t position_ = 0;
};

}  // namespace

ComPtr<StringIterable> StringIterable::create(const std::vector<std::string>& texts) {
    return adopt(new StringIterable(texts));
}

StringIterable::StringIterable(const std::vector<std::string>& texts) {
    for (const auto& text : texts) texts_.push_back(toWide(text));
}

HRESULT StringIterable::GetIids(ULONG* count, IID** iids) {
    *count = 0;
    *iids = nullptr;
    return S_OK;
}

HRESULT StringIterable::GetRuntimeClassName(HSTRING* name) {
    *name = nullptr;
    return S_OK;
}

HRESULT StringIterable::GetTrustLevel(TrustLevel* level) {
    *level = BaseTrust;
    return S_OK;
}

HRESULT StringIterable::First(wfc::IIterator<HSTRING>** first) {
    if (first == nullptr) return E_POINTER;
    *first = new StringIterator(ComPtr<StringIterable>(this));
    return S_OK;
}

}  // namespace qb::winrt
