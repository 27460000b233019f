// The record of devices connected before: one line per device, "<mark> <name> <address>\n", where the
// mark is "last" for the device connected last and "1" for the others.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <optional>

struct ConnectionRecord {
    QString mark;
    QString name;
    QString address;

    bool isLast() const { return mark == QLatin1String("last"); }
};

class ConnectionRecordFile {
  public:
    // In the user's home directory, so every working directory sees the same records.
    static QString defaultPath();
    // Where earlier versions kept the file: a folder literally named "~" in the working directory.
    // It is only ever read, to carry its records over while the home file does not exist yet.
    static QString oldRelativePath();

    explicit ConnectionRecordFile(QString path = defaultPath(), QString oldPath = oldRelativePath());

    const QString& path() const { return path_; }

    // The records in file order; creates the folder and an empty file when they are missing.
    QVector<ConnectionRecord> load() const;

    // Whether the record of this address carries the "last" mark.
    bool isLast(const QString& address) const;

    // Marks this address as connected last (adding it at the end when new), every other one "1".
    void record(const QString& name, const QString& address) const;

    void remove(const QString& address) const;

    // Mark up to the first space, address after the last one, the name is everything between, so
    // names with spaces survive. Lines without two spaces or without an address yield nothing.
    static std::optional<ConnectionRecord> parseLine(QString line);
    static QByteArray formatLine(const ConnectionRecord& record);

  private:
    // Nothing when the file exists but cannot be read, so that it is never overwritten blindly.
    // While the file is missing, the records of the old file stand in for it.
    std::optional<QVector<ConnectionRecord>> readAll() const;
    static std::optional<QVector<ConnectionRecord>> readFile(const QString& path);
    bool writeAll(const QVector<ConnectionRecord>& records) const;

    QString path_;
    QString oldPath_;
};
