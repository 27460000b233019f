// Receive flood: a bridge whose far side sends at 1,000,000 baud without pause, shown in text or hex.
// Reports the bytes per second the window counted and showed against the rate the bridge notified
// in the same run, the longest event-loop stall, and whether every byte arrived.
//
//   bench_receive_flood [seconds=60] [hex|text]
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextDocument>
#include <cstdio>

#include "benchsupport.h"
#include "dialogprompt.h"
#include "ui_widget.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    const bool hex = argc > 2 && QByteArray(argv[2]) == "hex";

    dialogprompt::setBoxHook([](const dialogprompt::Box& box) {
        std::fprintf(stderr, "box: %s\n", box.text.toUtf8().constData());
        return QMessageBox::Yes;
    });
    auto emu = qb::emulator::Emulator::create();
    emu->install();
    qb::emulator::BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Generator;
    config.line.baud = 1000000;
    // One byte per character shown, so the box can be checked against the count.
    config.generatorPattern = qb::emulator::Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8',
                                                  '9', 'A', 'B', 'C', 'D', 'E', 'F', '\n'};
    auto bridge = emu->addBridge(config);
    auto counter = std::make_shared<NotifiedBytes>(
        bridge->findCharacteristic(qb::emulator::VirtualBridge::kReceiveUuid)->valueHandle);
    bridge->addListener(counter);

    // The dialog creates its record file in the home: a throw-away one, not the user's.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    Widget w;
    w.show();
    Widget::s_ui->showHex->setChecked(hex);
    if (!connectWindow(w, bridge)) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }
    StallWatch stalls;
    QElapsedTimer clock;
    clock.start();
    spin(300);
    stalls.reset();
    spin(seconds * 1000);
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double worst = stalls.worstMs();
    // Stop the far side and let the window take what is still queued.
    bridge->setInRange(false);
    spin(500);
    const std::uint64_t notified = counter->total;
    const qint64 counted = recvCount;
    QPlainTextEdit* box = Widget::s_ui->plainTextEdit_recv;
    const qint64 shownChars = box->document()->characterCount() - 1;
    const qint64 expectedChars = hex ? counted * 3 : counted;

    const double offered = static_cast<double>(notified) / elapsed;
    const double shown = static_cast<double>(counted) / elapsed;
    std::printf("mode %s, %.1f s\n", hex ? "hex" : "text", elapsed);
    std::printf("bridge notified      %12llu bytes  %10.0f B/s (baseline)\n",
                static_cast<unsigned long long>(notified), offered);
    std::printf("window counted       %12lld bytes  %10.0f B/s  ratio %.4f\n",
                static_cast<long long>(counted), shown, offered > 0 ? shown / offered : 0.0);
    std::printf("receive box          %12lld chars (expected %lld)\n", static_cast<long long>(shownChars),
                static_cast<long long>(expectedChars));
    std::printf("longest stall        %12.1f ms (GUI thread on CPU %.1f ms of it)\n", worst,
                stalls.worstCpuMs());
    const bool ok =
        static_cast<std::uint64_t>(counted) == notified && shownChars == expectedChars && worst <= 100.0;
    std::printf("%s\n", ok ? "KEPT UP" : "FELL BEHIND");
    return ok ? 0 : 2;
}
