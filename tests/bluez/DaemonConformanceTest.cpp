// The daemon's objects, looked at with busctl the way a BlueZ client sees them: interfaces, member
// signatures, property presence, and the errors of the adapter's discovery calls.
#include <gtest/gtest.h>

#include <sdbus-c++/sdbus-c++.h>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "BusHarness.h"

namespace qb::bluez::test {
namespace {

const std::string kAdapter = "/org/bluez/hci0";
const std::string kDevice = "/org/bluez/hci0/dev_C0_51_00_00_00_01";

struct Member {
    std::string kind;  // method, property, signal
    std::string signature;
    std::string result;
    bool writable = false;
};
using Introspection = std::map<std::string, std::map<std::string, Member>>;

Introspection introspect(const std::string& bus, const std::string& path) {
    const std::string command =
        std::string(QB_BUSCTL) + " --address=" + bus + " --no-pager --no-legend introspect org.bluez " + path;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("busctl did not start");
    Introspection result;
    std::string iface;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream in(line);
        std::string name, kind, signature, value;
        in >> name >> kind >> signature >> value;
        if (kind == "interface") {
            iface = name;
        } else if (!name.empty() && name[0] == '.') {
            Member m{kind, signature == "-" ? "" : signature, value == "-" ? "" : value,
                     std::string(line).find(" writable") != std::string::npos};
            result[iface][name.substr(1)] = m;
        }
    }
    ::pclose(pipe);
    return result;
}

void expectMethod(const Introspection& in, const std::string& iface, const std::string& name,
                  const std::string& args, const std::string& result) {
    SCOPED_TRACE(iface + "." + name);
    ASSERT_TRUE(in.count(iface));
    auto it = in.at(iface).find(name);
    ASSERT_NE(it, in.at(iface).end());
    EXPECT_EQ(it->second.kind, "method");
    EXPECT_EQ(it->second.signature, args);
    EXPECT_EQ(it->second.result, result);
}

void expectProperties(const Introspection& in, const std::string& iface,
                      const std::map<std::string, std::string>& typed,
                      const std::set<std::string>& writable) {
    ASSERT_TRUE(in.count(iface)) << iface;
    std::set<std::string> present;
    for (const auto& [name, m] : in.at(iface)) {
        if (m.kind != "property") continue;
        present.insert(name);
        SCOPED_TRACE(iface + "." + name);
        auto expected = typed.find(name);
        ASSERT_NE(expected, typed.end()) << "a property BlueZ does not have";
        EXPECT_EQ(m.signature, expected->second);
        EXPECT_EQ(m.writable, writable.count(name) != 0);
    }
    for (const auto& [name, type] : typed)
        EXPECT_TRUE(present.count(name)) << iface << "." << name << " missing";
}

class DaemonConformance : public ::testing::Test {
  protected:
    void SetUp() override {
        harness_ = std::make_unique<BusHarness>("bridges=1 peer=loopback");
        client_ = sdbus::createSessionBusConnectionWithAddress(harness_->address());
        client_->enterEventLoopAsync();
    }
    void call(const std::string& path, const std::string& iface, const std::string& method) {
        auto proxy = sdbus::createProxy(*client_, "org.bluez", path);
        proxy->callMethod(method).onInterface(iface);
    }
    std::string errorOf(const std::string& path, const std::string& iface, const std::string& method) {
        try {
            call(path, iface, method);
        } catch (const sdbus::Error& e) {
            return e.getName() + ": " + e.getMessage();
        }
        return "success";
    }
    void startDiscoveryAndWaitForBridge() {
        call(kAdapter, "org.bluez.Adapter1", "StartDiscovery");
        ASSERT_TRUE(waitFor(
            [&] { return introspect(harness_->address(), kDevice).count("org.bluez.Device1") != 0; }));
    }

    // The object of the characteristic whose 16-bit UUID is this ("fff1").
    std::string characteristicPath(const std::string& uuid16) {
        auto manager = sdbus::createProxy(*client_, "org.bluez", "/");
        std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>> objects;
        manager->callMethod("GetManagedObjects")
            .onInterface("org.freedesktop.DBus.ObjectManager")
            .storeResultsTo(objects);
        for (const auto& [path, ifaces] : objects) {
            auto chr = ifaces.find("org.bluez.GattCharacteristic1");
            if (chr != ifaces.end() && chr->second.at("UUID").get<std::string>().substr(4, 4) == uuid16)
                return path;
        }
        return {};
    }

    std::unique_ptr<BusHarness> harness_;
    std::unique_ptr<sdbus::IConnection> client_;
};

TEST_F(DaemonConformance, AdapterAndRootLookLikeBluez) {
    auto root = introspect(harness_->address(), "/");
    expectMethod(root, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", "", "a{oa{sa{sv}}}");
    EXPECT_EQ(root["org.freedesktop.DBus.ObjectManager"]["InterfacesAdded"].signature, "oa{sa{sv}}");
    EXPECT_EQ(root["org.freedesktop.DBus.ObjectManager"]["InterfacesRemoved"].signature, "oas");

    auto adapter = introspect(harness_->address(), kAdapter);
    const std::string a = "org.bluez.Adapter1";
    expectMethod(adapter, a, "StartDiscovery", "", "");
    expectMethod(adapter, a, "StopDiscovery", "", "");
    expectMethod(adapter, a, "SetDiscoveryFilter", "a{sv}", "");
    expectMethod(adapter, a, "RemoveDevice", "o", "");
    expectMethod(adapter, a, "GetDiscoveryFilters", "", "as");
    expectProperties(
        adapter, a,
        {{"Address", "s"},
         {"AddressType", "s"},
         {"Name", "s"},
         {"Alias", "s"},
         {"Class", "u"},
         {"Powered", "b"},
         {"Discoverable", "b"},
         {"DiscoverableTimeout", "u"},
         {"Pairable", "b"},
         {"PairableTimeout", "u"},
         {"Discovering", "b"},
         {"UUIDs", "as"},
         {"Roles", "as"}},
        {"Alias", "Powered", "Discoverable", "DiscoverableTimeout", "Pairable", "PairableTimeout"});
}

TEST_F(DaemonConformance, DevicesAppearWhenHeardAndLoseRssiWhenDiscoveryStops) {
    EXPECT_EQ(introspect(harness_->address(), kDevice).count("org.bluez.Device1"), 0u);
    startDiscoveryAndWaitForBridge();
    auto device = introspect(harness_->address(), kDevice);
    const std::string d = "org.bluez.Device1";
    for (const char* m : {"Connect", "Disconnect", "Pair", "CancelPairing"})
        expectMethod(device, d, m, "", "");
    expectMethod(device, d, "ConnectProfile", "s", "");
    expectMethod(device, d, "DisconnectProfile", "s", "");
    const std::map<std::string, std::string> props{{"Address", "s"},
                                                   {"AddressType", "s"},
                                                   {"Name", "s"},
                                                   {"Alias", "s"},
                                                   {"Paired", "b"},
                                                   {"Bonded", "b"},
                                                   {"Trusted", "b"},
                                                   {"Blocked", "b"},
                                                   {"LegacyPairing", "b"},
                                                   {"RSSI", "n"},
                                                   {"Connected", "b"},
                                                   {"UUIDs", "as"},
                                                   {"Adapter", "o"},
                                                   {"ManufacturerData", "a{qv}"},
                                                   {"ServicesResolved", "b"}};
    expectProperties(device, d, props, {"Alias", "Trusted", "Blocked"});

    call(kAdapter, "org.bluez.Adapter1", "StopDiscovery");
    auto withoutRssi = props;
    withoutRssi.erase("RSSI");
    expectProperties(introspect(harness_->address(), kDevice), d, withoutRssi,
                     {"Alias", "Trusted", "Blocked"});
}

TEST_F(DaemonConformance, GattObjectsFollowTheHandleLayoutAndPresenceRules) {
    startDiscoveryAndWaitForBridge();
    call(kDevice, "org.bluez.Device1", "Connect");
    ASSERT_TRUE(waitFor([&] {
        auto proxy = sdbus::createProxy(*client_, "org.bluez", kDevice);
        return proxy->getProperty("ServicesResolved").onInterface("org.bluez.Device1").get<bool>();
    }));
    // Find the vendor service and its characteristics through the object manager.
    auto manager = sdbus::createProxy(*client_, "org.bluez", "/");
    std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>> objects;
    manager->callMethod("GetManagedObjects")
        .onInterface("org.freedesktop.DBus.ObjectManager")
        .storeResultsTo(objects);
    std::map<std::string, std::string> charByUuid;
    std::string servicePath;
    for (const auto& [path, ifaces] : objects) {
        // Every object also lists the two standard interfaces, with nothing in them.
        EXPECT_TRUE(ifaces.count("org.freedesktop.DBus.Introspectable")) << path;
        EXPECT_TRUE(ifaces.count("org.freedesktop.DBus.Properties")) << path;
        if (ifaces.count("org.bluez.GattService1")) {
            EXPECT_TRUE(servicePath.empty()) << "only the vendor service is exported";
            servicePath = path;
            EXPECT_EQ(ifaces.at("org.bluez.GattService1").at("UUID").get<std::string>(),
                      "0000fff0-0000-1000-8000-00805f9b34fb");
        }
        if (ifaces.count("org.bluez.GattCharacteristic1")) {
            charByUuid
                [ifaces.at("org.bluez.GattCharacteristic1").at("UUID").get<std::string>().substr(4, 4)] =
                    path;
        }
    }
    ASSERT_FALSE(servicePath.empty());
    ASSERT_EQ(charByUuid.size(), 3u);
    // The characteristic that carries data to the bridge has value handle 19: declaration 0x12.
    EXPECT_EQ(charByUuid["fff2"], servicePath + "/char0012");

    const std::string c = "org.bluez.GattCharacteristic1";
    auto transmit = introspect(harness_->address(), charByUuid["fff2"]);
    expectMethod(transmit, c, "ReadValue", "a{sv}", "ay");
    expectMethod(transmit, c, "WriteValue", "aya{sv}", "");
    expectMethod(transmit, c, "AcquireWrite", "a{sv}", "hq");
    expectMethod(transmit, c, "AcquireNotify", "a{sv}", "hq");
    expectMethod(transmit, c, "StartNotify", "", "");
    expectMethod(transmit, c, "StopNotify", "", "");
    // Write without response: WriteAcquired; no notify: neither Notifying nor NotifyAcquired; no Handle.
    expectProperties(transmit, c,
                     {{"UUID", "s"},
                      {"Service", "o"},
                      {"Value", "ay"},
                      {"Flags", "as"},
                      {"WriteAcquired", "b"},
                      {"MTU", "q"}},
                     {});
    auto receive = introspect(harness_->address(), charByUuid["fff1"]);
    expectProperties(receive, c,
                     {{"UUID", "s"},
                      {"Service", "o"},
                      {"Value", "ay"},
                      {"Flags", "as"},
                      {"Notifying", "b"},
                      {"NotifyAcquired", "b"},
                      {"MTU", "q"}},
                     {});
    expectProperties(introspect(harness_->address(), servicePath), "org.bluez.GattService1",
                     {{"UUID", "s"}, {"Device", "o"}, {"Primary", "b"}, {"Includes", "ao"}}, {});

    // The MTU exists only while connected; the objects stay (cached) after a disconnect.
    call(kDevice, "org.bluez.Device1", "Disconnect");
    expectProperties(introspect(harness_->address(), charByUuid["fff1"]), c,
                     {{"UUID", "s"},
                      {"Service", "o"},
                      {"Value", "ay"},
                      {"Flags", "as"},
                      {"Notifying", "b"},
                      {"NotifyAcquired", "b"}},
                     {});
    EXPECT_EQ(errorOf(charByUuid["fff3"], c, "StartNotify"), "org.bluez.Error.Failed: Not connected");
}

TEST_F(DaemonConformance, AcquiredCharacteristicsRefuseTheOtherPathsAsBluezDoes) {
    startDiscoveryAndWaitForBridge();
    call(kDevice, "org.bluez.Device1", "Connect");
    ASSERT_TRUE(waitFor([&] {
        auto proxy = sdbus::createProxy(*client_, "org.bluez", kDevice);
        return proxy->getProperty("ServicesResolved").onInterface("org.bluez.Device1").get<bool>();
    }));
    const std::string c = "org.bluez.GattCharacteristic1";
    const std::map<std::string, sdbus::Variant> none;
    auto transmit = sdbus::createProxy(*client_, "org.bluez", characteristicPath("fff2"));
    auto receive = sdbus::createProxy(*client_, "org.bluez", characteristicPath("fff1"));
    auto errorName = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const sdbus::Error& e) {
            return e.getName() + ": " + e.getMessage();
        }
        return std::string("success");
    };

    sdbus::UnixFd fd;
    std::uint16_t mtu = 0;
    transmit->callMethod("AcquireWrite").onInterface(c).withArguments(none).storeResultsTo(fd, mtu);
    EXPECT_EQ(mtu, 247);
    EXPECT_TRUE(transmit->getProperty("WriteAcquired").onInterface(c).get<bool>());
    EXPECT_EQ(errorName([&] { transmit->callMethod("AcquireWrite").onInterface(c).withArguments(none); }),
              "org.bluez.Error.NotPermitted: Write acquired");
    EXPECT_EQ(errorName([&] {
                  transmit->callMethod("WriteValue")
                      .onInterface(c)
                      .withArguments(std::vector<std::uint8_t>{1}, none);
              }),
              "org.bluez.Error.NotPermitted: Write acquired");
    fd.reset(-1, sdbus::adopt_fd);  // giving the socket back releases the characteristic
    EXPECT_TRUE(waitFor([&] { return !transmit->getProperty("WriteAcquired").onInterface(c).get<bool>(); }));

    // A StartNotify session rules out AcquireNotify, and the other way round.
    receive->callMethod("StartNotify").onInterface(c);
    EXPECT_TRUE(receive->getProperty("Notifying").onInterface(c).get<bool>());
    EXPECT_EQ(errorName([&] {
                  receive->callMethod("AcquireNotify").onInterface(c).withArguments(none);
              }).rfind("org.bluez.Error.InProgress", 0),
              0u);
    receive->callMethod("StopNotify").onInterface(c);
    EXPECT_EQ(errorName([&] { receive->callMethod("StopNotify").onInterface(c); }),
              "org.bluez.Error.Failed: No notify session started");
    sdbus::UnixFd notifyFd;
    receive->callMethod("AcquireNotify").onInterface(c).withArguments(none).storeResultsTo(notifyFd, mtu);
    EXPECT_TRUE(receive->getProperty("NotifyAcquired").onInterface(c).get<bool>());
    EXPECT_EQ(errorName([&] { receive->callMethod("StartNotify").onInterface(c); }),
              "org.bluez.Error.NotPermitted: Notify acquired");
    // Nothing to notify on the data-to-bridge characteristic.
    EXPECT_EQ(errorName([&] {
                  transmit->callMethod("StartNotify").onInterface(c);
              }).rfind("org.bluez.Error.NotSupported", 0),
              0u);
}

TEST_F(DaemonConformance, DiscoveryErrorsAreBluezErrors) {
    EXPECT_EQ(errorOf(kAdapter, "org.bluez.Adapter1", "StopDiscovery"),
              "org.bluez.Error.Failed: No discovery started");
    EXPECT_EQ(errorOf(kAdapter, "org.bluez.Adapter1", "StartDiscovery"), "success");
    EXPECT_EQ(
        errorOf(kAdapter, "org.bluez.Adapter1", "StartDiscovery").rfind("org.bluez.Error.InProgress", 0), 0u);
    auto proxy = sdbus::createProxy(*client_, "org.bluez", kAdapter);
    try {
        proxy->callMethod("SetDiscoveryFilter")
            .onInterface("org.bluez.Adapter1")
            .withArguments(
                std::map<std::string, sdbus::Variant>{{"DuplicateData", sdbus::Variant(std::string("yes"))}});
        FAIL() << "a wrongly typed filter was accepted";
    } catch (const sdbus::Error& e) {
        EXPECT_EQ(e.getName(), "org.bluez.Error.InvalidArguments");
    }
    proxy->setProperty("Powered").onInterface("org.bluez.Adapter1").toValue(false);
    EXPECT_EQ(errorOf(kAdapter, "org.bluez.Adapter1", "StartDiscovery").rfind("org.bluez.Error.NotReady", 0),
              0u);
}

}  // namespace
}  // namespace qb::bluez::test
