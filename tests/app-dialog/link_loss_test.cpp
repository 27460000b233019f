// A link dropped by the bridge reaches the dialog through the real main window.
#include <QLabel>
#include <QSignalSpy>

#include "blesetting.h"
#include "testsupport.h"
#include "widget.h"

using qb::emulator::BridgeConfig;

class LinkLossTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        radio_ = qb::test::TestRadio::create();
    }

    void droppedLinkResetsDialog() {
        WorkingDirectory cwd;
        Prompts prompts;
        BridgeConfig config;
        config.address = 0xC0510000F001;
        config.name = "Drop";
        auto bridge = radio_->addBridge(config);
        const QString address = addressOf(bridge);

        Widget window;
        blesetting* dialog = window.settingDialogForTest();
        QVERIFY(dialog);
        auto* scan = dialog->findChild<QTableWidget*>(QStringLiteral("tableWidget_scan"));
        auto* record = dialog->findChild<QTableWidget*>(QStringLiteral("tableWidget_record"));
        auto* status = dialog->findChild<QLabel*>(QStringLiteral("label_devStatus"));
        auto* mtu = dialog->findChild<QLabel*>(QStringLiteral("label_MTU"));

        // The window's settings button opens the dialog, which starts scanning.
        window.findChild<QPushButton*>(QStringLiteral("Bt_setting"))->click();
        QVERIFY(dialog->isScanning());
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(scan, address) >= 0, 5000);
        doubleClickRow(scan, rowOf(scan, address));
        QVERIFY(bridge->connected());
        QTRY_COMPARE(window.connectionHandle(), dialog->connectionHandle());

        bridge->dropLink();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->connectionHandle(), nullptr, 5000);
        QCOMPARE(window.connectionHandle(), nullptr);
        QVERIFY(prompts.texts().contains(QStringLiteral("蓝牙连接已断开!")));
        QCOMPARE(record->item(0, 0)->text(), QStringLiteral("连接断开"));
        QCOMPARE(status->text(), QStringLiteral("当前连接设备： 当前无连接，请连接设备...     "));
        QCOMPARE(mtu->text(), QStringLiteral("MTU :      "));

        // A late second report of the same loss finds nothing to close and changes nothing (the
        // platform calls are counted in process only).
        auto emu = radio_->emulator();
        const auto cccdWrites = emu ? emu->callCount(qb::emulator::Operation::CharacteristicWriteCccd) : 0;
        const auto closes = emu ? emu->callCount(qb::emulator::Operation::DeviceClose) : 0;
        QMetaObject::invokeMethod(&window, "bleDisconnectSignal");
        QCoreApplication::processEvents();
        QCOMPARE(dialog->connectionHandle(), nullptr);
        QCOMPARE(record->item(0, 0)->text(), QStringLiteral("连接断开"));
        if (emu) {
            QCOMPARE(emu->callCount(qb::emulator::Operation::CharacteristicWriteCccd), cccdWrites);
            QCOMPARE(emu->callCount(qb::emulator::Operation::DeviceClose), closes);
        }

        // The device can be connected again from its record.
        doubleClickRow(record, 0);
        QVERIFY(bridge->connected());
        QCOMPARE(record->item(0, 0)->text(), QStringLiteral("已连接"));
        QTRY_COMPARE(window.connectionHandle(), dialog->connectionHandle());
        window.hide();
        prompts.answers << QMessageBox::Yes;
        dialog->changeRecordSlot(0, 0);
        QTRY_VERIFY(!bridge->connected());
        QTRY_COMPARE(window.connectionHandle(), nullptr);
        radio_->removeDevice(bridge->address());
    }

  private:
    std::unique_ptr<qb::test::TestRadio> radio_;
};

QTEST_MAIN(LinkLossTest)
#include "link_loss_test.moc"
