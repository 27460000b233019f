// Send path: single and timed sending, hex input helpers.
#include <QPlainTextEdit>
#include <QTextCodec>
#include <QTextCursor>
#include <QTimer>
#include <cstring>

#include "dialogprompt.h"
#include "sendfilethread.h"
#include "ui_widget.h"
#include "widget.h"

namespace {
const int kMaxMessage = 4096;

int lengthToZero(const QByteArray& bytes) {
    return static_cast<int>(qstrnlen(bytes.constData(), bytes.size()));
}
}  // namespace

char Widget::ConvertHexChar(char c) {
    if (c >= '0' && c <= '9') return static_cast<char>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<char>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<char>(c - 'a' + 10);
    return 0;
}

QByteArray Widget::strToHex(const QString& input) {
    QString text = input;
    if (text.size() % 2 != 0) text.insert(text.size() - 1, QLatin1Char('0'));
    QByteArray out;
    out.reserve(text.size() / 2);
    const int n = text.size();
    for (int i = 0; i < n;) {
        if (text.at(i) == QLatin1Char(' ')) {
            ++i;
            continue;
        }
        if (i + 1 >= n) break;
        const char hi = ConvertHexChar(text.at(i).toLatin1());
        const char lo = ConvertHexChar(text.at(i + 1).toLatin1());
        out.append(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

void Widget::getMTUValueSlot(int mtu) {
    mtuValue = mtu;
    fileChunkSize = writeSize(mtu);
}

void Widget::clearSendSlot() {
    ui->plainTextEdit_send->clear();
}

void Widget::changeSendHexContentSlot() {
    if (!ui->sendHex->isChecked()) return;
    const QString text = ui->plainTextEdit_send->toPlainText();
    if (text.isEmpty() || text.endsWith(QLatin1Char(' '))) return;
    int digits = 0;
    for (const QChar c : text)
        if (!c.isSpace()) ++digits;
    if (digits % 2 != 0) return;
    // At the end, not at the cursor: inserted elsewhere the text would still end in a digit and
    // every insertion would trigger another one.
    QTextCursor end(ui->plainTextEdit_send->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral(" "));
}

void Widget::changeSendContentSlot(bool checked) {
    QPlainTextEdit* box = ui->plainTextEdit_send;
    const QString text = box->toPlainText();
    if (checked) {
        const QByteArray bytes = codec->fromUnicode(text);
        QString hex;
        hex.reserve(bytes.size() * 3);
        for (const char b : bytes) hex += QString::asprintf("%02X ", static_cast<unsigned char>(b));
        box->setPlainText(hex);
    } else {
        QByteArray bytes;
        for (const QString& piece : text.split(QLatin1Char(' ')))
            bytes += QByteArray::fromHex(piece.toUtf8());
        box->setPlainText(codec->toUnicode(bytes.constData()));
    }
}

int Widget::writeSize(int mtu) {
    // An attribute value holds 512 bytes at most; a bridge drops longer writes even at MTU 517.
    return qMin(mtu - 3, 512);
}

bool Widget::chunkSizeKnown(int chunk) {
    if (chunk > 0) return true;
    dialogprompt::warn(this, QStringLiteral("未获取到MTU，无法发送数据"));
    return false;
}

bool Widget::writeChunks(const QByteArray& message, int len, bool paced) {
    const int chunk = writeSize(mtuValue);
    const int threshold = sendFileThread::ackThreshold(uartBaud);
    for (int pos = 0; pos < len;) {
        const int n = qMin(chunk, len - pos);
        int flag = 1;
        if (paced) {
            unackedBytes += n;
            if (unackedBytes >= threshold) {
                unackedBytes = 0;
            } else {
                flag = 0;
            }
        }
        if (QB7720Ble_Write_Characteristic(connHandle, writeHandle, flag, message.constData() + pos,
                                           static_cast<size_t>(n)) != 0) {
            if (paced) lastWriteOk = false;
            dialogprompt::inform(this, QStringLiteral("传输出错"));
            return false;
        }
        if (paced) lastWriteOk = true;
        pos += n;
        sendCount += n;
        ui->label_sendCounts->setText(QStringLiteral("发送 : %1").arg(sendCount));
    }
    return true;
}

void Widget::stopTimedSending() {
    if (sendTimer->isActive()) sendTimer->stop();
    timingSend = false;
    ui->label_proStatus->setText(QStringLiteral("就绪"));
    ui->BtSend->setText(QStringLiteral("发送"));
    ui->sendTiming->setEnabled(true);
}

// The message a press or a tick sends: hex pairs, or the text in the chosen encoding.
static QByteArray messageOf(const QString& text, bool hex, QTextCodec* codec) {
    const QByteArray encoded = codec->fromUnicode(text);
    if (!hex) return encoded;
    return Widget::strToHex(QString::fromLatin1(encoded.constData()));
}

void Widget::Btn_sendInputSlot() {
    const QString text = ui->plainTextEdit_send->toPlainText();
    if (text.isEmpty()) {
        dialogprompt::warn(this, QStringLiteral("发送框不能为空"));
        return;
    }
    const bool timed = ui->sendTiming->isChecked();
    if (timed && !timingSend) {
        if (!connHandle) {
            dialogprompt::warn(this, QStringLiteral("请连接蓝牙设备!"));
            return;
        }
        if (ui->sendTimingUnit->text().isEmpty()) {
            dialogprompt::warn(this, QStringLiteral("请设置间隔时间！"));
            return;
        }
        if (!chunkSizeKnown(writeSize(mtuValue))) return;
        if (refuseWhileFileSending()) return;
        timingSend = true;
        ui->BtSend->setText(QStringLiteral("停止发送"));
        ui->sendTiming->setEnabled(false);
        const int interval = ui->sendTimingUnit->text().toInt();
        ui->label_proStatus->setText(QStringLiteral("定时发送中..."));
        sendTimer->start(qMax(0, interval));
        return;
    }
    if (timed && timingSend) {
        stopTimedSending();
        return;
    }
    if (timingSend) return;

    if (sendTimer->isActive()) sendTimer->stop();
    const QByteArray message = messageOf(text, ui->sendHex->isChecked(), codec);
    const int len = lengthToZero(message);
    if (len > kMaxMessage) {
        dialogprompt::warn(this, QStringLiteral("超过发送缓冲区大小"));
        return;
    }
    if (!connHandle) {
        stopTimedSending();
        dialogprompt::warn(this, QStringLiteral("请连接蓝牙设备!"));
        return;
    }
    if (len == 0) return;
    if (!chunkSizeKnown(writeSize(mtuValue))) return;
    if (refuseWhileFileSending()) return;
    writeChunks(message, len, false);
}

void Widget::sendOntimeSlot() {
    if (connHandle && lastWriteOk) {
        const QByteArray message =
            messageOf(ui->plainTextEdit_send->toPlainText(), ui->sendHex->isChecked(), codec);
        const int len = lengthToZero(message);
        if (len == 0) return;
        if (writeSize(mtuValue) <= 0) {
            stopTimedSending();
            chunkSizeKnown(writeSize(mtuValue));
            return;
        }
        writeChunks(message, len, true);
        return;
    }
    stopTimedSending();
    lastWriteOk = true;
    dialogprompt::warn(this, QStringLiteral("请连接蓝牙设备!"));
}
