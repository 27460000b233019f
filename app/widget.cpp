#include "widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopWidget>
#include <QScreen>
#include <QStyle>
#include <QTextCodec>
#include <QTimer>
#include <cstdio>

#include "aboutsoft.h"
#include "blesetting.h"
#include "dialogprompt.h"
#include "sendfilethread.h"
#include "ui_widget.h"

bool recv_show = true;
bool s_clearScreen = false;
bool s_stopScreen = false;
bool save_file = false;
FILE* recvFilefp = nullptr;
qint64 recvCount = 0;

Ui::Widget* Widget::s_ui = nullptr;
std::atomic<Widget*> Widget::mywidget{nullptr};

namespace {
const char* const kNoConnection = "当前无连接，请连接设备...";
const char* const kToolTipStyle =
    "QToolTip{border:1px solid rgb(118, 118, 118); background-color: #ffffff; color:#484848; "
    "font-size:12px;}";

void centreOn(QWidget* w, QDesktopWidget* desktop) {
    const QScreen* screen =
        desktop->window()->screen() ? desktop->window()->screen() : QGuiApplication::primaryScreen();
    if (screen) w->move(screen->availableGeometry().center() - w->rect().center());
}
}  // namespace

static void initWindowResources() {
    Q_INIT_RESOURCE(widget);
}

Widget::Widget(QWidget* parent) : QWidget(parent), ui(new Ui::Widget), desktop(QApplication::desktop()) {
    initWindowResources();
    recv_show = true;
    s_clearScreen = false;
    s_stopScreen = false;
    save_file = false;
    recvCount = 0;

    ui->setupUi(this);
    s_ui = ui;
    mywidget = this;

    setModeBtMenu();
    disableModemSignal();
    // The receive box only grows; an undo history of every insertion would cost memory and time.
    ui->plainTextEdit_recv->setUndoRedoEnabled(false);
    setCoding("GBK");

    aboutDialog = new aboutSoft();
    settingDialog = new blesetting();
    // Parentless and shown on demand: left open, either would keep the program alive after the
    // main window closed.
    aboutDialog->setAttribute(Qt::WA_QuitOnClose, false);
    settingDialog->setAttribute(Qt::WA_QuitOnClose, false);
    settingDialog->setWindowModality(Qt::ApplicationModal);
    centreOn(settingDialog, desktop);

    speedTimer = new QTimer(this);
    speedTimer->setInterval(1000);
    sendTimer = new QTimer(this);
    recvFlushTimer = new QTimer(this);
    recvFlushTimer->setInterval(1000);
    connect(recvFlushTimer, SIGNAL(timeout()), this, SLOT(flushRecvFile()));
    centreOn(this, desktop);

    setToolButtonImage(ui->Bt_setting, "Setting.ico");
    setToolButtonImage(ui->Bt_sendfile, "SendFile.ico");
    setToolButtonImage(ui->Bt_recv_mode, "RecvMode10.ico");
    setToolButtonImage(ui->Bt_clear_counts, "CountClr.ico");
    setToolButtonImage(ui->Bt_aboutInfo, "About.ico");

    connect(ui->Bt_setting, SIGNAL(clicked(bool)), this, SLOT(Btn_BleSettingSlot()));
    connect(ui->Bt_sendfile, SIGNAL(clicked(bool)), this, SLOT(Btn_BleSendFileSlot()));
    connect(ui->BtSend, SIGNAL(clicked(bool)), this, SLOT(Btn_sendInputSlot()));
    connect(ui->clearRecv, SIGNAL(clicked(bool)), this, SLOT(clearRecvSlot()));
    connect(ui->BtClearSend, SIGNAL(clicked(bool)), this, SLOT(clearSendSlot()));
    connect(ui->Bt_clear_counts, SIGNAL(clicked(bool)), this, SLOT(clearCountsSlot()));
    connect(ui->Bt_aboutInfo, SIGNAL(clicked(bool)), this, SLOT(Btn_aboutSoft()));
    connect(ui->BoxRTS, SIGNAL(clicked(bool)), this, SLOT(changeModemStatusSlot()));
    connect(ui->BoxDTR, SIGNAL(clicked(bool)), this, SLOT(changeModemStatusSlot()));
    connect(ui->sendHex, SIGNAL(clicked(bool)), this, SLOT(changeSendContentSlot(bool)));
    connect(ui->showHex, SIGNAL(clicked(bool)), this, SLOT(changeRecvContentSlot(bool)));
    connect(ui->BoxRTS, SIGNAL(clicked(bool)), settingDialog, SLOT(changeRTS(bool)));
    connect(ui->BoxDTR, SIGNAL(clicked(bool)), settingDialog, SLOT(changeDTR(bool)));
    connect(ui->plainTextEdit_send, SIGNAL(textChanged()), this, SLOT(changeSendHexContentSlot()));
    connect(speedTimer, SIGNAL(timeout()), this, SLOT(calSpeedSlot()));
    connect(sendTimer, SIGNAL(timeout()), this, SLOT(sendOntimeSlot()));
    connect(this, SIGNAL(openBleSettingSiganl()), settingDialog, SLOT(clearCurrentScanSlot()));
    connect(this, SIGNAL(changeFilePathSignal(int, QString)), settingDialog,
            SLOT(changeFilePathSloT(int, QString)));
    connect(this, SIGNAL(bleDisconnectSignal()), this, SLOT(disconnectAction()));
    connect(this, SIGNAL(SbleDisconnectSignal()), settingDialog, SLOT(settingDisconnectAction()));
    connect(settingDialog, SIGNAL(sendFilePathSignal(QString)), this, SLOT(getSendFilePath(QString)));
    connect(settingDialog, SIGNAL(recvFilePathSignal(QString)), this, SLOT(getRecvFilePath(QString)));
    connect(settingDialog, SIGNAL(bleConnectSuccSiganl(QB7720HANDLE*, gatt_stream_t*, QString, QString)),
            this, SLOT(getConnectInfo(QB7720HANDLE*, gatt_stream_t*, QString, QString)),
            Qt::QueuedConnection);
    connect(settingDialog, SIGNAL(uartBaudInfo(int, bool, int, int, int, int, int)), this,
            SLOT(getUartBaud(int, bool, int, int, int, int, int)));
    connect(settingDialog, SIGNAL(MTUSignal(int)), this, SLOT(getMTUValueSlot(int)));
}

Widget::~Widget() {
    endFileWorker(false);
    if (fileThread) delete fileThread.data();
    closeRecvFile();
    delete settingDialog;
    delete aboutDialog;
    Widget* self = this;
    if (mywidget.compare_exchange_strong(self, nullptr)) s_ui = nullptr;
    delete ui;
}

void Widget::setToolButtonImage(QWidget* button, const char* image) {
    button->setStyleSheet(QStringLiteral("QPushButton {border-image: url(:/new/prefix1/logoIcon/%1);}")
                              .arg(QLatin1String(image)) +
                          QLatin1String(kToolTipStyle));
}

void Widget::Btn_BleSettingSlot() {
    settingDialog->show();
    emit openBleSettingSiganl();
}

void Widget::Btn_aboutSoft() {
    aboutDialog->show();
}

void Widget::getConnectInfo(QB7720HANDLE* handle, gatt_stream_t* stream, QString address, QString text) {
    if (handle) {
        connHandle = handle;
        bleMac = address;
        connStream = stream;
        ui->label_BleInfo->setText(text.isNull() ? QString::fromUtf8(kNoConnection)
                                                 : text + QStringLiteral(" 115200,8,1,None"));
        if (!bleMac.isEmpty()) {
            {
                // Reports of an earlier link that are still queued no longer concern this one.
                std::lock_guard<std::mutex> lock(lostMutex);
                lostLinks.clear();
            }
            ++linkToken;
            QB7720Ble_register_on_disconnect(handle, &Widget::disconnectState,
                                             reinterpret_cast<void*>(linkToken));
            Ble_Notification(handle);
            if (!speedTimer->isActive()) speedTimer->start();
            ui->BoxRTS->setEnabled(true);
            ui->BoxDTR->setEnabled(true);
        } else {
            clearCountsSlot();
        }
    } else if (connHandle) {
        connHandle = nullptr;
        ++linkToken;
        bleMac = address;
        connStream = stream;
        ui->label_BleInfo->setText(text.isNull() ? QString::fromUtf8(kNoConnection) : text);
    }
}

void Widget::Ble_Notification(QB7720HANDLE* handle) {
    QB7720Ble_register_notification(handle, &Widget::notification_cb, nullptr);
    if (QB7720Ble_Open_Notification(handle, dataUuid) != 0)
        std::fputs("Open notification 0xfff1 failed\n", stderr);
    if (QB7720Ble_Open_Notification(handle, modemUuid) != 0)
        std::fputs("Open notification 0xfff3 failed\n", stderr);
}

void Widget::closeNotification(QB7720HANDLE* handle) {
    if (QB7720Ble_Close_Notification(handle, dataUuid) != 0) qDebug() << "close notification failed!";
    if (QB7720Ble_Close_Notification(handle, modemUuid) != 0) qDebug() << "close notification failed!";
    QB7720Ble_Disconnect(handle);
}

void Widget::disconnectState(void* user_data) {
    qDebug() << "the ble disconnect!";
    Widget* w = mywidget.load();
    if (!w) return;
    {
        std::lock_guard<std::mutex> lock(w->lostMutex);
        w->lostLinks.push_back(reinterpret_cast<quintptr>(user_data));
    }
    emit w->bleDisconnectSignal();
}

void Widget::showDisconnected() {
    ui->label_BleInfo->setText(QString::fromUtf8(kNoConnection));
    // The inputs of a lost link are unknown; ticked boxes would claim a live line.
    for (QCheckBox* in : {ui->BoxCTS, ui->BoxDSR, ui->BoxRing, ui->BoxDCD}) in->setChecked(false);
}

void Widget::disconnectAction() {
    // A report that comes while the box is open waits for it to close.
    if (linkLossOpen) return;
    bool lost = false;
    {
        std::lock_guard<std::mutex> lock(lostMutex);
        lost = lostLinks.contains(linkToken);
        lostLinks.clear();
    }
    // A repeated report, or one for a link the dialog already closed or replaced, has nothing to close.
    if (!connHandle || !lost) return;
    QB7720HANDLE* const handle = connHandle;
    const quintptr token = linkToken;
    // The worker writes through this handle; it must be done before the handle is freed.
    const QString transfer = endFileWorker(true);
    // Its next tick would only fail on the lost link, raising a box inside this one.
    if (timingSend) stopTimedSending();
    showDisconnected();
    linkLossOpen = true;
    dialogprompt::warn(this, QStringLiteral("蓝牙连接已断开!"));
    linkLossOpen = false;
    if (!transfer.isEmpty()) dialogprompt::inform(this, transfer);
    // While the box was open the dialog may have connected again; that link is not the lost one,
    // unless it was lost too in the meantime.
    if (connHandle != handle || linkToken != token) {
        QMetaObject::invokeMethod(this, "disconnectAction", Qt::QueuedConnection);
        return;
    }
    qDebug() << "ble connection" << static_cast<void*>(connHandle);
    closeNotification(connHandle);
    connHandle = nullptr;
    ++linkToken;
    bleMac.clear();
    emit SbleDisconnectSignal();
}

QString Widget::endFileWorker(bool linkLost) {
    if (!fileThread || fileThread->isFinished()) return {};
    sendFileThread* worker = fileThread.data();
    disconnect(worker, SIGNAL(sendOver()), this, nullptr);
    disconnect(worker, SIGNAL(sendStop()), this, nullptr);
    disconnect(worker, SIGNAL(sendFail(QString)), this, nullptr);
    if (linkLost)
        worker->abortForLinkLoss();
    else
        worker->stopThread();
    worker->wait();
    if (!fileSendIdle) restoreFileControls();
    ui->label_proStatus->setText(QStringLiteral("就绪"));
    return worker->failure();
}

void Widget::closeEvent(QCloseEvent* event) {
    if (dialogprompt::show(this, QMessageBox::Question, QStringLiteral("是否确定退出?"),
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    // Nothing may raise a box once the user chose to leave.
    stopTimedSending();
    endFileWorker(false);
    if (connHandle) {
        closeNotification(connHandle);
        connHandle = nullptr;
        ++linkToken;
    }
    if (speedTimer->isActive()) speedTimer->stop();
    flushRecvFile();
    aboutDialog->close();
    settingDialog->close();
    event->accept();
}
