// A file through a loopback bridge whose line is slower than the air, sent by the window's file worker
// as a user sends it: what came back in the receive box, byte for byte, and the rate of the whole
// round trip against the line's character rate (the baseline, from the same settings).
//
//   bench_loopback_file [kilobytes=200] [baud=115200] [le-1m|le-2m|le-coded]
//
// In process by default. With --bus (as the last argument) it takes the BlueZ backend and the first
// bridge of the emulator daemon, for example:
//   emulator/daemon/qb7720-on-bus.sh "bridges=1 peer=loopback link=le-1m" -- bench_loopback_file 200 115200 le-1m --bus
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>

#include "benchsupport.h"
#include "dialogprompt.h"
#include "qb7720/protocol/BaudRate.h"
#include "ui_widget.h"

namespace {

// Printable lines, so the receive box shows exactly the bytes that came back.
QByteArray payload(int bytes) {
    QByteArray data(bytes, '\0');
    for (int i = 0; i < bytes; ++i) data[i] = (i % 64 == 63) ? '\n' : static_cast<char>('A' + (i / 64 + i) % 26);
    return data;
}

std::atomic<bool> heard{false};
std::string wanted;

void onAdvert(const char* address, const char*, signed char, unsigned char*) {
    if (QString::fromLatin1(address).compare(QString::fromStdString(wanted), Qt::CaseInsensitive) == 0) heard = true;
}

// BlueZ knows a device only once discovery has heard it.
bool hear(const std::string& address) {
    wanted = address;
    if (QB7720Ble_BLE_Scan(1, onAdvert) != 0) return false;
    QElapsedTimer waited;
    waited.start();
    while (!heard && waited.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return heard;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const bool bus = argc > 1 && QByteArray(argv[argc - 1]) == "--bus";
    const int args = bus ? argc - 1 : argc;
    const int kilobytes = args > 1 ? std::max(1, atoi(argv[1])) : 200;
    const int baud = args > 2 ? atoi(argv[2]) : 115200;
    const std::string linkName = args > 3 ? argv[3] : "le-1m";
    auto link = qb::emulator::LinkModel::preset(linkName);
    if (!link || baud < 1200) {
        std::fprintf(stderr, "usage: bench_loopback_file [kilobytes] [baud] [le-1m|le-2m|le-coded] [--bus]\n");
        return 1;
    }

    bool finished = false;
    QString verdict;
    dialogprompt::setBoxHook([&](const dialogprompt::Box& box) {
        verdict = box.text;
        finished = true;
        return QMessageBox::Yes;
    });

    std::shared_ptr<qb::emulator::Emulator> emu;
    std::shared_ptr<qb::emulator::VirtualBridge> bridge;
    std::string address = "C0:51:00:00:00:01";
    if (!bus) {
        emu = qb::emulator::Emulator::create();
        emu->install();
        qb::emulator::BridgeConfig config;
        config.peer = qb::emulator::PeerKind::Loopback;
        // What the bridge's line runs at once the dialog's set-serial frame has been taken: a rate the
        // frame cannot carry goes out as 0, and the line stays at its default.
        const auto encodable = qb::protocol::encodableBaudRate(static_cast<std::uint32_t>(baud));
        if (encodable != 0) config.line.baud = encodable;
        config.link = *link;
        bridge = emu->addBridge(config);
        address = qb::emulator::World::addressText(bridge->address());
    }

    const QByteArray data = payload(kilobytes * 1000);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("loopback.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size()) return 1;
    }

    // The dialog records the connection; the record file belongs in this folder, not the user's home.
    qputenv("HOME", QFile::encodeName(dir.path()));
    Widget w;
    w.show();
    if ((bus && !hear(address)) || !connectWindow(w, address)) {
        std::fprintf(stderr, "could not connect to %s\n", address.c_str());
        return 1;
    }
    // The line as the dialog reports it once applied; it sets the worker's response spacing.
    emit w.settingDialogForTest()->uartBaudInfo(baud, false, 8, 1, 0, 1, 1);
    w.getSendFilePath(path);
    QElapsedTimer clock;
    clock.start();
    Widget::s_ui->Bt_sendfile->click();
    while (!finished) QApplication::processEvents(QEventLoop::AllEvents, 50);
    const double sentSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    // The loopback hands back what its line drains; wait until nothing more arrives for 2 s.
    qint64 last = -1;
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 2000 && recvCount < data.size()) {
        if (recvCount != last) {
            last = recvCount;
            quiet.restart();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const QByteArray shown = Widget::s_ui->plainTextEdit_recv->toPlainText().toLatin1();

    // 8N1: ten bits a character, at the rate the bridge's line really runs.
    const double line = (bridge ? bridge->lineSettings().baud : baud) / 10.0;
    const std::uint16_t mtu = bridge ? bridge->mtu() : 247;
    const double rate = static_cast<double>(recvCount) / seconds;
    std::printf("%s, link %s, %d baud, %d bytes sent in %.2f s: \"%s\"\n", bus ? "over the bus" : "in process",
                linkName.c_str(), baud, data.size(), sentSeconds, verdict.toUtf8().constData());
    std::printf("line rate            %10.0f B/s (baseline)\n", line);
    std::printf("air one way          %10.0f B/s, both ways at once %.0f B/s each (MTU %u)\n",
                link->airBytesPerSecond(mtu), link->duplexBytesPerSecond(mtu), mtu);
    std::printf("round trip           %10.0f B/s  ratio %.3f\n", rate, rate / line);
    std::printf("window sent          %10lld bytes\n", static_cast<long long>(w.sentBytes()));
    std::printf("window received      %10lld bytes\n", static_cast<long long>(recvCount));
    if (bridge) std::printf("bridge line          %10u baud\n", bridge->lineSettings().baud);
    if (bridge)
        std::printf("bridge dropped       %10llu bytes\n", static_cast<unsigned long long>(bridge->droppedBytes()));
    const bool same = shown == data;
    std::printf("receive box          %s\n", same ? "byte for byte the file" : "DIFFERS from the file");
    return same ? 0 : 2;
}
