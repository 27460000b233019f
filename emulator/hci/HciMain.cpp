#include "HciMain.h"

#include <csignal>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "Runner.h"
#if defined(QB_HCI_CONTROL)
#include "Control.h"
#endif
#include "qb7720/emulator/Config.h"
#include "qb7720/emulator/Emulator.h"

namespace qb::hci {
namespace {

Runner* g_runner = nullptr;

void onSignal(int signal) {
    if (g_runner == nullptr) return;
    if (signal == SIGUSR1) {
        g_runner->request(Request::DropLink);
    } else if (signal == SIGUSR2) {
        g_runner->request(Request::ToggleRange);
    } else {
        g_runner->request(Request::Stop);
    }
}

void usage(FILE* out) {
    std::fputs(
        "usage: qb7720-emulator --hci INDEX[,INDEX...] [CONFIG...]\n"
        "Serves one emulated bridge per controller (hciINDEX) as an LE peripheral through the HCI user\n"
        "channel; needs CAP_NET_ADMIN, and powers the index off in the kernel first so bluetoothd lets go.\n"
        "  CONFIG   the configuration text of QB7720_EMULATOR (bridges= is the number of indices)\n"
        "Signals: SIGUSR1 drops every link, SIGUSR2 moves the bridges out of range and back,\n"
        "SIGINT/SIGTERM disconnect and stop. With a system bus, each bridge is also steered through\n"
        "org.qb7720.Emulator's control object.\n",
        out);
}

std::vector<std::uint16_t> parseIndices(const std::string& text) {
    std::vector<std::uint16_t> indices;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos || item.size() > 4) {
            throw std::invalid_argument("bad controller index \"" + item + "\"");
        }
        const auto index = static_cast<std::uint16_t>(std::stoul(item));
        for (auto seen : indices) {
            if (seen == index) throw std::invalid_argument("controller " + item + " given twice");
        }
        indices.push_back(index);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return indices;
}

}  // namespace

int hciMain(int argc, char** argv) {
    if (argc < 3 || std::string(argv[2]) == "-h" || std::string(argv[2]) == "--help") {
        usage(argc < 3 ? stderr : stdout);
        return argc < 3 ? 2 : 0;
    }
    std::string configText;
    bool configGiven = false;
    for (int i = 3; i < argc; ++i) {
        configText += (configGiven ? " " : "") + std::string(argv[i]);
        configGiven = true;
    }
    if (!configGiven) {
        if (const char* env = std::getenv("QB7720_EMULATOR")) configText = env;
    }
    try {
        const auto indices = parseIndices(argv[2]);
        auto config = emulator::parseConfig(configText);
        if (config.timeMode != emulator::TimeMode::Real) {
            std::fprintf(stderr, "qb7720-emulator: only time=real makes sense on a controller\n");
            return 2;
        }
        config.bridges = indices.size();
        // The controller's own air carries the data.
        config.bridge.link = emulator::LinkModel{};
        auto emulator = emulator::createEmulator(config);
        const auto bridges = emulator->bridges();

        Runner runner;
        for (std::size_t i = 0; i < indices.size(); ++i) {
            runner.add(std::make_unique<UserChannel>(indices[i]), bridges.at(i));
            std::fprintf(stderr, "qb7720-emulator hci%u: serving %s\n", unsigned(indices[i]),
                         bridges[i]->name().c_str());
        }
        g_runner = &runner;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigaction(signal, &action, nullptr);
#if defined(QB_HCI_CONTROL)
        std::unique_ptr<Control> control;
        try {
            control = std::make_unique<Control>(runner, emulator);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "qb7720-emulator: no control object on the system bus: %s\n", e.what());
        }
#endif
        const int status = runner.run();
#if defined(QB_HCI_CONTROL)
        control.reset();
#endif
        g_runner = nullptr;
        return status;
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "qb7720-emulator: bad arguments: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qb7720-emulator: %s\n", e.what());
        return 1;
    }
}

}  // namespace qb::hci
