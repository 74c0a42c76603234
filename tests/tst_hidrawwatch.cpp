// When the hot-plug search may skip its scan of the bus: only once the bus has shown that
// its devices are nodes of the watched folder, and then until something changes.
#include "testmain.h"

#include "device/hidrawwatch.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

enum class Event {
    None,
    NodeCreated,     // a new node appears in the folder
    CatalogueEdited, // the catalogue file is written
    SafetyInterval,  // the safety interval passes without a scan
    ScansAfterChange // a node appears, then the ticks after it scan
};

// What the bus lists as the device's path.
enum class Listed { Node, SimulatorPath, FileElsewhere, MissingNode };

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
                                 catalogue, dev.filePath(QStringLiteral("hidraw9"))};
        const QByteArray node = paths[int(listed)].toLocal8Bit();
        hid_device_info device{};
        device.path = const_cast<char*>(node.constData());

        HidrawWatch watch(catalogue);
        watch.setFolder(dev.path());
        QVERIFY(watch.scanDue());  // nothing scanned yet
        watch.scanned(&device, catalogueDevice);
        // The scans that follow the start of the watch, for a node made meanwhile.
        for (int i = 0; i < HidrawWatch::TicksAfterChange; ++i) {
            QVERIFY(watch.scanDue());
            watch.scanned(&device, catalogueDevice);
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
        case Event::SafetyInterval:
            watch.setSafetyScanMs(30);
            break;
        case Event::ScansAfterChange:
            QVERIFY(touch(dev.filePath(QStringLiteral("hidraw1"))));
            QTRY_VERIFY(watch.scanDue());
            for (int i = 0; i < HidrawWatch::TicksAfterChange; ++i) {
                QVERIFY(watch.scanDue());
                watch.scanned(&device, false);
            }
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
