// A scripted IAsyncOperation<T>: the test decides when and how it completes.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "Abi.h"
#include "Await.h"

namespace qb::winrt::test {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

template <typename Logical>
class FakeOperation final : public wf::IAsyncOperation<Logical>, public IAsyncInfo {
  public:
    using Operation = wf::IAsyncOperation<Logical>;
    using Handler = wf::IAsyncOperationCompletedHandler<Logical>;
    using Result = AbiType<typename Operation::TResult_complex>;

    static ComPtr<FakeOperation> create() { return adopt(new FakeOperation()); }

    ComPtr<Operation> asOperation() { return ComPtr<Operation>(static_cast<Operation*>(this)); }

    // Completes now; a registered handler is called on the calling thread.
    void complete(AsyncStatus status, Result result, HRESULT error = S_OK) {
        ComPtr<Handler> handler;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            status_ = status;
            result_ = result;
            error_ = error;
            handler = handler_;
        }
        if (handler) handler->Invoke(static_cast<Operation*>(this), status);
    }

    // Called with the handler right after put_Completed stored it.
    void onRegistered(std::function<void()> hook) { onRegistered_ = std::move(hook); }
    int registrations() const { return registrations_; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IInspectable) || iid == __uuidof(Operation)) {
            *object = static_cast<Operation*>(this);
        } else if (iid == __uuidof(IAsyncInfo)) {
            *object = static_cast<IAsyncInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IInspectable
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

    // IAsyncOperation<T>
    HRESULT STDMETHODCALLTYPE put_Completed(Handler* handler) override {
        AsyncStatus status;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (handler_) return static_cast<HRESULT>(0x80000018);  // E_ILLEGAL_DELEGATE_ASSIGNMENT
            handler_ = handler;
            status = status_;
            ++registrations_;
        }
        // As the runtime does: an operation that already finished calls the handler at once.
        if (status != AsyncStatus::Started) handler->Invoke(static_cast<Operation*>(this), status);
        if (onRegistered_) onRegistered_();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(Handler** handler) override {
        std::lock_guard<std::mutex> lock(mutex_);
        *handler = handler_.Get();
        if (*handler) (*handler)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResults(Result* results) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (status_ != AsyncStatus::Completed)
            return static_cast<HRESULT>(0x8000000E);  // E_ILLEGAL_METHOD_CALL
        *results = result_;
        if constexpr (std::is_pointer_v<Result>) {
            if (result_) result_->AddRef();
        }
        return S_OK;
    }

    // IAsyncInfo
    HRESULT STDMETHODCALLTYPE get_Id(UINT32* id) override {
        *id = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) override {
        std::lock_guard<std::mutex> lock(mutex_);
        *status = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* error) override {
        std::lock_guard<std::mutex> lock(mutex_);
        *error = error_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

  private:
    FakeOperation() = default;
    virtual ~FakeOperation() = default;

    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    AsyncStatus status_ = AsyncStatus::Started;
    Result result_{};
    HRESULT error_ = S_OK;
    ComPtr<Handler> handler_;
    std::function<void()> onRegistered_;
    int registrations_ = 0;
};

#pragma GCC diagnostic pop

}  // namespace qb::winrt::test
