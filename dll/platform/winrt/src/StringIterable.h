// A list of texts as the IIterable<HSTRING> the runtime takes for property lists.
#pragma once

#include <string>
#include <vector>

#include "Delegate.h"

namespace qb::winrt {

class StringIterable final : public Delegate<wfc::IIterable<HSTRING>> {
  public:
    static ComPtr<StringIterable> create(const std::vector<std::string>& texts);

    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override;
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override;
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override;
    HRESULT STDMETHODCALLTYPE First(wfc::IIterator<HSTRING>** first) override;

    const std::vector<std::wstring>& texts() const { return texts_; }

  private:
    explicit StringIterable(const std::vector<std::string>& texts);
    std::vector<std::wstring> texts_;
};

}  // namespace qb::winrt
