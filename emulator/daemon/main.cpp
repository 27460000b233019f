// qb7720-emulator: serves the emulated bridges as org.bluez on a D-Bus bus until stopped.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Daemon.h"
#include "HciMain.h"
#include "qb7720/emulator/Config.h"

namespace {

qb::emud::Daemon* g_daemon = nullptr;

void onSignal(int) {
    if (g_daemon != nullptr) g_daemon->stop();
}

void usage(FILE* out) {
    std::fputs(
        "usage: qb7720-emulator [-v] [--control] [--signals-first] [--signal-gap MS] [--bus ADDRESS]\n"
        "                      [CONFIG...]\n"
        "Serves emulated bridges as org.bluez (an adapter hci0 and its devices).\n"
        "  -v, --verbose    log every request and event to standard error\n"
        "  --control        also serve /org/qb7720/emulator for tests (add bridges, drop links, faults)\n"
        "  --signals-first  send the property signals of a call's change before its reply (a real\n"
        "                   daemon replies first and signals a few milliseconds later)\n"
        "  --signal-gap MS  how long after its reply a call's property signals follow (default 5)\n"
        "  --bus ADDRESS    the bus to serve on (default: the system bus, DBUS_SYSTEM_BUS_ADDRESS)\n"
        "  CONFIG           the configuration text of QB7720_EMULATOR, e.g. \"bridges=3 peer=loopback\"\n"
        "                   (default: the value of QB7720_EMULATOR, else one loopback bridge)\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--hci") == 0) return qb::hci::hciMain(argc, argv);
    qb::emud::DaemonOptions options;
    std::string config;
    bool configGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--control") {
            options.control = true;
        } else if (arg == "--signals-first") {
            options.signalsFirst = true;
        } else if (arg == "--signal-gap") {
            char* end = nullptr;
            const long ms = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : -1;
            if (ms < 0 || ms > 10000 || end == nullptr || *end != '\0') {
                usage(stderr);
                return 2;
            }
            ++i;
            options.signalGap = std::chrono::milliseconds(ms);
        } else if (arg == "--bus") {
            if (i + 1 >= argc) {
                usage(stderr);
                return 2;
            }
            options.busAddress = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "qb7720-emulator: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else {
            config += (configGiven ? " " : "") + arg;
            configGiven = true;
        }
    }
    if (!configGiven) {
        const char* env = std::getenv("QB7720_EMULATOR");
        if (env != nullptr) config = env;
    }
    try {
        const auto parsed = qb::emulator::parseConfig(config);
        if (parsed.timeMode != qb::emulator::TimeMode::Real) {
            std::fprintf(stderr, "qb7720-emulator: only time=real makes sense on a bus\n");
            return 2;
        }
        auto emulator = qb::emulator::createEmulator(parsed);
        qb::emud::Daemon daemon(emulator, options);
        g_daemon = &daemon;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        daemon.run();
        g_daemon = nullptr;
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "qb7720-emulator: bad configuration: %s\n", e.what());
        return 2;
    } catch (const sdbus::Error& e) {
        std::fprintf(stderr, "qb7720-emulator: %s: %s\n", e.getName().c_str(), e.getMessage().c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qb7720-emulator: %s\n", e.what());
        return 1;
    }
    return 0;
}
