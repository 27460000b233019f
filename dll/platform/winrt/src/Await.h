// The blocking wait on an asynchronous operation: if it has not completed, a completion handler signals
// a manual-reset event and the caller waits on it with no time limit. A failed or cancelled operation
// raises PlatformError with the operation's own error code.
#pragma once

#include <functional>
#include <memory>
#include <type_traits>

#include "Com.h"
#include "Delegate.h"

namespace qb::winrt {

class ScopedEvent {
  public:
    ScopedEvent();
    ~ScopedEvent();
    ScopedEvent(const ScopedEvent&) = delete;
    ScopedEvent& operator=(const ScopedEvent&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

// Waits until `info` leaves Started, then raises its error if it has one.
// `registerHandler` registers a completion handler that calls the given function.
void awaitCompletion(IAsyncInfo* info, const std::function<HRESULT(std::function<void()>)>& registerHandler,
                     const char* what);

template <typename Operation>
using LogicalResult = typename wf::Internal::GetLogicalType<typename Operation::TResult_complex>::type;

template <typename Operation>
class CompletionDelegate final
    : public Delegate<wf::IAsyncOperationCompletedHandler<LogicalResult<Operation>>> {
  public:
    using Handler = wf::IAsyncOperationCompletedHandler<LogicalResult<Operation>>;

    static ComPtr<Handler> create(std::function<void()> done) {
        return adopt<Handler>(new CompletionDelegate(std::move(done)));
    }

    HRESULT STDMETHODCALLTYPE Invoke(wf::IAsyncOperation<LogicalResult<Operation>>*, AsyncStatus) override {
        done_();
        return S_OK;
    }

  private:
    explicit CompletionDelegate(std::function<void()> done) : done_(std::move(done)) {}
    std::function<void()> done_;
};

// Awaits an IAsyncOperation<T> and returns its result in ABI form (a ComPtr for objects, the value for
// enums). `what` names the operation in the error message.
template <typename Operation>
auto await(const ComPtr<Operation>& operation, const char* what) {
    using Result = AbiType<typename Operation::TResult_complex>;
    if (!operation) raise(E_POINTER, what);
    ComPtr<IAsyncInfo> info;
    check(operation.As(&info), what);
    awaitCompletion(
        info.Get(),
        [&](std::function<void()> done) {
            return operation->put_Completed(CompletionDelegate<Operation>::create(std::move(done)).Get());
        },
        what);
    if constexpr (std::is_pointer_v<Result>) {
        ComPtr<std::remove_pointer_t<Result>> result;
        check(operation->GetResults(result.GetAddressOf()), what);
        return result;
    } else {
        Result result{};
        check(operation->GetResults(&result), what);
        return result;
    }
}

}  // namespace qb::winrt
