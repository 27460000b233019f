// Shared helpers of the dialog tests: answering message boxes, the emulated bridges, table lookups.
#pragma once

#include <QB7720lib.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "dialogprompt.h"
#include "TestRadio.h"

// Records every box and answers from a queue; an unplanned question is answered No.
class Prompts {
  public:
    Prompts() {
        dialogprompt::setBoxHook([this](const dialogprompt::Box& box) {
            seen.append(box);
            if (!answers.isEmpty()) return answers.takeFirst();
            return box.buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
        });
    }
    ~Prompts() { dialogprompt::setBoxHook({}); }
    Prompts(const Prompts&) = delete;
    Prompts& operator=(const Prompts&) = delete;

    QStringList texts() const {
        QStringList list;
        for (const dialogprompt::Box& box : seen) list << box.text;
        return list;
    }

    QList<dialogprompt::Box> seen;
    QList<QMessageBox::StandardButton> answers;
};

// Runs the test in a fresh working directory that is also the home, where the record file lives.
class WorkingDirectory {
  public:
    WorkingDirectory() : previous_(QDir::currentPath()), previousHome_(qgetenv("HOME")) {
        QDir::setCurrent(dir_.path());
        qputenv("HOME", QFile::encodeName(dir_.path()));
    }
    ~WorkingDirectory() {
        QDir::setCurrent(previous_);
        qputenv("HOME", previousHome_);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    static QString recordPath() { return QDir::home().filePath(QStringLiteral("opt/Tavrion/TavrionCfg")); }
    static QByteArray records() {
        QFile file(recordPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void writeRecords(const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(recordPath()).path());
        QFile file(recordPath());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
    }

  private:
    QTemporaryDir dir_;
    QString previous_;
    QByteArray previousHome_;
};

inline QString addressOf(const std::shared_ptr<qb::test::TestBridge>& bridge) {
    return QString::fromStdString(bridge->addressText());
}

// Ends a test that needs what only the in-process emulator offers, saying what that is.
#define QB_IN_PROCESS_ONLY(why) \
    if (qb::test::onBus()) QSKIP("needs the in-process emulator: " why)

inline int rowOf(const QTableWidget* table, const QString& address) {
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 2) && table->item(row, 2)->text() == address) return row;
    }
    return -1;
}

inline QStringList rowTexts(const QTableWidget* table, int row) {
    QStringList texts;
    for (int column = 0; column < table->columnCount(); ++column)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QStringLiteral("<none>"));
    return texts;
}

inline void doubleClickRow(QTableWidget* table, int row) {
    QVERIFY(row >= 0 && row < table->rowCount());
    emit table->cellDoubleClicked(row, 1);
}
