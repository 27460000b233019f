// Shared helpers of the window tests: answered message boxes and file choosers, notifications
// delivered from a foreign thread as the device library delivers them.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <thread>

#include "QB7720lib.h"
#include "dialogprompt.h"
#include "ui_widget.h"
#include "widget.h"

// Records every box and answers it; Yes unless told otherwise.
struct BoxRecorder {
    QList<dialogprompt::Box> boxes;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QStringList files;  // answers of the file choosers, in order; empty when exhausted
    QList<dialogprompt::FileRequest> fileRequests;

    BoxRecorder() {
        dialogprompt::setBoxHook([this](const dialogprompt::Box& box) {
            boxes.append(box);
            if (box.buttons & answer) return answer;
            return QMessageBox::Ok;
        });
        dialogprompt::setFileHook([this](const dialogprompt::FileRequest& request) {
            fileRequests.append(request);
            return files.isEmpty() ? QString() : files.takeFirst();
        });
    }
    ~BoxRecorder() {
        dialogprompt::setBoxHook({});
        dialogprompt::setFileHook({});
    }
    QStringList texts() const {
        QStringList out;
        for (const auto& b : boxes) out << b.text;
        return out;
    }
};

// Delivers one notification from another thread, then lets the GUI thread take it.
inline void notifyFromLibraryThread(std::uint16_t uuid16, const QByteArray& bytes) {
    std::thread t([&] {
        uuid_t uuid{};
        uuid.type = SDP_UUID16;
        uuid.value.uuid16 = uuid16;
        QByteArray padded = bytes;
        padded.append(QByteArray(8, '\0'));  // the library's buffers are at least 8 bytes
        Widget::notification_cb(&uuid, reinterpret_cast<const unsigned char*>(padded.constData()),
                                static_cast<unsigned long>(bytes.size()));
    });
    t.join();
    QCoreApplication::sendPostedEvents();
}

inline Ui::Widget* form() {
    return Widget::s_ui;
}
