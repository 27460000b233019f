// The connection record file: its line format, the recording and deleting passes, and damaged input.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "connectionrecord.h"

namespace {
QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}
}  // namespace

class RecordFileTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        previousDirectory_ = QDir::currentPath();
        previousHome_ = qgetenv("HOME");
    }

    // Each test gets its own home and working directory, so no file of the user or of an earlier
    // run is ever seen or touched.
    void init() {
        dir_.reset(new QTemporaryDir);
        QVERIFY(dir_->isValid());
        home_ = dir_->filePath(QStringLiteral("home"));
        work_ = dir_->filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(home_) && QDir().mkpath(work_));
        qputenv("HOME", QFile::encodeName(home_));
        QVERIFY(QDir::setCurrent(work_));
        path_ = home_ + QStringLiteral("/opt/Tavrion/TavrionCfg");
    }

    void cleanup() { QDir::setCurrent(previousDirectory_); }

    void cleanupTestCase() { qputenv("HOME", previousHome_); }

    void parsesAndFormatsLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::newRow("plain") << "last QB7720-UART c0:51:00:00:00:01\n"
                               << true << "last"
                               << "QB7720-UART"
                               << "c0:51:00:00:00:01";
        QTest::newRow("empty name") << "1  c0:51:00:00:00:02\n"
                                    << true << "1"
                                    << ""
                                    << "c0:51:00:00:00:02";
        QTest::newRow("name with spaces") << "1 Lab bench 2 AA:BB\n"
                                          << true << "1"
                                          << "Lab bench 2"
                                          << "AA:BB";
        QTest::newRow("no line feed at the end") << "last dev AA:BB" << true << "last"
                                                 << "dev"
                                                 << "AA:BB";
        QTest::newRow("carriage return") << "last dev AA:BB\r\n"
                                         << true << "last"
                                         << "dev"
                                         << "AA:BB";
        QTest::newRow("chinese name") << "1 温度计 AA:BB\n"
                                      << true << "1"
                                      << "温度计"
                                      << "AA:BB";
        QTest::newRow("empty line") << "\n"
                                    << false << ""
                                    << ""
                                    << "";
        QTest::newRow("one field") << "last\n"
                                   << false << ""
                                   << ""
                                   << "";
        QTest::newRow("two fields") << "last AA:BB\n"
                                    << false << ""
                                    << ""
                                    << "";
        QTest::newRow("empty address") << "last dev \n"
                                       << false << ""
                                       << ""
                                       << "";
    }

    void parsesAndFormatsLines() {
        QFETCH(QString, line);
        QFETCH(bool, valid);
        const auto record = ConnectionRecordFile::parseLine(line);
        QCOMPARE(record.has_value(), valid);
        if (!valid) return;
        QFETCH(QString, mark);
        QFETCH(QString, name);
        QFETCH(QString, address);
        QCOMPARE(record->mark, mark);
        QCOMPARE(record->name, name);
        QCOMPARE(record->address, address);
        // Whatever was read is written back so that it reads the same.
        const auto again =
            ConnectionRecordFile::parseLine(QString::fromUtf8(ConnectionRecordFile::formatLine(*record)));
        QVERIFY(again.has_value());
        QCOMPARE(again->name, name);
        QCOMPARE(again->address, address);
    }

    void lineBreakInNameCannotSplitRecord() {
        const QByteArray line =
            ConnectionRecordFile::formatLine({QStringLiteral("last"), "a\nb\rc", "AA:BB"});
        QCOMPARE(line.count('\n'), 1);
        const auto record = ConnectionRecordFile::parseLine(QString::fromUtf8(line));
        QVERIFY(record.has_value());
        QCOMPARE(record->address, QStringLiteral("AA:BB"));
    }

    void loadCreatesMissingFolderAndFile() {
        ConnectionRecordFile file(path_);
        QVERIFY(file.load().isEmpty());
        QVERIFY(QFileInfo(path_).isFile());
        QCOMPARE(readFile(path_), QByteArray());
    }

    void recordingMovesLastMark() {
        ConnectionRecordFile file(path_);
        file.load();
        file.record(QStringLiteral("First"), QStringLiteral("AA:01"));
        QCOMPARE(readFile(path_), QByteArray("last First AA:01\n"));

        file.record(QStringLiteral("Second"), QStringLiteral("AA:02"));
        QCOMPARE(readFile(path_), QByteArray("1 First AA:01\nlast Second AA:02\n"));

        // A known device keeps the name stored for it and its place in the file.
        file.record(QStringLiteral("Renamed"), QStringLiteral("AA:01"));
        QCOMPARE(readFile(path_), QByteArray("last First AA:01\n1 Second AA:02\n"));

        file.record(QString(), QStringLiteral("AA:03"));
        QCOMPARE(readFile(path_), QByteArray("1 First AA:01\n1 Second AA:02\nlast  AA:03\n"));
        const auto records = file.load();
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.at(2).name, QString());
        QVERIFY(records.at(2).isLast());
    }

    void lookupFindsOnlyTheLastMarkedAddress() {
        writeFile(path_, "1 A AA:01\nlast B AA:02\n1 C AA:03\n");
        ConnectionRecordFile file(path_);
        QVERIFY(file.isLast(QStringLiteral("AA:02")));
        QVERIFY(!file.isLast(QStringLiteral("AA:01")));
        QVERIFY(!file.isLast(QStringLiteral("aa:02")));
        QVERIFY(!file.isLast(QStringLiteral("AA:99")));
        // Two lines of one address (edited by hand): the later line decides.
        writeFile(path_, "last B AA:02\n1 B AA:02\n");
        QVERIFY(!file.isLast(QStringLiteral("AA:02")));
    }

    void damagedLinesAreSkippedAndDropped() {
        writeFile(path_, "\nlast\n1 Old Name AA:01\ngarbage AA:09\n1  AA:02");
        ConnectionRecordFile file(path_);
        const auto records = file.load();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.at(0).name, QStringLiteral("Old Name"));
        QCOMPARE(records.at(1).address, QStringLiteral("AA:02"));
        QVERIFY(!file.isLast(QStringLiteral("AA:09")));

        file.record(QStringLiteral("New"), QStringLiteral("AA:02"));
        QCOMPARE(readFile(path_), QByteArray("1 Old Name AA:01\nlast  AA:02\n"));

        writeFile(path_, "\n\nx\n");
        file.record(QStringLiteral("Only"), QStringLiteral("AA:05"));
        QCOMPARE(readFile(path_), QByteArray("last Only AA:05\n"));
    }

    void removeKeepsOtherLinesInOrder() {
        writeFile(path_, "1 A AA:01\nlast B AA:02\n1 C AA:03\nbroken\n");
        ConnectionRecordFile file(path_);
        file.remove(QStringLiteral("AA:02"));
        QCOMPARE(readFile(path_), QByteArray("1 A AA:01\n1 C AA:03\n"));
        // With the "last" line gone, nothing is the device connected last.
        QVERIFY(!file.isLast(QStringLiteral("AA:01")));
        QVERIFY(!file.isLast(QStringLiteral("AA:03")));
        file.remove(QStringLiteral("AA:77"));
        QCOMPARE(readFile(path_), QByteArray("1 A AA:01\n1 C AA:03\n"));
    }

    void defaultPathIsInHomeWhateverTheWorkingDirectory() {
        // Names that are not Latin-1 must work as well as any other.
        const QString home = dir_->filePath(QStringLiteral("家 ü"));
        const QString elsewhere = dir_->filePath(QStringLiteral("工作目录"));
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(elsewhere));
        qputenv("HOME", QFile::encodeName(home));

        ConnectionRecordFile file;
        QCOMPARE(file.path(), home + QStringLiteral("/opt/Tavrion/TavrionCfg"));
        file.load();
        file.record(QStringLiteral("设备 一"), QStringLiteral("AA:01"));
        QCOMPARE(readFile(file.path()), QStringLiteral("last 设备 一 AA:01\n").toUtf8());
        QVERIFY(!QFileInfo::exists(work_ + QStringLiteral("/~")));

        // Started from another folder, the terminal finds the same records.
        QVERIFY(QDir::setCurrent(elsewhere));
        ConnectionRecordFile again;
        QCOMPARE(again.load().size(), 1);
        QVERIFY(again.isLast(QStringLiteral("AA:01")));
        QVERIFY(!QFileInfo::exists(elsewhere + QStringLiteral("/~")));
    }

    // The file of earlier versions, "~/opt/Tavrion/TavrionCfg" under the working directory.
    void oldRelativeFile_data() {
        QTest::addColumn<QByteArray>("oldFile");
        QTest::addColumn<QByteArray>("homeFile");  // "<none>": no file in the home yet
        QTest::addColumn<QStringList>("loaded");   // addresses load() returns, in file order
        QTest::addColumn<QByteArray>("afterLoad");
        QTest::newRow("only the old file: carried over")
            << QByteArray("1 A AA:01\nlast B B AA:02\n") << QByteArray("<none>")
            << QStringList{"AA:01", "AA:02"} << QByteArray("1 A AA:01\nlast B B AA:02\n");
        QTest::newRow("damaged lines of the old file are dropped, the rest kept")
            << QByteArray("\ngarbage\nlast  AA:03") << QByteArray("<none>") << QStringList{"AA:03"}
            << QByteArray("last  AA:03\n");
        QTest::newRow("an empty old file gives an empty home file")
            << QByteArray("") << QByteArray("<none>") << QStringList{} << QByteArray("");
        QTest::newRow("the home file wins over the old one")
            << QByteArray("last Old AA:09\n") << QByteArray("last New AA:01\n") << QStringList{"AA:01"}
            << QByteArray("last New AA:01\n");
        QTest::newRow("an empty home file still wins")
            << QByteArray("last Old AA:09\n") << QByteArray("") << QStringList{} << QByteArray("");
    }

    void oldRelativeFile() {
        QFETCH(QByteArray, oldFile);
        QFETCH(QByteArray, homeFile);
        QFETCH(QStringList, loaded);
        QFETCH(QByteArray, afterLoad);
        const QString oldPath = work_ + QStringLiteral("/~/opt/Tavrion/TavrionCfg");
        writeFile(oldPath, oldFile);
        if (homeFile != "<none>") writeFile(path_, homeFile);

        ConnectionRecordFile file;
        QCOMPARE(file.path(), path_);
        QStringList addresses;
        for (const ConnectionRecord& record : file.load()) addresses << record.address;
        QCOMPARE(addresses, loaded);
        QCOMPARE(readFile(path_), afterLoad);
        // The old file stays as it was: what a user has is never removed behind their back.
        QCOMPARE(readFile(oldPath), oldFile);
    }

    void oldRecordsSurviveRecordingBeforeLoading() {
        writeFile(work_ + QStringLiteral("/~/opt/Tavrion/TavrionCfg"), "last A AA:01\n");
        QVERIFY(ConnectionRecordFile().isLast(QStringLiteral("AA:01")));
        ConnectionRecordFile().record(QStringLiteral("B"), QStringLiteral("AA:02"));
        QCOMPARE(readFile(path_), QByteArray("1 A AA:01\nlast B AA:02\n"));

        // Once the home file exists, the old one is no longer consulted.
        writeFile(work_ + QStringLiteral("/~/opt/Tavrion/TavrionCfg"), "last C AA:03\n");
        ConnectionRecordFile().remove(QStringLiteral("AA:01"));
        QCOMPARE(readFile(path_), QByteArray("last B AA:02\n"));
    }

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString home_;
    QString work_;
    QString path_;
    QString previousDirectory_;
    QByteArray previousHome_;
};

QTEST_GUILESS_MAIN(RecordFileTest)
#include "record_file_test.moc"
