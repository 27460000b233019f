#include "connectionrecord.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

QString ConnectionRecordFile::defaultPath() {
    return QDir::home().filePath(QStringLiteral("opt/Tavrion/TavrionCfg"));
}

QString ConnectionRecordFile::oldRelativePath() {
    return QDir::current().filePath(QStringLiteral("~/opt/Tavrion/TavrionCfg"));
}

ConnectionRecordFile::ConnectionRecordFile(QString path, QString oldPath)
    : path_(std::move(path)), oldPath_(std::move(oldPath)) {}

std::optional<ConnectionRecord> ConnectionRecordFile::parseLine(QString line) {
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
    const int first = line.indexOf(QLatin1Char(' '));
    const int last = line.lastIndexOf(QLatin1Char(' '));
    if (first < 0 || last == first) return std::nullopt;
    ConnectionRecord record;
    record.mark = line.left(first);
    record.name = line.mid(first + 1, last - first - 1);
    record.address = line.mid(last + 1);
    // A record without an address could never be matched or connected.
    if (record.address.isEmpty()) return std::nullopt;
    return record;
}

QByteArray ConnectionRecordFile::formatLine(const ConnectionRecord& record) {
    // A line break inside an advertised name would split the record in two.
    QString name = record.name;
    name.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return (record.mark + QLatin1Char(' ') + name + QLatin1Char(' ') + record.address + QLatin1Char('\n'))
        .toUtf8();
}

std::optional<QVector<ConnectionRecord>> ConnectionRecordFile::readAll() const {
    if (!QFileInfo::exists(path_) && !oldPath_.isEmpty() && QFileInfo(oldPath_) != QFileInfo(path_)) {
        return readFile(oldPath_);
    }
    return readFile(path_);
}

std::optional<QVector<ConnectionRecord>> ConnectionRecordFile::readFile(const QString& path) {
    QVector<ConnectionRecord> records;
    QFile file(path);
    if (!file.exists()) return records;
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& bytes : lines) {
        if (auto record = parseLine(QString::fromUtf8(bytes))) records.append(std::move(*record));
    }
    return records;
}

bool ConnectionRecordFile::writeAll(const QVector<ConnectionRecord>& records) const {
    // Written whole to a temporary and renamed, so an interrupted rewrite never loses the old records.
    QDir().mkpath(QFileInfo(path_).path());
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (const ConnectionRecord& record : records) file.write(formatLine(record));
    return file.commit();
}

QVector<ConnectionRecord> ConnectionRecordFile::load() const {
    const QFileInfo info(path_);
    qDebug() << info.absoluteFilePath();
    QDir().mkpath(info.path());
    if (!info.exists()) {
        const QVector<ConnectionRecord> carried = readAll().value_or(QVector<ConnectionRecord>{});
        if (!carried.isEmpty()) {
            qDebug() << "records carried over from" << oldPath_;
            if (writeAll(carried)) return carried;
        }
        QFile file(path_);
        if (file.open(QIODevice::ReadWrite)) file.close();
        return carried;
    }
    return readAll().value_or(QVector<ConnectionRecord>{});
}

bool ConnectionRecordFile::isLast(const QString& address) const {
    bool last = false;
    for (const ConnectionRecord& record : readAll().value_or(QVector<ConnectionRecord>{})) {
        if (record.address == address) last = record.isLast();
    }
    return last;
}

void ConnectionRecordFile::record(const QString& name, const QString& address) const {
    std::optional<QVector<ConnectionRecord>> read = readAll();
    if (!read) return;
    QVector<ConnectionRecord>& records = *read;
    bool found = false;
    for (ConnectionRecord& record : records) {
        const bool match = record.address == address;
        record.mark = match ? QStringLiteral("last") : QStringLiteral("1");
        found = found || match;
    }
    if (!found) records.append(ConnectionRecord{QStringLiteral("last"), name, address});
    if (!writeAll(records)) qDebug() << "record file not written:" << path_;
}

void ConnectionRecordFile::remove(const QString& address) const {
    const std::optional<QVector<ConnectionRecord>> records = readAll();
    if (!records) return;
    QVector<ConnectionRecord> kept;
    for (const ConnectionRecord& record : *records) {
        if (record.address != address) kept.append(record);
    }
    if (!writeAll(kept)) qDebug() << "record file not written:" << path_;
}
