// The connection dialog against emulated bridges, through the real device library.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTimer>
#include <atomic>
#include <thread>

#include "blesetting.h"
#include "testsupport.h"

using qb::emulator::BridgeConfig;
using qb::test::TestBridge;

namespace {
const QString kSearching = QStringLiteral("当前连接设备：    正在搜索设备...     ");
const QString kIdleShort = QStringLiteral("当前连接设备： 当前无连接，请连接设备...  ");
const QString kIdleLong = QStringLiteral("当前连接设备： 当前无连接，请连接设备...     ");
const QString kConnecting = QStringLiteral("当前连接设备： 正在连接设备中...  ");
const QString kConnected = QStringLiteral("已连接");
const QString kLost = QStringLiteral("连接断开");
const QString kNever = QStringLiteral("未连接");
constexpr int kWait = 5000;

std::atomic<int> fakeSecond{30};
}  // namespace

class BleSettingTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        radio_ = qb::test::TestRadio::create();
        blesetting::setSecondSource([] { return fakeSecond.load(); });
    }

    void init() {
        fakeSecond = 30;
        radio_->setRadioOn(true);
        if (auto emu = radio_->emulator()) emu->setControllerVersion(9);
        cwd_ = std::make_unique<WorkingDirectory>();
        prompts_ = std::make_unique<Prompts>();
    }

    void cleanup() {
        dialog_.reset();
        QB7720Ble_BLE_Scan(0, nullptr);
        for (const auto& bridge : bridges_) radio_->removeDevice(bridge->address());
        bridges_.clear();
        radio_->clearFaults();
        prompts_.reset();
        cwd_.reset();
    }

    void initialState() {
        make();
        QCOMPARE(dialog_->size(), QSize(450, 800));
        QCOMPARE(dialog_->minimumSize(), dialog_->maximumSize());
        QCOMPARE(dialog_->windowTitle(), QStringLiteral("设置"));
        QCOMPARE(status()->text(), kSearching);
        QCOMPARE(label("label_MTU")->text(), QStringLiteral("MTU :               "));
        QCOMPARE(scanButton()->text(), QStringLiteral("开始扫描"));
        QVERIFY(!dialog_->isScanning());
        QVERIFY(!dialog_->isFlushing());
        QVERIFY(!check("checkBox_autoConnect")->isChecked());
        QVERIFY(!check("checkBox_autoHardFlow")->isChecked());
        QCOMPARE(dialog_->connectionHandle(), nullptr);

        const QStringList scanHeaders{"信号强度", "设备", "MAC地址"};
        const QStringList recordHeaders{"连接状态", "设备", "MAC地址"};
        for (auto [table, headers] : {std::pair{scan(), scanHeaders}, std::pair{record(), recordHeaders}}) {
            QCOMPARE(table->columnCount(), 3);
            for (int c = 0; c < 3; ++c) QCOMPARE(table->horizontalHeaderItem(c)->text(), headers.at(c));
            QCOMPARE(table->columnWidth(0), 70);
            QCOMPARE(table->columnWidth(1), 150);
            QCOMPARE(table->columnWidth(2), 180);
            QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
            QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
            QCOMPARE(table->rowCount(), 0);
        }
        QCOMPARE(record()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(record()->contextMenuPolicy(), Qt::CustomContextMenu);

        const std::pair<const char*, QString> selectors[] = {
            {"comboBox_baudrate", "115200"}, {"comboBox_databits", "8"}, {"comboBox_stopbits", "1"},
            {"comboBox_parity", "无"},       {"comboBox_DTR", "无效"},   {"comboBox_RTS", "无效"}};
        for (const auto& [name, text] : selectors) {
            QVERIFY2(combo(name)->isEditable(), name);
            QCOMPARE(combo(name)->currentText(), text);
        }
        QCOMPARE(combo("comboBox_baudrate")->count(), 11);
        QCOMPARE(combo("comboBox_baudrate")->itemText(10), QStringLiteral("1000000"));
        QCOMPARE(combo("comboBox_parity")->itemText(4), QStringLiteral("空白位"));
        QVERIFY(!combo("comboBox_RTS")->isEnabled());
        QVERIFY(!label("label_6")->isEnabled());

        // The record file exists from the first start on, empty.
        QCOMPARE(WorkingDirectory::records(), QByteArray());
    }

    void scanListsNewestFirstAndUpdatesSignal() {
        make();
        auto first = addBridge(0xC0510000A001, "Alpha", -70);
        scanButton()->click();
        QVERIFY(dialog_->isScanning());
        QVERIFY(dialog_->isFlushing());
        QCOMPARE(scanButton()->text(), QStringLiteral("停止扫描"));
        QCOMPARE(status()->text(), kSearching);
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);
        QCOMPARE(rowTexts(scan(), 0), (QStringList{"-70", "Alpha", addressOf(first)}));
        QCOMPARE(scan()->item(0, 1)->textAlignment(), int(Qt::AlignCenter));

        auto second = addBridge(0xC0510000A002, "Beta", -55);
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 2, kWait);
        QCOMPARE(rowOf(scan(), addressOf(second)), 0);

        first->setRssi(-41);
        QTRY_COMPARE_WITH_TIMEOUT(scan()->item(rowOf(scan(), addressOf(first)), 0)->text(),
                                  QStringLiteral("-41"), kWait);
        // Many more reports of the same two devices never add rows.
        QTest::qWait(600);
        QCOMPARE(scan()->rowCount(), 2);
        QCOMPARE(dialog_->deviceList().size(), 2);
    }

    void nameHeardLaterFillsTheRow() {
        make();
        scanButton()->click();
        std::thread([] {
            blesetting::Advertisement_Info_Callback("00:00:00:00:02:01", nullptr, -50, nullptr);
            blesetting::Advertisement_Info_Callback("00:00:00:00:02:01", "温湿度传感器", -51, nullptr);
            blesetting::Advertisement_Info_Callback("00:00:00:00:02:01", "Renamed", -52, nullptr);
        }).join();
        QTRY_COMPARE(scan()->rowCount(), 1);
        QTRY_COMPARE(scan()->item(0, 0)->text(), QStringLiteral("-52"));
        // Filled in once; a name already shown is kept.
        QCOMPARE(scan()->item(0, 1)->text(), QStringLiteral("温湿度传感器"));
        QCOMPARE(dialog_->deviceList().first().devName, QStringLiteral("温湿度传感器"));
    }

    void unnamedDeviceShowsEmptyName() {
        make();
        auto bridge = addBridge(0xC0510000A003, "", -60);
        scanButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);
        QCOMPARE(rowTexts(scan(), 0), (QStringList{"-60", "", addressOf(bridge)}));
    }

    void silentDevicesAreRemovedByTheirOwnAge() {
        make();
        fakeSecond = 58;
        auto early = addBridge(0xC0510000A004, "Early", -60);
        scanButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);
        early->setInRange(false);
        radio_->settle();
        QCoreApplication::processEvents();

        fakeSecond = 1;
        auto late = addBridge(0xC0510000A005, "Late", -60);
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 2, kWait);
        late->setInRange(false);
        radio_->settle();
        QCoreApplication::processEvents();

        // Second 2: heard 4 s ago across the minute, and 1 s ago.
        fakeSecond = 2;
        dialog_->fflushBleDevSlot();
        QCOMPARE(scan()->rowCount(), 2);

        fakeSecond = 3;
        dialog_->fflushBleDevSlot();
        QCOMPARE(scan()->rowCount(), 1);
        QCOMPARE(rowOf(scan(), addressOf(late)), 0);
        QCOMPARE(dialog_->deviceList().size(), 1);

        // The timer does the same without help once a device has been silent long enough.
        fakeSecond = 6;
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 0, kWait);
        QVERIFY(dialog_->deviceList().isEmpty());
    }

    void stopKeepsRowsAndStartingClears() {
        make();
        addBridge(0xC0510000A006, "Keep", -60);
        scanButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);

        scanButton()->click();
        QVERIFY(!dialog_->isScanning());
        QVERIFY(!dialog_->isFlushing());
        QCOMPARE(scanButton()->text(), QStringLiteral("开始扫描"));
        QCOMPARE(status()->text(), kIdleShort);
        QCOMPARE(scan()->rowCount(), 1);

        scanButton()->click();
        QCOMPARE(scan()->rowCount(), 0);
        QVERIFY(dialog_->deviceList().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);

        // Opening the dialog again empties the list and keeps a running scan going.
        dialog_->clearCurrentScanSlot();
        QCOMPARE(scan()->rowCount(), 0);
        QVERIFY(dialog_->isScanning());
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);

        // Closing stops the scan; the next opening starts it.
        QSignalSpy autoConnect(dialog_.get(), SIGNAL(autoConnectSignal(bool)));
        dialog_->close();
        QVERIFY(!dialog_->isScanning());
        QCOMPARE(autoConnect.count(), 1);
        dialog_->clearCurrentScanSlot();
        QVERIFY(dialog_->isScanning());
    }

    void radioOffStopsScanWithWarning() {
        make();
        radio_->setRadioOn(false);
        scanButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog_->isScanning(), kWait);
        QCOMPARE(prompts_->texts(), QStringList{"请打开蓝牙！"});
        QCOMPARE(prompts_->seen.first().icon, QMessageBox::Warning);
        QCOMPARE(prompts_->seen.first().title, QStringLiteral("Tavrion"));
        QCOMPARE(scanButton()->text(), QStringLiteral("开始扫描"));
        // Silent devices are still swept after such a stop.
        QVERIFY(dialog_->isFlushing());
    }

    void connectFromScanTableRecordsAndAnnounces() {
        make();
        auto bridge = addBridge(0xC0510000B001, "Bench", -60);
        const QString address = addressOf(bridge);
        scanButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);

        QSignalSpy announced(dialog_.get(),
                             SIGNAL(bleConnectSuccSiganl(QB7720HANDLE*, gatt_stream_t*, QString, QString)));
        QSignalSpy mtu(dialog_.get(), SIGNAL(MTUSignal(int)));
        doubleClickRow(scan(), 0);

        QVERIFY(dialog_->connectionHandle() != nullptr);
        QVERIFY(bridge->connected());
        QVERIFY(!dialog_->isScanning());
        QVERIFY(dialog_->isFlushing());
        QCOMPARE(status()->text(), QStringLiteral("当前连接设备：Bench"));
        QCOMPARE(label("label_MTU")->text(), QStringLiteral("MTU : 247"));
        QCOMPARE(mtu.count(), 1);
        QCOMPARE(mtu.first().at(0).toInt(), 247);
        QCOMPARE(announced.count(), 1);
        QCOMPARE(announced.first().at(0).value<QB7720HANDLE*>(), dialog_->connectionHandle());
        QVERIFY(announced.first().at(1).value<gatt_stream_t*>() != nullptr);
        QCOMPARE(announced.first().at(2).toString(), address);
        QCOMPARE(announced.first().at(3).toString(), QStringLiteral("Bench"));
        QCOMPARE(rowOf(scan(), address), -1);
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "Bench", address}));
        QVERIFY(prompts_->seen.isEmpty());

        // The record is written once the connecting slot has returned.
        QTRY_COMPARE(WorkingDirectory::records(), ("last Bench " + address + "\n").toUtf8());
    }

    void failedConnectionRestartsScan() {
        make();
        auto bridge = addBridge(0xC0510000B002, "Gone", -60);
        scanButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(scan()->rowCount(), 1, kWait);
        bridge->setInRange(false);
        radio_->settle();

        QSignalSpy announced(dialog_.get(),
                             SIGNAL(bleConnectSuccSiganl(QB7720HANDLE*, gatt_stream_t*, QString, QString)));
        doubleClickRow(scan(), 0);
        QCOMPARE(dialog_->connectionHandle(), nullptr);
        QCOMPARE(prompts_->texts(), QStringList{"连接失败！请重新连接。"});
        QCOMPARE(status()->text(), kIdleShort);
        QVERIFY(dialog_->isScanning());
        QCOMPARE(scanButton()->text(), QStringLiteral("停止扫描"));
        // Nothing was closed, so the window hears nothing.
        QCOMPARE(announced.count(), 0);
        QCOMPARE(record()->rowCount(), 0);
        QTest::qWait(50);
        QCOMPARE(WorkingDirectory::records(), QByteArray());
    }

    void switchingDevicesAsksFirst() {
        make();
        auto a = addBridge(0xC0510000B003, "A", -60);
        auto b = addBridge(0xC0510000B004, "B", -60);
        connectFromScan(a);
        scanButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(scan(), addressOf(b)) >= 0, kWait);

        // Declined: the old link stays, the status line keeps the connecting text.
        doubleClickRow(scan(), rowOf(scan(), addressOf(b)));
        QCOMPARE(prompts_->texts(), QStringList{"有设备连接，是否断开?"});
        QVERIFY(a->connected());
        QVERIFY(!b->connected());
        QCOMPARE(status()->text(), kConnecting);

        // Accepted: A is closed, B connected and recorded as the last device.
        prompts_->answers << QMessageBox::Yes;
        scanButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(scan(), addressOf(b)) >= 0, kWait);
        doubleClickRow(scan(), rowOf(scan(), addressOf(b)));
        QTRY_VERIFY(!a->connected());
        QVERIFY(b->connected());
        QCOMPARE(status()->text(), QStringLiteral("当前连接设备：B"));
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "B", addressOf(b)}));
        QCOMPARE(rowTexts(record(), 1), (QStringList{kLost, "A", addressOf(a)}));
        QTRY_COMPARE(WorkingDirectory::records(),
                     ("1 A " + addressOf(a) + "\nlast B " + addressOf(b) + "\n").toUtf8());
    }

    void recordTableDisconnectsAndReconnects() {
        make();
        auto a = addBridge(0xC0510000B005, "A", -60);
        auto b = addBridge(0xC0510000B006, "B", -60);
        connectFromScan(b);
        connectFromScan(a, QMessageBox::Yes);
        QTRY_COMPARE(WorkingDirectory::records(),
                     ("1 B " + addressOf(b) + "\nlast A " + addressOf(a) + "\n").toUtf8());
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "A", addressOf(a)}));
        prompts_->seen.clear();

        // B while A is connected: only disconnects, after asking.
        QSignalSpy announced(dialog_.get(),
                             SIGNAL(bleConnectSuccSiganl(QB7720HANDLE*, gatt_stream_t*, QString, QString)));
        prompts_->answers << QMessageBox::Yes;
        doubleClickRow(record(), rowOf(record(), addressOf(b)));
        QCOMPARE(prompts_->texts(), QStringList{"有设备连接，是否断开?"});
        QCOMPARE(dialog_->connectionHandle(), nullptr);
        QTRY_VERIFY(!a->connected());
        QVERIFY(!b->connected());
        QCOMPARE(announced.count(), 1);
        QCOMPARE(announced.first().at(0).value<QB7720HANDLE*>(), nullptr);
        QVERIFY(announced.first().at(2).toString().isNull());
        QCOMPARE(status()->text(), kIdleLong);
        QCOMPARE(rowTexts(record(), 0).first(), kLost);

        // A second double-click connects B; the record file does not move its mark.
        doubleClickRow(record(), rowOf(record(), addressOf(b)));
        QVERIFY(b->connected());
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "B", addressOf(b)}));
        QCOMPARE(rowTexts(record(), 1), (QStringList{kLost, "A", addressOf(a)}));
        QCOMPARE(status()->text(), QStringLiteral("当前连接设备：B"));
        QCOMPARE(label("label_MTU")->text(), QStringLiteral("MTU : 247"));
        QTest::qWait(50);
        QCOMPARE(WorkingDirectory::records(),
                 ("1 B " + addressOf(b) + "\nlast A " + addressOf(a) + "\n").toUtf8());

        // The connected record: No keeps it, Yes closes it and restarts the scan.
        doubleClickRow(record(), 0);
        QVERIFY(b->connected());
        prompts_->answers << QMessageBox::Yes;
        doubleClickRow(record(), 0);
        QTRY_VERIFY(!b->connected());
        QCOMPARE(dialog_->connectionHandle(), nullptr);
        QCOMPARE(status()->text(), kIdleLong);
        QCOMPARE(label("label_MTU")->text(), QStringLiteral("MTU :     "));
        QVERIFY(dialog_->isScanning());
        QCOMPARE(rowTexts(record(), 0).first(), kLost);
    }

    void recordTableFailureAndDecline() {
        auto held = addBridge(0xC0510000B009, "Held", -60);
        WorkingDirectory::writeRecords("1 Away C0:51:00:00:0B:0A\n");
        make();
        QCOMPARE(rowTexts(record(), 0), (QStringList{kNever, "Away", "C0:51:00:00:0B:0A"}));

        // Nothing answers at that address: a warning, and the scan starts again.
        doubleClickRow(record(), 0);
        QCOMPARE(prompts_->texts(), QStringList{"连接失败！请重新连接。"});
        QCOMPARE(dialog_->connectionHandle(), nullptr);
        QVERIFY(dialog_->isScanning());
        QCOMPARE(rowTexts(record(), 0).first(), kNever);

        // Declining to drop the device held leaves it connected and the status line as it was.
        connectFromScan(held);
        prompts_->seen.clear();
        doubleClickRow(record(), rowOf(record(), QStringLiteral("C0:51:00:00:0B:0A")));
        QCOMPARE(prompts_->texts(), QStringList{"有设备连接，是否断开?"});
        QVERIFY(held->connected());
        QCOMPARE(status()->text(), QStringLiteral("当前连接设备：Held"));
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "Held", addressOf(held)}));
    }

    void recordedDeviceFromScanTableKeepsStoredName() {
        auto a = addBridge(0xC0510000B007, "New name", -60);
        auto b = addBridge(0xC0510000B008, "Other", -60);
        WorkingDirectory::writeRecords(
            ("last Other " + addressOf(b) + "\n1 Old name " + addressOf(a) + "\n").toUtf8());
        make();
        // Reverse file order: the last line is the top row.
        QCOMPARE(rowTexts(record(), 0), (QStringList{kNever, "Old name", addressOf(a)}));
        QCOMPARE(rowTexts(record(), 1), (QStringList{kNever, "Other", addressOf(b)}));

        connectFromScan(b);
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "Other", addressOf(b)}));
        QCOMPARE(rowTexts(record(), 1), (QStringList{kNever, "Old name", addressOf(a)}));
        QCOMPARE(record()->rowCount(), 2);

        connectFromScan(a, QMessageBox::Yes);
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "Old name", addressOf(a)}));
        QCOMPARE(record()->rowCount(), 2);
        QTRY_COMPARE(WorkingDirectory::records(),
                     ("1 Other " + addressOf(b) + "\nlast Old name " + addressOf(a) + "\n").toUtf8());
    }

    void automaticConnectionTakesOnlyTheLastDevice() {
        auto other = addBridge(0xC0510000C001, "Other", -60);
        auto last = addBridge(0xC0510000C002, "", -60);
        WorkingDirectory::writeRecords(
            ("last Saved " + addressOf(last) + "\n1 Other " + addressOf(other) + "\n").toUtf8());
        make();
        check("checkBox_autoConnect")->setChecked(true);
        QSignalSpy handedOver(dialog_.get(), SIGNAL(autoConnectInfoSignal(QString, QString)));
        scanButton()->click();

        QTRY_VERIFY_WITH_TIMEOUT(last->connected(), kWait);
        QCOMPARE(handedOver.count(), 1);
        QCOMPARE(handedOver.first().at(0).toString(), QStringLiteral("none"));
        QCOMPARE(handedOver.first().at(1).toString(), addressOf(last));
        QVERIFY(!dialog_->isScanning());
        QCOMPARE(status()->text(), QStringLiteral("当前连接设备：none"));
        QCOMPARE(rowOf(scan(), addressOf(last)), -1);
        QCOMPARE(rowTexts(record(), 0), (QStringList{kConnected, "Saved", addressOf(last)}));
        QVERIFY(!other->connected());
        QCOMPARE(record()->rowCount(), 2);
        QTRY_COMPARE(WorkingDirectory::records(),
                     ("last Saved " + addressOf(last) + "\n1 Other " + addressOf(other) + "\n").toUtf8());

        // Scanning again while connected: the device held is not taken a second time.
        scanButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(scan(), addressOf(other)) >= 0, kWait);
        QTest::qWait(300);
        QCOMPARE(handedOver.count(), 1);
        QVERIFY(last->connected());
        QVERIFY(prompts_->seen.isEmpty());
    }

    void automaticConnectionFailureRearms() {
        auto last = addBridge(0xC0510000C003, "Flaky", -60);
        WorkingDirectory::writeRecords(("last Flaky " + addressOf(last) + "\n").toUtf8());
        make();
        check("checkBox_autoConnect")->setChecked(true);
        radio_->failConnects(*last, 1000);
        scanButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(prompts_->texts(), QStringList{"连接失败！请重新连接。"}, kWait);
        QCOMPARE(status()->text(), kIdleShort);
        QVERIFY(!dialog_->isScanning());
        QCOMPARE(dialog_->connectionHandle(), nullptr);

        // Armed again: the next scan tries once more.
        radio_->clearFaults();
        scanButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(last->connected(), kWait);
    }

    void deletingRecords() {
        auto a = addBridge(0xC0510000D001, "A", -60);
        auto b = addBridge(0xC0510000D002, "B", -60);
        WorkingDirectory::writeRecords(("1 A " + addressOf(a) + "\nlast B " + addressOf(b) + "\n").toUtf8());
        make();
        connectFromScan(a);
        QTRY_COMPARE(WorkingDirectory::records(),
                     ("last A " + addressOf(a) + "\n1 B " + addressOf(b) + "\n").toUtf8());

        // A record that is not connected goes without a question.
        record()->setCurrentCell(rowOf(record(), addressOf(b)), 0);
        deleteAction()->trigger();
        QVERIFY(prompts_->seen.isEmpty());
        QCOMPARE(record()->rowCount(), 1);
        QCOMPARE(WorkingDirectory::records(), ("last A " + addressOf(a) + "\n").toUtf8());

        // The connected one asks; No keeps everything.
        record()->setCurrentCell(0, 1);
        deleteAction()->trigger();
        QCOMPARE(prompts_->texts(), QStringList{"是否断开连接再删除此条记录!"});
        QCOMPARE(record()->rowCount(), 1);
        QVERIFY(a->connected());

        QSignalSpy announced(dialog_.get(),
                             SIGNAL(bleConnectSuccSiganl(QB7720HANDLE*, gatt_stream_t*, QString, QString)));
        prompts_->answers << QMessageBox::Yes;
        deleteAction()->trigger();
        QTRY_VERIFY(!a->connected());
        QCOMPARE(record()->rowCount(), 0);
        QCOMPARE(dialog_->connectionHandle(), nullptr);
        QCOMPARE(status()->text(), kIdleLong);
        QCOMPARE(label("label_MTU")->text(), QStringLiteral("MTU :     "));
        QCOMPARE(announced.count(), 1);
        QCOMPARE(announced.first().at(0).value<QB7720HANDLE*>(), nullptr);
        QCOMPARE(WorkingDirectory::records(), QByteArray());

        // Without a current row nothing happens.
        deleteAction()->trigger();
        QCOMPARE(prompts_->seen.size(), 2);
    }

    void serialSettingsReachTheBridge() {
        make();
        // Starts from other values than the dialog's defaults, so that every default sent shows.
        BridgeConfig config;
        config.address = 0xC0510000E001;
        config.name = "Line";
        config.line = {9600, 7, 2, 1};
        config.modem = {true, true, true};
        auto bridge = radio_->addBridge(config);
        bridges_.push_back(bridge);
        connectFromScan(bridge);
        QSignalSpy report(dialog_.get(), SIGNAL(uartBaudInfo(int, bool, int, int, int, int, int)));

        button("Bt_TavrionSetting")->click();
        QCOMPARE(prompts_->texts(), QStringList{"串口设置成功"});
        QCOMPARE(prompts_->seen.first().icon, QMessageBox::Information);
        QCOMPARE(bridge->lineSettings().baud, 115200u);
        QCOMPARE(bridge->lineSettings().dataBits, 8);
        QCOMPARE(bridge->lineSettings().stopBits, 1);
        QCOMPARE(bridge->lineSettings().parity, 0);
        QCOMPARE(bridge->modemOutputs(), (qb::emulator::ModemOutputs{false, false, false}));
        QCOMPARE(report.count(), 1);
        QCOMPARE(report.first(), (QList<QVariant>{115200, false, 8, 1, 0, -1, 0}));

        // Typed and chosen values; DTR follows its selector while flow control is off.
        combo("comboBox_baudrate")->setEditText(QStringLiteral("57600"));
        combo("comboBox_databits")->setCurrentIndex(2);
        combo("comboBox_stopbits")->setCurrentIndex(1);
        combo("comboBox_parity")->setCurrentIndex(2);
        combo("comboBox_DTR")->setCurrentIndex(1);
        button("Bt_TavrionSetting")->click();
        QCOMPARE(bridge->lineSettings().baud, 57600u);
        QCOMPARE(bridge->lineSettings().dataBits, 7);
        QCOMPARE(bridge->lineSettings().stopBits, 2);
        QCOMPARE(bridge->lineSettings().parity, 2);
        QCOMPARE(bridge->modemOutputs(), (qb::emulator::ModemOutputs{false, true, false}));
        QCOMPARE(report.last(), (QList<QVariant>{57600, false, 7, 2, 2, -1, 1}));

        // Flow control asks for (1, 1, 1) and reports the RTS selector.
        check("checkBox_autoHardFlow")->setChecked(true);
        QVERIFY(combo("comboBox_RTS")->isEnabled());
        QVERIFY(label("label_6")->isEnabled());
        combo("comboBox_DTR")->setCurrentIndex(0);
        button("Bt_TavrionSetting")->click();
        QCOMPARE(bridge->modemOutputs(), (qb::emulator::ModemOutputs{true, true, true}));
        QCOMPARE(report.last(), (QList<QVariant>{57600, true, 7, 2, 2, 0, 0}));
        check("checkBox_autoHardFlow")->setChecked(false);
        QVERIFY(!combo("comboBox_RTS")->isEnabled());

        // Text that is not a number reads as 0 and a word size no UART has is refused here, before
        // the bridge could take it; the modem request still follows, but the window is not told of a
        // line the bridge does not run.
        const std::pair<const char*, const char*> refused[] = {{"comboBox_baudrate", "fast"},
                                                               {"comboBox_databits", "9"}};
        for (const auto& [name, text] : refused) {
            const QString previous = combo(name)->currentText();
            combo(name)->setEditText(QString::fromUtf8(text));
            prompts_->seen.clear();
            combo("comboBox_DTR")->setCurrentIndex(1 - combo("comboBox_DTR")->currentIndex());
            const int dtr = combo("comboBox_DTR")->currentIndex();
            const auto framesBefore = bridge->frameCount();
            button("Bt_TavrionSetting")->click();
            QCOMPARE(prompts_->texts(), QStringList{"设置失败，请重新设置。"});
            QCOMPARE(bridge->lineSettings().baud, 57600u);
            QCOMPARE(bridge->lineSettings().dataBits, 7);
            QCOMPARE(bridge->frameCount(), framesBefore + 1);
            QCOMPARE(bridge->modemOutputs().dtr, dtr == 1);
            combo(name)->setEditText(previous);
        }
        QCOMPARE(report.count(), 3);
    }

    void serialSettingsWithoutConnectionOfferScan() {
        make();
        QSignalSpy report(dialog_.get(), SIGNAL(uartBaudInfo(int, bool, int, int, int, int, int)));
        button("Bt_TavrionSetting")->click();
        QCOMPARE(prompts_->texts(), QStringList{"请先连接蓝牙!"});
        QVERIFY(!dialog_->isScanning());
        prompts_->answers << QMessageBox::Yes;
        button("Bt_TavrionSetting")->click();
        QVERIFY(dialog_->isScanning());
        // A running scan is not stopped by a second Yes.
        prompts_->answers << QMessageBox::Yes;
        button("Bt_TavrionSetting")->click();
        QVERIFY(dialog_->isScanning());
        QCOMPARE(report.count(), 0);
    }

    void escapeClosesTheDialog() {
        make();
        QVERIFY(dialog_->isVisible());
        // From a control inside it as from the dialog itself.
        QTest::keyClick(combo("comboBox_baudrate"), Qt::Key_Escape);
        QVERIFY(!dialog_->isVisible());
        dialog_->show();
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
        QVERIFY(!dialog_->isVisible());
    }

    void windowModemBoxesMoveSelectors() {
        make();
        dialog_->changeDTR(true);
        QCOMPARE(combo("comboBox_DTR")->currentIndex(), 1);
        dialog_->changeRTS(true);
        QCOMPARE(combo("comboBox_RTS")->currentIndex(), 1);
        dialog_->changeDTR(false);
        QCOMPARE(combo("comboBox_DTR")->currentIndex(), 0);
        QVERIFY(prompts_->seen.isEmpty());
    }

    void controllerVersion() {
        QB_IN_PROCESS_ONLY("the controller version is read from the kernel, not the bus");
        make();
        auto emu = radio_->emulator();
        button("Bt_GetBleVer")->click();
        emu->setControllerVersion(0);
        button("Bt_GetBleVer")->click();
        emu->setControllerVersion(12);
        button("Bt_GetBleVer")->click();
        emu->setControllerVersion(std::nullopt);
        button("Bt_GetBleVer")->click();
        QCOMPARE(prompts_->texts(),
                 (QStringList{"控制器版本为5.0", "控制器版本为1.0", "控制器版本为5.3", "请打开蓝牙！"}));
        QCOMPARE(prompts_->seen.at(0).icon, QMessageBox::Information);
        QCOMPARE(prompts_->seen.at(3).icon, QMessageBox::Warning);
    }

    void fileChoosers() {
        make();
        QList<dialogprompt::FileRequest> requests;
        QStringList answers{"/data/发送.bin", "", "/data/收.txt"};
        dialogprompt::setFileHook([&](const dialogprompt::FileRequest& request) {
            requests << request;
            return answers.takeFirst();
        });
        QSignalSpy sendPath(dialog_.get(), SIGNAL(sendFilePathSignal(QString)));
        QSignalSpy recvPath(dialog_.get(), SIGNAL(recvFilePathSignal(QString)));

        button("Bt_BleSendFile")->click();
        QCOMPARE(lineEdit("lineEdit_sendFile")->text(), QStringLiteral("/data/发送.bin"));
        button("Bt_BleSendFile")->click();
        // Cancelled: the window hears that no file is chosen, the old name stays in view.
        QCOMPARE(lineEdit("lineEdit_sendFile")->text(), QStringLiteral("/data/发送.bin"));
        QCOMPARE(sendPath.count(), 2);
        QCOMPARE(sendPath.at(0).at(0).toString(), QStringLiteral("/data/发送.bin"));
        QCOMPARE(sendPath.at(1).at(0).toString(), QString());

        button("Bt_BleRecvFile")->click();
        QCOMPARE(lineEdit("lineEdit_recvFile")->text(), QStringLiteral("/data/收.txt"));
        QCOMPARE(recvPath.count(), 1);
        dialogprompt::setFileHook({});

        QCOMPARE(requests.at(0).kind, dialogprompt::Chooser::Open);
        QCOMPARE(requests.at(0).caption, QStringLiteral("请选择要发送的文件"));
        QCOMPARE(requests.at(2).kind, dialogprompt::Chooser::Save);
        QCOMPARE(requests.at(2).caption, QStringLiteral("请选择要保存的文件路径"));
        QCOMPARE(requests.at(2).filter, QStringLiteral("ALL(*)"));

        // Paths set by the window are shown and not sent back.
        dialog_->changeFilePathSloT(0, QStringLiteral("/r"));
        dialog_->changeFilePathSloT(1, QStringLiteral("/s"));
        dialog_->changeFilePathSloT(2, QStringLiteral("/x"));
        QCOMPARE(lineEdit("lineEdit_recvFile")->text(), QStringLiteral("/r"));
        QCOMPARE(lineEdit("lineEdit_sendFile")->text(), QStringLiteral("/s"));
        QCOMPARE(sendPath.count() + recvPath.count(), 3);
    }

    void reportsFromAnotherThreadArriveInOrder() {
        make();
        scanButton()->click();
        // Many reports of distinct devices from a foreign thread: every one listed, in the order sent.
        constexpr int kDevices = 40;
        std::thread sender([] {
            for (int i = 0; i < kDevices; ++i) {
                const QByteArray address =
                    QStringLiteral("00:00:00:00:00:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper().toLatin1();
                blesetting::Advertisement_Info_Callback(address.constData(), "T",
                                                        static_cast<signed char>(-i), nullptr);
            }
            blesetting::Advertisement_Info_Callback(nullptr, nullptr, 0, nullptr);
            blesetting::Advertisement_Info_Callback(nullptr, "no address", 0, nullptr);
        });
        sender.join();
        QTRY_COMPARE(scan()->rowCount(), kDevices);
        QCOMPARE(scan()->item(0, 1)->text(), QStringLiteral("T"));
        for (int i = 0; i < kDevices; ++i)
            QCOMPARE(dialog_->deviceList().at(i).rssi, static_cast<signed char>(-i));
        QCOMPARE(scan()->item(0, 0)->text(), QString::number(-(kDevices - 1)));

        // Once the scan is stopped, late reports change nothing.
        scanButton()->click();
        std::thread([] {
            blesetting::Advertisement_Info_Callback("00:00:00:00:01:00", "Late", -1, nullptr);
        }).join();
        QTest::qWait(50);
        QCOMPARE(scan()->rowCount(), kDevices);
        QCOMPARE(dialog_->deviceList().size(), kDevices);
    }

  private:
    void make() {
        dialog_ = std::make_unique<blesetting>();
        dialog_->show();
    }

    std::shared_ptr<TestBridge> addBridge(std::uint64_t address, const std::string& name, int rssi) {
        BridgeConfig config;
        config.address = address;
        config.name = name;
        config.rssi = static_cast<std::int16_t>(rssi);
        bridges_.push_back(radio_->addBridge(config));
        return bridges_.back();
    }

    // Scans until the bridge is listed and double-clicks it, answering a question with `answer`.
    void connectFromScan(const std::shared_ptr<TestBridge>& bridge,
                         QMessageBox::StandardButton answer = QMessageBox::NoButton) {
        if (!dialog_->isScanning()) scanButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(scan(), addressOf(bridge)) >= 0, kWait);
        if (answer != QMessageBox::NoButton) prompts_->answers << answer;
        doubleClickRow(scan(), rowOf(scan(), addressOf(bridge)));
        QVERIFY(bridge->connected());
        QCOMPARE(dialog_->connectionHandle() != nullptr, true);
    }

    template <typename T>
    T* child(const char* name) const {
        T* found = dialog_->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    QTableWidget* scan() const { return child<QTableWidget>("tableWidget_scan"); }
    QTableWidget* record() const { return child<QTableWidget>("tableWidget_record"); }
    QLabel* status() const { return child<QLabel>("label_devStatus"); }
    QLabel* label(const char* name) const { return child<QLabel>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QPushButton* scanButton() const { return button("Bt_BleScan"); }
    QCheckBox* check(const char* name) const { return child<QCheckBox>(name); }
    QComboBox* combo(const char* name) const { return child<QComboBox>(name); }
    QLineEdit* lineEdit(const char* name) const { return child<QLineEdit>(name); }
    QAction* deleteAction() const {
        for (QAction* action : record()->findChildren<QAction*>())
            if (action->text() == QStringLiteral("删除记录")) return action;
        qFatal("no delete action");
    }

    std::unique_ptr<qb::test::TestRadio> radio_;
    std::vector<std::shared_ptr<TestBridge>> bridges_;
    std::unique_ptr<WorkingDirectory> cwd_;
    std::unique_ptr<Prompts> prompts_;
    std::unique_ptr<blesetting> dialog_;
};

QTEST_MAIN(BleSettingTest)
#include "blesetting_test.moc"
