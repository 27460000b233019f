#include "sendfilethread.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <cstdio>
#include <memory>
#include <vector>

sendFileThread::sendFileThread(QObject* parent) : QThread(parent) {}

void sendFileThread::stopThread() {
    running = false;
}

void sendFileThread::abortForLinkLoss() {
    linkLost = true;
    running = false;
}

QString sendFileThread::incompleteText(const QString& cause, qint64 sent, qint64 size) {
    return QStringLiteral("%1，文件未发送完成（已发送 %2 / %3 字节）").arg(cause).arg(sent).arg(size);
}

int sendFileThread::ackThreshold(int baud) {
    const int t = baud / 100;
    return t >= 260 ? t : 260;
}

int sendFileThread::percentOf(qint64 done, qint64 size) {
    if (size <= 0) return 100;
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(size) * 100.0);
}

void sendFileThread::fail(const QString& reason) {
    failureText = reason;
    emit sendFail(reason);
}

void sendFileThread::getInfo(QB7720HANDLE* handle, QString path, int baud, int chunk) {
    connHandle = handle;
    filePath = path;
    baudRate = baud;
    chunkLen = chunk;
}

void sendFileThread::run() {
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file(std::fopen(QFile::encodeName(filePath).constData(), "rb"));
    if (!file) {
        qDebug() << "open file failed!";
        fail(QStringLiteral("文件打开失败"));
        return;
    }
    if (chunkLen <= 0) {
        fail(QStringLiteral("未获取到MTU，无法发送"));
        return;
    }
    const qint64 size = QFileInfo(filePath).size();
    qDebug() << "open file size" << size;

    std::vector<unsigned char> buffer(static_cast<size_t>(chunkLen));
    const int threshold = ackThreshold(baudRate);
    // Only bytes the library took count: progress and speed follow what reached the link.
    qint64 sent = 0;
    qint64 unacked = 0;
    bool reachedEnd = false;
    for (;;) {
        QMutexLocker lock(&mutex);
        std::fill(buffer.begin(), buffer.end(), 0);
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (n == 0 && std::ferror(file.get())) {
            fail(incompleteText(QStringLiteral("文件读取出错"), sent, size));
            return;
        }
        unacked += static_cast<qint64>(n);
        int flag = 0;
        if (unacked >= threshold) {
            flag = 1;
            unacked = 0;
        }
        int result = 0;
        // A bridge that stays paused past the library's wait got nothing; the same chunk goes again
        // once it lets go, unless the user stops the transfer meanwhile.
        do {
            result = connHandle
                         ? QB7720Ble_Write_Characteristic(connHandle, writeHandle, flag, buffer.data(), n)
                         : 0;
        } while (result == QB7720LIB_E_PAUSED && running);
        if (result == QB7720LIB_E_PAUSED) break;
        if (result != 0) {
            const bool gone = result == QB7720LIB_E_NOT_CONNECTED || linkLost;
            fail(incompleteText(gone ? QStringLiteral("蓝牙连接已断开") : QStringLiteral("传输出错"), sent,
                                size));
            return;
        }
        sent += static_cast<qint64>(n);
        emit sendCountSignal(static_cast<int>(n), percentOf(sent, size));
        lock.unlock();
        reachedEnd = n == 0;
        if (reachedEnd || !running) break;
    }
    file.reset();
    if (reachedEnd && sent == size) {
        emit sendOver();
    } else if (linkLost) {
        fail(incompleteText(QStringLiteral("蓝牙连接已断开"), sent, size));
    } else if (!running) {
        emit sendStop();
    } else {
        // The file changed under the transfer: what the bridge got is not the file that was chosen.
        fail(incompleteText(QStringLiteral("文件读取出错"), sent, size));
    }
}
