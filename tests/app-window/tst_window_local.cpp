// The window on its own: initial state, receive and display modes, conversions, counters, settings
// report. Notifications come from a foreign thread as the device library sends them.
#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "blesetting.h"
#include "qb7720/emulator/Emulator.h"
#include "windowtest.h"

class WindowLocalTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void initialState();
    void toolButtonsCarryImagesAndMenus();
    void receiveModes_data();
    void receiveModes();
    void savingModeCancelledKeepsSaving();
    void savingModeAgainKeepsTheCapture();
    void captureReachesDiskWithinASecond();
    void hexDisplaySavesAndCounts();
    void hexLinesBreakEvery32Bytes();
    void gbkTextAndOtherUuids();
    void codingSwitchesBothDirections();
    void receivedDataGoesToTheEnd();
    void autoClearAt12000();
    void autoStopAt12000();
    void displayModeMarkers();
    void recvFileFromDialogOpensAndEmpties();
    void receiveBoxHexRoundTrip();
    void strToHexCases_data();
    void strToHexCases();
    void sendBoxHexHelpers();
    void ratesAndCounters();
    void fileProgressAndPacing();
    void serialReportAndChunkSize();
    void refusalsWithoutConnection();
    void exitQuestion();
    void exitWithAboutDialogOpenEndsTheProgram();
    void strayWorkerEndChangesNothing();
    void lateLinkLossIsIgnored();

  private:
    std::shared_ptr<qb::emulator::Emulator> emu;
    QTemporaryDir dir;
    Widget* w = nullptr;
    BoxRecorder* boxes = nullptr;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
};

void WindowLocalTest::initTestCase() {
    QVERIFY(dir.isValid());
    // The dialog's record file lands here, not in the user's home.
    QDir::setCurrent(dir.path());
    qputenv("HOME", QFile::encodeName(dir.path()));
    emu = qb::emulator::Emulator::create();
    emu->install();
}

void WindowLocalTest::init() {
    boxes = new BoxRecorder;
    w = new Widget;
}

void WindowLocalTest::cleanup() {
    delete w;
    w = nullptr;
    delete boxes;
    boxes = nullptr;
}

void WindowLocalTest::initialState() {
    QCOMPARE(w->windowTitle(), QStringLiteral("Tavrion"));
    QCOMPARE(w->size(), QSize(1003, 762));
    QVERIFY(!w->windowIcon().isNull());
    QCOMPARE(Widget::mywidget.load(), w);
    auto* ui = form();
    QVERIFY(ui);
    QCOMPARE(ui->label_BleInfo->text(), QStringLiteral("当前无连接，请连接设备..."));
    QCOMPARE(ui->label_proStatus->text(), QStringLiteral(" 就绪"));
    QCOMPARE(ui->label_RecvMode->text(), QStringLiteral("只显示不保存文件"));
    QCOMPARE(ui->label_recvCounts->text(), QStringLiteral("接收 : 0 "));
    QCOMPARE(ui->label_sendSpeed->text(), QStringLiteral("发送速度 : 0 kb/s"));
    QCOMPARE(ui->sendTimingUnit->text(), QStringLiteral("1000"));
    QCOMPARE(ui->sendTimingUnit->maxLength(), 1000);
    QCOMPARE(ui->BtSend->text(), QStringLiteral("发送"));
    QVERIFY(ui->plainTextEdit_recv->isReadOnly());
    QVERIFY(!ui->plainTextEdit_send->toPlainText().isEmpty());
    QVERIFY(!ui->showHex->isChecked() && !ui->sendHex->isChecked() && !ui->sendTiming->isChecked());
    for (QCheckBox* in : {ui->BoxCTS, ui->BoxDSR, ui->BoxRing, ui->BoxDCD}) {
        QVERIFY(!in->isEnabled());
        QVERIFY(!in->isChecked());
    }
    QVERIFY(ui->BoxRTS->isEnabled() && ui->BoxDTR->isEnabled());
    QVERIFY(recv_show && !save_file && !s_clearScreen && !s_stopScreen);
    QVERIFY(recvFilefp == nullptr);
    QCOMPARE(w->speedTimerForTest()->interval(), 1000);
    QVERIFY(!w->speedTimerForTest()->isActive() && !w->sendTimerForTest()->isActive());
    QVERIFY(w->connectionHandle() == nullptr);
    QVERIFY(w->fileTransferIdle());
    for (QLabel* l : {ui->label_BleInfo, ui->label_proStatus, ui->label_RecvMode, ui->label_recvCounts,
                      ui->label_recvSpeed, ui->label_sendCounts, ui->label_sendSpeed})
        QCOMPARE(l->styleSheet(), QStringLiteral("border:1px solid #F8F8FF;"));
}

void WindowLocalTest::toolButtonsCarryImagesAndMenus() {
    auto* ui = form();
    QVERIFY(ui->Bt_setting->styleSheet().startsWith(
        QStringLiteral("QPushButton {border-image: url(:/new/prefix1/logoIcon/Setting.ico);}QToolTip{")));
    QVERIFY(ui->Bt_recv_mode->styleSheet().contains(QStringLiteral("RecvMode10.ico")));
    QCOMPARE(ui->Bt_sendfile->toolTip(), QStringLiteral("发送文件/中断发送"));
    for (const char* image : {"Setting", "SendFile", "StopSendFile", "RecvMode00", "RecvMode01", "RecvMode10",
                              "RecvMode11", "CountClr", "About", "tavrionLogo"}) {
        QPixmap pixmap(QStringLiteral(":/new/prefix1/logoIcon/%1.ico").arg(QLatin1String(image)));
        QVERIFY2(!pixmap.isNull(), image);
        QCOMPARE(pixmap.size(), QSize(48, 48));
    }
    QCOMPARE(ui->Bt_recv_mode->menu(), w->modeMenuForTest());
    QStringList entries;
    for (QAction* a : w->modeMenuForTest()->actions()) entries << a->text();
    QCOMPARE(entries, QStringList({"不显示也不保存文件", "不显示只保存文件", "显示不保存文件",
                                   "显示并保存文件", "显示模式"}));
    QCOMPARE(w->modeMenuForTest()->actions().last()->menu(), w->displayMenuForTest());
}

void WindowLocalTest::receiveModes_data() {
    QTest::addColumn<int>("entry");
    QTest::addColumn<bool>("show");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("image");
    QTest::newRow("none") << 0 << false << false << "不显示也不保存文件"
                          << "RecvMode00.ico";
    QTest::newRow("save only") << 1 << false << true << "不显示只保存文件"
                               << "RecvMode01.ico";
    QTest::newRow("display only") << 2 << true << false << "只显示不保存文件"
                                  << "RecvMode10.ico";
    QTest::newRow("display and save") << 3 << true << true << "显示并保存文件"
                                      << "RecvMode11.ico";
}

void WindowLocalTest::receiveModes() {
    QFETCH(int, entry);
    QFETCH(bool, show);
    QFETCH(bool, save);
    QFETCH(QString, label);
    QFETCH(QString, image);
    const QString file = path("modes.bin");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old content");
    }
    boxes->files << file;
    QSignalSpy paths(w, SIGNAL(changeFilePathSignal(int, QString)));
    w->modeMenuForTest()->actions().at(entry)->trigger();
    QCOMPARE(recv_show, show);
    QCOMPARE(save_file, save);
    QCOMPARE(form()->label_RecvMode->text(), label);
    QVERIFY(form()->Bt_recv_mode->styleSheet().contains(image));
    QCOMPARE(recvFilefp != nullptr, save);
    if (save) {
        QCOMPARE(boxes->fileRequests.size(), 1);
        QCOMPARE(boxes->fileRequests.first().caption, QStringLiteral("请选择要保存的文件路径"));
        QCOMPARE(paths.size(), 1);
        QCOMPARE(paths.first().at(0).toInt(), 0);
        QCOMPARE(paths.first().at(1).toString(), file);
        QCOMPARE(QFileInfo(file).size(), 0);  // emptied when opened
        // A non-saving mode closes the file again.
        w->modeMenuForTest()->actions().at(2)->trigger();
        QVERIFY(recvFilefp == nullptr);
        QVERIFY(!save_file);
    } else {
        QVERIFY(boxes->fileRequests.isEmpty());
        QCOMPARE(paths.size(), 0);
    }
}

void WindowLocalTest::savingModeCancelledKeepsSaving() {
    // Cancelling the chooser leaves the mode as it was: look, display and saving.
    for (int entry : {1, 3}) {
        w->modeMenuForTest()->actions().at(entry)->trigger();  // no path answered: cancelled
        QCOMPARE(form()->label_RecvMode->text(), QStringLiteral("只显示不保存文件"));
        QVERIFY(form()->Bt_recv_mode->styleSheet().contains(QStringLiteral("RecvMode10.ico")));
        QVERIFY(recv_show);
        QVERIFY(!save_file);
        QVERIFY(recvFilefp == nullptr);
    }
    QCOMPARE(boxes->fileRequests.size(), 2);
}

void WindowLocalTest::savingModeAgainKeepsTheCapture() {
    const QString file = path("capture.bin");
    boxes->files << file;
    QMenu* menu = w->modeMenuForTest();
    menu->actions().at(3)->trigger();
    notifyFromLibraryThread(0xfff1, QByteArray("first "));
    // The same mode, or the other saving one, while the file is open: the capture goes on.
    menu->actions().at(3)->trigger();
    menu->actions().at(1)->trigger();
    notifyFromLibraryThread(0xfff1, QByteArray("second "));
    QVERIFY(boxes->boxes.isEmpty());
    // Closed by a mode without saving, then chosen again: the user is asked; No appends.
    menu->actions().at(2)->trigger();
    boxes->answer = QMessageBox::No;
    menu->actions().at(3)->trigger();
    QCOMPARE(boxes->boxes.size(), 1);
    QCOMPARE(boxes->boxes.first().buttons, QMessageBox::Yes | QMessageBox::No);
    notifyFromLibraryThread(0xfff1, QByteArray("third"));
    menu->actions().at(2)->trigger();
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("first second third"));
    }
    // Yes empties it.
    boxes->answer = QMessageBox::Yes;
    menu->actions().at(1)->trigger();
    QCOMPARE(boxes->boxes.size(), 2);
    notifyFromLibraryThread(0xfff1, QByteArray("new"));
    menu->actions().at(0)->trigger();
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("new"));
    QCOMPARE(boxes->fileRequests.size(), 1);
}

void WindowLocalTest::captureReachesDiskWithinASecond() {
    const QString file = path("live.bin");
    boxes->files << file;
    w->modeMenuForTest()->actions().at(1)->trigger();
    notifyFromLibraryThread(0xfff1, QByteArray("on disk"));
    // Read through another descriptor, as a user's viewer would, while the window keeps it open.
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(file).size(), qint64(7), 3000);
    QVERIFY(recvFilefp != nullptr);
    // A display-mode change writes out what is buffered at once.
    notifyFromLibraryThread(0xfff1, QByteArray("!"));
    w->showNormalSlot();
    QCOMPARE(QFileInfo(file).size(), qint64(8));
}

void WindowLocalTest::hexDisplaySavesAndCounts() {
    const QString file = path("hex.bin");
    boxes->files << file;
    w->modeMenuForTest()->actions().at(3)->trigger();
    form()->showHex->setChecked(true);
    notifyFromLibraryThread(0xfff1, QByteArray("\x00\x41", 2));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("00 41 "));
    QCOMPARE(form()->label_recvCounts->text(), QStringLiteral("接收 : 2"));
    notifyFromLibraryThread(0xfff1, QByteArray("\x0d\x0a\xff", 3));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("00 41 0D 0A FF "));
    QCOMPARE(recvCount, qint64(5));
    w->modeMenuForTest()->actions().at(0)->trigger();  // closes the file
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\x00\x41\x0d\x0a\xff", 5));
}

void WindowLocalTest::hexLinesBreakEvery32Bytes() {
    form()->showHex->setChecked(true);
    QByteArray bytes;
    for (int i = 0; i < 40; ++i) bytes.append(static_cast<char>('a' + i % 26));
    // Split across notifications at a point that is not a line end.
    notifyFromLibraryThread(0xfff1, bytes.left(20));
    notifyFromLibraryThread(0xfff1, bytes.mid(20));
    const QString shown = form()->plainTextEdit_recv->toPlainText();
    QCOMPARE(shown.size(), 120);  // still three characters per byte
    QCOMPARE(shown.count(QLatin1Char('\n')), 1);
    QCOMPARE(shown.at(95), QLatin1Char('\n'));
    QVERIFY(shown.startsWith(QStringLiteral("61 62 63 ")));
    QVERIFY(shown.endsWith(QStringLiteral("6D 6E ")));
    // Back to text, the break reads as a separator.
    form()->showHex->click();
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QString::fromLatin1(bytes));
}

void WindowLocalTest::gbkTextAndOtherUuids() {
    notifyFromLibraryThread(0xfff1, QByteArray("\xc4\xe3\xba\xc3 ok"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("你好 ok"));
    QCOMPARE(recvCount, qint64(7));
    notifyFromLibraryThread(0xfff2, QByteArray("ignored"));
    notifyFromLibraryThread(0x2a00, QByteArray("ignored"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("你好 ok"));
    QCOMPARE(recvCount, qint64(7));
    // Display off: counted, not shown.
    w->modeMenuForTest()->actions().at(0)->trigger();
    notifyFromLibraryThread(0xfff1, QByteArray("abc"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("你好 ok"));
    QCOMPARE(form()->label_recvCounts->text(), QStringLiteral("接收 : 10"));
}

void WindowLocalTest::autoClearAt12000() {
    w->displayMenuForTest()->actions().at(0)->trigger();
    const QByteArray block(6000, 'a');
    notifyFromLibraryThread(0xfff1, block);
    notifyFromLibraryThread(0xfff1, block);  // exactly 12000: not over the limit yet
    notifyFromLibraryThread(0xfff1, QByteArray("b"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText().size(), 12001);
    notifyFromLibraryThread(0xfff1, QByteArray("next"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("next"));
    QCOMPARE(recvCount, qint64(12005));
}

void WindowLocalTest::autoStopAt12000() {
    w->displayMenuForTest()->actions().at(1)->trigger();
    notifyFromLibraryThread(0xfff1, QByteArray(11999, 'a'));
    notifyFromLibraryThread(0xfff1, QByteArray("bb"));  // pushes past the limit, still shown
    notifyFromLibraryThread(0xfff1, QByteArray("cc"));  // finds it over, switches off, still shown
    notifyFromLibraryThread(0xfff1, QByteArray("dd"));  // not shown
    const QString shown = form()->plainTextEdit_recv->toPlainText();
    QCOMPARE(shown.size(), 12003);
    QVERIFY(shown.endsWith(QStringLiteral("bbcc")));
    QVERIFY(!recv_show);
    QCOMPARE(recvCount, qint64(12005));
    w->displayMenuForTest()->actions().at(1)->trigger();  // choosing it again does not resume
    QVERIFY(!recv_show);
    w->displayMenuForTest()->actions().at(2)->trigger();
    QVERIFY(recv_show);
}

void WindowLocalTest::displayModeMarkers() {
    const auto texts = [this] {
        QStringList out;
        // The three display entries; the encoding entries follow them.
        for (QAction* a : w->displayMenuForTest()->actions().mid(0, 3)) out << a->text();
        return out;
    };
    QCOMPARE(texts(), QStringList({"  每接收12000字符自动清空", "  接收12000字符后自动停止", "  正常显示"}));
    w->modeMenuForTest()->actions().at(0)->trigger();
    w->setClearScreenSlot();
    QVERIFY(s_clearScreen && !s_stopScreen && recv_show);
    QCOMPARE(texts(), QStringList({"● 每接收12000字符自动清空", "  接收12000字符后自动停止", "  正常显示"}));
    w->modeMenuForTest()->actions().at(0)->trigger();
    w->setStopScreenSlot();
    QVERIFY(!s_clearScreen && s_stopScreen && !recv_show);  // stop leaves display as it was
    QCOMPARE(texts(), QStringList({"  每接收12000字符自动清空", "● 接收12000字符后自动停止", "  正常显示"}));
    w->showNormalSlot();
    QVERIFY(!s_clearScreen && !s_stopScreen && recv_show);
    QCOMPARE(texts(), QStringList({"  每接收12000字符自动清空", "  接收12000字符后自动停止", "● 正常显示"}));
}

void WindowLocalTest::codingSwitchesBothDirections() {
    QMenu* display = w->displayMenuForTest();
    QAction* gbk = display->actions().at(4);
    QAction* utf8 = display->actions().at(5);
    QVERIFY(display->actions().at(3)->isSeparator());
    QCOMPARE(gbk->text(), QStringLiteral("● GBK编码"));
    QCOMPARE(utf8->text(), QStringLiteral("  UTF-8编码"));
    // A character cut between two notifications still shows whole.
    notifyFromLibraryThread(0xfff1, QByteArray("\xce\xc2\xb6"));
    notifyFromLibraryThread(0xfff1, QByteArray("\xc8 ok"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("温度 ok"));
    // The hex views convert with the same encoding, in the send box as in the receive box.
    form()->showHex->click();
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("CE C2 B6 C8 20 6F 6B "));
    form()->showHex->click();
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("温度 ok"));

    utf8->trigger();
    QCOMPARE(gbk->text(), QStringLiteral("  GBK编码"));
    QCOMPARE(utf8->text(), QStringLiteral("● UTF-8编码"));
    form()->plainTextEdit_recv->clear();
    notifyFromLibraryThread(0xfff1, QByteArray("\xe6\xb8"));
    notifyFromLibraryThread(0xfff1, QByteArray("\xa9\xe5\xba\xa6"));
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("温度"));
    form()->plainTextEdit_send->setPlainText(QStringLiteral("温"));
    form()->sendHex->click();
    QCOMPARE(form()->plainTextEdit_send->toPlainText(), QStringLiteral("E6 B8 A9 "));
    form()->sendHex->click();
    QCOMPARE(form()->plainTextEdit_send->toPlainText(), QStringLiteral("温"));
    gbk->trigger();
    QCOMPARE(w->textCodec()->name(), QByteArray("GBK"));
}

void WindowLocalTest::receivedDataGoesToTheEnd() {
    w->show();
    QPlainTextEdit* box = form()->plainTextEdit_recv;
    QByteArray lines;
    for (int i = 0; i < 200; ++i) lines += "line " + QByteArray::number(i) + "\n";
    notifyFromLibraryThread(0xfff1, lines);
    QScrollBar* bar = box->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());  // followed while at the bottom

    // The user selects "line 5" and scrolls up to read: both stay as they are.
    QTextCursor select(box->document());
    select.setPosition(lines.indexOf("line 5\n"));
    select.setPosition(lines.indexOf("line 5\n") + 6, QTextCursor::KeepAnchor);
    box->setTextCursor(select);
    bar->setValue(10);
    notifyFromLibraryThread(0xfff1, QByteArray("tail one\n"));
    QCOMPARE(box->textCursor().selectedText(), QStringLiteral("line 5"));
    QVERIFY(box->toPlainText().endsWith(QStringLiteral("line 199\ntail one\n")));
    QCOMPARE(bar->value(), 10);

    // A selection that reaches the end does not grow over new data.
    QTextCursor toEnd(box->document());
    toEnd.movePosition(QTextCursor::End);
    toEnd.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, 9);
    box->setTextCursor(toEnd);
    bar->setValue(bar->maximum());
    notifyFromLibraryThread(0xfff1, QByteArray("tail two\n"));
    QCOMPARE(box->textCursor().selectedText(), QStringLiteral("tail one") + QChar(QChar::ParagraphSeparator));
    QVERIFY(box->toPlainText().endsWith(QStringLiteral("tail one\ntail two\n")));
    QCOMPARE(bar->value(), bar->maximum());  // back at the bottom: following again
}

void WindowLocalTest::recvFileFromDialogOpensAndEmpties() {
    // A name outside Latin-1 must still open (local 8-bit file names).
    const QString file = path("接收数据.bin");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("stale");
    }
    w->modeMenuForTest()->actions().at(0)->trigger();
    w->getRecvFilePath(file);
    QVERIFY(recvFilefp != nullptr);
    QCOMPARE(QFileInfo(file).size(), 0);
    QCOMPARE(w->receiveFilePath(), file);
    notifyFromLibraryThread(0xfff1, QByteArray("data"));
    // Not a saving mode: nothing written.
    std::fflush(recvFilefp);
    QCOMPARE(QFileInfo(file).size(), 0);
    // A saving mode now uses the known path without asking.
    w->modeMenuForTest()->actions().at(1)->trigger();
    QVERIFY(boxes->fileRequests.isEmpty());
    notifyFromLibraryThread(0xfff1, QByteArray("data"));
    std::fflush(recvFilefp);
    QCOMPARE(QFileInfo(file).size(), 4);
}

void WindowLocalTest::receiveBoxHexRoundTrip() {
    notifyFromLibraryThread(0xfff1, QByteArray("AB"));
    form()->showHex->click();
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("41 42 "));
    form()->showHex->click();
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("AB"));
    // Hex text with a zero byte reads back only up to it.
    form()->plainTextEdit_recv->setPlainText(QStringLiteral("41 00 42 "));
    w->changeRecvContentSlot(false);
    QCOMPARE(form()->plainTextEdit_recv->toPlainText(), QStringLiteral("A"));
}

void WindowLocalTest::strToHexCases_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("pairs") << "0102ff" << QByteArray("\x01\x02\xff", 3);
    QTest::newRow("spaced") << "41 42 " << QByteArray("AB");
    QTest::newRow("lone digit") << "A" << QByteArray("\x0a", 1);
    QTest::newRow("odd count") << "ABC" << QByteArray("\xab\x0c", 2);
    QTest::newRow("space inside a pair") << "1 2" << QByteArray("\x10\x02", 2);
    QTest::newRow("lower case") << "de ad " << QByteArray("\xde\xad", 2);
    QTest::newRow("odd with spaces pads the last digit") << "de ad" << QByteArray("\xde\xa0", 2);
    QTest::newRow("not hex") << "zz" << QByteArray("\x00", 1);
    QTest::newRow("outside Latin-1") << "你1" << QByteArray("\x01", 1);
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("two spaces") << "  " << QByteArray();
    QTest::newRow("three spaces pad to a zero pair") << "   " << QByteArray("\x00", 1);
}

void WindowLocalTest::strToHexCases() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(Widget::strToHex(text), bytes);
}

void WindowLocalTest::sendBoxHexHelpers() {
    QCOMPARE(int(Widget::ConvertHexChar('7')), 7);
    QCOMPARE(int(Widget::ConvertHexChar('f')), 15);
    QCOMPARE(int(Widget::ConvertHexChar('F')), 15);
    QCOMPARE(int(Widget::ConvertHexChar('g')), 0);
    auto* box = form()->plainTextEdit_send;
    box->setPlainText(QStringLiteral("AB"));
    form()->sendHex->click();
    QCOMPARE(box->toPlainText(), QStringLiteral("41 42 "));
    box->clear();
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("0102"));
    QCOMPARE(box->toPlainText(), QStringLiteral("01 02 "));
    form()->sendHex->click();
    QCOMPARE(box->toPlainText(), QStringLiteral("\x01\x02"));
    form()->BtClearSend->click();
    QVERIFY(box->toPlainText().isEmpty());
    // Text placed with the cursor at its start (a paste, a program) gets its space at the end once.
    form()->sendHex->setChecked(true);
    box->setPlainText(QStringLiteral("41 00 42"));
    QCOMPARE(box->toPlainText(), QStringLiteral("41 00 42 "));
    // Editing in the middle keeps the user's cursor where it was.
    box->setPlainText(QStringLiteral("01 023"));
    QTextCursor middle(box->document());
    middle.setPosition(2);
    box->setTextCursor(middle);
    QTextCursor last(box->document());
    last.movePosition(QTextCursor::End);
    last.deletePreviousChar();
    QCOMPARE(box->toPlainText(), QStringLiteral("01 02 "));
    QCOMPARE(box->textCursor().position(), 2);
}

void WindowLocalTest::ratesAndCounters() {
    w->changeSendInfoSlot(1536, 0);
    notifyFromLibraryThread(0xfff1, QByteArray(1023, 'x'));
    w->calSpeedSlot();
    QCOMPARE(form()->label_sendSpeed->text(), QStringLiteral("发送速度 : 1.50 kB/s"));
    QCOMPARE(form()->label_recvSpeed->text(), QStringLiteral("接收速度 : 1023.00 b/s"));
    w->calSpeedSlot();  // nothing moved in between
    QCOMPARE(form()->label_sendSpeed->text(), QStringLiteral("发送速度 : 0.00 b/s"));
    form()->Bt_clear_counts->click();
    QCOMPARE(w->sentBytes(), qint64(0));
    QCOMPARE(recvCount, qint64(0));
    QCOMPARE(form()->label_sendCounts->text(), QStringLiteral("发送 : 0"));
    QCOMPARE(form()->label_recvSpeed->text(), QStringLiteral("接收速度 : 0 kb/s"));
    // Counters go past 2 GiB without wrapping.
    for (int i = 0; i < 3; ++i) w->changeSendInfoSlot(1 << 30, 100);
    QCOMPARE(w->sentBytes(), qint64(3) << 30);
    QCOMPARE(form()->label_sendCounts->text(), QStringLiteral("发送 : 3221225472"));
}

void WindowLocalTest::fileProgressAndPacing() {
    QCOMPARE(sendFileThread::percentOf(20, 50), 40);
    QCOMPARE(sendFileThread::percentOf(50, 50), 100);
    QCOMPARE(sendFileThread::percentOf(0, 0), 100);  // an empty file is complete
    // Past 2 GiB and 4 GiB the share stays right.
    QCOMPARE(sendFileThread::percentOf(qint64(3) << 30, qint64(4) << 30), 75);
    QCOMPARE(sendFileThread::percentOf(qint64(5) << 30, qint64(10) << 30), 50);
    QCOMPARE(sendFileThread::ackThreshold(0), 260);
    QCOMPARE(sendFileThread::ackThreshold(9600), 260);
    QCOMPARE(sendFileThread::ackThreshold(26000), 260);
    QCOMPARE(sendFileThread::ackThreshold(115200), 1152);
    QCOMPARE(sendFileThread::ackThreshold(1000000), 10000);
}

void WindowLocalTest::serialReportAndChunkSize() {
    auto* ui = form();
    ui->label_BleInfo->setText(QStringLiteral("QB7720-UART 115200,8,1,None"));
    w->getMTUValueSlot(247);
    QCOMPARE(w->chunkSize(), 244);
    ui->BoxRTS->setChecked(true);
    w->getUartBaud(1200, false, 7, 2, 2, -1, 1);
    QCOMPARE(w->chunkSize(), 12);
    QCOMPARE(w->baud(), 1200);
    QCOMPARE(ui->label_BleInfo->text(), QStringLiteral("QB7720-UART 1200,7,2,Even"));
    QVERIFY(!ui->BoxRTS->isEnabled());
    QVERIFY(ui->BoxRTS->isChecked());  // greyed out, state kept
    QVERIFY(ui->BoxDTR->isChecked());
    w->getUartBaud(921600, false, 8, 1, 4, 0, 0);  // never raises the chunk size
    QCOMPARE(w->chunkSize(), 12);
    QCOMPARE(ui->label_BleInfo->text(), QStringLiteral("QB7720-UART 921600,8,1,Space"));
    QVERIFY(ui->BoxRTS->isEnabled() && !ui->BoxRTS->isChecked() && !ui->BoxDTR->isChecked());
    w->getMTUValueSlot(247);
    QCOMPARE(w->chunkSize(), 244);
    // Rates below 100 baud would give chunks of no bytes; the chunk size stays usable.
    for (int slow : {99, 50, 0}) {
        w->getUartBaud(slow, false, 8, 1, 0, 0, 0);
        QCOMPARE(w->chunkSize(), 244);
    }
}

void WindowLocalTest::refusalsWithoutConnection() {
    auto* ui = form();
    ui->plainTextEdit_send->clear();
    ui->BtSend->click();
    ui->plainTextEdit_send->setPlainText(QStringLiteral("hello"));
    ui->BtSend->click();
    ui->plainTextEdit_send->setPlainText(QString(4097, QLatin1Char('x')));
    ui->BtSend->click();
    ui->sendTiming->setChecked(true);
    ui->BtSend->click();
    QCOMPARE(boxes->texts(),
             QStringList({"发送框不能为空", "请连接蓝牙设备!", "超过发送缓冲区大小", "请连接蓝牙设备!"}));
    QVERIFY(!w->timedSendingActive());
    for (const auto& b : boxes->boxes) {
        QCOMPARE(b.title, QStringLiteral("Tavrion"));
        QCOMPARE(b.icon, QMessageBox::Warning);
    }
    // File sending without a connection offers the dialog.
    boxes->boxes.clear();
    boxes->answer = QMessageBox::No;
    ui->Bt_sendfile->click();
    QCOMPARE(boxes->texts(), QStringList({"请先连接蓝牙!"}));
    QVERIFY(w->fileTransferIdle());
}

void WindowLocalTest::exitQuestion() {
    boxes->answer = QMessageBox::No;
    QCloseEvent refuse;
    QApplication::sendEvent(w, &refuse);
    QVERIFY(!refuse.isAccepted());
    QCOMPARE(boxes->boxes.last().text, QStringLiteral("是否确定退出?"));
    QCOMPARE(boxes->boxes.last().icon, QMessageBox::Question);
    boxes->answer = QMessageBox::Yes;
    QCloseEvent accept;
    QApplication::sendEvent(w, &accept);
    QVERIFY(accept.isAccepted());
}

void WindowLocalTest::exitWithAboutDialogOpenEndsTheProgram() {
    // As the program runs: inside the application's event loop, which must end once the user
    // confirmed the exit, whatever dialogs were left open.
    QWidget* about = nullptr;
    QTimer::singleShot(0, w, [&] {
        w->show();
        form()->Bt_aboutInfo->click();
        w->settingDialogForTest()->show();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->inherits("aboutSoft")) about = top;
        boxes->answer = QMessageBox::Yes;
        w->close();
    });
    QTimer stuck;
    stuck.setSingleShot(true);
    connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    stuck.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(about);
    QVERIFY(!about->isVisible());
    QVERIFY(!w->settingDialogForTest()->isVisible());
}

void WindowLocalTest::strayWorkerEndChangesNothing() {
    // A worker that is not the current transfer finishing says nothing and leaves the controls.
    sendFileThread stray;
    connect(&stray, SIGNAL(sendOver()), w, SLOT(closeThreadSlot()));
    form()->sendHex->setEnabled(false);
    emit stray.sendOver();
    QVERIFY(boxes->boxes.isEmpty());
    QVERIFY(!form()->sendHex->isEnabled());
    QCOMPARE(form()->label_proStatus->text(), QStringLiteral(" 就绪"));
}

void WindowLocalTest::lateLinkLossIsIgnored() {
    // A loss report with nothing connected (a second report behind the first) closes nothing.
    QSignalSpy dialogReset(w, SIGNAL(SbleDisconnectSignal()));
    Widget::disconnectState(nullptr);
    QCoreApplication::processEvents();
    w->disconnectAction();
    QCOMPARE(dialogReset.size(), 0);
    QVERIFY(boxes->boxes.isEmpty());
}

QTEST_MAIN(WindowLocalTest)
#include "tst_window_local.moc"
