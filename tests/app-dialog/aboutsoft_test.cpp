// The about dialog: its form, its maker's lines and the contact link.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "aboutsoft.h"
#include "qb7720_version.h"

class AboutSoftTest : public QObject {
    Q_OBJECT

  private slots:
    void formAndContent() {
        aboutSoft about;
        about.show();
        QCOMPARE(about.size(), QSize(401, 249));
        QCOMPARE(about.windowTitle(), QStringLiteral("关于 Tavrion"));
        QVERIFY(!about.windowIcon().isNull());

        auto* close = about.findChild<QPushButton*>(QStringLiteral("Bt_closeWidget"));
        auto* logo = about.findChild<QLabel*>(QStringLiteral("label"));
        auto* link = about.findChild<QLabel*>(QStringLiteral("label_link"));
        QVERIFY(close && logo && link);
        QCOMPARE(close->geometry(), QRect(250, 190, 80, 23));
        QCOMPARE(close->text(), QStringLiteral("确定"));
        QCOMPARE(logo->geometry(), QRect(40, 70, 61, 61));
        QVERIFY(logo->text().isEmpty());
        QCOMPARE(logo->styleSheet(),
                 QStringLiteral("border-image: url(:/new/prefix1/logoIcon/tavrionLogo.ico);"));
        QVERIFY(!QPixmap(QStringLiteral(":/new/prefix1/logoIcon/tavrionLogo.ico")).isNull());
        QCOMPARE(link->geometry(), QRect(140, 140, 91, 21));
        QCOMPARE(link->font().family(), QStringLiteral("Ubuntu"));
        QCOMPARE(link->font().pointSize(), 12);

        // The link is live, points at our contact page and reads "联系我们".
        QVERIFY(link->openExternalLinks());
        QVERIFY(link->text().contains(QStringLiteral("href=\"%1\"").arg(aboutSoft::contactAddress())));
        QVERIFY(aboutSoft::contactAddress().startsWith(QStringLiteral("https://")));
        QCOMPARE(link->text().remove(QRegularExpression(QStringLiteral("<[^>]*>"))),
                 QStringLiteral("联系我们"));

        // Product, maker and rights lines are all present and fit their labels.
        QStringList lines;
        for (QLabel* label : about.findChildren<QLabel*>()) {
            if (label == logo || label == link) continue;
            lines << label->text();
            const QSize needed = label->sizeHint();
            QVERIFY2(needed.width() <= label->width() && needed.height() <= label->height() + 2,
                     qPrintable(QStringLiteral("%1 needs %2x%3")
                                    .arg(label->objectName())
                                    .arg(needed.width())
                                    .arg(needed.height())));
        }
        const QString all = lines.join(QLatin1Char('\n'));
        QVERIFY(all.contains(QStringLiteral("Tavrion")));
        QVERIFY(all.contains(QStringLiteral("Tavrion 蓝牙串口终端 V" QB7720_VERSION)));
        QVERIFY(all.contains(QStringLiteral("Copyright")));
        QVERIFY(all.contains(QStringLiteral("有限公司")));

        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!about.isVisible());
        // Shown again later, as the window does on each click.
        about.show();
        QVERIFY(about.isVisible());
    }
};

QTEST_MAIN(AboutSoftTest)
#include "aboutsoft_test.moc"
