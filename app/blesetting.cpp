#include "blesetting.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDebug>
#include <QKeyEvent>
#include <QMenu>
#include <QMutex>
#include <QMutexLocker>
#include <QTableWidgetItem>
#include <QTime>
#include <QTimer>
#include <cstdio>

#include "dialogprompt.h"
#include "ui_blesetting.h"

namespace {
const QString kSearching = QStringLiteral("当前连接设备：    正在搜索设备...     ");
const QString kIdleShort = QStringLiteral("当前连接设备： 当前无连接，请连接设备...  ");
const QString kIdleLong = QStringLiteral("当前连接设备： 当前无连接，请连接设备...     ");
const QString kConnecting = QStringLiteral("当前连接设备： 正在连接设备中...  ");
const QString kConnectedTo = QStringLiteral("当前连接设备：");
const QString kConnected = QStringLiteral("已连接");
const QString kDisconnected = QStringLiteral("连接断开");
const QString kNeverConnected = QStringLiteral("未连接");
const QString kStartScan = QStringLiteral("开始扫描");
const QString kStopScan = QStringLiteral("停止扫描");
const QString kConnectFailed = QStringLiteral("连接失败！请重新连接。");
constexpr int kStatusColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kAddressColumn = 2;
constexpr int kSilentAfterSeconds = 4;

// Guards the staging record, the dialog pointer and the clock against the library's thread.
QMutex& callbackMutex() {
    static QMutex mutex;
    return mutex;
}
node bleDevInfo;
std::function<int()> secondSource;

// Typed values of the serial selectors: anything that is not a number in range becomes 0.
int parseSetting(const QString& text, int maximum) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok, 10);
    return ok && value >= 0 && value <= maximum ? static_cast<int>(value) : 0;
}

QString versionName(int number) {
    static const char* const names[] = {"1.0", "1.1", "1.2", "2.0", "2.1", "3.0", "4.0", "4.1",
                                        "4.2", "5.0", "5.1", "5.2", "5.3", "5.4", "6.0"};
    if (number >= 0 && number < static_cast<int>(std::size(names))) return QString::fromLatin1(names[number]);
    return QStringLiteral("未知 (%1)").arg(number);
}
}  // namespace

blesetting* blesetting::myBlesetting = nullptr;

blesetting::blesetting(QWidget* parent) : QWidget(parent), ui(new Ui_blesetting) {
    qRegisterMetaType<node>("node");
    qRegisterMetaType<QB7720HANDLE*>("QB7720HANDLE*");
    qRegisterMetaType<gatt_stream_t*>("gatt_stream_t*");

    ui->setupUi(this);
    {
        QMutexLocker lock(&callbackMutex());
        myBlesetting = this;
    }

    for (QTableWidget* table : {ui->tableWidget_record, ui->tableWidget_scan}) {
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setColumnWidth(0, 70);
        table->setColumnWidth(1, 150);
        table->setColumnWidth(2, 180);
    }

    loadHistoryFile();
    setRightTouchMenu();

    for (QComboBox* box : {ui->comboBox_baudrate, ui->comboBox_stopbits, ui->comboBox_databits,
                           ui->comboBox_parity, ui->comboBox_DTR, ui->comboBox_RTS})
        box->setEditable(true);
    // These pass their index: a typed entry must not become an item with an index the line cannot take.
    for (QComboBox* box : {ui->comboBox_parity, ui->comboBox_DTR, ui->comboBox_RTS})
        box->setInsertPolicy(QComboBox::NoInsert);
    ui->label_6->setEnabled(false);
    ui->comboBox_RTS->setEnabled(false);

    scanTimer = std::make_unique<QTimer>();
    scanTimer->setInterval(500);
    flushTimer = std::make_unique<QTimer>();
    flushTimer->setInterval(1000);

    connect(ui->Bt_GetBleVer, SIGNAL(clicked(bool)), this, SLOT(getBleVersionSlot()));
    connect(ui->Bt_BleScan, SIGNAL(clicked(bool)), this, SLOT(Bt_scanBleDevSlot()));
    connect(scanTimer.get(), SIGNAL(timeout()), this, SLOT(scanBleDevTimerSlot()));
    connect(flushTimer.get(), SIGNAL(timeout()), this, SLOT(fflushBleDevSlot()));
    // Queued even when a report comes from this thread, so that reports are handled one at a time
    // and in the order they were heard.
    connect(this, SIGNAL(bleDevInfoSignal(QVariant)), this, SLOT(recvBleInfoSlot(QVariant)),
            Qt::QueuedConnection);
    connect(this, SIGNAL(addFileSignal(QString, QString, bool)), this,
            SLOT(addDevConnectInfo(QString, QString, bool)), Qt::QueuedConnection);
    connect(this, SIGNAL(autoConnectInfoSignal(QString, QString)), this,
            SLOT(recvAutoConnectSlot(QString, QString)));
    connect(ui->tableWidget_scan, SIGNAL(cellDoubleClicked(int, int)), this,
            SLOT(bleDevStatusChangeSlot(int, int)));
    connect(ui->tableWidget_record, SIGNAL(cellDoubleClicked(int, int)), this,
            SLOT(changeRecordSlot(int, int)));
    connect(ui->Bt_TavrionSetting, SIGNAL(clicked(bool)), this, SLOT(tavrionSettingSlot()));
    connect(ui->Bt_BleSendFile, SIGNAL(clicked(bool)), this, SLOT(tavrionSendFileSlot()));
    connect(ui->Bt_BleRecvFile, SIGNAL(clicked(bool)), this, SLOT(tavrionRecvFileSlot()));
    connect(ui->checkBox_autoHardFlow, SIGNAL(stateChanged(int)), this, SLOT(setRTShardflowSlot(int)));
}

blesetting::~blesetting() {
    {
        QMutexLocker lock(&callbackMutex());
        if (myBlesetting == this) myBlesetting = nullptr;
    }
    if (!scanStopped) QB7720Ble_BLE_Scan(0, nullptr);
    delete ui;
}

void blesetting::setSecondSource(std::function<int()> source) {
    QMutexLocker lock(&callbackMutex());
    secondSource = std::move(source);
}

int blesetting::currentSecond() {
    // Callers hold callbackMutex().
    if (secondSource) return secondSource();
    return QTime::currentTime().second();
}

bool blesetting::isFlushing() const {
    return flushTimer->isActive();
}

// ---------------------------------------------------------------------------------------------------
// Scanning and the device list

void blesetting::Advertisement_Info_Callback(const char* address, const char* name, signed char rssi,
                                             unsigned char* data) {
    (void)data;
    QMutexLocker lock(&callbackMutex());
    const int second = currentSecond();
    if (name) {
        bleDevInfo.macAddr = QString::fromUtf8(address);
        bleDevInfo.devName = QString::fromUtf8(name);
    } else if (address) {
        bleDevInfo.macAddr = QString::fromUtf8(address);
        bleDevInfo.devName = QString();
    } else {
        return;
    }
    bleDevInfo.rssi = rssi;
    bleDevInfo.seenSecond = second;
    if (myBlesetting) emit myBlesetting->bleDevInfoSignal(QVariant::fromValue(bleDevInfo));
}

void blesetting::haltScan() {
    stopDiscovery();
    ui->Bt_BleScan->setText(kStartScan);
}

void blesetting::stopDiscovery() {
    scanTimer->stop();
    scanStopped = true;
    // The library would go on reporting for a while; those late reports would bring back rows.
    QB7720Ble_BLE_Scan(0, nullptr);
}

void blesetting::resumeScan() {
    scanTimer->start();
    scanStopped = false;
    ui->Bt_BleScan->setText(kStopScan);
}

void blesetting::Bt_scanBleDevSlot() {
    if (scanStopped) {
        scanTimer->start();
        scanStopped = false;
        if (!connHandle) setStatus(kSearching);
        ui->tableWidget_scan->setRowCount(0);
        bleDevList.clear();
        ui->Bt_BleScan->setText(kStopScan);
        flushTimer->start();
    } else {
        stopDiscovery();
        if (!connHandle) setStatus(kIdleShort);
        ui->Bt_BleScan->setText(kStartScan);
        flushTimer->stop();
    }
}

void blesetting::scanBleDevTimerSlot() {
    if (QB7720Ble_BLE_Scan(1, Advertisement_Info_Callback) != 1) return;
    if (!scanStopped) haltScan();
    dialogprompt::warn(this, QStringLiteral("请打开蓝牙！"));
}

void blesetting::recvBleInfoSlot(QVariant info) {
    const node dev = info.value<node>();
    // Without an address the device could be neither shown usefully nor connected; a report queued
    // before the scan stopped must not bring back a device the user has just connected.
    if (dev.macAddr.isEmpty() || scanStopped) return;
    const QString strength = QString::number(static_cast<int>(dev.rssi));

    for (node& listed : bleDevList) {
        if (listed.macAddr != dev.macAddr) continue;
        listed.seenSecond = dev.seenSecond;
        // A name often comes only with a later report (the scan response); show it once known.
        const bool named = listed.devName.isEmpty() && !dev.devName.isEmpty();
        if (named) listed.devName = dev.devName;
        QTableWidget* table = ui->tableWidget_scan;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, kAddressColumn)->text() != dev.macAddr) continue;
            table->item(row, kStatusColumn)->setText(strength);
            if (named) table->item(row, kNameColumn)->setText(dev.devName);
        }
        return;
    }
    bleDevList.append(dev);

    // The device already held needs no reconnection, even when it goes on advertising.
    const bool alreadyHeld = connHandle && dev.macAddr == bleMac;
    if (ui->checkBox_autoConnect->isChecked() && autoConnectArmed && !alreadyHeld) {
        const QString name = dev.devName.isEmpty() ? QStringLiteral("none") : dev.devName;
        if (addDevConnectInfo(name, dev.macAddr, true)) {
            bleDevList.removeLast();
            if (!scanStopped) haltScan();
            autoConnectArmed = false;
            emit autoConnectInfoSignal(name, dev.macAddr);
            return;
        }
    }
    insertRow(ui->tableWidget_scan, 0, strength, dev.devName, dev.macAddr);
}

void blesetting::fflushBleDevSlot() {
    int now;
    {
        QMutexLocker lock(&callbackMutex());
        now = currentSecond();
    }
    QList<int> silent;
    for (int i = 0; i < bleDevList.size(); ++i) {
        const node& dev = bleDevList.at(i);
        // Only the second of the minute is kept, so an age wraps at the minute.
        const int age = now - dev.seenSecond + (dev.seenSecond > now ? 60 : 0);
        if (age > kSilentAfterSeconds) {
            silent.append(i);
            removeScanRows(dev.macAddr);
        }
    }
    for (int i = silent.size() - 1; i >= 0; --i) bleDevList.removeAt(silent.at(i));
}

void blesetting::clearCurrentScanSlot() {
    ui->tableWidget_scan->setRowCount(0);
    bleDevList.clear();
    // Opening the dialog starts a scan; one that already runs goes on.
    if (!connHandle && scanStopped) Bt_scanBleDevSlot();
}

void blesetting::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void blesetting::closeEvent(QCloseEvent* event) {
    if (ui->Bt_BleScan->text() == kStopScan) {
        stopDiscovery();
        if (!connHandle) emit autoConnectSignal(true);
        ui->Bt_BleScan->setText(kStartScan);
    }
    event->accept();
}

// ---------------------------------------------------------------------------------------------------
// Table helpers

void blesetting::setStatus(const QString& text) {
    ui->label_devStatus->setText(text);
}

void blesetting::insertRow(QTableWidget* table, int row, const QString& c0, const QString& c1,
                           const QString& c2) {
    table->insertRow(row);
    const QString texts[] = {c0, c1, c2};
    for (int column = 0; column < 3; ++column) {
        auto* cell = new QTableWidgetItem(texts[column]);
        cell->setTextAlignment(Qt::AlignCenter);
        table->setItem(row, column, cell);
    }
}

void blesetting::markConnectedRowsLost() {
    QTableWidget* table = ui->tableWidget_record;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, kStatusColumn)->text() == kConnected)
            table->item(row, kStatusColumn)->setText(kDisconnected);
    }
}

void blesetting::moveRecordRowToTop(int row) {
    QTableWidget* table = ui->tableWidget_record;
    if (row <= 0 || row >= table->rowCount()) return;
    for (int column = 0; column < table->columnCount(); ++column) {
        const QString top = table->item(0, column)->text();
        table->item(0, column)->setText(table->item(row, column)->text());
        table->item(row, column)->setText(top);
    }
}

int blesetting::lastRecordRow(const QString& address) const {
    QTableWidget* table = ui->tableWidget_record;
    for (int row = table->rowCount() - 1; row >= 0; --row) {
        if (table->item(row, kAddressColumn)->text() == address) return row;
    }
    return -1;
}

void blesetting::removeLastListed(const QString& address) {
    for (int i = bleDevList.size() - 1; i >= 0; --i) {
        if (bleDevList.at(i).macAddr == address) {
            bleDevList.removeAt(i);
            return;
        }
    }
}

void blesetting::removeScanRows(const QString& address) {
    QTableWidget* table = ui->tableWidget_scan;
    for (int row = table->rowCount() - 1; row >= 0; --row) {
        if (table->item(row, kAddressColumn)->text() == address) table->removeRow(row);
    }
}

// ---------------------------------------------------------------------------------------------------
// Connecting and disconnecting

void blesetting::connectionstate(QB7720HANDLE* handle, int state) {
    (void)state;
    qDebug() << (handle ? "connect OK!" : "connect failed!");
}

void blesetting::closeNotification(QB7720HANDLE* handle) {
    // A link already given up has nothing left to close.
    if (!handle) return;
    if (QB7720Ble_Close_Notification(handle, dataUuid) != 0) qDebug() << "close notification failed!";
    if (QB7720Ble_Close_Notification(handle, modemUuid) != 0) qDebug() << "close notification failed!";
    QB7720Ble_Disconnect(handle);
}

void blesetting::dropConnection() {
    closeNotification(connHandle);
    connHandle = nullptr;
    // The library freed the stream with the link.
    connStream = nullptr;
    bleMac = QString();
    markConnectedRowsLost();
}

void blesetting::announceClosed() {
    emit bleConnectSuccSiganl(nullptr, connStream, QString(), QString());
}

void blesetting::showDisconnected() {
    setStatus(kIdleLong);
    ui->label_MTU->setText(QStringLiteral("MTU :     "));
}

void blesetting::bleDevStatusChangeSlot(int row, int column) {
    (void)column;
    QTableWidget* scan = ui->tableWidget_scan;
    if (row < 0 || row >= scan->rowCount()) return;
    // Taken before any question: the table may change while a box is open.
    const QString name = scan->item(row, kNameColumn)->text();
    const QString address = scan->item(row, kAddressColumn)->text();

    setStatus(kConnecting);
    if (!scanStopped) haltScan();

    bool closed = false;
    if (connHandle && ui->tableWidget_record->rowCount() > 0) {
        if (!dialogprompt::askYesNo(this, QStringLiteral("有设备连接，是否断开?"))) return;
        dropConnection();
        closed = true;
    }
    if (connHandle) {
        dropConnection();
        closed = true;
    }

    connHandle = QB7720Ble_Connect(address.toLatin1().constData(), connectionstate);
    if (!connHandle) {
        dialogprompt::warn(this, kConnectFailed);
        setStatus(kIdleShort);
        if (scanStopped) resumeScan();
        if (closed) announceClosed();
        return;
    }

    bleMac = address;
    getMTUValue();
    emit addFileSignal(name, bleMac, false);
    emit bleConnectSuccSiganl(connHandle, connStream, bleMac, name);
    setStatus(kConnectedTo + name);
    removeScanRows(address);

    const int recorded = lastRecordRow(bleMac);
    if (recorded < 0) {
        insertRow(ui->tableWidget_record, 0, kConnected, name, address);
    } else {
        ui->tableWidget_record->item(recorded, kStatusColumn)->setText(kConnected);
        moveRecordRowToTop(recorded);
    }
    removeLastListed(address);
}

void blesetting::changeRecordSlot(int row, int column) {
    (void)column;
    QTableWidget* record = ui->tableWidget_record;
    if (row < 0 || row >= record->rowCount()) return;
    const QString status = record->item(row, kStatusColumn)->text();
    const QString name = record->item(row, kNameColumn)->text();
    const QString address = record->item(row, kAddressColumn)->text();

    if (status == kConnected) {
        if (address != bleMac) {
            qDebug() << "no the connect!";
            return;
        }
        if (!connHandle) {
            dialogprompt::warn(this, QStringLiteral("当前连接失效。"));
            return;
        }
        if (dialogprompt::askYesNo(this, QStringLiteral("已有设备连接，是否断开?")) && connHandle) {
            dropConnection();
            showDisconnected();
            announceClosed();
            if (scanStopped) resumeScan();
        }
        qDebug() << "disconnect the bleDev!";
        return;
    }

    if (!connHandle) {
        connHandle = QB7720Ble_Connect(address.toLatin1().constData(), connectionstate);
        if (!connHandle) {
            dialogprompt::warn(this, kConnectFailed);
            if (scanStopped) resumeScan();
            return;
        }
        getMTUValue();
        bleMac = address;
        setStatus(kConnectedTo + name);
        emit bleConnectSuccSiganl(connHandle, connStream, bleMac, name);
        record->item(row, kStatusColumn)->setText(kConnected);
        moveRecordRowToTop(row);
        removeLastListed(address);
        return;
    }

    if (!dialogprompt::askYesNo(this, QStringLiteral("有设备连接，是否断开?")) || !connHandle) return;
    const QString held = bleMac;
    dropConnection();
    removeLastListed(held);
    // Nothing is connected any more; the status line must not go on naming the old device.
    showDisconnected();
    announceClosed();
}

void blesetting::recvAutoConnectSlot(QString devname, QString macAddr) {
    setStatus(kConnecting);
    bool closed = false;
    if (connHandle) {
        dropConnection();
        closed = true;
    }

    connHandle = QB7720Ble_Connect(macAddr.toLatin1().constData(), connectionstate);
    autoConnectArmed = true;
    if (!connHandle) {
        dialogprompt::warn(this, kConnectFailed);
        setStatus(kIdleShort);
        if (closed) announceClosed();
        return;
    }

    bleMac = macAddr;
    getMTUValue();
    emit addFileSignal(devname, bleMac, false);
    emit bleConnectSuccSiganl(connHandle, connStream, bleMac, devname);
    setStatus(kConnectedTo + devname);
    const int recorded = lastRecordRow(bleMac);
    if (recorded >= 0) {
        ui->tableWidget_record->item(recorded, kStatusColumn)->setText(kConnected);
        moveRecordRowToTop(recorded);
    }
    removeScanRows(macAddr);
}

void blesetting::settingDisconnectAction() {
    // The window has closed the link already; only this dialog's view of it is reset.
    connHandle = nullptr;
    connStream = nullptr;
    bleMac = QString();
    markConnectedRowsLost();
    setStatus(scanStopped ? kIdleLong : kSearching);
    ui->label_MTU->setText(QStringLiteral("MTU :      "));
}

// ---------------------------------------------------------------------------------------------------
// Record file and its table

void blesetting::loadHistoryFile() {
    for (const ConnectionRecord& record : records.load())
        insertRow(ui->tableWidget_record, 0, kNeverConnected, record.name, record.address);
}

bool blesetting::addDevConnectInfo(QString devname, QString macAddr, bool mode) {
    if (mode) return records.isLast(macAddr);
    records.record(devname, macAddr);
    return false;
}

void blesetting::setRightTouchMenu() {
    recordMenu = new QMenu(ui->tableWidget_record);
    deleteAction = new QAction(QStringLiteral("删除记录"), recordMenu);
    recordMenu->addAction(deleteAction);
    ui->tableWidget_record->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tableWidget_record, SIGNAL(customContextMenuRequested(QPoint)), this,
            SLOT(contexMenuSlot(QPoint)));
    connect(deleteAction, SIGNAL(triggered(bool)), this, SLOT(deleteRecordItem()));
}

void blesetting::contexMenuSlot(QPoint pos) {
    if (ui->tableWidget_record->indexAt(pos).isValid()) recordMenu->popup(QCursor::pos());
}

void blesetting::deleteRecordItem() {
    QTableWidget* table = ui->tableWidget_record;
    const int current = table->currentRow();
    if (current < 0 || current >= table->rowCount()) return;
    const QString address = table->item(current, kAddressColumn)->text();

    if (table->item(current, kStatusColumn)->text() == kConnected) {
        if (!dialogprompt::askYesNo(this, QStringLiteral("是否断开连接再删除此条记录!"))) return;
        dropConnection();
        showDisconnected();
        announceClosed();
    }
    // Found again by address: rows may have moved while the question was open.
    const int row = lastRecordRow(address);
    if (row >= 0) table->removeRow(row);
    records.remove(address);
}

// ---------------------------------------------------------------------------------------------------
// Remote serial line

void blesetting::tavrionSettingSlot() {
    if (!connHandle) {
        if (dialogprompt::askYesNo(this, QStringLiteral("请先连接蓝牙!")) && scanStopped) Bt_scanBleDevSlot();
        return;
    }
    const int baud = parseSetting(ui->comboBox_baudrate->currentText(), 0x7fffffff);
    const int dataBits = parseSetting(ui->comboBox_databits->currentText(), 255);
    const int stopBits = parseSetting(ui->comboBox_stopbits->currentText(), 255);
    const int parity = ui->comboBox_parity->currentIndex();
    const int dtr = ui->comboBox_DTR->currentIndex();
    const int rtsIndex = ui->comboBox_RTS->currentIndex();
    const bool flowControl = ui->checkBox_autoHardFlow->isChecked();
    const bool rtsSelectable = ui->comboBox_RTS->isEnabled();

    // A line the bridge cannot run (no rate, a word size or stop count no UART has) is never sent.
    const bool lineValid = baud > 0 && dataBits >= 5 && dataBits <= 8 && stopBits >= 1 && stopBits <= 2;
    bool lineTaken = false;
    if (lineValid)
        lineTaken = Ble_SetUART(connHandle, baud, dataBits, stopBits, parity);
    else
        dialogprompt::warn(this, QStringLiteral("设置失败，请重新设置。"));
    if (flowControl)
        Ble_SetModem(connHandle, 1, 1, 1);
    else
        Ble_SetModem(connHandle, 0, dtr, rtsSelectable ? rtsIndex : 0);
    // The window shows and paces by what the bridge runs; a line it did not take is not reported.
    if (lineTaken)
        emit uartBaudInfo(baud, flowControl, dataBits, stopBits, parity, rtsSelectable ? rtsIndex : -1, dtr);
}

bool blesetting::Ble_SetUART(QB7720HANDLE* handle, int baud, int dataBits, int stopBits, int parity) {
    const int result =
        handle ? QB7720Ble_Set_SerialBaud(handle, connStream, static_cast<uint32_t>(baud),
                                          static_cast<uint8_t>(dataBits), static_cast<uint8_t>(stopBits),
                                          static_cast<uint8_t>(parity))
               : -1;
    if (result == 0)
        dialogprompt::inform(this, QStringLiteral("串口设置成功"));
    else
        dialogprompt::warn(this, QStringLiteral("设置失败，请重新设置。"));
    return result == 0;
}

void blesetting::Ble_SetModem(QB7720HANDLE* handle, int flowControl, int dtr, int rts) {
    // The link may have been lost while the previous box was open.
    const int result = handle ? QB7720Ble_Set_Modem(handle, connStream, static_cast<uint8_t>(flowControl),
                                                    static_cast<uint8_t>(dtr), static_cast<uint8_t>(rts))
                              : -1;
    if (result != 0) std::fputs("write failed2\n", stderr);
}

void blesetting::setRTShardflowSlot(int state) {
    const bool on = state == Qt::Checked;
    ui->label_6->setEnabled(on);
    ui->comboBox_RTS->setEnabled(on);
}

void blesetting::changeRTS(bool on) {
    ui->comboBox_RTS->setCurrentIndex(on ? 1 : 0);
}

void blesetting::changeDTR(bool on) {
    ui->comboBox_DTR->setCurrentIndex(on ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------------
// Version, MTU and files

void blesetting::getBleVersionSlot() {
    const int version = QB7720BleGetBluetoothVer();
    if (version < 0)
        dialogprompt::warn(this, QStringLiteral("请打开蓝牙！"));
    else
        dialogprompt::inform(this, QStringLiteral("控制器版本为") + versionName(version));
}

void blesetting::getMTUValue() {
    uint16_t mtu = 0;
    if (QB7720Ble_Get_MTU(connHandle, &connStream, &mtu) != 0) {
        qDebug() << "get MTU failed";
        return;
    }
    qDebug() << mtu;
    ui->label_MTU->setText(QStringLiteral("MTU : %1").arg(mtu));
    emit MTUSignal(mtu);
}

void blesetting::tavrionSendFileSlot() {
    sendFilePath =
        dialogprompt::chooseFile(this, {dialogprompt::Chooser::Open, QStringLiteral("请选择要发送的文件"),
                                        QStringLiteral("D:/"), QStringLiteral("ALL(*)")});
    if (!sendFilePath.isEmpty()) ui->lineEdit_sendFile->setText(sendFilePath);
    emit sendFilePathSignal(sendFilePath);
}

void blesetting::tavrionRecvFileSlot() {
    recvFilePath =
        dialogprompt::chooseFile(this, {dialogprompt::Chooser::Save, QStringLiteral("请选择要保存的文件路径"),
                                        QStringLiteral("D:/"), QStringLiteral("ALL(*)")});
    if (!recvFilePath.isEmpty()) ui->lineEdit_recvFile->setText(recvFilePath);
    emit recvFilePathSignal(recvFilePath);
}

void blesetting::changeFilePathSloT(int kind, QString path) {
    if (kind == 0) {
        recvFilePath = path;
        ui->lineEdit_recvFile->setText(path);
    } else if (kind == 1) {
        sendFilePath = path;
        ui->lineEdit_sendFile->setText(path);
    }
}
