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

int sendFileThread::ackThreshold(int baud) {
    const int t = baud / 100;
    return t >= 260 ? t : 260;
}

int sendFileThread::percentOf(qint64 done, qint64 size) {
    if (size <= 0) return 100;
    return static_cast<int>(static_cast<double>(done) / static_cast<double>(size) * 100.0);
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
        emit sendFail(QStringLiteral("文件打开失败"));
        return;
    }
    if (chunkLen <= 0) {
        emit sendFail(QStringLiteral("未获取到MTU，无法发送"));
        return;
    }
    const qint64 size = QFileInfo(filePath).size();
    qDebug() << "open file size" << size;

    std::vector<unsigned char> buffer(static_cast<size_t>(chunkLen));
    const int threshold = ackThreshold(baudRate);
    qint64 sent = 0;
    qint64 unacked = 0;
    for (;;) {
        QMutexLocker lock(&mutex);
        std::fill(buffer.begin(), buffer.end(), 0);
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (n == 0 && std::ferror(file.get())) {
            emit sendFail(QStringLiteral("文件读取出错"));
            return;
        }
        sent += static_cast<qint64>(n);
        unacked += static_cast<qint64>(n);
        int flag = 0;
        if (unacked >= threshold) {
            flag = 1;
            unacked = 0;
        }
        if (connHandle &&
            QB7720Ble_Write_Characteristic(connHandle, writeHandle, flag, buffer.data(), n) != 0) {
            emit sendFail(QStringLiteral("传输出错"));
            return;
        }
        emit sendCountSignal(static_cast<int>(n), percentOf(sent, size));
        lock.unlock();
        if (n == 0 || !running) break;
    }
    file.reset();
    if (running)
        emit sendOver();
    else
        emit sendStop();
}
