// /org/bluez/hci0: power, discovery sessions per client, discovery filters.
#pragma once

#include <map>
#include <set>
#include <string>

#include "Node.h"

namespace qb::emud {

struct DiscoveryFilter {
    bool set = false;  // any filter at all (then every advertiser and every RSSI report is passed on)
    bool duplicateData = false;
    std::vector<std::string> keys;
};

class AdapterNode : public Node {
  public:
    AdapterNode(Daemon& daemon, std::uint64_t address);

    bool powered() const;
    bool discovering() const;
    // Whether any client's filter asks for every report.
    bool anyFilter() const;
    bool anyDuplicateData() const;
    void clientGone(const std::string& name);

  protected:
    void registerOn(sdbus::IObject& object) override;

  private:
    void startDiscovery(const std::string& client);
    void stopDiscovery(const std::string& client);
    void endSession(const std::string& client);
    void setDiscoveryFilter(const std::string& client, const std::map<std::string, sdbus::Variant>& filter);
    void setPowered(bool on);

    std::set<std::string> sessions_;
    std::map<std::string, DiscoveryFilter> filters_;
};

}  // namespace qb::emud
