// File transfer through the window against the emulator's link model: the bytes per second the
// worker achieved, as a ratio to the payload rate the modelled air interface carries at this MTU,
// both from the same run.
//
//   bench_file_transfer [megabytes=4] [le-1m|le-2m|le-coded] [mtu=247]
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include "benchsupport.h"
#include "dialogprompt.h"
#include "ui_widget.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 4;
    const std::string linkName = argc > 2 ? argv[2] : "le-1m";
    const int mtu = argc > 3 ? atoi(argv[3]) : 247;

    bool done = false;
    dialogprompt::setBoxHook([&done](const dialogprompt::Box& box) {
        if (box.text == QStringLiteral("文件发送完成"))
            done = true;
        else
            std::fprintf(stderr, "box: %s\n", box.text.toUtf8().constData());
        return QMessageBox::Yes;
    });
    auto link = qb::emulator::LinkModel::preset(linkName);
    if (!link || mtu < 23 || mtu > 517) {
        std::fprintf(stderr, "usage: bench_file_transfer [megabytes] [le-1m|le-2m|le-coded] [mtu 23..517]\n");
        return 1;
    }
    auto emu = qb::emulator::Emulator::create();
    emu->install();
    qb::emulator::BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    config.line.baud = 1000000;
    config.mtu = static_cast<std::uint16_t>(mtu);
    // The worker does not read pause reports; a deep buffer keeps the line out of the measurement.
    config.transmitBufferSize = static_cast<std::size_t>(megabytes + 1) << 20;
    config.pauseLevel = config.transmitBufferSize;
    config.link = *link;
    auto bridge = emu->addBridge(config);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("payload.bin"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
        for (int i = 0; i < megabytes; ++i) f.write(block);
    }

    // The dialog records the connection; the record file belongs in this folder, not the user's home.
    qputenv("HOME", QFile::encodeName(dir.path()));
    Widget w;
    w.show();
    if (!connectWindow(w, bridge)) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }
    // The remote line as the dialog reports it once applied; it sets the response spacing.
    emit w.settingDialogForTest()->uartBaudInfo(1000000, false, 8, 1, 0, 0, 0);
    w.getSendFilePath(path);
    StallWatch stalls;
    QElapsedTimer clock;
    clock.start();
    Widget::s_ui->Bt_sendfile->click();
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 50);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const double bytes = static_cast<double>(megabytes) * (1 << 20);
    const double rate = bytes / seconds;
    const double air = link->airBytesPerSecond(static_cast<std::uint16_t>(mtu));
    std::printf("link %s, MTU %d, %d MiB in %.2f s\n", linkName.c_str(), mtu, megabytes, seconds);
    std::printf("modelled air rate    %10.0f B/s (baseline)\n", air);
    std::printf("file transfer        %10.0f B/s  ratio %.3f\n", rate, rate / air);
    std::printf("window counted       %10lld bytes\n", static_cast<long long>(w.sentBytes()));
    std::printf("longest stall        %10.1f ms (GUI thread on CPU %.1f ms of it)\n", stalls.worstMs(),
                stalls.worstCpuMs());
    return w.sentBytes() == static_cast<qint64>(bytes) ? 0 : 2;
}
