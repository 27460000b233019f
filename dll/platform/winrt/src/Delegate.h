// Completion and event handlers as small COM objects (mingw has no WRL implements.h). They are agile:
// the runtime calls them on its own threads.
#pragma once

#include <atomic>
#include <functional>
#include <type_traits>
#include <utility>

#include "Abi.h"

namespace qb::winrt {

// The runtime deletes these objects through Release, never through an interface pointer, and the
// interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// IUnknown for a single delegate interface I.
template <typename I>
class Delegate : public I {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        bool inspectable = false;
        if constexpr (std::is_base_of_v<IInspectable, I>) inspectable = iid == __uuidof(IInspectable);
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IAgileObject) || iid == __uuidof(I) || inspectable) {
            *object = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

  protected:
    Delegate() = default;
    virtual ~Delegate() = default;

  private:
    std::atomic<ULONG> references_{1};
};

// Takes over the one reference a freshly created object starts with. (mingw's ComPtr::Attach adds a
// reference of its own, so it cannot be used for this.)
template <typename T>
ComPtr<T> adopt(T* fresh) {
    ComPtr<T> owner(fresh);
    fresh->Release();
    return owner;
}

template <typename T>
using AbiType = typename wf::Internal::GetAbiType<T>::type;

// ITypedEventHandler<Sender, Args>; the function gets the ABI pointers (sender, args). Exceptions
// never cross back into the runtime.
template <typename Handler>
class EventDelegate final : public Delegate<Handler> {
  public:
    using SenderAbi = AbiType<typename Handler::TSender_complex>;
    using ArgsAbi = AbiType<typename Handler::TArgs_complex>;
    using Function = std::function<void(SenderAbi, ArgsAbi)>;

    static ComPtr<Handler> create(Function function) {
        return adopt<Handler>(new EventDelegate(std::move(function)));
    }

    HRESULT STDMETHODCALLTYPE Invoke(SenderAbi sender, ArgsAbi args) override {
        try {
            function_(sender, args);
        } catch (...) {
        }
        return S_OK;
    }

  private:
    explicit EventDelegate(Function function) : function_(std::move(function)) {}
    Function function_;
};

#pragma GCC diagnostic pop

}  // namespace qb::winrt
