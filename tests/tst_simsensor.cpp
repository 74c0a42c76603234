// The simulated sensor as the tool sees it: every register the sample parameter file names
// answers the tool's own reads with a value the file allows, malformed commands are refused,
// replies set by a test reach the tool while the model still acts, and the report log stays
// bounded.
#include "device/tessaro.h"
#include "sensor/parameterfile.h"
#include "sensor/tessaroregister.h"
#include "sim/simregisters.h"
#include "simfixture.h"
#include "testmain.h"

#include <QFile>
#include <QSet>

#include <cstring>
#include <optional>

using ParameterFile::array;
using ParameterFile::integer;
using ParameterFile::text;

namespace {

const char* const SampleFile = "tessaro_t1.json";

QString key(const QJsonObject& o, const char* name)
{
    return text(o.value(QLatin1String(name)));
}

} // namespace

class tst_simsensor : public QObject
{
    Q_OBJECT

private:
    QJsonObject sample;
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;
    std::shared_ptr<sim::SimSensor> sensor;

    // The parameters of both editor tabs, system groups first.
    QVector<QJsonObject> editorParameters() const
    {
        QVector<QJsonObject> list;
        for (const QJsonValue& group : array(sample, "parameters_system")) {
            for (const QJsonValue& p : array(group.toObject(), "parameters"))
                list << p.toObject();
        }
        for (const QJsonValue& p : array(sample, "parameters_advanced"))
            list << p.toObject();
        return list;
    }

    // The values an editor offers: the ends of its range, 0 and 1, or every choice.
    static QList<int> offered(const QJsonObject& p)
    {
        const QString type = key(p, "type");
        if (type == QLatin1String("int"))
            return {integer(p.value(QLatin1String("min"))), integer(p.value(QLatin1String("max")))};
        if (type == QLatin1String("bool"))
            return {0, 1};
        return ParameterFile::choices(array(p, "values"), "parameters").values();
    }

    QString send(const QByteArray& command)
    {
        unsigned char reply[TessaroLink::ReportBufferSize];
        std::memset(reply, 0xAA, sizeof reply);
        if (!device->sendCommand(command.constData(), reply))
            return QStringLiteral("(failed)");
        return QString::fromLocal8Bit(reinterpret_cast<const char*>(reply));
    }

private slots:
    void initTestCase()
    {
        QFile file(QStringLiteral(TESSARO_SOURCE_DIR "/data/sensors/") + QLatin1String(SampleFile));
        QVERIFY(file.open(QIODevice::ReadOnly));
        sample = QJsonDocument::fromJson(file.readAll()).object();
        QVERIFY(!sample.isEmpty());
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry({QStringLiteral("SW 2.4")}, {QStringLiteral("HW 1.1")},
                                                         QLatin1String(SampleFile))});
        sensor = fixture->plugSensor();
        device = SimFixture::openConnection();
        QVERIFY(device);
        QCOMPARE(device->configFile, QLatin1String(SampleFile));
    }

    void cleanup()
    {
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

    void reportLogKeepsOnlyTheNewest()
    {
        // A long demo run must not grow without end.
        unsigned char reply[TessaroLink::ReportBufferSize];
        for (std::size_t i = 0; i < sim::MaxLoggedReports; ++i)
            QVERIFY(device->sendCommand("sens:point;", reply));
        QVERIFY(device->sendCommand("app:id;", reply));
        QCOMPARE(sensor->receivedReports().size(), sim::MaxLoggedReports);
        QCOMPARE(SimFixture::commands(*sensor).constLast(), QStringLiteral("app:id;"));
    }

    // At power-up every register the editors name holds a value its editor allows, and the
    // model holds exactly those registers: a model that drifts from the file hides an editor
    // that reads or writes a register the sensor does not have.
    void theModelMatchesTheSampleFile()
    {
        QSet<QString> named;
        for (const QJsonObject& p : editorParameters()) {
            const QString module = key(p, "module");
            const QString name = key(p, "regname");
            const QList<int> values = offered(p);
            named << module + QLatin1Char(':') + name;
            std::optional<int> current;
            QVERIFY2(TessaroRegister::read(device, module, name, &current) && current, qPrintable(name));
            const bool range = key(p, "type") == QLatin1String("int");
            QVERIFY2(range ? *current >= values.first() && *current <= values.last() : values.contains(*current), qPrintable(name));
        }
        QSet<QString> inModel;
        for (const sim::RegisterDefault& d : sim::SensorRegisters::sampleModel())
            inModel << QString::fromLatin1(d.module) + QLatin1Char(':') + QString::fromLatin1(d.name);
        QCOMPARE(inModel, named);
    }

    void commandReplies_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("counted");  // the action the sensor counts, if any
        QTest::newRow("commit") << QByteArray("sens:commit;") << "sens:commit:ok;" << "commit";
        QTest::newRow("reset") << QByteArray("sens:reset;") << "sens:reset:ok;" << "reset";
        QTest::newRow("bootloader") << QByteArray("app:bootloader;") << "app:bootloader:ok;" << "bootloader";
        QTest::newRow("unknown register") << QByteArray("sens:read:bogus;") << "sens:read:bogus:err;" << "";
        QTest::newRow("register of another module") << QByteArray("pen:read:conf1thr;") << "pen:read:conf1thr:err;" << "";
        QTest::newRow("no semicolon") << QByteArray("sens:read:gain") << "sens:read:gain:err;" << "";
        QTest::newRow("write without value") << QByteArray("sens:write:gain;") << "sens:write:gain:err;" << "";
        QTest::newRow("write of empty value") << QByteArray("sens:write:gain:;") << "sens:write:gain::err;" << "";
        QTest::newRow("value with colon") << QByteArray("sens:write:gain:1:2;") << "sens:write:gain:1:2:err;" << "";
        QTest::newRow("commit with argument") << QByteArray("sens:commit:now;") << "sens:commit:now:err;" << "";
        QTest::newRow("bootloader with argument") << QByteArray("app:bootloader:now;") << "app:bootloader:now:err;" << "";
        QTest::newRow("empty") << QByteArray(";") << ":err;" << "";
    }

    void commandReplies()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, reply);
        QFETCH(QString, counted);
        QCOMPARE(send(command), reply);
        QCOMPARE(sensor->commitCount(), int(counted == QLatin1String("commit")));
        QCOMPARE(sensor->resetCount(), int(counted == QLatin1String("reset")));
        QCOMPARE(sensor->bootloaderRequests(), int(counted == QLatin1String("bootloader")));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("4"));
        QCOMPARE(sensor->registerValue("sens", "bogus"), std::nullopt);
    }

    void replacedRepliesStillAct()
    {
        // The reply a test sets reaches the tool, and the model still acts on the command.
        sensor->setReply("sens:commit;", "sens:commit:busy;");
        QCOMPARE(send("sens:commit;"), QStringLiteral("sens:commit:busy;"));
        QCOMPARE(sensor->commitCount(), 1);
        sensor->clearReply("sens:commit;");
        QCOMPARE(send("sens:commit;"), QStringLiteral("sens:commit:ok;"));
    }
};

TESSARO_TEST_MAIN(tst_simsensor)
#include "tst_simsensor.moc"
