#include "view_dialogupdate.h"

#include "app/askuser.h"
#include "app/plainlabel.h"
#include "app/serviceidentity.h"
#include "app/servicerequest.h"
#include "app/appsettings.h"
#include "device/translatedtext.h"
#include "device/tessaro.h"
#include "device/untrustedtext.h"
#include "view_update.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QShowEvent>

namespace {
const char* const FirmwareCheckPath = "/utility/firmware.php?data=";
const char* const InternetProbePath = "/utility/internet.php";
// Horizontally centred, with both the top and the vertical-centre flag (0xa4).
const Qt::Alignment InfoAlignment = Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter;
constexpr int StretchRow = 4;
constexpr int RowStretch = 100;
constexpr int StatusMinimumWidth = 420;
constexpr int BusyRow = 6;
// The bootloader's product ID, which the flashing page puts into its filter, is not
// known before the sensor has gone over: any image file is offered.
const char* const ImageFilter = "Binary files (*.bin)";
const char* const ImageCaption = "Open binary image";
}

view_dialogupdate::view_dialogupdate(tessaro* connection, QWidget* parent)
    : QWidget(parent)
    , device(connection)
{
    // A window of its own: named like the program in the task bar.
    setWindowTitle(tr("[title]"));
    grid = new QGridLayout(this);
    infoLabel = new QLabel(tr("[updatedialog:info]"), this);
    grid->addWidget(infoLabel, 0, 0, 1, 4, InfoAlignment);
    swCaption = new QLabel(tr("[updatedialog:sw]"), this);
    grid->addWidget(swCaption, 1, 0);
    swLabel = new PlainLabel(this);
    grid->addWidget(swLabel, 1, 1, 1, 3);
    hwCaption = new QLabel(tr("[updatedialog:hw]"), this);
    grid->addWidget(hwCaption, 2, 0);
    hwLabel = new PlainLabel(this);
    grid->addWidget(hwLabel, 2, 1, 1, 3);
    statusLabel = new QLabel(this);
    // It may name the file chosen: never taken for markup.
    statusLabel->setTextFormat(Qt::PlainText);
    // Messages that say what to do run to several lines rather than widen the window,
    // and the window grows to show them whole.
    statusLabel->setWordWrap(true);
    statusLabel->setMinimumWidth(StatusMinimumWidth);
    grid->setSizeConstraint(QLayout::SetMinimumSize);
    grid->addWidget(statusLabel, 3, 0, 1, 4);
    grid->setRowStretch(StretchRow, RowStretch);
    useFileButton = new QPushButton(tr("[updatedialog:usefile]"), this);
    grid->addWidget(useFileButton, 5, 1);
    cancelButton = new QPushButton(tr("[updatedialog:cancel]"), this);
    grid->addWidget(cancelButton, 5, 3);
    // Says why neither button can be used while a sequence runs.
    busyLabel = new QLabel(tr("[updatedialog:flashing]"), this);
    busyLabel->setWordWrap(true);
    busyLabel->hide();
    grid->addWidget(busyLabel, BusyRow, 0, 1, 4);

    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);
    connect(useFileButton, &QPushButton::clicked, this, &view_dialogupdate::onUseFile);
    connect(this, &view_dialogupdate::bootloaderStage, this, &view_dialogupdate::onBootloaderStage);
    connect(this, &view_dialogupdate::tessaroStage, this, &view_dialogupdate::onTessaroStage);
    connect(this, &view_dialogupdate::shown, this, &view_dialogupdate::onShown);
    connect(this, &view_dialogupdate::firmwareStatus, this, &view_dialogupdate::showStatus);

    network = new QNetworkAccessManager(this);
    firmwareCheck = new ServiceRequest(network, network);
    internetProbe = new ServiceRequest(network, network);
    connect(firmwareCheck, &ServiceRequest::finished, this, &view_dialogupdate::firmwareCheckFinished);
    connect(internetProbe, &ServiceRequest::finished, this, &view_dialogupdate::internetProbeFinished);
}

view_dialogupdate::~view_dialogupdate()
{
    // Answers still on their way are dropped unseen, and their objects released now:
    // the event loop that would run a deferred deletion may already have ended.
    delete network;
}

int view_dialogupdate::pendingRequests() const
{
    return requestsInFlight().size();
}

QList<QPointer<QNetworkReply>> view_dialogupdate::requestsInFlight() const
{
    QList<QPointer<QNetworkReply>> replies;
    for (const ServiceRequest* request : {firmwareCheck, internetProbe}) {
        if (request->isPending())
            replies << request->reply();
    }
    return replies;
}

void view_dialogupdate::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Once per show(); a window system's own show (after minimising) is not a new showing.
    if (!event->spontaneous())
        emit shown();
}

void view_dialogupdate::showStatus(const QString& text)
{
    statusLabel->setText(text);
    // A top-level window does not follow a wrapped label's height by itself.
    statusLabel->setMinimumHeight(statusLabel->heightForWidth(qMax(statusLabel->width(), StatusMinimumWidth)));
}

QString view_dialogupdate::shownVersion(const QString& version)
{
    // A device that tells nothing about itself leaves "none", which the service query keeps.
    if (version.isEmpty() || version == QLatin1String("none"))
        return tr("[updatedialog:unknown]");
    return UntrustedText::shown(version);
}

void view_dialogupdate::showIdentity()
{
    swLabel->setText(shownVersion(sensorSw));
    hwLabel->setText(shownVersion(sensorHw));
}

void view_dialogupdate::onShown()
{
    // Until the service answers, or is found not to, the window says what it waits for.
    if (!flashing && !updatePending)
        showStatus(tr("[updatedialog:firmware:asking]"));
    checkInternet();
    getFirmwareCheck();
    showIdentity();
}

void view_dialogupdate::onTessaroStage()
{
    getFirmwareCheck();
    showIdentity();
}

void view_dialogupdate::closeEvent(QCloseEvent* event)
{
    // The window that started a run stays until it has ended; its busy line says why.
    if (flashing) {
        busyLabel->show();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void view_dialogupdate::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void view_dialogupdate::setFlashing(bool running)
{
    flashing = running;
    useFileButton->setEnabled(!running);
    cancelButton->setEnabled(!running);
    busyLabel->setVisible(running);
    // As the status label: the window grows to show the wrapped lines whole.
    busyLabel->setMinimumHeight(running ? busyLabel->heightForWidth(qMax(busyLabel->width(), StatusMinimumWidth)) : 0);
}

QString view_dialogupdate::imageProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable() || info.size() <= 0)
        return fillTranslation(tr("[updatedialog:file:unusable]"),
                               {UntrustedText::shown(QDir::toNativeSeparators(path), UntrustedText::LineCap)});
    return QString();
}

bool view_dialogupdate::bootloaderConnected() const
{
    return device && device->isConnected && device->deviceType == QLatin1String(TessaroLink::TypeBootloader);
}

void view_dialogupdate::onUseFile()
{
    if (flashing)
        return;
    if (noUnitToSend())
        return;
    // Asked and checked first: a unit sent to its bootloader for nothing would be out of
    // service until someone starts its firmware again.
    const QString path = view_update::chooseImageFile(this, QLatin1String(ImageCaption), view_update::imageFolder(),
                                                      QLatin1String(ImageFilter));
    if (path.isEmpty()) {
        emit firmwareStatus(tr("[updatedialog:firmware:cancelled]"));
        return;
    }
    const QString problem = imageProblem(path);
    if (!problem.isEmpty()) {
        emit firmwareStatus(problem);
        return;
    }
    appSettings().setValue(QLatin1String(appSettings::ImageFolderKey), QFileInfo(path).absolutePath());
    // The one question before flashing, while the unit still runs its firmware: which file
    // goes into which unit. A unit already in its bootloader has not told its identity.
    const QString unit = bootloaderConnected() ? QString() : sensorId;
    if (!AskUser::confirm(this, view_update::flashQuestionTitle(), view_update::flashQuestion(path, unit, sensorSw))) {
        emit firmwareStatus(tr("[updatedialog:firmware:declined]"));
        return;
    }
    if (flashing)
        return;
    imagePath = path;
    // An answer to a check asked before the request would overwrite what the update says.
    firmwareCheck->abort();
    updatePending = false;
    if (bootloaderConnected()) {
        // Already in its bootloader: flashed now, on the unit the window shows.
        upgradeRequested = false;
        emit firmwareStatus(tr("[updatedialog:firmware:updating]"));
        flashStarted = true;
        emit updateFile(imagePath);
        return;
    }
    // The unit may have gone while the file was chosen.
    if (noUnitToSend())
        return;
    // Taken before the request: only a unit that appears after it is the one asked.
    bootloadersBefore = device->bootloadersPresent();
    // Refused when another program holds the unit's update lock: nothing was sent, so
    // nothing may wait for a bootloader.
    if (!device->startUpgrade()) {
        emit firmwareStatus(tr("[updatedialog:firmware:elsewhere]"));
        return;
    }
    upgradeRequested = true;
}

bool view_dialogupdate::noUnitToSend()
{
    // With no unit to send, a request armed now would flash whichever bootloader came next.
    if (device && device->isConnected)
        return false;
    emit firmwareStatus(tr("[updatedialog:firmware:nosensor]"));
    return true;
}

QString view_dialogupdate::reasonNotToFlash() const
{
    if (!device || !device->isConnected)
        return tr("[updatedialog:firmware:failed]");
    if (bootloadersBefore.contains(device->connectedIdentity))
        return tr("[updatedialog:firmware:otherunit]");
    if (device->bootloadersPresent().size() > 1)
        return tr("[updatedialog:firmware:severalunits]");
    return QString();
}

void view_dialogupdate::onBootloaderStage()
{
    // A bootloader device that connects on its own is left to the flashing view.
    if (!upgradeRequested)
        return;
    upgradeRequested = false;
    // Never the wrong unit: with another one in its bootloader on the bench, the user
    // starts the flashing by hand on the unit the window shows.
    const QString reason = reasonNotToFlash();
    if (!reason.isEmpty()) {
        qDebug() << "not flashing by itself:" << reason;
        emit firmwareStatus(reason);
        return;
    }
    emit firmwareStatus(tr("[updatedialog:firmware:updating]"));
    qDebug() << "updating";
    flashStarted = true;
    // Returns once the run has started (or, when it was refused at once, has ended).
    emit updateFile(imagePath);
}

void view_dialogupdate::flashingEnded(bool ok, bool cancelled)
{
    const bool startedHere = flashStarted;
    flashStarted = false;
    if (ok) {
        // "Updated" once the sensor is back, for a run this dialog started: one started
        // from the flashing view's own button reports there.
        updatePending = startedHere;
        return;
    }
    // Runs started from the flashing view's own button report there.
    if (startedHere)
        emit firmwareStatus(cancelled ? tr("[updatedialog:firmware:cancelled]") : tr("[updatedialog:firmware:failed]"));
}

void view_dialogupdate::getFirmwareCheck()
{
    firmwareCheck->get(serviceUrl(FirmwareCheckPath, serviceQueryText(sensorId, sensorHw, sensorSw)));
}

void view_dialogupdate::checkInternet()
{
    internetProbe->get(serviceUrl(InternetProbePath));
}

void view_dialogupdate::firmwareCheckFinished(bool answered, const QByteArray& body)
{
    // A verified run needs no service to be reported, so the report comes offline too.
    if (!answered && !updatePending) {
        // Only what is known: the firmware on offer is not; an update from a file still works.
        if (!flashing && !flashStarted && !upgradeRequested)
            emit firmwareStatus(tr("[updatedialog:firmware:unreachable]"));
        return;
    }
    if (updatePending) {
        // The first answer after a flash from this dialog reports it done, whatever it says.
        updatePending = false;
        qDebug() << "updated";
        emit firmwareStatus(tr("[updatedialog:firmware:updated]"));
        return;
    }
    const QByteArray first = body.split(';').constFirst();
    emit firmwareStatus(first == "true" ? tr("[updatedialog:firmware:ok]") : tr("[updatedialog:firmware:new]"));
}

void view_dialogupdate::internetProbeFinished(bool answered, const QByteArray& body)
{
    if (answered && body == "true")
        internetOk = true;
}
