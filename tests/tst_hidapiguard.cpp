// The real hidapi as the programs link it, guarded. No HID device is needed: a path that
// opens but is no hidraw node takes the same way through hid_open_path as a device that
// leaves the bus between its open() and its first ioctl, where hidapi 0.13 wrote into the
// handle it had just freed (a crash without the guard, a leak under the sanitizers).
#include <QDir>
#include <QTemporaryFile>
#include <QtTest>

#include <hidapi/hidapi.h>

class tst_hidapiguard : public QObject
{
    Q_OBJECT

    static int openDescriptors()
    {
        return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    }

private slots:
    void openThatFailsAfterOpening_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("character device") << QStringLiteral("/dev/null");
        QTest::newRow("regular file") << QString();
    }

    // No handle, the process lives, and the handle hidapi made is closed after all.
    void openThatFailsAfterOpening()
    {
        QFETCH(QString, path);
        QTemporaryFile file;
        if (path.isEmpty()) {
            QVERIFY(file.open());
            path = file.fileName();
        }
        const int before = openDescriptors();
        for (int i = 0; i < 50; ++i)
            QVERIFY(!hid_open_path(path.toLocal8Bit().constData()));
        QCOMPARE(openDescriptors(), before);
    }
};

QTEST_GUILESS_MAIN(tst_hidapiguard)
#include "tst_hidapiguard.moc"
