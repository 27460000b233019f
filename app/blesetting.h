// The connection dialog: finds bridges, connects to one, remembers them, and sets the remote line.
#pragma once

#include <QB7720lib.h>

#include <QList>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <functional>
#include <memory>

#include "connectionrecord.h"
#include "node.h"

// The library's handles cross the queued connection to the window as plain pointers.
Q_DECLARE_OPAQUE_POINTER(QB7720HANDLE*)
Q_DECLARE_OPAQUE_POINTER(gatt_stream_t*)
Q_DECLARE_METATYPE(QB7720HANDLE*)
Q_DECLARE_METATYPE(gatt_stream_t*)

class QMenu;
class QAction;
class QTableWidget;
class QTimer;

class Ui_blesetting;

class blesetting : public QWidget {
    Q_OBJECT

  public:
    explicit blesetting(QWidget* parent = nullptr);
    ~blesetting() override;

    // Reached by the library's callbacks, which carry no dialog pointer.
    static blesetting* myBlesetting;

    static void Advertisement_Info_Callback(const char* address, const char* name, signed char rssi,
                                            unsigned char* data);
    static void connectionstate(QB7720HANDLE* handle, int state);

    // Second of the minute (0..59) that reports are stamped with and ages are measured against; tests
    // replace it to step over a minute. Called on the library's thread too.
    static void setSecondSource(std::function<int()> source);

    void closeNotification(QB7720HANDLE* handle);
    void getMTUValue();
    void loadHistoryFile();
    void setRightTouchMenu();
    // True when the bridge took the line settings.
    bool Ble_SetUART(QB7720HANDLE* handle, int baud, int dataBits, int stopBits, int parity);
    void Ble_SetModem(QB7720HANDLE* handle, int flowControl, int dtr, int rts);

    QB7720HANDLE* connectionHandle() const { return connHandle; }
    gatt_stream_t* connectionStream() const { return connStream; }
    const QList<node>& deviceList() const { return bleDevList; }
    bool isScanning() const { return !scanStopped; }
    bool isFlushing() const;

  signals:
    void uartBaudInfo(int baud, bool flowControl, int dataBits, int stopBits, int parity, int rts, int dtr);
    void bleConnectSuccSiganl(QB7720HANDLE* handle, gatt_stream_t* stream, QString address, QString name);
    void addFileSignal(QString devname, QString macAddr, bool mode);
    void sendFilePathSignal(QString path);
    void recvFilePathSignal(QString path);
    void MTUSignal(int mtu);
    void bleDevInfoSignal(QVariant info);
    void autoConnectSignal(bool on);
    void autoConnectInfoSignal(QString devname, QString macAddr);

  public slots:
    // Scan (device list).
    void Bt_scanBleDevSlot();
    void scanBleDevTimerSlot();
    void recvBleInfoSlot(QVariant bleDevInfo);
    void fflushBleDevSlot();
    void clearCurrentScanSlot();

    // Connecting and disconnecting.
    void bleDevStatusChangeSlot(int row, int column);
    void changeRecordSlot(int row, int column);
    void recvAutoConnectSlot(QString devname, QString macAddr);
    void settingDisconnectAction();

    // Record file.
    bool addDevConnectInfo(QString devname, QString macAddr, bool mode);
    void contexMenuSlot(QPoint pos);
    void deleteRecordItem();

    // Remote serial line.
    void tavrionSettingSlot();
    void setRTShardflowSlot(int state);
    void changeRTS(bool on);
    void changeDTR(bool on);

    // Version, MTU and files.
    void getBleVersionSlot();
    void tavrionSendFileSlot();
    void tavrionRecvFileSlot();
    void changeFilePathSloT(int kind, QString path);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    static int currentSecond();
    void haltScan();
    void stopDiscovery();
    void resumeScan();
    void setStatus(const QString& text);
    void markConnectedRowsLost();
    void moveRecordRowToTop(int row);
    int lastRecordRow(const QString& address) const;
    void removeLastListed(const QString& address);
    void removeScanRows(const QString& address);
    void insertRow(QTableWidget* table, int row, const QString& c0, const QString& c1, const QString& c2);
    void dropConnection();
    void announceClosed();
    void showDisconnected();

    Ui_blesetting* ui;
    QB7720HANDLE* connHandle = nullptr;
    gatt_stream_t* connStream = nullptr;
    QList<node> bleDevList;
    QString sendFilePath;
    QString recvFilePath;
    QString bleMac;
    std::unique_ptr<QTimer> scanTimer;
    std::unique_ptr<QTimer> flushTimer;
    QMenu* recordMenu = nullptr;
    QAction* deleteAction = nullptr;
    bool scanStopped = true;
    bool autoConnectArmed = true;
    char dataUuid[10] = "0xfff1";
    char modemUuid[10] = "0xfff3";
    ConnectionRecordFile records;
};
