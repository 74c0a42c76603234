#include "tessaroctl.h"

#include "ctlcompletionwords.h"
#include "ctlexit.h"
#include "ctlflash.h"
#include "sensor/registermap.h"
#include "device/tessaro.h"
#include "device/untrustedtext.h"
#include "live/batterypicture.h"
#include "live/tessaropoll.h"
#include "sensor/parameterfile.h"
#include "sensor/sensorsettings.h"
#include "sensor/tessaroeasytable.h"
#include "sensor/tessaropreset.h"
#include "sensor/tessaroregister.h"
#include "support/supportreport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QJsonArray>
#include <QJsonDocument>
#include <QHash>
#include <QScopeGuard>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>

namespace {

using RegisterValues = QList<QPair<const SensorRegister*, int>>;

const char* const ProgramName = "tessaroctl";

// A read reply carries its value in field 3 of more than 4 fields.
constexpr int ValueField = 3;
constexpr int ValueReplyFields = 5;

// The reply as text, up to its first zero byte and never past the buffer.
QByteArray replyText(const unsigned char* reply)
{
    const char* text = reinterpret_cast<const char*>(reply);
    return QByteArray(text, static_cast<int>(qstrnlen(text, TessaroLink::ReportBufferSize)));
}

// Field 3 of the register's read reply as the sensor sent it, none when the reply has no
// value part. False when the exchange could not be made.
bool readField(tessaro* connection, const QString& module, const QString& regname, std::optional<QString>* field)
{
    unsigned char reply[TessaroLink::ReportBufferSize] = {};
    if (!TessaroRegister::exchange(connection, TessaroRegister::readCommand(module, regname), reply))
        return false;
    const QStringList parts = QString::fromLocal8Bit(replyText(reply)).split(QLatin1Char(':'));
    *field = parts.size() >= ValueReplyFields ? std::optional<QString>(parts.at(ValueField)) : std::nullopt;
    return true;
}

// A value is a whole decimal number that fits; "abc", "99999999999" or nothing is no
// value, never 0: a 0 printed or loaded would be a value the sensor never had.
std::optional<int> number(const std::optional<QString>& text)
{
    bool ok = false;
    const int value = text ? text->toInt(&ok, 10) : 0;
    return ok ? std::optional<int>(value) : std::nullopt;
}

bool readValue(tessaro* connection, const QString& module, const QString& regname, std::optional<int>* value)
{
    return SensorSettings::readValue(connection, module, regname, value);
}

// Read back what a preset wrote as the file gives it: the same text or the same number.
bool sameValue(const std::optional<QString>& read, const QString& written)
{
    return read && (*read == written || (number(read) && number(read) == number(written)));
}

// The scan read both identity replies, each with its fields.
bool identityRead(const tessaroIdentity& identity)
{
    return identity.id && identity.hasVersion;
}

// JSON as a terminal may show it: what UntrustedText hides is written as a \u escape,
// which every reader decodes to the same text. Below U+0020 Qt escapes by itself, so a
// character there is the layout's own line break.
QString terminalJson(const QJsonDocument& document, QJsonDocument::JsonFormat format)
{
    const QString text = QString::fromUtf8(document.toJson(format));
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && UntrustedText::isHidden(c.unicode()))
            result += QString::asprintf("\\u%04x", c.unicode());
        else
            result += c;
    }
    return result;
}

// Percent, in the steps of the window's battery picture.
int batteryLevel(double volts)
{
    switch (BatteryPicture::forVoltage(volts)) {
    case BatteryPicture::Full:
        return 100;
    case BatteryPicture::ThreeQuarters:
        return 75;
    case BatteryPicture::Half:
        return 50;
    case BatteryPicture::Quarter:
        return 25;
    default:
        return 0;
    }
}

// The pen's volts come from a count of about a hundred steps and its running time in whole
// seconds: more digits than these would be the arithmetic's, not the device's.
constexpr int VoltsDecimals = 2;
constexpr int HoursDecimals = 4;

QJsonValue nullable(bool has, double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return has ? QJsonValue(std::round(value * scale) / scale) : QJsonValue(QJsonValue::Null);
}

QJsonObject pointJson(const tessaroPenPoint& point)
{
    return {{"x", point.x}, {"y", point.y}, {"size", point.size}, {"number", point.number}};
}

QJsonObject calibrationJson(const tessaroCalState& state)
{
    return {{"running", state.running}, {"point", state.point}};
}

QJsonObject penJson(const std::optional<tessaroPenState>& state, const std::optional<tessaroPenIdentity>& identity)
{
    QJsonObject pen;
    const bool valid = state && state->valid;
    pen.insert("data", valid);
    pen.insert("volts", nullable(valid && state->hasBattery, valid ? state->volts : 0.0, VoltsDecimals));
    pen.insert("battery", valid && state->hasBattery ? QJsonValue(batteryLevel(state->volts)) : QJsonValue());
    pen.insert("runningHours", nullable(valid && state->hasRunning, valid ? state->runningHours : 0.0, HoursDecimals));
    // The same keys whether the pen's identity was read or not.
    pen.insert("id", identity ? QJsonValue(identity->id) : QJsonValue());
    pen.insert("pairing", identity ? QJsonValue(identity->pairing) : QJsonValue());
    pen.insert("ready", identity ? QJsonValue(identity->ready) : QJsonValue());
    pen.insert("version", identity ? QJsonValue(identity->versionText()) : QJsonValue());
    return pen;
}

QJsonArray cornersJson(const QList<int>& x, const QList<int>& y)
{
    QJsonArray corners;
    for (int i = 0; i < qMin(x.size(), y.size()); ++i)
        corners.append(QJsonObject{{"x", x.at(i)}, {"y", y.at(i)}});
    return corners;
}

QString penText(const std::optional<tessaroPenState>& state)
{
    if (!state || !state->valid)
        return QStringLiteral("battery=- running=-");
    const QString battery = state->hasBattery
        ? QString::number(state->volts, 'f', VoltsDecimals) + QStringLiteral("V(")
            + QString::number(batteryLevel(state->volts)) + QStringLiteral("%)")
        : QStringLiteral("-");
    const QString running =
        state->hasRunning ? QString::number(state->runningHours, 'f', 2) + QLatin1Char('h') : QStringLiteral("-");
    return QStringLiteral("battery=%1 running=%2").arg(battery, running);
}

QString calibrationText(const tessaroCalState& state)
{
    return state.running ? QStringLiteral("running(point %1)").arg(state.point) : QStringLiteral("idle");
}

QString cornersText(const QList<int>& x, const QList<int>& y)
{
    QStringList corners;
    for (int i = 0; i < qMin(x.size(), y.size()); ++i)
        corners << QStringLiteral("(%1,%2)").arg(x.at(i)).arg(y.at(i));
    return corners.join(QLatin1Char(' '));
}

QString valueText(const SensorRegister& reg, int value)
{
    const QString choice = RegisterMap::choiceText(reg, value);
    return choice.isEmpty() ? QString::number(value) : QStringLiteral("%1 (%2)").arg(value).arg(choice);
}

// A JSON value as it stands in the file: 5000, "4", true.
QString jsonText(const QJsonValue& value)
{
    const QString array = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    return array.mid(1, array.size() - 2);
}

// The readings of one poll, gathered from tessaroPoll's signals.
struct PollReadings {
    tessaroPenPoint point;
    tessaroCalState calibration;
    std::optional<tessaroPenState> pen;
    std::optional<tessaroPenIdentity> identity;
    QList<int> cornersX;
    QList<int> cornersY;
    bool corners = false;

    void follow(tessaroPoll* poll, QObject* context)
    {
        QObject::connect(poll, &tessaroPoll::pointReply, context, [this](const QString& data) {
            point = tessaroPoll::parsePoint(data);
        });
        QObject::connect(poll, &tessaroPoll::penState, context, [this](const tessaroPenState& s) { pen = s; });
        QObject::connect(poll, &tessaroPoll::penIdentity, context,
                         [this](const tessaroPenIdentity& i) { identity = i; });
        QObject::connect(poll, &tessaroPoll::calStateReply, context, [this](const QString& data) {
            calibration = tessaroPoll::parseCalState(data);
        });
        QObject::connect(poll, &tessaroPoll::cornersRead, context, [this](const QList<int>& x, const QList<int>& y) {
            cornersX = x;
            cornersY = y;
            corners = true;
        });
    }
};

} // namespace

tessaroCtl::tessaroCtl(QIODevice* input, QIODevice* output, QIODevice* errors, QObject* parent)
    : QObject(parent)
    , in(input)
    , out(output)
    , err(errors)
    , callerDir(QDir::currentPath())
{
}

QString tessaroCtl::usage()
{
    return QStringLiteral(
        "Usage: tessaroctl [options] COMMAND [ARGUMENTS]\n"
        "\n"
        "Commands:\n"
        "  list                      supported devices on the bus, also those that cannot be opened\n"
        "  info                      identity, firmware, pen, battery, calibration and corners\n"
        "  get [NAME...]             registers of the model's parameter file (all without NAME)\n"
        "  set NAME=VALUE...         write registers; values are checked against the file first\n"
        "  dump                      every register as JSON, for load\n"
        "  load FILE                 write the registers of a dump\n"
        "  preset [NAME]             apply a preset of the simple tab (list them without NAME)\n"
        "  easy [POSITION]           show the easy threshold, or set its table position\n"
        "  monitor                   pen point, size, number, battery and calibration, every tick\n"
        "  flash IMAGE               erase, write and verify a firmware image\n"
        "  report [FILE]             a support report (JSON) into FILE or on standard output\n"
        "\n"
        "Options:\n"
        "  --json                    machine-readable output\n"
        "  -d, --device PATH         the device to use when several are present\n"
        "  --commit                  set/load: store in the sensor permanently\n"
        "  --force                   load: also a dump of another model\n"
        "  -y, --yes                 flash: do not ask (required when not on a terminal)\n"
        "  -n, --count N             monitor: stop after N ticks (default: until interrupted)\n"
        "  -v, --verbose             debug lines of the device link on standard error\n"
        "  -h, --help                this text\n"
        "  --version                 the tool's version\n"
        "  --record FILE             (before the command) every HID event into FILE, JSON lines\n"
        "                            (also TESSARO_RECORD=FILE)\n"
        "  --replay FILE             (before the command, simulator build only) a recorded\n"
        "                            trace in place of the devices\n"
        "\n"
        "Exit status: 0 ok, 1 device error, 2 refused input, 3 no device,\n"
        "4 more than one device, 5 verification failure.\n");
}

int tessaroCtl::run(const QStringList& arguments)
{
    const int status = runCommand(arguments);
    if (!outputFailed())
        return status;
    message(QStringLiteral("could not write standard output: %1").arg(out.device()->errorString()));
    return status == CtlExit::Ok ? CtlExit::DeviceError : status;
}

bool tessaroCtl::outputFailed() const
{
    // Everything was flushed as it was written; the stream and the file keep the failure.
    const auto* file = qobject_cast<QFileDevice*>(out.device());
    return out.status() != QTextStream::Ok || (file && file->error() != QFileDevice::NoError);
}

namespace {

QString signalText(int signalNumber)
{
    switch (signalNumber) {
    case SIGHUP:
        return QStringLiteral("hang-up (SIGHUP)");
    case SIGPIPE:
        return QStringLiteral("standard output closed (SIGPIPE)");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    default:
        return QStringLiteral("interrupt (SIGINT)");
    }
}

} // namespace

void tessaroCtl::interrupt(int signalNumber)
{
    // A hang-up or a closed output arrives here only once a flash has begun.
    if (uninterruptible || (signalNumber != SIGINT && signalNumber != SIGTERM)) {
        // A closed output or a gone terminal repeats itself; once is enough to say.
        if (signalNumber != SIGINT && signalNumber != SIGTERM && signalsHeld.contains(signalNumber))
            return;
        signalsHeld.insert(signalNumber);
        const QString text = signalText(signalNumber)
            + QStringLiteral(": the flash cannot be interrupted now; it goes on to its end");
        message(text);
        emit heldThrough(text);
        return;
    }
    stopRequested = true;
    emit stopping();
}

int tessaroCtl::runCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Even a command line that is refused answers in JSON when asked to.
    json = arguments.contains(QStringLiteral("--json"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption verboseOption(QStringList{QStringLiteral("v"), QStringLiteral("verbose")});
    const QCommandLineOption deviceOption({QStringLiteral("d"), QStringLiteral("device")}, QString(),
                                          QStringLiteral("path"));
    const QCommandLineOption yesOption(QStringList{QStringLiteral("y"), QStringLiteral("yes")});
    const QCommandLineOption commitOption(QStringLiteral("commit"));
    const QCommandLineOption forceOption(QStringLiteral("force"));
    const QCommandLineOption countOption({QStringLiteral("n"), QStringLiteral("count")}, QString(),
                                         QStringLiteral("ticks"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({jsonOption, verboseOption, deviceOption, yesOption, commitOption, forceOption, countOption,
                       helpOption, versionOption});
    if (!parser.parse(QStringList(QLatin1String(ProgramName)) + arguments))
        return fail(CtlExit::RefusedInput, parser.errorText() + QStringLiteral(" (tessaroctl --help)"));

    json = parser.isSet(jsonOption);
    commit = parser.isSet(commitOption);
    yes = parser.isSet(yesOption);
    force = parser.isSet(forceOption);
    devicePath = parser.value(deviceOption);
    if (parser.isSet(countOption)) {
        bool ok = false;
        count = parser.value(countOption).toInt(&ok);
        if (!ok || count <= 0)
            return fail(CtlExit::RefusedInput, QStringLiteral("--count needs a number above 0"));
    }
    if (parser.isSet(helpOption)) {
        out << usage();
        out.flush();
        return CtlExit::Ok;
    }
    if (parser.isSet(versionOption)) {
        printLine(QStringLiteral("tessaroctl %1").arg(QLatin1String(TESSARO_VERSION)));
        return CtlExit::Ok;
    }

    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return fail(CtlExit::RefusedInput, QStringLiteral("no command given (tessaroctl --help)"));
    const QString command = words.takeFirst();
    const bool noArguments = words.isEmpty();
    if (command == QLatin1String("list") && noArguments)
        return list();
    if (command == QLatin1String("info") && noArguments)
        return info();
    if (command == QLatin1String("get"))
        return get(words);
    if (command == QLatin1String("set") && !noArguments)
        return set(words);
    if (command == QLatin1String("dump") && noArguments)
        return dump();
    if (command == QLatin1String("load") && words.size() == 1)
        return load(words);
    if (command == QLatin1String("preset") && words.size() <= 1)
        return preset(words);
    if (command == QLatin1String("easy") && words.size() <= 1)
        return easy(words);
    if (command == QLatin1String("monitor") && noArguments)
        return monitor();
    if (command == QLatin1String("flash") && words.size() == 1)
        return flash(words);
    if (command == QLatin1String("report") && words.size() <= 1)
        return report(words);
    // For the bash completion, not in the usage: one word a line.
    const std::optional<QStringList> offered =
        command == QLatin1String("complete") ? ctlCompletionWords::wordsFor(words) : std::nullopt;
    if (offered) {
        for (const QString& word : *offered)
            printLine(word);
        return CtlExit::Ok;
    }
    return fail(CtlExit::RefusedInput,
                QStringLiteral("unknown command or wrong arguments: %1 (tessaroctl --help)")
                    .arg((QStringList(command) + words).join(QLatin1Char(' '))));
}

// --- output --------------------------------------------------------------------------

int tessaroCtl::fail(int status, const QString& text)
{
    message(text);
    if (json)
        printJson({{"error", text}, {"status", status}});
    return status;
}

void tessaroCtl::message(const QString& text)
{
    err << ProgramName << ": " << UntrustedText::shown(text, UntrustedText::LineCap) << '\n';
    err.flush();
}

void tessaroCtl::printJson(const QJsonObject& object)
{
    if (jsonLines) {
        out << terminalJson(QJsonDocument(object), QJsonDocument::Compact) << '\n';
        out.flush();
        return;
    }
    out << terminalJson(QJsonDocument(object), QJsonDocument::Indented);
    out.flush();
}

void tessaroCtl::printLine(const QString& line)
{
    out << UntrustedText::shown(line, UntrustedText::LineCap) << '\n';
    out.flush();
}

QString tessaroCtl::resolvePath(const QString& path) const
{
    return QDir(callerDir).absoluteFilePath(path);
}

void tessaroCtl::waitMs(int ms)
{
    if (stopRequested)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    connect(this, &tessaroCtl::stopping, &loop, &QEventLoop::quit);
    loop.exec();
}

bool tessaroCtl::waitForInput()
{
    // A file (a terminal, a pipe) is watched so that a signal can end the wait; a line
    // already buffered, or an in-memory device, needs no waiting.
    const auto* file = qobject_cast<QFile*>(in.device());
    if (!stopRequested && file && file->handle() >= 0 && !in.device()->canReadLine()) {
        QEventLoop loop;
        QSocketNotifier readable(file->handle(), QSocketNotifier::Read);
        connect(&readable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        connect(this, &tessaroCtl::stopping, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !stopRequested;
}

// --- devices -------------------------------------------------------------------------

bool tessaroCtl::selectDevice(const QStringList& types, ctlDevice* chosen, int* status)
{
    QVector<ctlDevice> devices = ctlDeviceScan::scan(ctlDeviceScan::ReadIdentity | ctlDeviceScan::KeepOpen);
    // A signal that came during the scan has not been seen yet.
    QCoreApplication::processEvents();
    if (stopRequested) {
        *status = fail(CtlExit::RefusedInput, QStringLiteral("interrupted; nothing sent"));
        return false;
    }
    QVector<ctlDevice> candidates;
    QStringList refused;
    for (const ctlDevice& device : qAsConst(devices)) {
        if (!devicePath.isEmpty() && device.path != devicePath)
            continue;
        if (!types.contains(device.type)) {
            refused << QStringLiteral("%1 is a %2").arg(device.path, device.typeName());
            continue;
        }
        if (device.state != ctlDevice::Ready) {
            refused << QStringLiteral("%1: %2").arg(device.path, device.hint);
            continue;
        }
        candidates << device;
    }
    // Only the chosen device stays open.
    devices.clear();
    if (candidates.isEmpty()) {
        QString text = devicePath.isEmpty() ? QStringLiteral("no supported device found")
                                            : QStringLiteral("no supported device at %1").arg(devicePath);
        if (!refused.isEmpty())
            text += QStringLiteral(" (") + refused.join(QLatin1String("; ")) + QLatin1Char(')');
        *status = fail(CtlExit::NoDevice, text);
        return false;
    }
    if (candidates.size() > 1) {
        QStringList paths;
        for (const ctlDevice& device : qAsConst(candidates))
            paths << device.path;
        *status = fail(CtlExit::MoreThanOneDevice,
                       QStringLiteral("more than one device present, choose one with --device: %1")
                           .arg(paths.join(QLatin1String(", "))));
        return false;
    }
    *chosen = candidates.constFirst();
    return true;
}

bool tessaroCtl::selectSensor(ctlDevice* chosen, int* status)
{
    return selectDevice({QLatin1String(TessaroLink::TypeSensor)}, chosen, status);
}

bool tessaroCtl::loadModel(const ctlDevice& sensor, QJsonObject* file, int* status)
{
    const QJsonDocument document = ParameterFile::read(sensor.configFile);
    if (document.isNull()) {
        *status = fail(CtlExit::RefusedInput, QStringLiteral("the parameter file sensors/%1 is missing, refused (a name with "
                                                                 "a folder, not a regular file of at most 1 MiB) or not valid JSON")
                                                  .arg(sensor.configFile));
        return false;
    }
    *file = document.object();
    const QStringList refused = ParameterFile::refusedRows(*file);
    for (const QString& row : refused)
        message(QStringLiteral("sensors/%1: row \"%2\" refused: module and register names hold only letters, "
                               "digits and _").arg(sensor.configFile, row));
    return true;
}

int tessaroCtl::identityMissing(const ctlDevice& sensor)
{
    return fail(CtlExit::DeviceError,
                QStringLiteral("identity not read: the sensor at %1 gave no usable reply to \"app:id;\" or \"app:version;\"")
                    .arg(sensor.path));
}

bool tessaroCtl::commitAndReset(tessaro* connection, QString* error)
{
    QString command;
    std::optional<QString> answer;
    if (SensorSettings::commitAndReset(connection, &command, &answer))
        return true;
    *error = answer ? QStringLiteral("the sensor did not acknowledge %1 (it answered \"%2\")").arg(command, *answer)
                    : QStringLiteral("%1 failed: the sensor left").arg(command);
    return false;
}

// --- commands ------------------------------------------------------------------------

int tessaroCtl::list()
{
    const QVector<ctlDevice> devices = ctlDeviceScan::scan(ctlDeviceScan::ReadIdentity);
    QJsonArray array;
    for (const ctlDevice& device : devices) {
        QJsonObject entry{{"path", device.path},
                          {"type", device.typeName()},
                          {"vendorId", QString::asprintf("%04x", device.vendorId)},
                          {"productId", QString::asprintf("%04x", device.productId)},
                          {"interface", device.interfaceNumber},
                          {"state", device.stateName()}};
        if (!device.hint.isEmpty())
            entry.insert("hint", device.hint);
        if (device.isSensor() && device.state == ctlDevice::Ready) {
            entry.insert("id", device.identity.id.value_or(QString()));
            entry.insert("hardware", device.identity.hardware);
            entry.insert("firmware", device.identity.firmware);
        }
        array.append(entry);
        if (json)
            continue;
        QString line = QStringLiteral("%1  %2  %3:%4").arg(device.typeName(), -10).arg(device.path)
                           .arg(entry.value("vendorId").toString(), entry.value("productId").toString());
        if (device.state != ctlDevice::Ready)
            line += QStringLiteral("  %1: %2").arg(device.stateName(), device.hint);
        else if (device.isSensor())
            line += QStringLiteral("  %1  %2  id %3")
                        .arg(device.identity.hardware, device.identity.firmware, device.identity.id.value_or(QString()));
        printLine(line);
    }
    if (json)
        printJson({{"devices", array}});
    if (devices.isEmpty()) {
        message(QStringLiteral("no supported device found"));
        return CtlExit::NoDevice;
    }
    return CtlExit::Ok;
}

int tessaroCtl::info()
{
    ctlDevice sensor;
    int status = CtlExit::Ok;
    if (!selectSensor(&sensor, &status))
        return status;
    if (!identityRead(sensor.identity))
        return identityMissing(sensor);
    tessaroPoll poll(sensor.connection.data());
    PollReadings readings;
    readings.follow(&poll, this);
    if (!poll.readPoint() || !poll.readPenState() || !poll.readPenId() || !poll.readCalState() || !poll.readCorners())
        return fail(CtlExit::DeviceError, QStringLiteral("the sensor at %1 stopped answering").arg(sensor.path));

    const tessaroIdentity& identity = sensor.identity;
    if (json) {
        printJson({{"path", sensor.path},
                   {"id", identity.id.value_or(QString())},
                   {"hardware", identity.hardware},
                   {"firmware", identity.firmware},
                   {"build", identity.build},
                   {"configfile", sensor.configFile},
                   {"point", pointJson(readings.point)},
                   {"pen", penJson(readings.pen, readings.identity)},
                   {"calibration", calibrationJson(readings.calibration)},
                   {"corners", cornersJson(readings.cornersX, readings.cornersY)}});
        return CtlExit::Ok;
    }
    const auto row = [this](const char* key, const QString& value) {
        printLine(QStringLiteral("%1 %2").arg(QLatin1String(key) + QLatin1Char(':'), -12).arg(value));
    };
    row("device", sensor.path);
    row("id", identity.id.value_or(QString()));
    row("hardware", identity.hardware);
    row("firmware", identity.firmware);
    row("build", identity.build);
    row("model", sensor.configFile);
    if (readings.identity) {
        row("pen id", readings.identity->id);
        row("pen version", readings.identity->versionText());
        row("pairing", QStringLiteral("%1 (%2)").arg(readings.identity->ready ? QStringLiteral("ready")
                                                                             : QStringLiteral("acquiring"))
                           .arg(readings.identity->pairing));
    }
    row("pen", penText(readings.pen));
    row("point", QStringLiteral("x=%1 y=%2 size=%3 number=%4")
                     .arg(readings.point.x).arg(readings.point.y).arg(readings.point.size).arg(readings.point.number));
    row("calibration", calibrationText(readings.calibration));
    row("corners", cornersText(readings.cornersX, readings.cornersY));
    return CtlExit::Ok;
}

int tessaroCtl::get(const QStringList& names)
{
    ctlDevice sensor;
    int status = CtlExit::Ok;
    QJsonObject file;
    if (!selectSensor(&sensor, &status) || !loadModel(sensor, &file, &status))
        return status;
    const RegisterMap map(file);
    QVector<const SensorRegister*> wanted;
    for (const QString& name : names) {
        QString error;
        const SensorRegister* reg = map.find(name, &error);
        if (!reg)
            return fail(CtlExit::RefusedInput, error);
        wanted << reg;
    }
    if (names.isEmpty()) {
        for (const SensorRegister& reg : map.all())
            wanted << &reg;
    }

    QJsonObject values;
    bool missing = false;
    for (const SensorRegister* reg : qAsConst(wanted)) {
        std::optional<int> value;
        if (!readValue(sensor.connection.data(), reg->module, reg->regname, &value))
            return fail(CtlExit::DeviceError, QStringLiteral("reading %1 failed").arg(reg->fullName()));
        missing = missing || !value;
        values.insert(reg->fullName(), value ? QJsonValue(*value) : QJsonValue());
        if (!json)
            printLine(QStringLiteral("%1 = %2").arg(reg->fullName(),
                                                   value ? valueText(*reg, *value) : QStringLiteral("?")));
    }
    if (json)
        printJson({{"registers", values}});
    if (missing) {
        message(QStringLiteral("the sensor gave no value for some registers"));
        return CtlExit::DeviceError;
    }
    return CtlExit::Ok;
}

int tessaroCtl::set(const QStringList& assignments)
{
    ctlDevice sensor;
    int status = CtlExit::Ok;
    QJsonObject file;
    if (!selectSensor(&sensor, &status) || !loadModel(sensor, &file, &status))
        return status;
    const RegisterMap map(file);
    RegisterValues values;
    QSet<const SensorRegister*> named;
    // Everything is checked before the first write.
    for (const QString& assignment : assignments) {
        const int equals = assignment.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return fail(CtlExit::RefusedInput, QStringLiteral("\"%1\" is not NAME=VALUE").arg(assignment));
        QString error;
        const SensorRegister* reg = map.find(assignment.left(equals), &error);
        if (!reg)
            return fail(CtlExit::RefusedInput, error);
        // Which of two values would stay is not for the order of writes to decide.
        if (named.contains(reg))
            return fail(CtlExit::RefusedInput, QStringLiteral("%1 is named twice; nothing sent").arg(reg->fullName()));
        named.insert(reg);
        const std::optional<int> value = RegisterMap::parseValue(*reg, assignment.mid(equals + 1), &error);
        if (!value)
            return fail(CtlExit::RefusedInput, error);
        values << qMakePair(reg, *value);
    }
    return writeRegisters(sensor, values);
}

int tessaroCtl::writeRegisters(const ctlDevice& sensor, const RegisterValues& values)
{
    tessaro* connection = sensor.connection.data();
    const SensorSettings::WriteOutcome outcome = SensorSettings::writeAndReadBack(connection, values);
    if (outcome.kind == SensorSettings::WriteOutcome::WriteFailed)
        return fail(CtlExit::DeviceError, QStringLiteral("writing %1 failed").arg(values.at(outcome.index).first->fullName()));
    // What the sensor holds now, not what was sent, is what counts.
    QJsonObject written;
    for (int i = 0; i < outcome.index; ++i) {
        const auto& entry = values.at(i);
        written.insert(entry.first->fullName(), entry.second);
        if (!json)
            printLine(QStringLiteral("%1 = %2").arg(entry.first->fullName(), valueText(*entry.first, entry.second)));
    }
    if (outcome.kind == SensorSettings::WriteOutcome::ReadFailed)
        return fail(CtlExit::DeviceError, QStringLiteral("reading %1 back failed").arg(values.at(outcome.index).first->fullName()));
    if (outcome.kind == SensorSettings::WriteOutcome::Mismatch)
        return fail(CtlExit::VerificationFailed,
                    QStringLiteral("%1 reads back %2, not %3; nothing committed")
                        .arg(values.at(outcome.index).first->fullName(),
                             outcome.readBack ? QString::number(*outcome.readBack) : QStringLiteral("no value"))
                        .arg(values.at(outcome.index).second));
    QString error;
    if (commit && !commitAndReset(connection, &error))
        return fail(CtlExit::DeviceError, error);
    if (json)
        printJson({{"registers", written}, {"committed", commit}});
    else if (commit)
        printLine(QStringLiteral("committed"));
    return CtlExit::Ok;
}

int tessaroCtl::dump()
{
    ctlDevice sensor;
    int status = CtlExit::Ok;
    QJsonObject file;
    if (!selectSensor(&sensor, &status) || !loadModel(sensor, &file, &status))
        return status;
    if (!identityRead(sensor.identity))
        return identityMissing(sensor);
    const RegisterMap map(file);
    QJsonObject values;
    QString failed;
    if (!SensorSettings::readAll(sensor.connection.data(), map, &values, &failed))
        return fail(CtlExit::DeviceError, QStringLiteral("reading %1 failed").arg(failed));
    printJson(SensorSettings::document(sensor.configFile, sensor.identity, values));
    if (!SensorSettings::complete(values)) {
        message(QStringLiteral("the sensor gave no value for some registers; load refuses this dump"));
        return CtlExit::DeviceError;
    }
    return CtlExit::Ok;
}

int tessaroCtl::load(const QStringList& files)
{
    const QString path = resolvePath(files.constFirst());
    QJsonObject document;
    const SensorSettings::Problem unread = SensorSettings::readFile(path, &document);
    if (unread.kind == SensorSettings::Problem::Unreadable)
        return fail(CtlExit::RefusedInput, QStringLiteral("cannot read %1").arg(path));
    if (unread.kind == SensorSettings::Problem::TooLarge)
        return fail(CtlExit::RefusedInput, QStringLiteral("%1 is larger than 1 MiB, not a register dump of tessaroctl").arg(path));
    if (unread.kind != SensorSettings::Problem::None)
        return fail(CtlExit::RefusedInput, QStringLiteral("%1 is not a register dump of tessaroctl").arg(path));

    ctlDevice sensor;
    int status = CtlExit::Ok;
    QJsonObject file;
    if (!selectSensor(&sensor, &status) || !loadModel(sensor, &file, &status))
        return status;
    const RegisterMap map(file);
    RegisterValues values;
    const SensorSettings::Problem problem = SensorSettings::check(document, map, sensor.configFile, force, &values);
    switch (problem.kind) {
    case SensorSettings::Problem::None:
        return writeRegisters(sensor, values);
    case SensorSettings::Problem::OtherModel:
        return fail(CtlExit::RefusedInput, QStringLiteral("%1 is a dump of the model %2, this sensor's is %3; "
                                                          "--force loads it anyway")
                                               .arg(path, jsonText(problem.value), sensor.configFile));
    case SensorSettings::Problem::NoValue:
        return fail(CtlExit::RefusedInput, QStringLiteral("%1: no value in the dump (the sensor gave none)").arg(problem.name));
    case SensorSettings::Problem::Refused:
        return fail(CtlExit::RefusedInput, QStringLiteral("%1: value %2 refused, accepted: %3")
                                               .arg(problem.name, jsonText(problem.value), problem.detail));
    case SensorSettings::Problem::Twice:
        return fail(CtlExit::RefusedInput, QStringLiteral("%1 is in the dump twice").arg(problem.name));
    default:
        return fail(CtlExit::RefusedInput, problem.detail);
    }
}

int tessaroCtl::preset(const QStringList& names)
{
    ctlDevice sensor;
    int status = CtlExit::Ok;
    QJsonObject file;
    if (!selectSensor(&sensor, &status) || !loadModel(sensor, &file, &status))
        return status;
    if (names.isEmpty()) {
        QJsonArray presets;
        const QJsonArray all = TessaroPreset::presets(file);
        for (const QJsonValue& value : all) {
            const QJsonObject preset = value.toObject();
            const QString name = ParameterFile::text(preset.value(QLatin1String("name")));
            const QString text = ParameterFile::text(preset.value(QLatin1String("info")));
            presets.append(QJsonObject{{"name", name}, {"info", text}});
            if (!json)
                printLine(QStringLiteral("%1: %2").arg(name, text));
        }
        if (json)
            printJson({{"presets", presets}});
        return CtlExit::Ok;
    }
    bool found = false;
    const QJsonObject chosen = TessaroPreset::find(file, names.constFirst(), &found);
    if (!found)
        return fail(CtlExit::RefusedInput,
                    QStringLiteral("no preset \"%1\" in sensors/%2 (tessaroctl preset lists them)")
                        .arg(names.constFirst(), sensor.configFile));
    const QString name = ParameterFile::text(chosen.value(QLatin1String("name")));
    const QJsonArray rows = ParameterFile::array(chosen, "parameters");
    if (std::any_of(rows.begin(), rows.end(), [](const QJsonValue& row) { return !ParameterFile::hasNames(row.toObject()); }))
        return fail(CtlExit::RefusedInput, QStringLiteral("preset \"%1\" holds a refused row; nothing written").arg(name));
    tessaro* connection = sensor.connection.data();
    if (!TessaroPreset::writeAll(connection, chosen))
        return fail(CtlExit::DeviceError, QStringLiteral("the preset could not be written; nothing committed"));
    // As for set: what the sensor holds now counts, and only that is committed.
    const QJsonArray writes = ParameterFile::array(chosen, "parameters");
    QJsonObject readBack;
    QStringList lines;
    for (const QJsonValue& value : writes) {
        const QJsonObject write = value.toObject();
        const QString module = ParameterFile::text(write.value(QLatin1String("module")));
        const QString regname = ParameterFile::text(write.value(QLatin1String("regname")));
        const QString written = ParameterFile::text(write.value(QLatin1String("value")));
        const QString fullName = module + QLatin1Char(':') + regname;
        std::optional<QString> field;
        if (!readField(connection, module, regname, &field))
            return fail(CtlExit::DeviceError, QStringLiteral("reading %1 back failed").arg(fullName));
        if (!sameValue(field, written))
            return fail(CtlExit::VerificationFailed, QStringLiteral("%1 reads back %2, not %3; nothing committed")
                                                         .arg(fullName, field ? *field : QStringLiteral("no value"), written));
        const std::optional<int> held = number(field);
        readBack.insert(fullName, held ? QJsonValue(*held) : QJsonValue(*field));
        lines << QStringLiteral("%1 = %2").arg(fullName, *field);
    }
    QString error;
    if (!commitAndReset(connection, &error))
        return fail(CtlExit::DeviceError, error);
    if (json) {
        printJson({{"preset", name}, {"writes", writes.size()}, {"registers", readBack}, {"committed", true}});
        return CtlExit::Ok;
    }
    for (const QString& line : qAsConst(lines))
        printLine(line);
    printLine(QStringLiteral("preset \"%1\" applied (%2 writes), committed").arg(name).arg(writes.size()));
    return CtlExit::Ok;
}

int tessaroCtl::easy(const QStringList& positions)
{
    std::optional<int> position;
    if (!positions.isEmpty()) {
        bool ok = false;
        position = positions.constFirst().toInt(&ok);
        if (!ok)
            return fail(CtlExit::RefusedInput, QStringLiteral("the easy position is a number"));
    }
    ctlDevice sensor;
    int status = CtlExit::Ok;
    QJsonObject file;
    if (!selectSensor(&sensor, &status) || !loadModel(sensor, &file, &status))
        return status;
    tessaro* connection = sensor.connection.data();
    tessaroEasyTable easy;
    if (!easy.readMode(connection, file))
        return fail(CtlExit::DeviceError, QStringLiteral("reading the easy threshold failed"));
    const QString easyRegister = QStringLiteral("sens:") + easy.registerName;
    if (position) {
        if (*position < 0 || *position >= easy.table.size())
            return fail(CtlExit::RefusedInput, QStringLiteral("easy position %1 refused, accepted: 0..%2")
                                                   .arg(*position).arg(easy.table.size() - 1));
        if (!easy.writePosition(connection, *position))
            return fail(CtlExit::DeviceError, QStringLiteral("writing the easy threshold failed"));
    }
    std::optional<int> current;
    if (!readValue(connection, QStringLiteral("sens"), easy.registerName, &current))
        return fail(CtlExit::DeviceError, QStringLiteral("reading the easy threshold failed"));
    if (position && current != easy.table.at(*position))
        return fail(CtlExit::VerificationFailed, QStringLiteral("%1 reads back %2, not %3; nothing committed")
                                                     .arg(easyRegister, current ? QString::number(*current) : QStringLiteral("no value"))
                                                     .arg(easy.table.at(*position)));
    if (!current)
        return fail(CtlExit::DeviceError, QStringLiteral("the sensor gave no value for %1").arg(easyRegister));
    QString error;
    if (position && !commitAndReset(connection, &error))
        return fail(CtlExit::DeviceError, error);
    easy.current = *current;
    const int nearest = tessaroEasyTable::nearestIndex(easy.table, easy.current);
    QJsonArray table;
    QStringList tableText;
    for (int value : qAsConst(easy.table)) {
        table.append(value);
        tableText << QString::number(value);
    }
    if (json) {
        printJson({{"mode", easy.manual ? "manual" : "automatic"},
                   {"register", easyRegister},
                   {"table", table},
                   {"value", easy.current},
                   {"position", nearest},
                   {"committed", position.has_value()}});
    } else {
        printLine(QStringLiteral("mode:     %1").arg(easy.manual ? "manual" : "automatic"));
        printLine(QStringLiteral("register: %1 = %2").arg(easyRegister).arg(easy.current));
        printLine(QStringLiteral("table:    %1").arg(tableText.join(QLatin1Char(' '))));
        printLine(QStringLiteral("position: %1").arg(nearest));
    }
    return CtlExit::Ok;
}

int tessaroCtl::monitor()
{
    jsonLines = true;
    ctlDevice sensor;
    int status = CtlExit::Ok;
    if (!selectSensor(&sensor, &status))
        return status;
    tessaroPoll poll(sensor.connection.data());
    PollReadings readings;
    readings.follow(&poll, this);

    QEventLoop loop;
    QTimer timer;
    int ticks = 0;
    connect(this, &tessaroCtl::stopping, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        if (stopRequested) {
            loop.quit();
            return;
        }
        readings.corners = false;
        if (!poll.tick()) {
            status = fail(CtlExit::DeviceError, QStringLiteral("the sensor at %1 stopped answering").arg(sensor.path));
            loop.quit();
            return;
        }
        if (json) {
            printJson({{"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                       {"point", pointJson(readings.point)},
                       {"pen", penJson(readings.pen, readings.identity)},
                       {"calibration", calibrationJson(readings.calibration)},
                       {"corners", readings.corners ? QJsonValue(cornersJson(readings.cornersX, readings.cornersY))
                                                    : QJsonValue()}});
        } else {
            QString line = QStringLiteral("x=%1 y=%2 size=%3 number=%4 %5 calibration=%6")
                               .arg(readings.point.x).arg(readings.point.y).arg(readings.point.size)
                               .arg(readings.point.number)
                               .arg(penText(readings.pen), calibrationText(readings.calibration));
            if (readings.corners)
                line += QStringLiteral(" corners=") + cornersText(readings.cornersX, readings.cornersY);
            printLine(line);
        }
        if (count > 0 && ++ticks >= count)
            loop.quit();
    });
    timer.start(pollPeriodMs);
    if (!stopRequested)
        loop.exec();
    return status;
}

int tessaroCtl::flash(const QStringList& images)
{
    ctlFlash run(this, resolvePath(images.constFirst()));
    return run.exec();
}

int tessaroCtl::report(const QStringList& files)
{
    SupportReport report(QLatin1String(ProgramName), QStringLiteral(TESSARO_VERSION));
    const QVector<ctlDevice> devices = ctlDeviceScan::scan(ctlDeviceScan::ReadIdentity | ctlDeviceScan::KeepOpen);
    // The state: every device as list shows it; the unit: the one sensor ready (or --device).
    QStringList states;
    QVector<const ctlDevice*> sensors;
    for (const ctlDevice& device : devices) {
        states << QStringLiteral("%1 %2: %3").arg(device.typeName(), device.path, device.stateName())
                      + (device.hint.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(device.hint));
        if (device.isSensor() && device.state == ctlDevice::Ready && (devicePath.isEmpty() || device.path == devicePath))
            sensors << &device;
    }
    report.setState(states.isEmpty() ? QStringLiteral("no supported device found") : states.join(QLatin1String("; ")));
    if (sensors.size() == 1) {
        const ctlDevice& sensor = *sensors.constFirst();
        SupportReport::Unit unit{sensor.path, sensor.identity.id.value_or(QString()), sensor.identity.hardware,
                                 sensor.identity.firmware, sensor.configFile, {}};
        // What the sensor gave before a failed exchange is kept.
        SupportReport::readRegisters(sensor.connection.data(), sensor.configFile, &unit.registers);
        report.setUnit(unit);
    }
    if (files.isEmpty()) {
        out << terminalJson(QJsonDocument(report.toJson()), QJsonDocument::Indented);
        out.flush();
        return CtlExit::Ok;
    }
    QString error;
    if (!report.save(resolvePath(files.constFirst()), &error))
        return fail(CtlExit::RefusedInput, error);
    message(QStringLiteral("support report written to %1").arg(resolvePath(files.constFirst())));
    return CtlExit::Ok;
}
