#ifndef WIDGET_H
#define WIDGET_H

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include "QB7720lib.h"
#include "sendfilethread.h"

class QAction;
class QCloseEvent;
class QDesktopWidget;
class QMenu;
class QTextCodec;
class QTextDecoder;
class QTimer;
class aboutSoft;
class blesetting;

namespace Ui {
class Widget;
}

// State shared with the library's static callbacks, which carry no context.
extern bool recv_show;
extern bool s_clearScreen;
extern bool s_stopScreen;
extern bool save_file;
extern FILE* recvFilefp;
extern qint64 recvCount;

class Widget : public QWidget {
    Q_OBJECT

  public:
    explicit Widget(QWidget* parent = nullptr);
    ~Widget() override;

    static Ui::Widget* s_ui;
    // Read by the library's threads, so the hand-over is atomic.
    static std::atomic<Widget*> mywidget;

    // Library callbacks; they may run on the library's thread.
    static void notification_cb(const uuid_t* uuid, const unsigned char* data, unsigned long length);
    static void disconnectState(void* user_data);
    static void getModemState(bool dcd, bool ring, bool dsr, bool cts);

    static QByteArray strToHex(const QString& text);
    static char ConvertHexChar(char c);

    // Read-only views for tests and benchmarks.
    QB7720HANDLE* connectionHandle() const { return connHandle; }
    int mtu() const { return mtuValue; }
    int chunkSize() const { return fileChunkSize; }
    int baud() const { return uartBaud; }
    qint64 sentBytes() const { return sendCount; }
    bool fileTransferIdle() const { return fileSendIdle; }
    bool timedSendingActive() const { return timingSend; }
    QTimer* speedTimerForTest() const { return speedTimer; }
    QTimer* sendTimerForTest() const { return sendTimer; }
    blesetting* settingDialogForTest() const { return settingDialog; }
    QMenu* modeMenuForTest() const { return modeMenu; }
    QMenu* displayMenuForTest() const { return displayMenu; }
    sendFileThread* fileWorkerForTest() const { return fileThread; }
    const QString& receiveFilePath() const { return recvFilePath; }
    QTextCodec* textCodec() const { return codec; }
    QTimer* recvFlushTimerForTest() const { return recvFlushTimer; }

  signals:
    void openBleSettingSiganl();
    void changeFilePathSignal(int kind, QString path);
    void bleDisconnectSignal();
    void SbleDisconnectSignal();
    void sendInfoTthreadSignal(QB7720HANDLE* handle, QString path, int baud, int chunk);

  public slots:
    void Btn_BleSettingSlot();
    void Btn_aboutSoft();
    void getConnectInfo(QB7720HANDLE* handle, gatt_stream_t* stream, QString address, QString text);
    void disconnectAction();

    // Receive path
    void m_ndnsSlot();
    void m_ndosSlot();
    void m_odnsSlot();
    void m_dsSlot();
    void setClearScreenSlot();
    void setStopScreenSlot();
    void showNormalSlot();
    void setGbkCodingSlot();
    void setUtf8CodingSlot();
    void getRecvFilePath(QString path);
    void changeRecvContentSlot(bool checked);
    void clearRecvSlot();

    // Send path
    void Btn_sendInputSlot();
    void sendOntimeSlot();
    void changeSendHexContentSlot();
    void changeSendContentSlot(bool checked);
    void clearSendSlot();
    void getMTUValueSlot(int mtu);

    // File transfer
    void getSendFilePath(QString path);
    void Btn_BleSendFileSlot();
    void changeSendInfoSlot(int bytes, int percent);
    void closeThreadSlot();
    void stopFileSendSlot();
    void sendFailSlot(QString reason);

    // Modem lines and statistics
    void changeModemStatusSlot();
    void getUartBaud(int baud, bool flow, int dataBits, int stopBits, int parity, int rts, int dtr);
    void calSpeedSlot();
    void clearCountsSlot();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private slots:
    void drainReceived();
    void flushRecvFile();

  private:
    struct Notification {
        bool modem;
        QByteArray bytes;
    };

    void setModeBtMenu();
    void disableModemSignal();
    void Ble_Notification(QB7720HANDLE* handle);
    void closeNotification(QB7720HANDLE* handle);
    void setRecvModeLook(const char* image, const QString& label);
    void setToolButtonImage(QWidget* button, const char* image);
    void openRecvFile(const char* mode = "wb");
    void closeRecvFile();
    bool chooseSavingMode(const char* image, const QString& label, bool show);
    void appendToReceiveBox(const QString& text);
    void setCoding(const char* name);
    void markCoding();
    void showDisconnected();
    // True, with a box, when a file transfer still owns the link.
    bool refuseWhileFileSending();
    // Ends a running worker and waits for it, taking its closing report: why it did not complete,
    // or empty.
    QString endFileWorker(bool linkLost);
    void showReceived(const QByteArray& bytes, QString& pending, int& boxLength);
    void stopTimedSending();
    void restoreFileControls();
    bool chunkSizeKnown(int chunk);
    static int writeSize(int mtu);
    // Writes len bytes in chunks of the MTU payload; paced selects the timed-sending response rule.
    bool writeChunks(const QByteArray& message, int len, bool paced);
    void enqueueNotification(bool modem, const unsigned char* payload, unsigned long length);

    QB7720HANDLE* connHandle = nullptr;
    gatt_stream_t* connStream = nullptr;
    Ui::Widget* ui;
    QMenu* modeMenu = nullptr;
    QMenu* displayMenu = nullptr;
    QAction* actNdns = nullptr;
    QAction* actNdos = nullptr;
    QAction* actOdns = nullptr;
    QAction* actDs = nullptr;
    QAction* actDisplay = nullptr;
    QAction* actClearScreen = nullptr;
    QAction* actStopScreen = nullptr;
    QAction* actNormal = nullptr;
    QAction* actGbk = nullptr;
    QAction* actUtf8 = nullptr;
    // One encoding for the send box, the receive box and both hex conversions.
    QTextCodec* codec = nullptr;
    // Keeps a character split across two notifications whole.
    std::unique_ptr<QTextDecoder> recvDecoder;
    QTimer* recvFlushTimer = nullptr;
    QDesktopWidget* desktop;
    QTimer* speedTimer = nullptr;
    QTimer* sendTimer = nullptr;
    QString sendFilePath;
    QString recvFilePath;
    QString bleMac;
    blesetting* settingDialog = nullptr;
    // Guarded: a finished worker deletes itself.
    QPointer<sendFileThread> fileThread;
    aboutSoft* aboutDialog = nullptr;
    // 64-bit so that transfers past 2 GiB count correctly.
    qint64 lastSendCount = 0;
    qint64 sendCount = 0;
    qint64 unackedBytes = 0;
    qint64 lastRecvCount = 0;
    int uartBaud = 0;
    int mtuValue = 0;
    int hexColumn = 0;  // bytes on the receive box's last hex line
    int fileChunkSize = 0;
    bool timingSend = false;
    bool fileSendIdle = true;
    bool lastWriteOk = true;
    bool linkLossOpen = false;
    // Identifies each link the window registered for loss reports; a handle's address may be reused.
    quintptr linkToken = 0;
    uint16_t writeHandle = 19;
    char dataUuid[10] = "0xfff1";
    char modemUuid[10] = "0xfff3";

    // Notifications handed over from the library's thread, drained on the GUI thread in arrival order.
    std::mutex inboxMutex;
    QVector<Notification> inbox;
    bool drainPosted = false;

    // Tokens of links whose loss the library reported, taken by disconnectAction.
    std::mutex lostMutex;
    QVector<quintptr> lostLinks;
};

#endif  // WIDGET_H
