#ifndef SENDFILETHREAD_H
#define SENDFILETHREAD_H

#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>

#include "QB7720lib.h"

// Sends one file to the data characteristic, then ends; one object per transfer.
class sendFileThread : public QThread {
    Q_OBJECT

  public:
    explicit sendFileThread(QObject* parent = nullptr);

    void stopThread();
    // Ends the transfer as failed: the link it writes to is gone.
    void abortForLinkLoss();

    // Response pacing: ask for a write response every max(260, baud / 100) bytes.
    static int ackThreshold(int baud);
    // Whole percent of done out of size; an empty file is complete.
    static int percentOf(qint64 done, qint64 size);
    // The box of a transfer that ended before the whole file reached the bridge.
    static QString incompleteText(const QString& cause, qint64 sent, qint64 size);
    // The reason of the last sendFail; read once the thread has ended.
    const QString& failure() const { return failureText; }

  public slots:
    void getInfo(QB7720HANDLE* handle, QString path, int baud, int chunk);

  signals:
    void sendCountSignal(int bytes, int percent);
    void sendOver();
    void sendStop();
    // The file could not be opened or read, a write failed or the link was lost: not all was sent.
    void sendFail(QString reason);

  protected:
    void run() override;

  private:
    void fail(const QString& reason);

    int chunkLen = 0;
    int baudRate = 0;
    QMutex mutex;
    uint16_t writeHandle = 19;
    QB7720HANDLE* connHandle = nullptr;
    QString filePath;
    std::atomic<bool> running{true};
    std::atomic<bool> linkLost{false};
    QString failureText;
};

#endif  // SENDFILETHREAD_H
