#include "AttributeTable.h"

#include "AttPdu.h"

namespace qb::hci {
namespace {

constexpr std::uint16_t kPrimaryService = 0x2800;
constexpr std::uint16_t kCharacteristic = 0x2803;
constexpr std::uint16_t kClientConfiguration = 0x2902;
constexpr std::uint16_t kUserDescription = 0x2901;

// The specs the model assigned its handles from, for the descriptor types the database omits.
std::vector<emulator::ServiceSpec> specsOf(const emulator::VirtualDevice& device) {
    std::vector<emulator::ServiceSpec> specs;
    if (device.config().standardServices) specs = emulator::standardServices(device.config().name);
    specs.insert(specs.end(), device.config().services.begin(), device.config().services.end());
    return specs;
}

}  // namespace

std::vector<Attribute> attributeTable(const emulator::VirtualDevice& device) {
    const auto database = device.database();
    const auto specs = specsOf(device);
    std::vector<Attribute> rows;
    for (std::size_t s = 0; s < database.size(); ++s) {
        const auto& service = database[s];
        Attribute decl;
        decl.handle = service.startHandle;
        decl.kind = Attribute::Kind::Service;
        decl.type = platform::Guid::fromShortUuid(kPrimaryService);
        decl.declaration = encodeUuid(service.uuid);
        decl.groupEnd = service.endHandle;
        rows.push_back(decl);
        for (std::size_t c = 0; c < service.characteristics.size(); ++c) {
            const auto& ch = service.characteristics[c];
            Attribute cd;
            cd.handle = ch.declarationHandle;
            cd.kind = Attribute::Kind::CharacteristicDeclaration;
            cd.type = platform::Guid::fromShortUuid(kCharacteristic);
            Writer w;
            w.u8(static_cast<std::uint8_t>(ch.properties)).u16(ch.valueHandle).bytes(encodeUuid(ch.uuid));
            cd.declaration = w.take();
            cd.valueHandle = ch.valueHandle;
            cd.properties = ch.properties;
            rows.push_back(cd);

            Attribute value = cd;
            value.handle = ch.valueHandle;
            value.kind = Attribute::Kind::Value;
            value.type = ch.uuid;
            value.declaration.clear();
            rows.push_back(value);

            std::uint16_t next = static_cast<std::uint16_t>(ch.valueHandle + 1);
            if (ch.cccdHandle != 0) {
                Attribute cccd = value;
                cccd.handle = ch.cccdHandle;
                cccd.kind = Attribute::Kind::ClientConfiguration;
                cccd.type = platform::Guid::fromShortUuid(kClientConfiguration);
                rows.push_back(cccd);
                next = static_cast<std::uint16_t>(ch.cccdHandle + 1);
            }
            const std::vector<std::uint16_t>* types = nullptr;
            if (s < specs.size() && c < specs[s].characteristics.size()) {
                types = &specs[s].characteristics[c].descriptors;
            }
            for (std::size_t d = 0; next <= ch.endHandle && next != 0; ++d, ++next) {
                Attribute desc = value;
                desc.handle = next;
                desc.kind = Attribute::Kind::Descriptor;
                const std::uint16_t type = types && d < types->size() ? (*types)[d] : kUserDescription;
                desc.type = platform::Guid::fromShortUuid(type);
                rows.push_back(desc);
            }
        }
    }
    return rows;
}

}  // namespace qb::hci
