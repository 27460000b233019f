// Receive path: notifications, display modes, the receive file.
#include <QAction>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCodec>
#include <QTextCursor>
#include <QTimer>
#include <climits>
#include <cstring>

#include "dialogprompt.h"
#include "ui_widget.h"
#include "widget.h"

namespace {
const int kScreenLimit = 12000;
const char* const kClearText = "每接收12000字符自动清空";
const char* const kStopText = "接收12000字符后自动停止";
const char* const kNormalText = "正常显示";
const char* const kGbkText = "GBK编码";
const char* const kUtf8Text = "UTF-8编码";

QString marked(const char* text, bool on) {
    return QString::fromUtf8(on ? "● " : "  ") + QString::fromUtf8(text);
}

// Two upper-case hex digits and a separator per byte. The separator after every kHexPerLine-th byte
// of a line is a line break instead of a space: one endless line would be laid out again on every
// insertion and stall the window. Reading hex back skips the break as any other non-digit.
const int kHexPerLine = 32;

QString hexText(const char* data, int length, int& column) {
    static const char digits[] = "0123456789ABCDEF";
    QString out(length * 3, QLatin1Char(' '));
    QChar* p = out.data();
    for (int i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        p[i * 3] = QLatin1Char(digits[b >> 4]);
        p[i * 3 + 1] = QLatin1Char(digits[b & 0x0f]);
        if (++column == kHexPerLine) {
            p[i * 3 + 2] = QLatin1Char('\n');
            column = 0;
        }
    }
    return out;
}

// Hex pieces separated by single spaces back to text, up to the first zero byte.
QString textFromHex(const QString& text, QTextCodec* codec) {
    QByteArray bytes;
    for (const QString& piece : text.split(QLatin1Char(' '))) bytes += QByteArray::fromHex(piece.toUtf8());
    return codec->toUnicode(bytes.constData());
}

int boxLength(const QPlainTextEdit* box) {
    return box->document()->characterCount() - 1;
}

// Bytes already on the box's last line, at three characters per byte.
int lastLineColumn(const QPlainTextEdit* box) {
    return (box->document()->lastBlock().length() - 1) / 3 % kHexPerLine;
}
}  // namespace

void Widget::setModeBtMenu() {
    modeMenu = new QMenu(this);
    displayMenu = new QMenu(this);
    actNdns = modeMenu->addAction(QStringLiteral("不显示也不保存文件"));
    actNdos = modeMenu->addAction(QStringLiteral("不显示只保存文件"));
    actOdns = modeMenu->addAction(QStringLiteral("显示不保存文件"));
    actDs = modeMenu->addAction(QStringLiteral("显示并保存文件"));
    actDisplay = modeMenu->addAction(QStringLiteral("显示模式"));
    actDisplay->setMenu(displayMenu);
    actClearScreen = displayMenu->addAction(marked(kClearText, false));
    actStopScreen = displayMenu->addAction(marked(kStopText, false));
    actNormal = displayMenu->addAction(marked(kNormalText, false));
    displayMenu->addSeparator();
    actGbk = displayMenu->addAction(QString());
    actUtf8 = displayMenu->addAction(QString());
    connect(actNdns, SIGNAL(triggered(bool)), this, SLOT(m_ndnsSlot()));
    connect(actNdos, SIGNAL(triggered(bool)), this, SLOT(m_ndosSlot()));
    connect(actOdns, SIGNAL(triggered(bool)), this, SLOT(m_odnsSlot()));
    connect(actDs, SIGNAL(triggered(bool)), this, SLOT(m_dsSlot()));
    connect(actClearScreen, SIGNAL(triggered(bool)), this, SLOT(setClearScreenSlot()));
    connect(actStopScreen, SIGNAL(triggered(bool)), this, SLOT(setStopScreenSlot()));
    connect(actNormal, SIGNAL(triggered(bool)), this, SLOT(showNormalSlot()));
    connect(actGbk, SIGNAL(triggered(bool)), this, SLOT(setGbkCodingSlot()));
    connect(actUtf8, SIGNAL(triggered(bool)), this, SLOT(setUtf8CodingSlot()));
    ui->Bt_recv_mode->setMenu(modeMenu);
}

void Widget::notification_cb(const uuid_t* uuid, const unsigned char* data, unsigned long length) {
    char text[38];
    std::memset(text, 0, sizeof text);
    gatt_uuid_to_string(uuid, text, sizeof text);
    Widget* w = mywidget.load();
    if (!w) return;
    if (std::strcmp(text, "0xfff3") == 0)
        w->enqueueNotification(true, data, length);
    else if (std::strcmp(text, "0xfff1") == 0)
        w->enqueueNotification(false, data, length);
}

void Widget::enqueueNotification(bool modem, const unsigned char* payload, unsigned long length) {
    // No notification comes near this; a wild length must not wrap the count.
    if (length > static_cast<unsigned long>(INT_MAX)) return;
    QByteArray bytes(reinterpret_cast<const char*>(payload), static_cast<int>(length));
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        inbox.push_back(Notification{modem, std::move(bytes)});
        post = !drainPosted;
        drainPosted = true;
    }
    // One queued drain for a whole burst; the inbox keeps arrival order.
    if (post) QMetaObject::invokeMethod(this, "drainReceived", Qt::QueuedConnection);
}

void Widget::drainReceived() {
    QVector<Notification> batch;
    {
        std::lock_guard<std::mutex> lock(inboxMutex);
        batch.swap(inbox);
        drainPosted = false;
    }
    QPlainTextEdit* box = ui->plainTextEdit_recv;
    QString pending;
    int shown = boxLength(box);
    hexColumn = lastLineColumn(box);
    qint64 before = recvCount;
    for (const Notification& n : batch) {
        if (n.modem) {
            // The decoder may read a fixed-size report; never hand it fewer bytes than that.
            QByteArray report = n.bytes;
            if (report.size() < 8) report.append(QByteArray(8 - report.size(), '\0'));
            QB7720Ble_Get_Modem_state(reinterpret_cast<const unsigned char*>(report.constData()),
                                      &Widget::getModemState);
            continue;
        }
        if (recv_show) showReceived(n.bytes, pending, shown);
        if (save_file && recvFilefp)
            std::fwrite(n.bytes.constData(), 1, static_cast<size_t>(n.bytes.size()), recvFilefp);
        recvCount += n.bytes.size();
    }
    if (!pending.isEmpty()) appendToReceiveBox(pending);
    if (recvCount != before) ui->label_recvCounts->setText(QStringLiteral("接收 : %1").arg(recvCount));
}

// New data goes at the end whatever the user clicked or selected; the view follows it only while it
// was at the bottom, so reading further up is not torn away.
void Widget::appendToReceiveBox(const QString& text) {
    QPlainTextEdit* box = ui->plainTextEdit_recv;
    QScrollBar* bar = box->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const int scrolled = bar->value();
    const QTextCursor user = box->textCursor();
    const int anchor = user.anchor();
    const int position = user.position();
    QTextCursor end(box->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    // A selection reaching the old end would otherwise grow over the new text.
    if (box->textCursor().anchor() != anchor || box->textCursor().position() != position) {
        QTextCursor kept(box->document());
        kept.setPosition(anchor);
        kept.setPosition(position, QTextCursor::KeepAnchor);
        box->setTextCursor(kept);
    }
    bar->setValue(following ? bar->maximum() : scrolled);
}

// Applies the display rules to one chunk; text is collected in pending and inserted once per batch.
void Widget::showReceived(const QByteArray& bytes, QString& pending, int& shown) {
    QString text;
    if (ui->showHex->isChecked()) {
        text = hexText(bytes.constData(), bytes.size(), hexColumn);
    } else {
        text = recvDecoder->toUnicode(bytes);
    }
    if (s_clearScreen && shown > kScreenLimit) {
        ui->plainTextEdit_recv->clear();
        pending.clear();
        shown = 0;
        if (ui->showHex->isChecked()) {
            hexColumn = 0;
            text = hexText(bytes.constData(), bytes.size(), hexColumn);
        }
    }
    if (s_stopScreen && shown > kScreenLimit) recv_show = false;
    pending += text;
    shown += text.size();
}

void Widget::setRecvModeLook(const char* image, const QString& label) {
    ui->Bt_recv_mode->setStyleSheet(
        QStringLiteral("QPushButton{border-image: url(:/new/prefix1/logoIcon/%1)}")
            .arg(QLatin1String(image)));
    ui->label_RecvMode->setText(label);
    flushRecvFile();
}

void Widget::flushRecvFile() {
    if (recvFilefp) std::fflush(recvFilefp);
}

void Widget::closeRecvFile() {
    recvFlushTimer->stop();
    if (recvFilefp) {
        std::fclose(recvFilefp);
        recvFilefp = nullptr;
    }
}

void Widget::openRecvFile(const char* mode) {
    closeRecvFile();
    recvFilefp = std::fopen(QFile::encodeName(recvFilePath).constData(), mode);
    if (recvFilefp) {
        qDebug() << "open file fp!";
        // What was received is on disk within a second, not only when the file is closed.
        recvFlushTimer->start();
    }
}

void Widget::m_ndnsSlot() {
    setRecvModeLook("RecvMode00.ico", QStringLiteral("不显示也不保存文件"));
    recv_show = false;
    save_file = false;
    closeRecvFile();
}

void Widget::m_odnsSlot() {
    setRecvModeLook("RecvMode10.ico", QStringLiteral("只显示不保存文件"));
    recv_show = true;
    save_file = false;
    closeRecvFile();
}

// Switches to a saving mode. A cancelled file chooser changes nothing; a capture still open is
// continued, and an earlier one on disk is emptied only when the user says so.
bool Widget::chooseSavingMode(const char* image, const QString& label, bool show) {
    const char* mode = "wb";
    if (recvFilePath.isEmpty()) {
        recvFilePath = dialogprompt::chooseFile(
            this, {dialogprompt::Chooser::Save, QStringLiteral("请选择要保存的文件路径"),
                   QStringLiteral("D:/"), QStringLiteral("ALL(*)")});
        if (recvFilePath.isEmpty()) return false;
    } else if (recvFilefp) {
        mode = nullptr;
    } else if (QFileInfo(recvFilePath).size() > 0 &&
               !dialogprompt::askYesNo(
                   this, QStringLiteral("接收文件中已有数据，是否清空？（否：接着写在文件末尾）"))) {
        mode = "ab";
    }
    setRecvModeLook(image, label);
    recv_show = show;
    save_file = true;
    if (mode) openRecvFile(mode);
    emit changeFilePathSignal(0, recvFilePath);
    return true;
}

void Widget::m_ndosSlot() {
    chooseSavingMode("RecvMode01.ico", QStringLiteral("不显示只保存文件"), false);
}

void Widget::m_dsSlot() {
    chooseSavingMode("RecvMode11.ico", QStringLiteral("显示并保存文件"), true);
}

void Widget::setClearScreenSlot() {
    flushRecvFile();
    s_clearScreen = true;
    s_stopScreen = false;
    recv_show = true;
    actClearScreen->setText(marked(kClearText, true));
    actStopScreen->setText(marked(kStopText, false));
    actNormal->setText(marked(kNormalText, false));
}

void Widget::setStopScreenSlot() {
    flushRecvFile();
    s_clearScreen = false;
    s_stopScreen = true;
    actClearScreen->setText(marked(kClearText, false));
    actStopScreen->setText(marked(kStopText, true));
    actNormal->setText(marked(kNormalText, false));
}

void Widget::showNormalSlot() {
    flushRecvFile();
    s_clearScreen = false;
    s_stopScreen = false;
    recv_show = true;
    actClearScreen->setText(marked(kClearText, false));
    actStopScreen->setText(marked(kStopText, false));
    actNormal->setText(marked(kNormalText, true));
}

void Widget::setCoding(const char* name) {
    QTextCodec* chosen = QTextCodec::codecForName(name);
    if (!chosen) chosen = QTextCodec::codecForName("UTF-8");
    codec = chosen;
    recvDecoder.reset(codec->makeDecoder());
    if (actGbk) markCoding();
}

void Widget::markCoding() {
    const bool gbk = codec->name() == "GBK";
    actGbk->setText(marked(kGbkText, gbk));
    actUtf8->setText(marked(kUtf8Text, !gbk));
}

void Widget::setGbkCodingSlot() {
    setCoding("GBK");
}

void Widget::setUtf8CodingSlot() {
    setCoding("UTF-8");
}

void Widget::getRecvFilePath(QString path) {
    recvFilePath = path;
    qDebug() << recvFilePath;
    openRecvFile();
}

void Widget::changeRecvContentSlot(bool checked) {
    QPlainTextEdit* box = ui->plainTextEdit_recv;
    if (checked) {
        const QByteArray bytes = codec->fromUnicode(box->toPlainText());
        int column = 0;
        box->setPlainText(hexText(bytes.constData(), bytes.size(), column));
    } else {
        box->setPlainText(textFromHex(box->toPlainText(), codec));
    }
}

void Widget::clearRecvSlot() {
    ui->plainTextEdit_recv->clear();
}
