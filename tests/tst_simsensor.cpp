// The simulated sensor's registers against the sample parameter file: the file's shape,
// every register it names answers, every command formed from it fits one report, and
// reads, writes, commit, reset and the bootloader request behave as the tool expects.
#include "device/tessaro.h"
#include "sim/simregisters.h"
#include "simfixture.h"
#include "testmain.h"

#include <QFile>
#include <QJsonDocument>
#include <QSet>

#include <atomic>
#include <cstring>
#include <optional>
#include <thread>

namespace {

const char* const SampleFile = "tessaro_t1.json";

QJsonObject readSourceFile(const QString& relativePath)
{
    QFile file(QStringLiteral(TESSARO_SOURCE_DIR "/") + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

struct RegisterName {
    QString module;
    QString name;
    bool operator==(const RegisterName& other) const { return module == other.module && name == other.name; }
};

uint qHash(const RegisterName& r, uint seed = 0)
{
    return ::qHash(r.module, seed) ^ ::qHash(r.name, seed + 1);
}

QString describe(const RegisterName& r)
{
    return r.module + QLatin1Char(':') + r.name;
}

std::string std8(const QString& text)
{
    return text.toStdString();
}

// A scalar that is not a string, anywhere in the document: numbers must be JSON strings.
void collectNonStrings(const QJsonValue& value, const QString& path, QStringList& found)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            collectNonStrings(it.value(), path + QLatin1Char('/') + it.key(), found);
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i)
            collectNonStrings(array.at(i), path + QLatin1Char('/') + QString::number(i), found);
    } else if (!value.isString()) {
        found << path;
    }
}

bool parseInt(const QJsonValue& value, int* result)
{
    bool ok = false;
    *result = value.toString().toInt(&ok, 10);
    return value.isString() && ok;
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

    // Parameter objects of both editor tabs, system groups first.
    QVector<QJsonObject> editorParameters() const
    {
        QVector<QJsonObject> list;
        const QJsonArray groups = sample.value(QStringLiteral("parameters_system")).toArray();
        for (const QJsonValue& group : groups) {
            const QJsonArray parameters = group.toObject().value(QStringLiteral("parameters")).toArray();
            for (const QJsonValue& p : parameters)
                list << p.toObject();
        }
        const QJsonArray advanced = sample.value(QStringLiteral("parameters_advanced")).toArray();
        for (const QJsonValue& p : advanced)
            list << p.toObject();
        return list;
    }

    QVector<QJsonObject> presetWrites() const
    {
        QVector<QJsonObject> list;
        const QJsonArray presets = sample.value(QStringLiteral("parameters_simple")).toArray();
        for (const QJsonValue& preset : presets) {
            const QJsonArray writes = preset.toObject().value(QStringLiteral("parameters")).toArray();
            for (const QJsonValue& w : writes)
                list << w.toObject();
        }
        return list;
    }

    QString text(const char* key) const { return sample.value(QLatin1String(key)).toString(); }

    QList<int> table(const char* key) const
    {
        QList<int> values;
        const QJsonArray array = sample.value(QLatin1String(key)).toArray();
        for (const QJsonValue& v : array) {
            int n = 0;
            parseInt(v, &n);
            values << n;
        }
        return values;
    }

    // Every register the file names, once each, in file order.
    QVector<RegisterName> namedRegisters() const
    {
        QVector<RegisterName> list;
        QSet<RegisterName> seen;
        const auto add = [&](const QString& module, const QString& name) {
            const RegisterName r{module, name};
            if (!seen.contains(r)) {
                seen.insert(r);
                list << r;
            }
        };
        for (const QJsonObject& p : editorParameters())
            add(p.value(QStringLiteral("module")).toString(), p.value(QStringLiteral("regname")).toString());
        for (const QJsonObject& w : presetWrites())
            add(w.value(QStringLiteral("module")).toString(), w.value(QStringLiteral("regname")).toString());
        add(QStringLiteral("sens"), text("setting_easy_sensor_man"));
        add(QStringLiteral("sens"), text("setting_easy_sensor_auto"));
        add(QStringLiteral("sens"), QStringLiteral("conf1thr"));
        return list;
    }

    // Register writes the tool can form from the file: editor values at the ends of their
    // ranges and for every choice, preset entries and easy table entries.
    QVector<QByteArray> writeCommands() const
    {
        QVector<QByteArray> list;
        const auto number = [&](const QString& module, const QString& name, int value) {
            list << QString::asprintf("%s:%s:%s:%i;", qUtf8Printable(module), "write", qUtf8Printable(name), value).toUtf8();
        };
        for (const QJsonObject& p : editorParameters()) {
            const QString module = p.value(QStringLiteral("module")).toString();
            const QString name = p.value(QStringLiteral("regname")).toString();
            const QString type = p.value(QStringLiteral("type")).toString();
            if (type == QLatin1String("int")) {
                int min = 0;
                int max = 0;
                parseInt(p.value(QStringLiteral("min")), &min);
                parseInt(p.value(QStringLiteral("max")), &max);
                number(module, name, min);
                number(module, name, max);
            } else if (type == QLatin1String("bool")) {
                number(module, name, 0);
                number(module, name, 1);
            } else if (type == QLatin1String("enum")) {
                const QJsonArray values = p.value(QStringLiteral("values")).toArray();
                for (const QJsonValue& choice : values) {
                    int v = 0;
                    parseInt(choice.toObject().value(QStringLiteral("value")), &v);
                    number(module, name, v);
                }
            }
        }
        for (const QJsonObject& w : presetWrites()) {
            list << QString::asprintf("%s:%s:%s:%s;", qUtf8Printable(w.value(QStringLiteral("module")).toString()),
                                      "write", qUtf8Printable(w.value(QStringLiteral("regname")).toString()),
                                      qUtf8Printable(w.value(QStringLiteral("value")).toString()))
                        .toUtf8();
        }
        for (int v : table("parameters_easy_man"))
            number(QStringLiteral("sens"), text("setting_easy_sensor_man"), v);
        for (int v : table("parameters_easy_auto"))
            number(QStringLiteral("sens"), text("setting_easy_sensor_auto"), v);
        return list;
    }

    static QByteArray readCommand(const RegisterName& r)
    {
        return QString::asprintf("%s:%s:%s;", qUtf8Printable(r.module), "read", qUtf8Printable(r.name)).toUtf8();
    }

    QString send(const QByteArray& command, bool* ok = nullptr)
    {
        unsigned char reply[TessaroLink::ReportBufferSize];
        std::memset(reply, 0xAA, sizeof reply);
        const bool result = device->sendCommand(command.constData(), reply);
        if (ok)
            *ok = result;
        return QString::fromLocal8Bit(reinterpret_cast<const char*>(reply));
    }

    QStringList sendFields(const QByteArray& command)
    {
        const QByteArray reply = send(command).toLocal8Bit();
        unsigned char buffer[TessaroLink::ReportBufferSize] = {};
        std::memcpy(buffer, reply.constData(), static_cast<size_t>(qMin(reply.size(), TessaroLink::ReportSize)));
        return colonFields(buffer);
    }

private slots:
    void initTestCase()
    {
        sample = readSourceFile(QStringLiteral("data/sensors/") + QLatin1String(SampleFile));
        QVERIFY2(!sample.isEmpty(), "the sample parameter file is missing or not a JSON object");
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

    void catalogueNamesTheSampleFile()
    {
        const QJsonArray devlist = readSourceFile(QStringLiteral("data/sensors/supported.json"))
                                       .value(QStringLiteral("devlist"))
                                       .toArray();
        QStringList files;
        for (const QJsonValue& entry : devlist) {
            if (entry.toObject().value(QStringLiteral("type")).toString() == QLatin1String("tessaro"))
                files << entry.toObject().value(QStringLiteral("configfile")).toString();
        }
        QCOMPARE(files, QStringList({QLatin1String(SampleFile)}));
    }

    void everyScalarIsAString()
    {
        QStringList found;
        collectNonStrings(sample, QString(), found);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char(' '))));
    }

    void systemGroups()
    {
        const QJsonArray groups = sample.value(QStringLiteral("parameters_system")).toArray();
        QVERIFY(groups.size() >= 2);
        QSet<QString> types;
        for (const QJsonValue& group : groups) {
            QVERIFY(group.isObject());
            QVERIFY(!group.toObject().value(QStringLiteral("name")).toString().isEmpty());
            const QJsonArray parameters = group.toObject().value(QStringLiteral("parameters")).toArray();
            QVERIFY(!parameters.isEmpty());
            for (const QJsonValue& p : parameters) {
                QVERIFY(p.isObject());
                types.insert(p.toObject().value(QStringLiteral("type")).toString());
            }
        }
        QCOMPARE(types, QSet<QString>({"int", "enum", "bool"}));
    }

    void editorParametersAreComplete()
    {
        const QSet<QString> modules{"sens", "pen", "cal"};
        QSet<RegisterName> seen;
        for (const QJsonObject& p : editorParameters()) {
            const QString name = p.value(QStringLiteral("name")).toString();
            const RegisterName r{p.value(QStringLiteral("module")).toString(), p.value(QStringLiteral("regname")).toString()};
            const QString type = p.value(QStringLiteral("type")).toString();
            const QByteArray where = describe(r).toUtf8();
            // Captions are plain texts: the translator shows them unchanged.
            QVERIFY2(!name.isEmpty() && !name.startsWith(QLatin1Char('[')), where);
            QVERIFY2(modules.contains(r.module), where);
            QVERIFY2(!r.name.isEmpty(), where);
            QVERIFY2(!seen.contains(r), where);
            seen.insert(r);
            QVERIFY2(type == QLatin1String("int") || type == QLatin1String("enum") || type == QLatin1String("bool"), where);
            if (type == QLatin1String("int")) {
                int min = 0;
                int max = 0;
                QVERIFY2(parseInt(p.value(QStringLiteral("min")), &min), where);
                QVERIFY2(parseInt(p.value(QStringLiteral("max")), &max), where);
                QVERIFY2(min <= max, where);
            }
            if (type == QLatin1String("enum")) {
                const QJsonArray values = p.value(QStringLiteral("values")).toArray();
                QVERIFY2(values.size() >= 2, where);
                QSet<QString> comments;
                for (const QJsonValue& choice : values) {
                    int v = 0;
                    const QString comment = choice.toObject().value(QStringLiteral("comment")).toString();
                    QVERIFY2(parseInt(choice.toObject().value(QStringLiteral("value")), &v), where);
                    QVERIFY2(!comment.isEmpty() && !comment.startsWith(QLatin1Char('[')), where);
                    // Equal texts would collapse into one choice.
                    QVERIFY2(!comments.contains(comment), where);
                    comments.insert(comment);
                }
            }
        }
    }

    void advancedListHoldsModeAndEasyRegisters()
    {
        const QJsonArray advanced = sample.value(QStringLiteral("parameters_advanced")).toArray();
        QVERIFY(advanced.size() >= 6 && advanced.size() <= 10);
        QSet<QString> sensRegisters;
        QJsonObject mode;
        for (const QJsonValue& p : advanced) {
            const QJsonObject o = p.toObject();
            if (o.value(QStringLiteral("module")).toString() == QLatin1String("sens"))
                sensRegisters.insert(o.value(QStringLiteral("regname")).toString());
            if (o.value(QStringLiteral("regname")).toString() == QLatin1String("conf1thr"))
                mode = o;
        }
        QCOMPARE(mode.value(QStringLiteral("module")).toString(), QStringLiteral("sens"));
        QCOMPARE(mode.value(QStringLiteral("type")).toString(), QStringLiteral("enum"));
        QMap<QString, QString> choices;
        const QJsonArray values = mode.value(QStringLiteral("values")).toArray();
        for (const QJsonValue& choice : values)
            choices.insert(choice.toObject().value(QStringLiteral("comment")).toString(),
                           choice.toObject().value(QStringLiteral("value")).toString());
        QCOMPARE(choices.value(QStringLiteral("Manual")), QStringLiteral("8"));
        QCOMPARE(choices.value(QStringLiteral("Automatic")), QStringLiteral("136"));
        QVERIFY(sensRegisters.contains(text("setting_easy_sensor_man")));
        QVERIFY(sensRegisters.contains(text("setting_easy_sensor_auto")));
    }

    void presetsHaveInfoAndWrites()
    {
        const QJsonArray presets = sample.value(QStringLiteral("parameters_simple")).toArray();
        QCOMPARE(presets.size(), 3);
        QSet<QString> names;
        for (const QJsonValue& preset : presets) {
            const QJsonObject o = preset.toObject();
            const QString name = o.value(QStringLiteral("name")).toString();
            QVERIFY(!name.isEmpty());
            QVERIFY(!names.contains(name));
            names.insert(name);
            QVERIFY2(!o.value(QStringLiteral("info")).toString().isEmpty(), qPrintable(name));
            const QJsonArray writes = o.value(QStringLiteral("parameters")).toArray();
            QVERIFY2(writes.size() >= 2 && writes.size() <= 4, qPrintable(name));
            for (const QJsonValue& w : writes) {
                QVERIFY(w.isObject());
                for (const char* key : {"module", "regname", "value"})
                    QVERIFY2(!w.toObject().value(QLatin1String(key)).toString().isEmpty(), qPrintable(name));
            }
        }
    }

    void easyTablesAscend_data()
    {
        QTest::addColumn<QString>("registerKey");
        QTest::addColumn<QString>("tableKey");
        QTest::newRow("manual") << "setting_easy_sensor_man" << "parameters_easy_man";
        QTest::newRow("automatic") << "setting_easy_sensor_auto" << "parameters_easy_auto";
    }

    void easyTablesAscend()
    {
        QFETCH(QString, registerKey);
        QFETCH(QString, tableKey);
        QVERIFY(!sample.value(registerKey).toString().isEmpty());
        const QJsonArray array = sample.value(tableKey).toArray();
        QCOMPARE(array.size(), 11);
        int previous = 0;
        for (int i = 0; i < array.size(); ++i) {
            int v = 0;
            QVERIFY2(parseInt(array.at(i), &v), qPrintable(QString::number(i)));
            if (i > 0)
                QVERIFY2(v > previous, qPrintable(QString::number(i)));
            previous = v;
        }
    }

    void everyCommandFitsOneReport()
    {
        QVector<QByteArray> commands = writeCommands();
        for (const RegisterName& r : namedRegisters())
            commands << readCommand(r);
        QVERIFY(commands.size() > 40);
        for (const QByteArray& command : qAsConst(commands))
            QVERIFY2(command.size() <= TessaroLink::ReportSize, command.constData());
    }

    void modelHoldsExactlyTheFilesRegisters()
    {
        QSet<RegisterName> inModel;
        for (const sim::RegisterDefault& d : sim::SensorRegisters::sampleModel())
            inModel.insert({QString::fromLatin1(d.module), QString::fromLatin1(d.name)});
        const QVector<RegisterName> named = namedRegisters();
        const QSet<RegisterName> inFile(named.begin(), named.end());
        for (const RegisterName& r : inFile)
            QVERIFY2(inModel.contains(r), qPrintable(describe(r) + QStringLiteral(" is not in the model")));
        for (const RegisterName& r : inModel)
            QVERIFY2(inFile.contains(r), qPrintable(describe(r) + QStringLiteral(" is not in the file")));
    }

    void defaultsFitTheFile()
    {
        const auto value = [this](const QString& module, const QString& name) {
            const auto v = sensor->registerValue(std8(module), std8(name));
            return v ? QString::fromStdString(*v) : QString();
        };
        for (const QJsonObject& p : editorParameters()) {
            const QString module = p.value(QStringLiteral("module")).toString();
            const QString name = p.value(QStringLiteral("regname")).toString();
            const QString type = p.value(QStringLiteral("type")).toString();
            const QByteArray where = (module + QLatin1Char(':') + name).toUtf8();
            bool ok = false;
            const int current = value(module, name).toInt(&ok, 10);
            QVERIFY2(ok, where);
            QCOMPARE(sensor->savedRegisterValue(std8(module), std8(name)), sensor->registerValue(std8(module), std8(name)));
            if (type == QLatin1String("int")) {
                int min = 0;
                int max = 0;
                parseInt(p.value(QStringLiteral("min")), &min);
                parseInt(p.value(QStringLiteral("max")), &max);
                QVERIFY2(current >= min && current <= max, where);
            } else if (type == QLatin1String("bool")) {
                QVERIFY2(current == 0 || current == 1, where);
            } else {
                QSet<int> choices;
                const QJsonArray values = p.value(QStringLiteral("values")).toArray();
                for (const QJsonValue& choice : values) {
                    int v = 0;
                    parseInt(choice.toObject().value(QStringLiteral("value")), &v);
                    choices.insert(v);
                }
                QVERIFY2(choices.contains(current), where);
            }
        }
        // Automatic mode; each easy register stands on an entry of its table.
        QCOMPARE(value(QStringLiteral("sens"), QStringLiteral("conf1thr")), QStringLiteral("136"));
        QVERIFY(table("parameters_easy_man").contains(value(QStringLiteral("sens"), text("setting_easy_sensor_man")).toInt()));
        QVERIFY(table("parameters_easy_auto").contains(value(QStringLiteral("sens"), text("setting_easy_sensor_auto")).toInt()));
    }

    void everyNamedRegisterAnswersRead()
    {
        for (const RegisterName& r : namedRegisters()) {
            const QByteArray command = readCommand(r);
            const QStringList fields = sendFields(command);
            // The tool takes field 3 only from replies of more than 4 fields.
            QVERIFY2(fields.size() > 4, command.constData());
            QCOMPARE(fields.mid(0, 3), QStringList({r.module, QStringLiteral("read"), r.name}));
            QCOMPARE(fields.at(3), QString::fromStdString(sensor->registerValue(std8(r.module), std8(r.name)).value_or("?")));
            QCOMPARE(fields.at(4), QStringLiteral("ok"));
        }
        QCOMPARE(sensor->commitCount(), 0);
        QCOMPARE(sensor->resetCount(), 0);
    }

    void everyWriteFromTheFileIsStored()
    {
        for (const QByteArray& command : writeCommands()) {
            const QStringList parts = QString::fromUtf8(command.left(command.size() - 1)).split(QLatin1Char(':'));
            QCOMPARE(parts.size(), 4);
            bool ok = false;
            QCOMPARE(send(command, &ok), QString::fromUtf8(command.left(command.size() - 1)) + QStringLiteral(":ok;"));
            QVERIFY(ok);
            QCOMPARE(sensor->registerValue(std8(parts[0]), std8(parts[2])), std::optional<std::string>(std8(parts[3])));
            const QStringList fields = sendFields(readCommand({parts[0], parts[2]}));
            QVERIFY(fields.size() > 4);
            QCOMPARE(fields.at(3), parts[3]);
        }
        QCOMPARE(sensor->commitCount(), 0);
    }

    void writeKeepsTextUnchanged()
    {
        QCOMPARE(send("sens:write:gain:12abc;"), QStringLiteral("sens:write:gain:12abc:ok;"));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("12abc"));
        QCOMPARE(send("sens:read:gain;"), QStringLiteral("sens:read:gain:12abc:ok;"));
    }

    void refusedCommands_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("reply");
        QTest::newRow("unknown register") << QByteArray("sens:read:bogus;") << "sens:read:bogus:err;";
        QTest::newRow("register of another module") << QByteArray("pen:read:conf1thr;") << "pen:read:conf1thr:err;";
        QTest::newRow("unknown module") << QByteArray("foo:read:gain;") << "foo:read:gain:err;";
        QTest::newRow("read with a value") << QByteArray("sens:read:gain:4;") << "sens:read:gain:4:err;";
        QTest::newRow("no semicolon") << QByteArray("sens:read:gain") << "sens:read:gain:err;";
        QTest::newRow("write to unknown register") << QByteArray("sens:write:bogus:5;") << "sens:write:bogus:5:err;";
        QTest::newRow("write without value field") << QByteArray("sens:write:gain;") << "sens:write:gain:err;";
        QTest::newRow("write of empty value") << QByteArray("sens:write:gain:;") << "sens:write:gain::err;";
        QTest::newRow("value with colon") << QByteArray("sens:write:gain:1:2;") << "sens:write:gain:1:2:err;";
        QTest::newRow("value with semicolon") << QByteArray("sens:write:gain:1;2;") << "sens:write:gain:1;2:err;";
        QTest::newRow("commit with argument") << QByteArray("sens:commit:now;") << "sens:commit:now:err;";
        QTest::newRow("reset of another module") << QByteArray("pen:reset;") << "pen:reset:err;";
        QTest::newRow("unknown action") << QByteArray("sens:frobnicate;") << "sens:frobnicate:err;";
        QTest::newRow("empty") << QByteArray(";") << ":err;";
    }

    void refusedCommands()
    {
        QFETCH(QByteArray, command);
        QFETCH(QString, reply);
        bool ok = false;
        QCOMPARE(send(command, &ok), reply);
        QVERIFY(ok);
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("4"));
        QCOMPARE(sensor->registerValue("sens", "bogus"), std::nullopt);
        QCOMPARE(sensor->commitCount(), 0);
        QCOMPARE(sensor->resetCount(), 0);
        QCOMPARE(sensor->bootloaderRequests(), 0);
    }

    void refusedReadHasFourFields()
    {
        // Four fields: the tool leaves its editor as it was.
        QCOMPARE(sendFields("sens:read:bogus;").size(), 4);
    }

    void valueMustFitTheReply()
    {
        // The write reply is 4 bytes longer than the command: a 62-byte command is refused.
        const QByteArray fits = "sens:write:gain:" + QByteArray(44, 'x') + ';';
        const QByteArray tooLong = "sens:write:gain:" + QByteArray(45, 'y') + ';';
        QCOMPARE(send(fits).size(), TessaroLink::ReportSize);
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>(std::string(44, 'x')));
        QCOMPARE(sendFields("sens:read:gain;").at(3), QString(44, QLatin1Char('x')));
        // Refused; its echo is cut at the report's end like any overlong reply.
        QVERIFY(!send(tooLong).contains(QStringLiteral(":ok")));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>(std::string(44, 'x')));
    }

    void commitKeepsWorkingValues()
    {
        QCOMPARE(send("sens:write:gain:7;"), QStringLiteral("sens:write:gain:7:ok;"));
        QCOMPARE(sensor->savedRegisterValue("sens", "gain"), std::optional<std::string>("4"));
        device->execCommand(QStringLiteral("sens:commit;"));
        QCOMPARE(sensor->commitCount(), 1);
        QCOMPARE(sensor->savedRegisterValue("sens", "gain"), std::optional<std::string>("7"));
        QCOMPARE(sensor->savedRegisterValue("sens", "expo"), std::optional<std::string>("250"));
        QCOMPARE(send("sens:commit;"), QStringLiteral("sens:commit:ok;"));
        QCOMPARE(sensor->commitCount(), 2);
        QCOMPARE(sensor->resetCount(), 0);
    }

    void resetKeepsValues()
    {
        send("sens:write:gain:7;");
        device->execCommand(QStringLiteral("sens:reset;"));
        QCOMPARE(sensor->resetCount(), 1);
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("7"));
        QCOMPARE(sensor->savedRegisterValue("sens", "gain"), std::optional<std::string>("4"));
        QCOMPARE(send("sens:reset;"), QStringLiteral("sens:reset:ok;"));
        QCOMPARE(sensor->resetCount(), 2);
        QCOMPARE(sensor->commitCount(), 0);
    }

    void presetsApplyLikeTheSimpleTab()
    {
        // Each preset's writes, then commit and reset, as the simple tab sends them.
        const QJsonArray presets = sample.value(QStringLiteral("parameters_simple")).toArray();
        int round = 0;
        for (const QJsonValue& preset : presets) {
            ++round;
            const QJsonArray writes = preset.toObject().value(QStringLiteral("parameters")).toArray();
            for (const QJsonValue& w : writes) {
                const QJsonObject o = w.toObject();
                const QByteArray command = QString::asprintf(
                    "%s:%s:%s:%s;", qUtf8Printable(o.value(QStringLiteral("module")).toString()), "write",
                    qUtf8Printable(o.value(QStringLiteral("regname")).toString()),
                    qUtf8Printable(o.value(QStringLiteral("value")).toString())).toUtf8();
                QVERIFY(send(command).endsWith(QStringLiteral(":ok;")));
            }
            device->execCommand(QStringLiteral("sens:commit;"));
            device->execCommand(QStringLiteral("sens:reset;"));
            for (const QJsonValue& w : writes) {
                const QJsonObject o = w.toObject();
                const std::string module = std8(o.value(QStringLiteral("module")).toString());
                const std::string name = std8(o.value(QStringLiteral("regname")).toString());
                const std::optional<std::string> expected = std8(o.value(QStringLiteral("value")).toString());
                QCOMPARE(sensor->registerValue(module, name), expected);
                QCOMPARE(sensor->savedRegisterValue(module, name), expected);
            }
            QCOMPARE(sensor->commitCount(), round);
            QCOMPARE(sensor->resetCount(), round);
        }
    }

    void modeSwitchReadsBack()
    {
        QCOMPARE(send("sens:write:conf1thr:8;"), QStringLiteral("sens:write:conf1thr:8:ok;"));
        QCOMPARE(sendFields("sens:read:conf1thr;").at(3).toInt(), 8);
        QCOMPARE(send("sens:write:conf1thr:136;"), QStringLiteral("sens:write:conf1thr:136:ok;"));
        QCOMPARE(sendFields("sens:read:conf1thr;").at(3).toInt(), 136);
    }

    void bootloaderRequestIsRecorded()
    {
        device->execCommand(QStringLiteral("app:bootloader;"));
        QCOMPARE(sensor->bootloaderRequests(), 1);
        QVERIFY(sensor->plugged());
        QVERIFY(device->isConnected);
        QCOMPARE(send("app:bootloader;"), QStringLiteral("app:bootloader:ok;"));
        QCOMPARE(sensor->bootloaderRequests(), 2);
        QCOMPARE(send("app:bootloader:now;"), QStringLiteral("app:bootloader:now:err;"));
        QCOMPARE(sensor->bootloaderRequests(), 2);
    }

    void controlInterface()
    {
        sensor->setRegister("sens", "gain", 9);
        QCOMPARE(send("sens:read:gain;"), QStringLiteral("sens:read:gain:9:ok;"));
        QCOMPARE(sensor->savedRegisterValue("sens", "gain"), std::optional<std::string>("4"));
        // A register that the model lacks can be added for a test, with no saved value.
        sensor->setRegister("pen", "extra", "abc");
        QCOMPARE(send("pen:read:extra;"), QStringLiteral("pen:read:extra:abc:ok;"));
        QCOMPARE(sensor->savedRegisterValue("pen", "extra"), std::nullopt);
        sensor->removeRegister("sens", "gain");
        QCOMPARE(send("sens:read:gain;"), QStringLiteral("sens:read:gain:err;"));
        QCOMPARE(send("sens:write:gain:3;"), QStringLiteral("sens:write:gain:3:err;"));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::nullopt);
        sensor->restoreDefaultRegisters();
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("4"));
        QCOMPARE(sensor->registerValue("pen", "extra"), std::nullopt);
    }

    void identityRepliesStay()
    {
        QCOMPARE(send("app:version;"), QStringLiteral("app:version:HW 1.1:SW 2.4:2026:11:20;"));
        QCOMPARE(send("app:id;"), QStringLiteral("app:id:TS-000123;"));
        QCOMPARE(send("app:id:x;"), QStringLiteral("app:id:x:err;"));
    }

    void replacedRepliesStillAct()
    {
        sensor->setReply("sens:commit;", "sens:commit:busy;");
        QCOMPARE(send("sens:commit;"), QStringLiteral("sens:commit:busy;"));
        QCOMPARE(sensor->commitCount(), 1);
        sensor->clearReply("sens:commit;");
        sensor->queueReply("sens:read:gain:42;");
        QCOMPARE(send("sens:write:gain:5;"), QStringLiteral("sens:read:gain:42;"));
        QCOMPARE(sensor->registerValue("sens", "gain"), std::optional<std::string>("5"));
        QCOMPARE(send("sens:read:gain;"), QStringLiteral("sens:read:gain:5:ok;"));
    }

    void controlWhileExchanging()
    {
        // The test thread sets registers while the connection reads them: every reply is whole.
        sensor->setRegister("sens", "smooth", "1");
        std::atomic<bool> stop{false};
        std::thread writer([this, &stop] {
            int i = 0;
            while (!stop.load()) {
                sensor->setRegister("sens", "smooth", i % 2 ? "1" : "10");
                (void)sensor->registerValue("sens", "smooth");
                ++i;
            }
        });
        bool whole = true;
        for (int i = 0; i < 200 && whole; ++i) {
            const QString reply = send("sens:read:smooth;");
            whole = reply == QLatin1String("sens:read:smooth:1:ok;") || reply == QLatin1String("sens:read:smooth:10:ok;");
        }
        stop = true;
        writer.join();
        QVERIFY(whole);
    }
};

TESSARO_TEST_MAIN(tst_simsensor)
#include "tst_simsensor.moc"
