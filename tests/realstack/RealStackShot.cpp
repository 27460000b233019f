// The terminal's main window connected to the peripheral's loopback bridge over the real stack
// (Debian's bluetoothd), after a line went out and came back; saved as a PNG. Runs inside
// scripts/real-stack.sh under a virtual X display. Exit status 0 only when the echo arrived.
//
//   tavrion_real_stack_shot BRIDGE-ADDRESS OUTPUT.png
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "QB7720lib.h"
#include "blesetting.h"
#include "dialogprompt.h"
#include "ui_widget.h"
#include "widget.h"

namespace {
std::atomic<bool> g_heard{false};
const char* g_wanted = nullptr;

void onAdvertisement(const char* address, const char*, signed char, unsigned char*) {
    if (address != nullptr && strcasecmp(address, g_wanted) == 0) g_heard = true;
}

// Runs the event loop until pred holds or ms pass; true when it held.
template <typename Pred>
bool spinUntil(int ms, Pred pred) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (pred()) return true;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return pred();
}
}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: tavrion_real_stack_shot BRIDGE-ADDRESS OUTPUT.png\n");
        return 1;
    }
    const QString address = QString::fromLatin1(argv[1]).toUpper();
    const QString output = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir work;
    qputenv("HOME", QFile::encodeName(work.path()));  // the record file, kept out of the user's home
    dialogprompt::setBoxHook([](const dialogprompt::Box&) { return QMessageBox::Yes; });

    Widget w;
    w.resize(1180, 762);
    w.show();
    // bluetoothd knows a device only once a scan has heard it, as the connection dialog's scan does.
    g_wanted = argv[1];
    QB7720Ble_BLE_Scan(1, onAdvertisement);
    const bool heard = spinUntil(10000, [] { return g_heard.load(); });
    QB7720Ble_BLE_Scan(0, nullptr);
    if (!heard) {
        std::fprintf(stderr, "%s was not heard\n", argv[1]);
        return 1;
    }
    QB7720HANDLE* handle = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    if (!handle || QB7720Ble_Get_MTU(handle, &stream, &mtu) != 0) {
        std::fprintf(stderr, "could not connect to %s\n", qPrintable(address));
        return 1;
    }
    emit w.settingDialogForTest()->MTUSignal(mtu);
    emit w.settingDialogForTest()->bleConnectSuccSiganl(handle, stream, address, QStringLiteral("QB7720-UART-1"));
    spinUntil(500, [] { return false; });

    Ui::Widget* ui = Widget::s_ui;
    const QString line = QStringLiteral("Hello over Debian's bluetoothd and btvirt\r\n");
    ui->plainTextEdit_send->setPlainText(line);
    ui->BtSend->click();
    const bool echoed = spinUntil(20000, [&] { return ui->plainTextEdit_recv->toPlainText().contains(line.trimmed()); });
    spinUntil(500, [] { return false; });
    const bool saved = w.grab().save(output);
    std::printf("echo %s; %s %s\n", echoed ? "received" : "missing", saved ? "wrote" : "could not write",
                qPrintable(output));
    return echoed && saved ? 0 : 1;
}
