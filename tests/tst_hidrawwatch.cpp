// When the hot-plug search may skip its scan of the bus: only once the bus has shown that
// its devices are nodes of the watched folder, and then until something changes.
#include "testmain.h"

#include "device/hidrawwatch.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

namespace {

enum class Event {
    None,
    NodeCreated,     // a new node appears in the folder
    CatalogueEdited, // the catalogue file is written
    CatalogueReplacedThenEdited, // saved as editors do (a new file renamed over it), then written
    CatalogueRemadeThenEdited,   // removed, made anew, then written
    SafetyInterval,  // the safety interval passes without a scan
    ScansAfterChange // a node appears, then the ticks after it scan
};

// What the bus lists as the device's path.
enum class Listed { Node, SimulatorPath, FileElsewhere, MissingNode, NodeOfUnwatchableFolder };

bool touch(const QString& path, const QByteArray& content = {})
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(Listed)

class tst_hidrawwatch : public QObject
{
    Q_OBJECT

private slots:
    void scanDue_data()
    {
        QTest::addColumn<Listed>("listed");
        QTest::addColumn<bool>("catalogueDevice");
        QTest::addColumn<Event>("event");
        QTest::addColumn<bool>("due");

        QTest::newRow("a bus of other paths (the simulator) scans every tick") << Listed::SimulatorPath << false << Event::None << true;
        QTest::newRow("files of another folder: scan every tick") << Listed::FileElsewhere << false << Event::None << true;
        QTest::newRow("a missing node of the folder: scan every tick") << Listed::MissingNode << false << Event::None << true;
        QTest::newRow("kernel nodes, nothing changed: no scan") << Listed::Node << false << Event::None << false;
        QTest::newRow("a node appears: scan") << Listed::Node << false << Event::NodeCreated << true;
        QTest::newRow("the catalogue is edited: scan") << Listed::Node << false << Event::CatalogueEdited << true;
        QTest::newRow("the catalogue is edited after a save by rename: scan") << Listed::Node << false << Event::CatalogueReplacedThenEdited << true;
        QTest::newRow("the catalogue is edited after it was made anew: scan") << Listed::Node << false << Event::CatalogueRemadeThenEdited << true;
        QTest::newRow("a folder that cannot be watched: said once, scan every tick") << Listed::NodeOfUnwatchableFolder << false << Event::None << true;
        QTest::newRow("a catalogue device is listed: scan every tick") << Listed::Node << true << Event::None << true;
        QTest::newRow("the safety interval passes: scan") << Listed::Node << false << Event::SafetyInterval << true;
        QTest::newRow("quiet again after the ticks that follow a change") << Listed::Node << false << Event::ScansAfterChange << false;
    }

    void scanDue()
    {
        QFETCH(Listed, listed);
        QFETCH(bool, catalogueDevice);
        QFETCH(Event, event);
        QFETCH(bool, due);

        QTemporaryDir dev;
        QTemporaryDir data;
        const QString catalogue = data.filePath(QStringLiteral("supported.json"));
        QVERIFY(touch(dev.filePath(QStringLiteral("hidraw0"))));
        QVERIFY(touch(catalogue, "{}"));
        const QString paths[] = {dev.filePath(QStringLiteral("hidraw0")), QStringLiteral("sim/1209:0001:00"),
                                 catalogue, dev.filePath(QStringLiteral("hidraw9")), dev.filePath(QStringLiteral("hidraw0"))};
        const QByteArray node = paths[int(listed)].toLocal8Bit();
        hid_device_info device{};
        device.path = const_cast<char*>(node.constData());

        HidrawWatch watch(catalogue);
        watch.setFolder(dev.path());
        if (listed == Listed::NodeOfUnwatchableFolder) {
            // The same folder named through a file: refused to root too, as /dev is when
            // unreadable or when the watches are used up. A second refusal would fail the run.
            watch.setFolder(dev.filePath(QStringLiteral("hidraw0/..")));
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^inotify_add_watch\\(.*\\) failed")));
        }
        // As the program's scan does, the catalogue is read at every scan: that must not
        // count as a change.
        const auto scan = [&](bool catalogueDeviceListed) {
            QFile file(catalogue);
            const bool read = file.open(QIODevice::ReadOnly) && !file.readAll().isEmpty();
            watch.scanned(&device, catalogueDeviceListed);
            return read;
        };
        // The ticks that follow a change scan; then the watch is quiet again.
        const auto settled = [&] {
            for (int i = 0; i < HidrawWatch::TicksAfterChange; ++i)
                scan(false);
            QTest::qWait(50);
            return !watch.scanDue();
        };
        QVERIFY(watch.scanDue());  // nothing scanned yet
        QVERIFY(scan(catalogueDevice));
        // The scans that follow the start of the watch, for a node made meanwhile.
        for (int i = 0; i < HidrawWatch::TicksAfterChange; ++i) {
            QVERIFY(watch.scanDue());
            QVERIFY(scan(catalogueDevice));
        }

        switch (event) {
        case Event::None:
            break;
        case Event::NodeCreated:
            QVERIFY(touch(dev.filePath(QStringLiteral("hidraw1"))));
            break;
        case Event::CatalogueEdited:
            QVERIFY(touch(catalogue, "{\"devlist\": []}"));
            break;
        case Event::CatalogueReplacedThenEdited:
        case Event::CatalogueRemadeThenEdited: {
            if (event == Event::CatalogueRemadeThenEdited) {
                QVERIFY(QFile::remove(catalogue));
                QTRY_VERIFY(watch.scanDue());
                QVERIFY(settled());
            }
            QSaveFile save(catalogue);
            QVERIFY(save.open(QIODevice::WriteOnly) && save.write("{\"devlist\": []}") > 0 && save.commit());
            QTRY_VERIFY(watch.scanDue());
            QVERIFY(settled());
            QVERIFY(touch(catalogue, "{}"));
            break;
        }
        case Event::SafetyInterval:
            watch.setSafetyScanMs(30);
            break;
        case Event::ScansAfterChange:
            QVERIFY(touch(dev.filePath(QStringLiteral("hidraw1"))));
            QTRY_VERIFY(watch.scanDue());
            QVERIFY(settled());
            break;
        }
        if (due) {
            QTRY_VERIFY(watch.scanDue());
        } else {
            // A change would arrive through the event loop: give it the chance.
            QTest::qWait(50);
            QVERIFY(!watch.scanDue());
        }
    }
};

TESSARO_TEST_MAIN(tst_hidrawwatch)
#include "tst_hidrawwatch.moc"
