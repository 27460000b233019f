// Renders the main window for the documentation: connected to an emulated loopback bridge with data
// received, during a file transfer, and after the bridge dropped the link. Run under a real (or virtual) X
// display with a CJK font.
//
//   tavrion_window_shots <output directory>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextCodec>
#include <cstdio>

#include "QB7720lib.h"
#include "blesetting.h"
#include "dialogprompt.h"
#include "qb7720/emulator/Emulator.h"
#include "ui_widget.h"
#include "widget.h"

namespace {
void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

bool save(QWidget& w, const QString& path) {
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}
}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tavrion_window_shots <output directory>\n");
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    qputenv("HOME", QFile::encodeName(work.path()));  // the record file, kept out of the user's home
    dialogprompt::setBoxHook([](const dialogprompt::Box&) { return QMessageBox::Yes; });

    auto emu = qb::emulator::Emulator::create();
    emu->install();
    qb::emulator::BridgeConfig config;
    config.link = *qb::emulator::LinkModel::preset("le-1m");
    config.line.baud = 921600;
    config.transmitBufferSize = 8 << 20;
    config.pauseLevel = config.transmitBufferSize;
    auto bridge = emu->addBridge(config);

    Widget w;
    // Wide enough for the whole connection text in the status line.
    w.resize(1180, 762);
    w.show();
    const QString address =
        QString::fromStdString(qb::emulator::World::addressText(bridge->address())).toUpper();
    QB7720HANDLE* handle = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    if (!handle || QB7720Ble_Get_MTU(handle, &stream, &mtu) != 0) {
        std::fprintf(stderr, "could not connect to the emulated bridge\n");
        return 1;
    }
    emit w.settingDialogForTest()->MTUSignal(mtu);
    emit w.settingDialogForTest()->bleConnectSuccSiganl(handle, stream, address,
                                                        QStringLiteral("QB7720-UART"));
    spin(300);
    emit w.settingDialogForTest()->uartBaudInfo(921600, false, 8, 1, 0, 1, 1);

    Ui::Widget* ui = Widget::s_ui;
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    const QStringList lines = {QStringLiteral("AT+VER?\r\n"),
                               QStringLiteral("QB7720 loopback: 0123456789ABCDEF\r\n")};
    for (int i = 0; i < 3; ++i) {
        ui->plainTextEdit_send->setPlainText(lines.at(i % lines.size()));
        ui->BtSend->click();
        spin(150);
        // The far side answers in GBK, as the receive box expects.
        const QByteArray reply = gbk->fromUnicode(QStringLiteral("温度 23.%1℃ 湿度 41%\r\n").arg(5 + i));
        bridge->injectSerial(qb::emulator::Bytes(reply.begin(), reply.end()));
        spin(150);
    }
    ui->plainTextEdit_send->setPlainText(QStringLiteral("QB7720 loopback: 0123456789ABCDEF"));
    bridge->setModemInputs({true, false, true, true});
    spin(1300);
    bool ok = save(w, out.filePath(QStringLiteral("main-window.png")));

    // A readable file, so the echo in the receive box stays legible during the transfer.
    const QString file = work.filePath(QStringLiteral("log.txt"));
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        for (int i = 0; i < 40000; ++i)
            f.write(gbk->fromUnicode(
                QStringLiteral("%1 传感器读数 %2\r\n").arg(i, 6, 10, QLatin1Char('0')).arg(i % 97)));
    }
    ui->plainTextEdit_recv->clear();
    w.getSendFilePath(file);
    ui->Bt_sendfile->click();
    spin(3000);
    ok = save(w, out.filePath(QStringLiteral("file-transfer.png"))) && ok;
    ui->Bt_sendfile->click();  // interrupt
    spin(500);

    // The bridge drops the link: the window must no longer look connected.
    bridge->setModemInputs({true, true, true, true});
    spin(300);
    bridge->dropLink();
    spin(800);
    ok = save(w, out.filePath(QStringLiteral("link-lost.png"))) && ok;
    return ok ? 0 : 2;
}
