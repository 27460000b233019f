// The window against emulated bridges through the real device library: connecting, the chunk rule,
// single and timed sending, file transfer, modem lines and link loss.
#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <random>

#include "TestRadio.h"
#include "blesetting.h"
#include "windowtest.h"

using qb::emulator::BridgeConfig;
using qb::emulator::VirtualBridge;
using qb::emulator::WriteRecord;
using qb::test::TestBridge;

namespace {
QByteArray toQt(const qb::platform::Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
}

QByteArray randomBytes(int size, unsigned seed) {
    std::mt19937 gen(seed);
    QByteArray out(size, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xff);
    return out;
}
}  // namespace

class WindowDeviceTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectionOpensBothNotifications();
    void connectionWithoutAddressOnlyClearsCounters();
    void dialogClosingTheLinkReleasesIt();
    void chunkRule_data();
    void chunkRule();
    void hexMessagesAndTheZeroByte();
    void messageLimit4096();
    void noMtuNoSending();
    void timedSendingPacesAndStops();
    void timedSendingEncodesLikeASingleSend();
    void timedSendingFailure();
    void fileThroughLoopbackArrivesByteForByte();
    void cancelledFileChoiceAsksAgain();
    void emptyFileCompletes();
    void unreadableFileGivesControlsBack();
    void writeFailureEndsTransfer();
    void interruption();
    void modemInputsFromThePeer();
    void modemOutputsReachTheBridge();
    void linkDroppedResetsWindow();
    void reconnectionDuringTheLossBoxIsKept();
    void lateLossReportOfAnOldLinkIsIgnored();
    void linkLossDuringTransferSaysIncomplete();
    void sendsRefusedDuringTransfer();
    void transferWaitsOutALongPause();
    void textSurvivesLoopback_data();
    void textSurvivesLoopback();
    void exitStopsTimedSending();

  private:
    std::shared_ptr<TestBridge> addBridge(BridgeConfig config = {});
    void connectTo(const std::shared_ptr<TestBridge>& bridge);
    // Data writes to the transmit characteristic, in order.
    QList<WriteRecord> dataWrites(const std::shared_ptr<TestBridge>& bridge) const;
    QString writeFile(const char* name, const QByteArray& content);
    // A bridge slow enough that a large file is still being sent when the test acts.
    std::shared_ptr<TestBridge> addSlowSink();

    std::unique_ptr<qb::test::TestRadio> radio;
    QTemporaryDir dir;
    Widget* w = nullptr;
    BoxRecorder* boxes = nullptr;
    std::shared_ptr<TestBridge> bridge;
};

void WindowDeviceTest::initTestCase() {
    QVERIFY(dir.isValid());
    QDir::setCurrent(dir.path());
    qputenv("HOME", QFile::encodeName(dir.path()));
    radio = qb::test::TestRadio::create();
}

void WindowDeviceTest::init() {
    boxes = new BoxRecorder;
    w = new Widget;
}

void WindowDeviceTest::cleanup() {
    if (w->fileWorkerForTest()) {
        w->fileWorkerForTest()->stopThread();
        QTRY_VERIFY_WITH_TIMEOUT(!w->fileWorkerForTest(), 20000);
    }
    // A test may have left a hook of its own that refers to its locals.
    delete boxes;
    boxes = new BoxRecorder;
    QCloseEvent close;
    QApplication::sendEvent(w, &close);  // closes a held connection
    delete w;
    w = nullptr;
    delete boxes;
    boxes = nullptr;
    radio->clearFaults();
    if (bridge) radio->removeDevice(bridge->address());
    bridge.reset();
}

std::shared_ptr<TestBridge> WindowDeviceTest::addBridge(BridgeConfig config) {
    bridge = radio->addBridge(std::move(config));
    return bridge;
}

std::shared_ptr<TestBridge> WindowDeviceTest::addSlowSink() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    config.link = *qb::emulator::LinkModel::preset("le-1m");
    config.transmitBufferSize = 1 << 22;
    config.pauseLevel = config.transmitBufferSize;
    return addBridge(config);
}

void WindowDeviceTest::connectTo(const std::shared_ptr<TestBridge>& b) {
    const QString address = QString::fromStdString(b->addressText());
    QB7720HANDLE* handle = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
    QVERIFY(handle);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    QCOMPARE(QB7720Ble_Get_MTU(handle, &stream, &mtu), 0);
    blesetting* dialog = w->settingDialogForTest();
    emit dialog->MTUSignal(mtu);
    emit dialog->bleConnectSuccSiganl(handle, stream, address, QStringLiteral("QB7720-UART"));
    QVERIFY(w->connectionHandle() == nullptr);  // queued: arrives from the event loop
    QTRY_VERIFY(w->connectionHandle() == handle);
}

QList<WriteRecord> WindowDeviceTest::dataWrites(const std::shared_ptr<TestBridge>& b) const {
    QList<WriteRecord> out;
    for (const WriteRecord& r : b->writes())
        if (r.valueHandle == VirtualBridge::kTransmitValueHandle) out.append(r);
    return out;
}

QString WindowDeviceTest::writeFile(const char* name, const QByteArray& content) {
    const QString path = dir.filePath(QString::fromUtf8(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(content);
    return path;
}

void WindowDeviceTest::connectionOpensBothNotifications() {
    auto b = addBridge();
    connectTo(b);
    QTRY_COMPARE(b->clientConfiguration(VirtualBridge::kReceiveUuid), uint16_t(1));
    QTRY_COMPARE(b->clientConfiguration(VirtualBridge::kCommandUuid), uint16_t(1));
    QCOMPARE(form()->label_BleInfo->text(), QStringLiteral("QB7720-UART 115200,8,1,None"));
    QVERIFY(w->speedTimerForTest()->isActive());
    QVERIFY(form()->BoxRTS->isEnabled() && form()->BoxDTR->isEnabled());
    QCOMPARE(w->mtu(), 247);
    QCOMPARE(w->chunkSize(), 244);
    // What the loopback returns is shown: the whole receive path runs.
    form()->plainTextEdit_send->setPlainText(QStringLiteral("ping"));
    form()->BtSend->click();
    QTRY_COMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("ping"));
    QCOMPARE(form()->label_recvCounts->text(), QStringLiteral("接收 : 4"));
    QCOMPARE(form()->label_sendCounts->text(), QStringLiteral("发送 : 4"));
}

void WindowDeviceTest::connectionWithoutAddressOnlyClearsCounters() {
    auto b = addBridge();
    w->changeSendInfoSlot(10, 0);
    const QString address = QString::fromStdString(b->addressText());
    QB7720HANDLE* handle = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
    QVERIFY(handle);
    w->getConnectInfo(handle, nullptr, QString(), QString());
    QCOMPARE(w->sentBytes(), qint64(0));
    QCOMPARE(form()->label_BleInfo->text(), QStringLiteral("当前无连接，请连接设备..."));
    QVERIFY(!w->speedTimerForTest()->isActive());
    QCOMPARE(b->clientConfiguration(VirtualBridge::kReceiveUuid), uint16_t(0));
}

void WindowDeviceTest::dialogClosingTheLinkReleasesIt() {
    auto b = addBridge();
    connectTo(b);
    // The dialog closed the link itself and announces it with a null handle.
    QB7720HANDLE* handle = w->connectionHandle();
    QB7720Ble_Close_Notification(handle, "0xfff1");
    QB7720Ble_Close_Notification(handle, "0xfff3");
    QB7720Ble_Disconnect(handle);
    emit w->settingDialogForTest()->bleConnectSuccSiganl(nullptr, nullptr, QString(), QString());
    QTRY_VERIFY(w->connectionHandle() == nullptr);
    QCOMPARE(form()->label_BleInfo->text(), QStringLiteral("当前无连接，请连接设备..."));
    form()->plainTextEdit_send->setPlainText(QStringLiteral("x"));
    form()->BtSend->click();
    QCOMPARE(boxes->texts(), QStringList({"请连接蓝牙设备!"}));
}

void WindowDeviceTest::chunkRule_data() {
    QTest::addColumn<int>("mtu");
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("pieces");
    QTest::newRow("23: one full chunk") << 23 << 20 << QList<int>{20};
    QTest::newRow("23: one over") << 23 << 21 << QList<int>{20, 1};
    QTest::newRow("23: 50 bytes") << 23 << 50 << QList<int>{20, 20, 10};
    QTest::newRow("247: 244 bytes") << 247 << 244 << QList<int>{244};
    QTest::newRow("247: 500 bytes") << 247 << 500 << QList<int>{244, 244, 12};
    // An attribute value holds 512 bytes, so the largest MTU still sends 512 at a time.
    QTest::newRow("517: 1030 bytes") << 517 << 1030 << QList<int>{512, 512, 6};
}

void WindowDeviceTest::chunkRule() {
    QFETCH(int, mtu);
    QFETCH(int, length);
    QFETCH(QList<int>, pieces);
    BridgeConfig config;
    config.mtu = static_cast<uint16_t>(mtu);
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    QCOMPARE(w->mtu(), mtu);
    QByteArray message;
    for (int i = 0; i < length; ++i) message.append(static_cast<char>('a' + i % 26));
    form()->plainTextEdit_send->setPlainText(QString::fromLatin1(message));
    form()->BtSend->click();
    const auto writes = dataWrites(b);
    QList<int> sizes;
    QByteArray joined;
    for (const auto& r : writes) {
        sizes << static_cast<int>(r.value.size());
        joined += toQt(r.value);
        QVERIFY(r.withResponse);
    }
    QCOMPARE(sizes, pieces);
    QCOMPARE(joined, message);
    QCOMPARE(w->sentBytes(), qint64(length));
    QVERIFY(boxes->boxes.isEmpty());
}

void WindowDeviceTest::hexMessagesAndTheZeroByte() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    // Set before hex mode is on, so the box holds exactly these characters.
    form()->plainTextEdit_send->setPlainText(QStringLiteral("1 2"));
    form()->sendHex->setChecked(true);
    form()->BtSend->click();
    form()->plainTextEdit_send->setPlainText(QStringLiteral("41 00 42"));
    form()->BtSend->click();
    form()->plainTextEdit_send->setPlainText(QStringLiteral("zz"));
    form()->BtSend->click();  // a zero byte first: nothing to send
    const auto writes = dataWrites(b);
    QCOMPARE(writes.size(), 2);
    QCOMPARE(toQt(writes.at(0).value), QByteArray("\x10\x02", 2));
    QCOMPARE(toQt(writes.at(1).value), QByteArray("A"));
}

void WindowDeviceTest::messageLimit4096() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    form()->plainTextEdit_send->setPlainText(QString(4097, QLatin1Char('y')));
    form()->BtSend->click();
    QCOMPARE(boxes->texts(), QStringList({"超过发送缓冲区大小"}));
    QVERIFY(dataWrites(b).isEmpty());
    form()->plainTextEdit_send->setPlainText(QString(4096, QLatin1Char('y')));
    form()->BtSend->click();
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(w->sentBytes(), qint64(4096));
    QCOMPARE(dataWrites(b).size(), 17);  // 16 x 244 + 192
}

void WindowDeviceTest::noMtuNoSending() {
    auto b = addBridge();
    const QString address = QString::fromStdString(b->addressText());
    QB7720HANDLE* handle = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
    QVERIFY(handle);
    w->getConnectInfo(handle, nullptr, address, QStringLiteral("QB7720-UART"));
    QCOMPARE(w->mtu(), 0);
    form()->plainTextEdit_send->setPlainText(QStringLiteral("data"));
    form()->BtSend->click();
    form()->sendTiming->setChecked(true);
    form()->BtSend->click();
    QVERIFY(!w->timedSendingActive());
    w->getSendFilePath(writeFile("nomtu.bin", "abc"));
    form()->Bt_sendfile->click();
    QVERIFY(w->fileTransferIdle());
    QCOMPARE(boxes->texts(), QStringList({"未获取到MTU，无法发送数据", "未获取到MTU，无法发送数据",
                                          "未获取到MTU，无法发送数据"}));
    QVERIFY(dataWrites(b).isEmpty());
}

void WindowDeviceTest::timedSendingPacesAndStops() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    form()->plainTextEdit_send->setPlainText(QString(100, QLatin1Char('t')));
    form()->sendTiming->setChecked(true);
    form()->sendTimingUnit->setText(QStringLiteral("5"));
    form()->BtSend->click();
    QVERIFY(w->timedSendingActive());
    QCOMPARE(form()->BtSend->text(), QStringLiteral("停止发送"));
    QCOMPARE(form()->label_proStatus->text(), QStringLiteral("定时发送中..."));
    QVERIFY(!form()->sendTiming->isEnabled());
    QCOMPARE(w->sendTimerForTest()->interval(), 5);
    QVERIFY(dataWrites(b).isEmpty());  // the first send waits for the first tick
    QTRY_VERIFY(dataWrites(b).size() >= 6);
    form()->BtSend->click();
    QVERIFY(!w->timedSendingActive());
    QVERIFY(!w->sendTimerForTest()->isActive());
    QCOMPARE(form()->BtSend->text(), QStringLiteral("发送"));
    QCOMPARE(form()->label_proStatus->text(), QStringLiteral("就绪"));
    QVERIFY(form()->sendTiming->isEnabled());
    radio->settle();
    // At baud 0 a response is asked for every 260 bytes: every third 100-byte tick.
    const auto writes = dataWrites(b);
    for (int i = 0; i < writes.size(); ++i) {
        QCOMPARE(int(writes.at(i).value.size()), 100);
        QCOMPARE(writes.at(i).withResponse, i % 3 == 2);
    }
    QCOMPARE(w->sentBytes(), qint64(writes.size()) * 100);
    QVERIFY(boxes->boxes.isEmpty());
}

void WindowDeviceTest::timedSendingEncodesLikeASingleSend() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    const QString text = QStringLiteral("你好");
    form()->plainTextEdit_send->setPlainText(text);
    form()->BtSend->click();
    form()->sendTiming->setChecked(true);
    form()->sendTimingUnit->setText(QStringLiteral("abc"));  // not a number: interval 0
    form()->BtSend->click();
    QCOMPARE(w->sendTimerForTest()->interval(), 0);
    QTRY_VERIFY(dataWrites(b).size() >= 2);
    form()->BtSend->click();
    const auto writes = dataWrites(b);
    // The window's encoding, GBK unless chosen otherwise, in both sending modes.
    QCOMPARE(toQt(writes.at(0).value), QByteArray("\xc4\xe3\xba\xc3"));
    QCOMPARE(toQt(writes.at(1).value), QByteArray("\xc4\xe3\xba\xc3"));
}

void WindowDeviceTest::timedSendingFailure() {
    if (qb::test::onRealStack()) QSKIP("cannot run on the real stack: a refused write without response");
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    form()->plainTextEdit_send->setPlainText(QStringLiteral("tick"));
    form()->sendTiming->setChecked(true);
    form()->sendTimingUnit->setText(QStringLiteral("1"));
    radio->failWrites(*b, 1);
    form()->BtSend->click();
    QTRY_COMPARE(boxes->texts(), QStringList({"传输出错", "请连接蓝牙设备!"}));
    QCOMPARE(boxes->boxes.first().icon, QMessageBox::Information);
    QVERIFY(!w->timedSendingActive());
    QVERIFY(!w->sendTimerForTest()->isActive());
    QCOMPARE(form()->BtSend->text(), QStringLiteral("发送"));
    QVERIFY(form()->sendTiming->isEnabled());
    QCOMPARE(w->sentBytes(), qint64(0));
    // After the failure the next start works again.
    form()->BtSend->click();
    QTRY_VERIFY(w->sentBytes() >= 4);
    form()->BtSend->click();
}

void WindowDeviceTest::fileThroughLoopbackArrivesByteForByte() {
    BridgeConfig config;
    config.line.baud = 1000000;
    config.transmitBufferSize = 1 << 20;  // this test is about the window's path, not line pacing
    config.pauseLevel = config.transmitBufferSize;
    auto b = addBridge(config);
    connectTo(b);
    const QByteArray content = randomBytes(100000, 7);
    const QString source = writeFile("source.bin", content);
    const QString sink = dir.filePath(QStringLiteral("回环.bin"));
    w->getRecvFilePath(sink);
    w->modeMenuForTest()->actions().at(1)->trigger();  // save only
    QVERIFY(save_file && !recv_show);
    QSignalSpy paths(w, SIGNAL(changeFilePathSignal(int, QString)));
    boxes->files << source;
    form()->Bt_sendfile->click();  // no file yet: asks, chooses, starts
    QCOMPARE(boxes->texts(), QStringList({"请选择发送文件!"}));
    QCOMPARE(paths.size(), 1);
    QCOMPARE(paths.first().at(0).toInt(), 1);
    QVERIFY(!w->fileTransferIdle());
    QVERIFY(!form()->sendHex->isEnabled() && !form()->sendTiming->isEnabled());
    QVERIFY(form()->Bt_sendfile->styleSheet().contains(QStringLiteral("StopSendFile.ico")));
    QTRY_VERIFY_WITH_TIMEOUT(boxes->texts().contains(QStringLiteral("文件发送完成")), 30000);
    QVERIFY(w->fileTransferIdle());
    QVERIFY(form()->sendHex->isEnabled() && form()->sendTiming->isEnabled());
    QVERIFY(form()->Bt_sendfile->styleSheet().contains(QStringLiteral("SendFile.ico")));
    QCOMPARE(form()->label_proStatus->text(), QStringLiteral("就绪"));
    QCOMPARE(w->sentBytes(), qint64(content.size()));
    QTRY_COMPARE_WITH_TIMEOUT(recvCount, qint64(content.size()), 30000);
    w->modeMenuForTest()->actions().at(2)->trigger();  // closes the receive file
    QFile f(sink);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);
    QTRY_VERIFY(!w->fileWorkerForTest());  // the finished worker was released
}

void WindowDeviceTest::cancelledFileChoiceAsksAgain() {
    auto b = addBridge();
    connectTo(b);
    int asked = 0;
    // Yes, then cancel the chooser: the question comes again; No the second time ends it.
    dialogprompt::setBoxHook([&asked](const dialogprompt::Box& box) {
        if (box.text == QStringLiteral("请选择发送文件!")) ++asked;
        return asked < 2 ? QMessageBox::Yes : QMessageBox::No;
    });
    QSignalSpy paths(w, SIGNAL(changeFilePathSignal(int, QString)));
    form()->Bt_sendfile->click();
    QCOMPARE(asked, 2);
    QCOMPARE(boxes->fileRequests.size(), 1);
    QCOMPARE(boxes->fileRequests.first().caption, QStringLiteral("请选择要发送的文件"));
    QCOMPARE(paths.size(), 1);
    QVERIFY(paths.first().at(1).toString().isEmpty());
    QVERIFY(w->fileTransferIdle());
    QVERIFY(!w->fileWorkerForTest());
}

void WindowDeviceTest::emptyFileCompletes() {
    auto b = addBridge();
    connectTo(b);
    w->getSendFilePath(writeFile("empty.bin", QByteArray()));
    form()->Bt_sendfile->click();
    QTRY_VERIFY(boxes->texts().contains(QStringLiteral("文件发送完成")));
    QVERIFY(w->fileTransferIdle());
    QVERIFY(dataWrites(b).isEmpty());  // the final empty step sends no traffic
}

void WindowDeviceTest::unreadableFileGivesControlsBack() {
    auto b = addBridge();
    connectTo(b);
    w->getSendFilePath(dir.filePath(QStringLiteral("missing/none.bin")));
    form()->Bt_sendfile->click();
    QTRY_COMPARE(boxes->texts(), QStringList({"文件打开失败"}));
    QVERIFY(w->fileTransferIdle());
    QVERIFY(form()->sendHex->isEnabled() && form()->sendTiming->isEnabled());
    QVERIFY(form()->Bt_sendfile->styleSheet().contains(QStringLiteral("SendFile.ico")));
    QTRY_VERIFY(!w->fileWorkerForTest());
}

void WindowDeviceTest::writeFailureEndsTransfer() {
    if (qb::test::onRealStack()) QSKIP("cannot run on the real stack: a refused write without response");
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    w->getSendFilePath(writeFile("fails.bin", randomBytes(5000, 3)));
    radio->failWrites(*b, 1);
    form()->Bt_sendfile->click();
    QTRY_COMPARE(boxes->texts(), QStringList({"传输出错，文件未发送完成（已发送 0 / 5000 字节）"}));
    QVERIFY(w->fileTransferIdle());
    QVERIFY(form()->sendHex->isEnabled());
    QCOMPARE(w->sentBytes(), qint64(0));
    QTRY_VERIFY(!w->fileWorkerForTest());
}

void WindowDeviceTest::interruption() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    config.link = *qb::emulator::LinkModel::preset("le-1m");  // slow enough to stop half way
    config.transmitBufferSize = 1 << 22;
    config.pauseLevel = config.transmitBufferSize;
    auto b = addBridge(config);
    connectTo(b);
    const QByteArray content = randomBytes(2 << 20, 5);
    w->getSendFilePath(writeFile("large.bin", content));
    form()->Bt_sendfile->click();
    QTRY_VERIFY(w->sentBytes() > 0);
    boxes->answer = QMessageBox::No;
    form()->Bt_sendfile->click();
    QVERIFY(!w->fileTransferIdle());
    boxes->answer = QMessageBox::Yes;
    form()->Bt_sendfile->click();
    // Controls come back at once; the box follows when the worker has finished its step.
    QVERIFY(w->fileTransferIdle());
    QVERIFY(form()->sendHex->isEnabled() && form()->sendTiming->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(boxes->texts().contains(QStringLiteral("已中断文件发送")), 20000);
    QCOMPARE(boxes->texts(),
             QStringList({"正在传输文件，是否中断？", "正在传输文件，是否中断？", "已中断文件发送"}));
    QTRY_VERIFY(!w->fileWorkerForTest());
    QVERIFY(w->sentBytes() < content.size());
    QCOMPARE(form()->label_proStatus->text(), QStringLiteral("就绪"));
}

void WindowDeviceTest::modemInputsFromThePeer() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Scripted;
    auto b = addBridge(config);
    connectTo(b);
    QTRY_COMPARE(b->clientConfiguration(VirtualBridge::kCommandUuid), uint16_t(1));
    qb::emulator::ModemInputs all;
    all.dcd = all.ri = all.dsr = all.cts = true;
    b->setModemInputs(all);
    auto* ui = form();
    QTRY_VERIFY(ui->BoxDCD->isChecked() && ui->BoxRing->isChecked() && ui->BoxDSR->isChecked() &&
                ui->BoxCTS->isChecked());
    for (QCheckBox* in : {ui->BoxCTS, ui->BoxDSR, ui->BoxRing, ui->BoxDCD}) QVERIFY(!in->isEnabled());
    qb::emulator::ModemInputs some;
    some.dcd = true;
    some.ri = false;
    some.dsr = false;
    some.cts = true;
    b->setModemInputs(some);
    QTRY_VERIFY(!ui->BoxRing->isChecked() && !ui->BoxDSR->isChecked());
    QVERIFY(ui->BoxDCD->isChecked() && ui->BoxCTS->isChecked());
    QCOMPARE(recvCount, qint64(0));  // status reports are not data
    QVERIFY(ui->plainTextEdit_recv->toPlainText().isEmpty());
}

void WindowDeviceTest::modemOutputsReachTheBridge() {
    auto b = addBridge();
    connectTo(b);
    form()->BoxRTS->click();
    QTRY_VERIFY(b->modemOutputs().rts);
    QVERIFY(!b->modemOutputs().dtr);
    QVERIFY(!b->modemOutputs().flowControl);
    form()->BoxDTR->click();
    QTRY_VERIFY(b->modemOutputs().dtr);
    QVERIFY(b->modemOutputs().rts);
    form()->BoxRTS->click();
    QTRY_VERIFY(!b->modemOutputs().rts);
    QVERIFY(b->modemOutputs().dtr);
}

void WindowDeviceTest::linkDroppedResetsWindow() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Scripted;
    auto b = addBridge(config);
    connectTo(b);
    w->getUartBaud(115200, false, 8, 1, 0, -1, 0);
    QTRY_COMPARE(b->clientConfiguration(VirtualBridge::kCommandUuid), uint16_t(1));
    b->setModemInputs({true, true, true, true});
    auto* ui = form();
    QTRY_VERIFY(ui->BoxCTS->isChecked() && ui->BoxDSR->isChecked() && ui->BoxDCD->isChecked());
    QSignalSpy dialogReset(w, SIGNAL(SbleDisconnectSignal()));
    // What the window shows while the user reads the box.
    QString infoDuringBox;
    QList<bool> inputsDuringBox;
    dialogprompt::setBoxHook([&](const dialogprompt::Box& box) {
        boxes->boxes.append(box);
        infoDuringBox = ui->label_BleInfo->text();
        for (QCheckBox* in : {ui->BoxCTS, ui->BoxDSR, ui->BoxRing, ui->BoxDCD})
            inputsDuringBox << in->isChecked();
        return QMessageBox::Ok;
    });
    b->dropLink();
    QTRY_VERIFY(w->connectionHandle() == nullptr);
    QCOMPARE(boxes->texts(), QStringList({"蓝牙连接已断开!"}));
    QCOMPARE(infoDuringBox, QStringLiteral("当前无连接，请连接设备..."));
    QCOMPARE(inputsDuringBox, QList<bool>({false, false, false, false}));
    QCOMPARE(ui->label_BleInfo->text(), QStringLiteral("当前无连接，请连接设备..."));
    // Nothing claims a link: sending says there is none, as the window shows.
    ui->plainTextEdit_send->setPlainText(QStringLiteral("x"));
    ui->BtSend->click();
    QCOMPARE(boxes->texts().last(), QStringLiteral("请连接蓝牙设备!"));
    boxes->boxes.removeLast();
    QCOMPARE(boxes->boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(dialogReset.size(), 1);
    QVERIFY(w->speedTimerForTest()->isActive());
    // A second report behind the first runs nothing.
    emit w->bleDisconnectSignal();
    QCoreApplication::processEvents();
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(dialogReset.size(), 1);
    w->calSpeedSlot();
    QCOMPARE(form()->label_recvSpeed->text(), QStringLiteral("接收速度 : 0.00 b/s"));
}

void WindowDeviceTest::reconnectionDuringTheLossBoxIsKept() {
    auto first = addBridge();
    connectTo(first);
    BridgeConfig second;
    second.address = 0xC0510000A002;
    auto other = radio->addBridge(second);
    QSignalSpy dialogReset(w, SIGNAL(SbleDisconnectSignal()));
    QB7720HANDLE* lost = w->connectionHandle();
    QB7720HANDLE* fresh = nullptr;
    // While the box is open the dialog closes the lost link and connects again, as its automatic
    // reconnection does; the window learns of it from its event loop.
    dialogprompt::setBoxHook([&](const dialogprompt::Box& box) -> QMessageBox::StandardButton {
        boxes->boxes.append(box);
        QB7720Ble_Disconnect(lost);
        const QString address = QString::fromStdString(other->addressText());
        fresh = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
        gatt_stream_t* stream = nullptr;
        uint16_t mtu = 0;
        if (fresh) QB7720Ble_Get_MTU(fresh, &stream, &mtu);
        emit w->settingDialogForTest()->bleConnectSuccSiganl(fresh, stream, address, QStringLiteral("Again"));
        // Queued: it arrives from the box's own event loop.
        for (int i = 0; i < 500 && w->connectionHandle() != fresh; ++i) QTest::qWait(10);
        return QMessageBox::Ok;
    });
    first->dropLink();
    QTRY_COMPARE(boxes->boxes.size(), 1);
    QVERIFY(fresh);
    QCoreApplication::processEvents();
    QVERIFY(w->connectionHandle() == fresh);
    QVERIFY(other->connected());
    QCOMPARE(dialogReset.size(), 0);
    QCOMPARE(form()->label_BleInfo->text(), QStringLiteral("Again 115200,8,1,None"));
    form()->plainTextEdit_send->setPlainText(QStringLiteral("still here"));
    form()->BtSend->click();
    QTRY_COMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("still here"));
    radio->removeDevice(other->address());
}

void WindowDeviceTest::lateLossReportOfAnOldLinkIsIgnored() {
    auto first = addBridge();
    connectTo(first);
    BridgeConfig second;
    second.address = 0xC0510000A003;
    auto other = radio->addBridge(second);
    // The link drops, and before the window hears of it the dialog has closed it and made another.
    QB7720HANDLE* old = w->connectionHandle();
    QSignalSpy reported(w, SIGNAL(bleDisconnectSignal()));
    first->dropLink();
    // Without letting the GUI thread run: the report waits in its queue.
    for (int i = 0; i < 500 && reported.isEmpty(); ++i) QTest::qSleep(10);
    QCOMPARE(reported.size(), 1);
    QB7720Ble_Disconnect(old);
    w->getConnectInfo(nullptr, nullptr, QString(), QString());
    const QString address = QString::fromStdString(other->addressText());
    QB7720HANDLE* fresh = QB7720Ble_Connect(address.toLatin1().constData(), nullptr);
    QVERIFY(fresh);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    QCOMPARE(QB7720Ble_Get_MTU(fresh, &stream, &mtu), 0);
    w->getConnectInfo(fresh, stream, address, QStringLiteral("New"));
    QSignalSpy dialogReset(w, SIGNAL(SbleDisconnectSignal()));
    QTest::qWait(300);
    QVERIFY(w->connectionHandle() == fresh);
    QVERIFY(other->connected());
    QVERIFY(boxes->boxes.isEmpty());
    QCOMPARE(dialogReset.size(), 0);
    radio->removeDevice(other->address());
}

void WindowDeviceTest::linkLossDuringTransferSaysIncomplete() {
    auto b = addSlowSink();
    connectTo(b);
    // A fast line: few writes ask for a response, as in use. (A write request in the air when the
    // emulated link drops can hold the loss report back for minutes.)
    w->getUartBaud(921600, false, 8, 1, 0, -1, 0);
    const QByteArray content = randomBytes(2 << 20, 9);
    w->getSendFilePath(writeFile("lost.bin", content));
    form()->Bt_sendfile->click();
    QTRY_VERIFY(w->sentBytes() > 0);
    b->dropLink();
    QTRY_VERIFY(w->connectionHandle() == nullptr);
    QTRY_COMPARE(boxes->boxes.size(), 2);
    // Over the bus a write may fail before the loss is reported, so either box may come first and
    // the transfer may name either cause; it never claims to be complete.
    QStringList texts = boxes->texts();
    QVERIFY(texts.removeOne(QStringLiteral("蓝牙连接已断开!")));
    const QString report = texts.first();
    QVERIFY2(report.contains(QStringLiteral("，文件未发送完成（已发送 ")), qPrintable(report));
    QVERIFY(report.endsWith(QStringLiteral(" / %1 字节）").arg(content.size())));
    const qint64 claimed =
        report.section(QStringLiteral("已发送 "), 1).section(QLatin1Char(' '), 0, 0).toLongLong();
    QTRY_COMPARE(w->sentBytes(), claimed);  // progress reports may still be queued
    QVERIFY(w->fileTransferIdle());
    QVERIFY(form()->sendHex->isEnabled() && form()->sendTiming->isEnabled());
    QTRY_VERIFY(!w->fileWorkerForTest());
    // No completion or interruption box follows.
    QTest::qWait(100);
    QCOMPARE(boxes->boxes.size(), 2);
}

void WindowDeviceTest::sendsRefusedDuringTransfer() {
    auto b = addSlowSink();
    connectTo(b);
    const QByteArray content(2 << 20, 'F');
    w->getSendFilePath(writeFile("file.bin", content));
    form()->Bt_sendfile->click();
    QTRY_VERIFY(w->sentBytes() > 0);
    form()->plainTextEdit_send->setPlainText(QStringLiteral("typed"));
    form()->BtSend->click();
    form()->sendTiming->setEnabled(true);  // disabled during a transfer; the refusal must not rely on it
    form()->sendTiming->setChecked(true);
    form()->BtSend->click();
    QVERIFY(!w->timedSendingActive());
    const QString refused = QStringLiteral("正在发送文件，请等待发送完成或中断后再发送");
    QCOMPARE(boxes->texts(), QStringList({refused, refused}));
    form()->Bt_sendfile->click();  // interrupt
    QTRY_VERIFY(!w->fileWorkerForTest());
    for (const WriteRecord& r : dataWrites(b)) QVERIFY(toQt(r.value).count('F') == int(r.value.size()));
    // A timed send that runs keeps file sending out in turn.
    boxes->boxes.clear();
    form()->sendTiming->setChecked(true);
    form()->sendTimingUnit->setText(QStringLiteral("50"));
    form()->BtSend->click();
    QVERIFY(w->timedSendingActive());
    form()->Bt_sendfile->click();
    QCOMPARE(boxes->texts(), QStringList({"请先停止定时发送"}));
    QVERIFY(w->fileTransferIdle() && !w->fileWorkerForTest());
    form()->BtSend->click();
}

void WindowDeviceTest::transferWaitsOutALongPause() {
    auto emu = radio->emulator();
    if (!emu) QSKIP("the bridge's own status reports are sent in process only");
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Scripted;
    auto b = addBridge(config);
    connectTo(b);
    QTRY_COMPARE(b->clientConfiguration(VirtualBridge::kCommandUuid), uint16_t(1));
    auto device = std::dynamic_pointer_cast<VirtualBridge>(emu->world()->findDevice(b->address()));
    QVERIFY(device);
    // Paused for longer than the library holds a write: the worker must neither skip that chunk
    // nor give up, and goes on once the bridge lets go.
    device->sendStatusReport(0x04);
    // The report carries the far side's CTS; once the window shows it, the library holds writes.
    QTRY_VERIFY(form()->BoxCTS->isChecked());
    const QByteArray content = randomBytes(3000, 11);
    w->getSendFilePath(writeFile("paused.bin", content));
    form()->Bt_sendfile->click();
    QTest::qWait(7000);
    QCOMPARE(w->sentBytes(), qint64(0));
    QVERIFY(boxes->boxes.isEmpty());
    device->sendStatusReport(0x01);
    QTRY_VERIFY_WITH_TIMEOUT(boxes->texts().contains(QStringLiteral("文件发送完成")), 20000);
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(w->sentBytes(), qint64(content.size()));
    QTRY_COMPARE(toQt(b->farSideReceived()), content);
}

void WindowDeviceTest::textSurvivesLoopback_data() {
    QTest::addColumn<int>("menuEntry");
    QTest::addColumn<QByteArray>("onTheLine");
    QTest::newRow("GBK") << 4 << QByteArray("\xce\xc2\xb6\xc8 ok");
    QTest::newRow("UTF-8") << 5 << QByteArray("\xe6\xb8\xa9\xe5\xba\xa6 ok");
}

void WindowDeviceTest::textSurvivesLoopback() {
    QFETCH(int, menuEntry);
    QFETCH(QByteArray, onTheLine);
    auto b = addBridge();
    connectTo(b);
    w->displayMenuForTest()->actions().at(menuEntry)->trigger();
    form()->plainTextEdit_send->setPlainText(QStringLiteral("温度 ok"));
    form()->BtSend->click();
    QTRY_COMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("温度 ok"));
    QCOMPARE(toQt(dataWrites(b).first().value), onTheLine);
}

void WindowDeviceTest::exitStopsTimedSending() {
    BridgeConfig config;
    config.peer = qb::emulator::PeerKind::Sink;
    auto b = addBridge(config);
    connectTo(b);
    form()->plainTextEdit_send->setPlainText(QStringLiteral("tick"));
    form()->sendTiming->setChecked(true);
    form()->sendTimingUnit->setText(QStringLiteral("5"));
    form()->BtSend->click();
    QTRY_VERIFY(w->sentBytes() > 0);
    QVERIFY(w->close());
    QVERIFY(!w->sendTimerForTest()->isActive());
    QTest::qWait(100);
    QCOMPARE(boxes->texts(), QStringList({"是否确定退出?"}));
}

QTEST_MAIN(WindowDeviceTest)
#include "tst_window_device.moc"
