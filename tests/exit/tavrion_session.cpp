// The terminal's whole session as a user has it: open the connection dialog, connect to the bridge
// by double-clicking it in the scan table, send a line, see it come back, close the window and
// confirm. Run over the bus, it must end with exit status 0 like the program it stands for. With a
// count N, the connection is made N times, each time ended from the record table and the bridge
// found again by the scan; the number of connections made is printed.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "blesetting.h"
#include "dialogprompt.h"
#include "ui_widget.h"
#include "widget.h"

namespace {

bool waitUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int fail(const char* what) {
    std::fprintf(stderr, "tavrion session: %s\n", what);
    return 1;
}

bool failed(const char* what) {
    fail(what);
    return false;
}

// One connection from the scan table, a line through the loopback, and (unless it is the last) the
// connection ended again from the record table.
bool connectOnce(Widget& window, QTableWidget* scan, QTableWidget* record, bool last, QStringList& boxes) {
    if (!waitUntil([&] { return scan->rowCount() > 0; }, 15000)) return failed("no bridge in the scan table");
    emit scan->cellDoubleClicked(0, 0);
    if (!waitUntil([&] { return window.connectionHandle() != nullptr; }, 15000))
        return failed(("not connected; boxes: " + boxes.join(QStringLiteral(" | "))).toUtf8().constData());
    Widget::s_ui->clearRecv->click();
    Widget::s_ui->plainTextEdit_send->setPlainText(QStringLiteral("hello"));
    Widget::s_ui->BtSend->click();
    if (!waitUntil([] { return Widget::s_ui->plainTextEdit_recv->toPlainText() == QStringLiteral("hello"); },
                   10000))
        return failed("the line did not come back");
    if (last) return true;
    // The connected device is at the top of the record table; double-clicking it asks, Yes ends it.
    emit record->cellDoubleClicked(0, 0);
    if (!waitUntil([&] { return window.connectionHandle() == nullptr; }, 15000))
        return failed("the record table did not end the connection");
    return true;
}

int runSession(int cycles) {
    QStringList boxes;
    dialogprompt::setBoxHook([&boxes](const dialogprompt::Box& box) {
        boxes << box.text;
        return (box.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    Widget window;
    window.show();
    Widget::s_ui->Bt_setting->click();
    auto* dialog = window.settingDialogForTest();
    auto* scan = dialog->findChild<QTableWidget*>(QStringLiteral("tableWidget_scan"));
    auto* record = dialog->findChild<QTableWidget*>(QStringLiteral("tableWidget_record"));
    if (scan == nullptr || record == nullptr) return fail("the dialog has no scan or record table");
    int made = 0;
    for (int i = 0; i < cycles; ++i) {
        if (!connectOnce(window, scan, record, i + 1 == cycles, boxes)) break;
        ++made;
    }
    std::printf("connections through the dialog: %d of %d\n", made, cycles);
    if (made > 0) {
        std::printf("connected: %s\n", Widget::s_ui->label_BleInfo->text().toUtf8().constData());
        std::printf("received \"%s\"\n", Widget::s_ui->plainTextEdit_recv->toPlainText().toUtf8().constData());
    }
    dialog->hide();
    window.close();
    if (window.connectionHandle() != nullptr) return fail("the exit question did not close the link");
    dialogprompt::setBoxHook({});
    return made == cycles ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const int status = runSession(cycles);
    std::printf("session %s\n", status == 0 ? "done" : "failed");
    std::fflush(stdout);
    return status;
}
