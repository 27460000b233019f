// The terminal's whole session as a user has it: open the connection dialog, connect to the bridge
// by double-clicking it in the scan table, send a line, see it come back, close the window and
// confirm. Run over the bus, it must end with exit status 0 like the program it stands for.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <cstdio>
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

int runSession() {
    QStringList boxes;
    dialogprompt::setBoxHook([&boxes](const dialogprompt::Box& box) {
        boxes << box.text;
        return (box.buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    Widget window;
    window.show();
    Widget::s_ui->Bt_setting->click();
    auto* scan = window.settingDialogForTest()->findChild<QTableWidget*>(QStringLiteral("tableWidget_scan"));
    if (scan == nullptr) return fail("the dialog has no scan table");
    if (!waitUntil([&] { return scan->rowCount() > 0; }, 15000)) return fail("no bridge in the scan table");
    emit scan->cellDoubleClicked(0, 0);
    if (!waitUntil([&] { return window.connectionHandle() != nullptr; }, 15000))
        return fail(("not connected; boxes: " + boxes.join(QStringLiteral(" | "))).toUtf8().constData());
    std::printf("connected: %s\n", Widget::s_ui->label_BleInfo->text().toUtf8().constData());
    Widget::s_ui->plainTextEdit_send->setPlainText(QStringLiteral("hello"));
    Widget::s_ui->BtSend->click();
    if (!waitUntil([] { return Widget::s_ui->plainTextEdit_recv->toPlainText() == QStringLiteral("hello"); },
                   10000))
        return fail("the line did not come back");
    std::printf("received \"%s\"\n", Widget::s_ui->plainTextEdit_recv->toPlainText().toUtf8().constData());
    window.settingDialogForTest()->hide();
    window.close();
    if (window.connectionHandle() != nullptr) return fail("the exit question did not close the link");
    dialogprompt::setBoxHook({});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int status = runSession();
    std::printf("session %s\n", status == 0 ? "done" : "failed");
    std::fflush(stdout);
    return status;
}
