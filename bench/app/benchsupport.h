// Shared pieces of the terminal benchmarks: an emulator with one connected bridge, message boxes
// answered, and a watch on the GUI event loop.
#pragma once

#include <time.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "QB7720lib.h"
#include "blesetting.h"
#include "qb7720/emulator/Emulator.h"
#include "widget.h"

// Longest gap between ticks of a 5 ms timer: how long the event loop was held up. The GUI thread's
// own CPU time during that gap tells work in the window apart from time the machine gave elsewhere.
class StallWatch : public QObject {
  public:
    StallWatch() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const qint64 cpu = threadCpuNs();
            if (last_ >= 0 && now - last_ > worst_) {
                worst_ = now - last_;
                worstCpu_ = cpu - lastCpu_;
                if (getenv("BENCH_TRACE"))
                    fprintf(stderr, "stall %.1f ms (%.1f ms CPU) at %.1f s\n", worst_ / 1e6, worstCpu_ / 1e6,
                            now / 1e9);
            }
            last_ = now;
            lastCpu_ = cpu;
        });
        clock_.start();
        timer_.start();
    }
    double worstMs() const { return static_cast<double>(worst_) / 1e6; }
    double worstCpuMs() const { return static_cast<double>(worstCpu_) / 1e6; }
    void reset() {
        worst_ = 0;
        worstCpu_ = 0;
        last_ = -1;
    }

  private:
    static qint64 threadCpuNs() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<qint64>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    qint64 lastCpu_ = 0;
    qint64 worst_ = 0;
    qint64 worstCpu_ = 0;
};

// Counts the bytes a bridge notifies on its data characteristic.
class NotifiedBytes : public qb::emulator::DeviceListener {
  public:
    explicit NotifiedBytes(std::uint16_t handle) : handle_(handle) {}
    void onNotification(std::uint16_t valueHandle, const qb::emulator::Bytes& value) override {
        if (valueHandle == handle_) total += value.size();
    }
    void onConnectionChanged(bool) override {}
    void onNameChanged(const std::string&) override {}
    void onRemoved() override {}
    std::atomic<std::uint64_t> total{0};

  private:
    std::uint16_t handle_;
};

// Connects the window to the bridge with this address the way the dialog announces a connection.
inline bool connectWindow(Widget& w, const std::string& address) {
    QB7720HANDLE* handle =
        QB7720Ble_Connect(QString::fromStdString(address).toUpper().toLatin1().constData(), nullptr);
    if (!handle) return false;
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    if (QB7720Ble_Get_MTU(handle, &stream, &mtu) != 0) return false;
    emit w.settingDialogForTest()->MTUSignal(mtu);
    emit w.settingDialogForTest()->bleConnectSuccSiganl(handle, stream, QString::fromStdString(address),
                                                        QStringLiteral("QB7720-UART"));
    QElapsedTimer waited;
    waited.start();
    while (w.connectionHandle() != handle && waited.elapsed() < 5000) QApplication::processEvents();
    return w.connectionHandle() == handle;
}

inline bool connectWindow(Widget& w, const std::shared_ptr<qb::emulator::VirtualBridge>& bridge) {
    return connectWindow(w, qb::emulator::World::addressText(bridge->address()));
}

// Runs the event loop for ms milliseconds.
inline void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}
