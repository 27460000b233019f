// Modem lines, serial settings report, counters and rates.
#include <QDebug>
#include <QLabel>

#include "sendfilethread.h"
#include "ui_widget.h"
#include "widget.h"

void Widget::disableModemSignal() {
    ui->BoxCTS->setEnabled(false);
    ui->BoxDSR->setEnabled(false);
    ui->BoxRing->setEnabled(false);
    ui->BoxDCD->setEnabled(false);
}

void Widget::getModemState(bool dcd, bool ring, bool dsr, bool cts) {
    // Reached from the GUI thread's drain of notifications only.
    if (!s_ui) return;
    s_ui->BoxDCD->setChecked(dcd);
    s_ui->BoxRing->setChecked(ring);
    s_ui->BoxDSR->setChecked(dsr);
    s_ui->BoxCTS->setChecked(cts);
}

void Widget::changeModemStatusSlot() {
    if (!connHandle) return;
    if (QB7720Ble_Set_Modem(connHandle, connStream, 0, ui->BoxDTR->isChecked() ? 1 : 0,
                            ui->BoxRTS->isChecked() ? 1 : 0) != 0)
        qDebug() << "set modem failed!";
}

void Widget::getUartBaud(int baud, bool, int dataBits, int stopBits, int parity, int rts, int dtr) {
    static const char* const parityNames[] = {"None", "Odd", "Even", "Mark", "Space"};
    uartBaud = baud;
    // Below 100 baud the rule would give chunks of no bytes, and file sending would stop for good.
    if (baud >= 100 && baud / 100 < fileChunkSize) fileChunkSize = baud / 100;
    const QStringList pieces = ui->label_BleInfo->text().split(QLatin1Char(' '));
    ui->label_BleInfo->clear();
    const QString parityName =
        parity >= 0 && parity <= 4 ? QLatin1String(parityNames[parity]) : QString::number(parity);
    const QString settings =
        QStringLiteral(" %1,%2,%3,%4").arg(baud).arg(dataBits).arg(stopBits).arg(parityName);
    qDebug() << settings;
    ui->label_BleInfo->setText(pieces.first() + settings);
    if (rts == -1) {
        ui->BoxRTS->setEnabled(false);
    } else {
        ui->BoxRTS->setEnabled(true);
        ui->BoxRTS->setChecked(rts != 0);
    }
    ui->BoxDTR->setChecked(dtr != 0);
}

static QString rateText(double delta) {
    if (delta >= 1024) return QStringLiteral("%1 kB/s").arg(delta / 1024, 0, 'f', 2);
    return QStringLiteral("%1 b/s").arg(delta, 0, 'f', 2);
}

void Widget::calSpeedSlot() {
    const double sendDelta = static_cast<double>(sendCount - lastSendCount);
    lastSendCount = sendCount;
    const double recvDelta = static_cast<double>(recvCount - lastRecvCount);
    lastRecvCount = recvCount;
    ui->label_sendSpeed->setText(QStringLiteral("发送速度 : ") + rateText(sendDelta));
    ui->label_recvSpeed->setText(QStringLiteral("接收速度 : ") + rateText(recvDelta));
}

void Widget::clearCountsSlot() {
    sendCount = 0;
    lastSendCount = 0;
    lastRecvCount = 0;
    recvCount = 0;
    ui->label_sendCounts->setText(QStringLiteral("%1 : 0").arg(QStringLiteral("发送")));
    ui->label_recvCounts->setText(QStringLiteral("%1 : 0").arg(QStringLiteral("接收")));
    ui->label_sendSpeed->setText(QStringLiteral("%1 : 0 kb/s").arg(QStringLiteral("发送速度")));
    ui->label_recvSpeed->setText(QStringLiteral("%1 : 0 kb/s").arg(QStringLiteral("接收速度")));
}
