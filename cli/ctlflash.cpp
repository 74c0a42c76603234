#include "ctlflash.h"

#include "ctlexit.h"
#include "ctlsignals.h"
#include "tessaroctl.h"
#include "device/tessaro.h"
#include "device/updatelock.h"
#include "device/untrustedtext.h"
#include "update/bootloader.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {

constexpr int ScanPeriodMs = 100;
constexpr int BarWidth = 30;
constexpr int PlainStepPercent = 25;

// Lines of the bootloader that mean the image or the device's geometry was refused
// before anything was erased.
bool isRefusal(const QString& line)
{
    static const QStringList refusals = {QStringLiteral("Image size too large"), QStringLiteral("Image is empty"),
                                         QStringLiteral("Could not open file"), QStringLiteral("Could not read file"),
                                         QStringLiteral("no file selected!")};
    return refusals.contains(line) || line.startsWith(QLatin1String("Invalid flash geometry"));
}

// The bootloader's verdict, told only once the sensor is back with its new firmware.
const char* const SuccessLine = "Updated succesfully!";

QString passOf(const QString& line)
{
    if (line == QLatin1String("Start flash erase"))
        return QStringLiteral("erase");
    if (line == QLatin1String("Start flashing"))
        return QStringLiteral("write");
    if (line == QLatin1String("Start Reading"))
        return QStringLiteral("verify");
    return QString();
}

} // namespace

ctlFlash::ctlFlash(tessaroCtl* owner, QString imagePath)
    : ctl(owner)
    , claim(QSharedPointer<UpdateLock>::create())
    , image(std::move(imagePath))
{
}

bool ctlFlash::checkImage(int* status)
{
    // The bootloader checks again when it reads the image; this keeps a sensor from being
    // sent into its bootloader for a file that can never be flashed.
    const QFileInfo info(image);
    QString problem;
    if (!info.exists())
        problem = QStringLiteral("%1 does not exist");
    else if (!info.isFile())
        problem = QStringLiteral("%1 is not a regular file");
    else if (info.size() == 0)
        problem = QStringLiteral("%1 is empty");
    else if (!info.isReadable())
        problem = QStringLiteral("%1 cannot be read");
    if (problem.isEmpty())
        return true;
    *status = ctl->fail(CtlExit::RefusedInput, problem.arg(image));
    return false;
}

int ctlFlash::exec()
{
    const int status = flash();
    QObject::disconnect(heldReports);
    recordRun();
    return status;
}

int ctlFlash::failRun(int status, const QString& text)
{
    lines << text;
    return ctl->fail(status, text);
}

void ctlFlash::recordRun()
{
    if (!recordDue)
        return;
    record.lines = lines;
    record.program = QStringLiteral("tessaroctl ") + QLatin1String(TESSARO_VERSION);
    if (!FlashLog::append(record))
        ctl->message(QStringLiteral("could not record the run in %1").arg(FlashLog::filePath()));
}

bool ctlFlash::confirm(const ctlDevice& device, int* status)
{
    if (ctl->yes)
        return true;
    QString what = QStringLiteral("the %1 at %2").arg(device.typeName(), device.path);
    if (device.isSensor())
        what += QStringLiteral(" (%1, %2)").arg(device.identity.hardware, device.identity.firmware);
    ctl->err << "Flash " << UntrustedText::shown(image, UntrustedText::LineCap) << " into "
             << UntrustedText::shown(what, UntrustedText::LineCap) << "? [y/N] ";
    ctl->err.flush();
    if (!ctl->waitForInput()) {
        ctl->err << '\n';
        *status = ctl->fail(CtlExit::RefusedInput, QStringLiteral("interrupted; nothing sent"));
        return false;
    }
    const QString answer = ctl->in.readLine().trimmed().toLower();
    if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
        return true;
    *status = ctl->fail(CtlExit::RefusedInput, QStringLiteral("not confirmed, nothing sent"));
    return false;
}

QSet<QString> ctlFlash::presentKeys(const QString& type) const
{
    QSet<QString> paths;
    const QVector<ctlDevice> devices = ctlDeviceScan::scan(ctlDeviceScan::Plain);
    for (const ctlDevice& device : devices) {
        if (device.type == type)
            paths.insert(device.key);
    }
    return paths;
}

bool ctlFlash::waitForNew(const QString& type, QSet<QString> before, ctlDevice* found, int* status,
                          const QString& what)
{
    QElapsedTimer clock;
    clock.start();
    while (true) {
        QVector<ctlDevice> fresh;
        QSet<QString> present;  // identities
        const QVector<ctlDevice> devices =
            ctlDeviceScan::scan(ctlDeviceScan::ReadIdentity | ctlDeviceScan::KeepOpen);
        for (const ctlDevice& device : devices) {
            if (device.type != type)
                continue;
            present.insert(device.key);
            if (!before.contains(device.key) && device.state == ctlDevice::Ready)
                fresh << device;
        }
        // One that was there before and has left is no longer "there before".
        before.intersect(present);
        if (fresh.size() == 1) {
            *found = fresh.constFirst();
            return true;
        }
        if (fresh.size() > 1) {
            *status = failRun(CtlExit::MoreThanOneDevice,
                              QStringLiteral("more than one %1 appeared; not flashing any").arg(what));
            return false;
        }
        if (ctl->stopRequested) {
            *status = failRun(CtlExit::DeviceError, QStringLiteral("interrupted while waiting for the %1").arg(what));
            return false;
        }
        if (clock.elapsed() > ctl->returnTimeoutMs) {
            *status = failRun(CtlExit::DeviceError, QStringLiteral("no %1 appeared within %2 s")
                                                        .arg(what).arg(ctl->returnTimeoutMs / 1000.0));
            return false;
        }
        ctl->waitMs(ScanPeriodMs);
    }
}

int ctlFlash::flash()
{
    int status = CtlExit::Ok;
    if (!checkImage(&status))
        return status;
    const QFileInfo info(image);
    record.imagePath = info.absoluteFilePath();
    record.imageSize = info.size();
    if (!ctl->yes && !ctl->interactive)
        return ctl->fail(CtlExit::RefusedInput, QStringLiteral("not on a terminal: flash needs --yes"));
    const QStringList types = {QLatin1String(TessaroLink::TypeSensor), QLatin1String(TessaroLink::TypeBootloader),
                               QLatin1String(TessaroLink::TypeUpdate)};
    ctlDevice device;
    if (!ctl->selectDevice(types, &device, &status) || !confirm(device, &status))
        return status;
    if (!claim->acquire(device.connection->updateUnit()))
        return ctl->fail(CtlExit::DeviceError, QLatin1String(UpdateLock::HeldText));
    device.connection->updateLock = claim;
    if (device.isSensor()) {
        record.unitId = device.identity.id.value_or(QString());
        record.hardware = device.identity.hardware;
        record.firmwareBefore = device.identity.firmware;
    }

    if (device.type == QLatin1String(TessaroLink::TypeBootloader))
        return runBootloader(device, false);

    // Only a bootloader that was not on the bus when the request went out is this unit.
    const QStringList present = device.connection->bootloadersPresent();
    const QSet<QString> loadersBefore(present.cbegin(), present.cend());
    ctl->message(QStringLiteral("sending %1 to its bootloader").arg(device.path));
    recordDue = true;
    device.connection->startUpgrade();
    device.connection.reset();
    ctlDevice loader;
    if (!waitForNew(QLatin1String(TessaroLink::TypeBootloader), loadersBefore, &loader, &status,
                    QStringLiteral("bootloader")))
        return status;
    return runBootloader(loader, true);
}

bool ctlFlash::waitForSequence(bootloader* loader)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(loader, &bootloader::updateFinished, &loop, [&](bool finishedOk) {
        ok = finishedOk;
        loop.quit();
    });
    if (loader->isBusy())
        loop.exec();
    return ok;
}

int ctlFlash::restartPresentFirmware(bootloader* loader, const QSet<QString>& sensorsBefore, QJsonObject result)
{
    ctl->message(QStringLiteral("image refused by the bootloader; nothing erased, starting the firmware the unit had"));
    loader->runApplication();
    ctlDevice sensor;
    int status = CtlExit::Ok;
    if (!waitForSequence(loader)
        || !waitForNew(QLatin1String(TessaroLink::TypeSensor), sensorsBefore, &sensor, &status,
                       QStringLiteral("sensor with its old firmware")))
        return ctl->fail(CtlExit::DeviceError,
                         QStringLiteral("the unit did not start its old firmware; it waits in its bootloader"));
    record.firmwareAfter = sensor.identity.firmware;
    const QString text = QStringLiteral("the unit is back on its old firmware %1 at %2; nothing was flashed")
                             .arg(sensor.identity.firmware, sensor.path);
    ctl->message(text);
    if (ctl->json) {
        result.insert("ok", false);
        result.insert("error", text);
        result.insert("status", CtlExit::RefusedInput);
        result.insert("path", sensor.path);
        result.insert("firmware", sensor.identity.firmware);
        ctl->printJson(result);
    }
    return CtlExit::RefusedInput;
}

int ctlFlash::runBootloader(ctlDevice loaderDevice, bool sentHere)
{
    recordDue = true;
    const QSet<QString> sensorsBefore = presentKeys(QLatin1String(TessaroLink::TypeSensor));
    // The run takes the claim over; a bootloader of another unit than the one asked would
    // need its own lock, which the run takes (or is refused) before anything is sent.
    loaderDevice.connection->updateLock = claim;
    const QSharedPointer<bootloader> loader = bootloader::create(loaderDevice.connection.data());
    if (ctl->settleMs >= 0)
        loader->setSettleTimeMs(ctl->settleMs);
    QObject::connect(loader.data(), &bootloader::status, ctl,
                     [this](const QString& line, bool) { showStatusLine(line); });
    QObject::connect(loader.data(), &bootloader::eraseflashStatus, ctl, [this](int percent) { showProgress(percent); });
    QObject::connect(loader.data(), &bootloader::phaseChanged, ctl, [this](bootloader::Phase phase, int secondsLeft) {
        showCountdown(phase, secondsLeft);
    });
    if (!loader->getinfo())
        return failRun(CtlExit::DeviceError, QStringLiteral("the bootloader at %1 does not answer").arg(loaderDevice.path));

    // The sequence cannot be stopped half way: from here to its end a signal is only reported.
    ctl->uninterruptible = true;
    ctlSignals::holdThroughHangUp();
    heldReports = QObject::connect(ctl, &tessaroCtl::heldThrough, ctl, [this](const QString& text) { lines << text; });
    loader->updateFromFile(image);
    const bool verified = waitForSequence(loader.data());
    endProgressLine();
    ctl->uninterruptible = false;
    record.ok = verified;

    QJsonObject result{{"image", image}, {"bootloader", loaderDevice.path}, {"lines", QJsonArray::fromStringList(lines)}};
    if (!verified) {
        int status = CtlExit::DeviceError;
        if (lines.filter(QStringLiteral("Flash not equal")).size() > 0)
            status = CtlExit::VerificationFailed;
        else if (std::any_of(lines.cbegin(), lines.cend(), isRefusal))
            status = CtlExit::RefusedInput;
        if (status == CtlExit::RefusedInput && sentHere && loader->linkOk)
            return restartPresentFirmware(loader.data(), sensorsBefore, result);
        const QString text = status == CtlExit::RefusedInput
            ? QStringLiteral("image refused by the bootloader; nothing erased, the unit waits in its bootloader")
            : QStringLiteral("flashing failed: %1; the unit waits in its bootloader").arg(lines.value(lines.size() - 1));
        ctl->message(text);
        if (ctl->json) {
            result.insert("ok", false);
            result.insert("error", text);
            result.insert("status", status);
            ctl->printJson(result);
        }
        return status;
    }

    ctlDevice sensor;
    int status = CtlExit::Ok;
    if (!ctl->json)
        ctl->printLine(QStringLiteral("waiting up to %1 s for the sensor with the new firmware")
                           .arg(ctl->returnTimeoutMs / 1000.0));
    if (!waitForNew(QLatin1String(TessaroLink::TypeSensor), sensorsBefore, &sensor, &status,
                    QStringLiteral("sensor with the new firmware")))
        return status;
    record.firmwareAfter = sensor.identity.firmware;
    result.insert("ok", true);
    result.insert("path", sensor.path);
    result.insert("hardware", sensor.identity.hardware);
    result.insert("firmware", sensor.identity.firmware);
    if (ctl->json)
        ctl->printJson(result);
    else
        ctl->printLine(QStringLiteral("sensor back at %1, firmware %2").arg(sensor.path, sensor.identity.firmware));
    if (!ctl->json)
        ctl->printLine(QLatin1String(SuccessLine));
    return CtlExit::Ok;
}

void ctlFlash::showStatusLine(const QString& line)
{
    lines << line;
    const QString started = passOf(line);
    if (!started.isEmpty()) {
        endProgressLine();
        pass = started;
        lastPlainStep = 0;
    }
    // A pass that ended well ends its bar at 100 %.
    if (line == QLatin1String("Flash erased!") || line == QLatin1String("Flash written!"))
        showProgress(100);
    if (ctl->json || line == QLatin1String(SuccessLine))
        return;
    endProgressLine();
    ctl->printLine(line);
}

void ctlFlash::showCountdown(int phase, int secondsLeft)
{
    if (ctl->json || (phase != bootloader::Settling && phase != bootloader::Starting) || secondsLeft <= 0)
        return;
    const QString text = phase == bootloader::Settling
        ? QStringLiteral("waiting %1 s for the bootloader to settle before erasing")
        : QStringLiteral("waiting %1 s for the sensor to start its new firmware");
    const bool first = phase != countdownShown;
    countdownShown = phase;
    if (first)
        endProgressLine();  // a bar before it keeps its line
    if (ctl->terminal) {
        // Cleared to the end of the line: the count gets shorter.
        ctl->out << '\r' << text.arg(secondsLeft) << "\x1b[K";
        ctl->out.flush();
        progressShown = true;
    } else if (first) {
        ctl->printLine(text.arg(secondsLeft));
    }
}

void ctlFlash::showProgress(int percent)
{
    if (ctl->json || pass.isEmpty())
        return;
    const int clamped = qBound(0, percent, 100);
    if (ctl->terminal) {
        const int filled = clamped * BarWidth / 100;
        ctl->out << QStringLiteral("\r%1 [%2%3] %4%").arg(pass, -6)
                        .arg(QString(filled, QLatin1Char('#')), QString(BarWidth - filled, QLatin1Char('.')))
                        .arg(clamped, 3);
        ctl->out.flush();
        progressShown = true;
        return;
    }
    const int step = clamped / PlainStepPercent;
    if (step > lastPlainStep) {
        lastPlainStep = step;
        ctl->printLine(QStringLiteral("%1 %2%").arg(pass).arg(step * PlainStepPercent));
    }
}

void ctlFlash::endProgressLine()
{
    if (!progressShown)
        return;
    ctl->out << '\n';
    ctl->out.flush();
    progressShown = false;
}
