// File transfer: starting, interrupting and finishing a sendFileThread.
#include <QDebug>
#include <QPushButton>

#include "dialogprompt.h"
#include "sendfilethread.h"
#include "ui_widget.h"
#include "widget.h"

void Widget::getSendFilePath(QString path) {
    sendFilePath = path;
    qDebug() << sendFilePath;
}

void Widget::restoreFileControls() {
    setToolButtonImage(ui->Bt_sendfile, "SendFile.ico");
    ui->sendHex->setEnabled(true);
    ui->sendTiming->setEnabled(true);
    fileSendIdle = true;
}

void Widget::Btn_BleSendFileSlot() {
    if (!fileSendIdle) {
        if (!dialogprompt::askYesNo(this, QStringLiteral("正在传输文件，是否中断？"))) return;
        if (fileThread) fileThread->stopThread();
        restoreFileControls();
        return;
    }
    if (!connHandle) {
        if (dialogprompt::askYesNo(this, QStringLiteral("请先连接蓝牙!"))) ui->Bt_setting->click();
        return;
    }
    if (sendFilePath.isEmpty()) {
        if (!dialogprompt::askYesNo(this, QStringLiteral("请选择发送文件!"))) return;
        sendFilePath =
            dialogprompt::chooseFile(this, {dialogprompt::Chooser::Open, QStringLiteral("请选择要发送的文件"),
                                            QStringLiteral("D:/"), QStringLiteral("ALL(*)")});
        emit changeFilePathSignal(1, sendFilePath);
        ui->Bt_sendfile->click();
        return;
    }
    if (!chunkSizeKnown(fileChunkSize)) return;
    if (timingSend) {
        // Ticks and file chunks on the same link would interleave on the remote line.
        dialogprompt::warn(this, QStringLiteral("请先停止定时发送"));
        return;
    }

    auto* worker = new sendFileThread();
    fileThread = worker;
    connect(this, SIGNAL(sendInfoTthreadSignal(QB7720HANDLE*, QString, int, int)), worker,
            SLOT(getInfo(QB7720HANDLE*, QString, int, int)), Qt::DirectConnection);
    connect(worker, SIGNAL(sendCountSignal(int, int)), this, SLOT(changeSendInfoSlot(int, int)),
            Qt::QueuedConnection);
    connect(worker, SIGNAL(sendOver()), this, SLOT(closeThreadSlot()));
    connect(worker, SIGNAL(sendStop()), this, SLOT(stopFileSendSlot()));
    connect(worker, SIGNAL(sendFail(QString)), this, SLOT(sendFailSlot(QString)));
    // The worker frees itself once its thread has ended and its signals have been delivered.
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    emit sendInfoTthreadSignal(connHandle, sendFilePath, uartBaud, fileChunkSize);
    // Each worker takes the parameters once; later transfers get their own.
    disconnect(this, SIGNAL(sendInfoTthreadSignal(QB7720HANDLE*, QString, int, int)), worker,
               SLOT(getInfo(QB7720HANDLE*, QString, int, int)));

    setToolButtonImage(ui->Bt_sendfile, "StopSendFile.ico");
    fileSendIdle = false;
    ui->sendHex->setEnabled(false);
    ui->sendTiming->setEnabled(false);
    worker->start();
}

void Widget::changeSendInfoSlot(int bytes, int percent) {
    sendCount += bytes;
    ui->label_sendCounts->setText(QStringLiteral("发送 : %1").arg(sendCount));
    ui->label_proStatus->setText(QStringLiteral("发送文件: %1 %").arg(percent));
}

void Widget::closeThreadSlot() {
    if (auto* worker = qobject_cast<sendFileThread*>(sender())) worker->quit();
    // Only the transfer on screen may give the controls back and say it completed.
    if (sender() != fileThread.data()) return;
    ui->label_sendSpeed->setText(QStringLiteral("发送速度 : %1 b/s").arg(0));
    dialogprompt::inform(this, QStringLiteral("文件发送完成"));
    restoreFileControls();
    ui->label_proStatus->setText(QStringLiteral("就绪"));
}

bool Widget::refuseWhileFileSending() {
    // An interrupted worker may still be finishing its last write.
    if (fileSendIdle && (!fileThread || fileThread->isFinished())) return false;
    dialogprompt::warn(this, QStringLiteral("正在发送文件，请等待发送完成或中断后再发送"));
    return true;
}

void Widget::stopFileSendSlot() {
    dialogprompt::inform(this, QStringLiteral("已中断文件发送"));
    ui->label_proStatus->setText(QStringLiteral("就绪"));
}

void Widget::sendFailSlot(QString reason) {
    // Only the transfer still on screen gives its controls back; an interrupted one already has.
    if (sender() == fileThread.data() && !fileSendIdle) restoreFileControls();
    ui->label_proStatus->setText(QStringLiteral("就绪"));
    dialogprompt::inform(this, reason);
}
