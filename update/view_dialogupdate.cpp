#include "view_dialogupdate.h"

#include "app/serviceidentity.h"
#include "device/tessaro.h"

#include <QDebug>
#include <QGridLayout>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QShowEvent>

namespace {
const char* const FirmwareCheckPath = "/utility/firmware.php?data=";
const char* const InternetProbePath = "/utility/internet.php";
// Horizontally centred, with both the top and the vertical-centre flag (0xa4).
const Qt::Alignment InfoAlignment = Qt::AlignHCenter | Qt::AlignTop | Qt::AlignVCenter;
constexpr int StretchRow = 4;
constexpr int RowStretch = 100;

// The body as 8-bit text up to its first zero byte.
QByteArray replyBody(QNetworkReply* reply)
{
    QByteArray body = reply->readAll();
    const int nul = body.indexOf('\0');
    if (nul >= 0)
        body.truncate(nul);
    return body;
}
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
    swLabel = new QLabel(QStringLiteral("none"), this);
    grid->addWidget(swLabel, 1, 1, 1, 3);
    hwCaption = new QLabel(tr("[updatedialog:hw]"), this);
    grid->addWidget(hwCaption, 2, 0);
    hwLabel = new QLabel(QStringLiteral("none"), this);
    grid->addWidget(hwLabel, 2, 1, 1, 3);
    statusLabel = new QLabel(QStringLiteral("none"), this);
    grid->addWidget(statusLabel, 3, 0, 1, 4);
    grid->setRowStretch(StretchRow, RowStretch);
    useFileButton = new QPushButton(tr("[updatedialog:usefile]"), this);
    grid->addWidget(useFileButton, 5, 1);
    cancelButton = new QPushButton(tr("[updatedialog:cancel]"), this);
    grid->addWidget(cancelButton, 5, 3);

    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);
    connect(useFileButton, &QPushButton::clicked, this, &view_dialogupdate::onUseFile);
    connect(this, &view_dialogupdate::bootloaderStage, this, &view_dialogupdate::onBootloaderStage);
    connect(this, &view_dialogupdate::tessaroStage, this, &view_dialogupdate::onTessaroStage);
    connect(this, &view_dialogupdate::shown, this, &view_dialogupdate::onShown);
    connect(this, &view_dialogupdate::firmwareStatus, statusLabel, &QLabel::setText);
}

view_dialogupdate::~view_dialogupdate()
{
    // Answers still on their way are dropped unseen, and their objects released now:
    // the event loop that would run a deferred deletion may already have ended.
    for (const QPointer<QNetworkReply>& reply : qAsConst(inFlight)) {
        if (!reply)
            continue;
        disconnect(reply, nullptr, this, nullptr);
        delete reply->manager();
    }
}

int view_dialogupdate::pendingRequests() const
{
    int count = 0;
    for (const QPointer<QNetworkReply>& reply : inFlight)
        count += reply ? 1 : 0;
    return count;
}

void view_dialogupdate::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Once per show(); a window system's own show (after minimising) is not a new showing.
    if (!event->spontaneous())
        emit shown();
}

void view_dialogupdate::showIdentity()
{
    swLabel->setText(sensorSw);
    hwLabel->setText(sensorHw);
}

void view_dialogupdate::onShown()
{
    checkInternet();
    getFirmwareCheck();
    showIdentity();
}

void view_dialogupdate::onTessaroStage()
{
    getFirmwareCheck();
    showIdentity();
}

void view_dialogupdate::onUseFile()
{
    if (device) {
        // Taken before the request: only a unit that appears after it is the one asked.
        bootloadersBefore = device->bootloadersPresent();
        device->startUpgrade();
    }
    upgradeRequested = true;
    updatePending = false;
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
    // Presses the flashing view's "Update" button: returns once its file dialog has closed
    // (and the run, when it was refused at once, has ended).
    emit updateFile();
}

void view_dialogupdate::flashingEnded(bool ok, bool cancelled)
{
    const bool startedHere = flashStarted;
    flashStarted = false;
    if (ok) {
        // A verified run, from whichever button: "updated" once the sensor is back.
        updatePending = true;
        return;
    }
    // Runs started from the flashing view's own button report there.
    if (startedHere)
        emit firmwareStatus(cancelled ? tr("[updatedialog:firmware:cancelled]") : tr("[updatedialog:firmware:failed]"));
}

void view_dialogupdate::sendRequest(const QUrl& url, ReplyHandler handler)
{
    auto* manager = new QNetworkAccessManager;
    QNetworkReply* reply = manager->get(QNetworkRequest(url));
    inFlight.append(reply);
    // Context this: once the dialog is gone the answer reaches nobody (its destructor
    // has released the request).
    connect(reply, &QNetworkReply::finished, this, [this, manager, reply, handler] {
        inFlight.removeAll(reply);
        (this->*handler)(reply);
        reply->deleteLater();
        manager->deleteLater();
    });
}

void view_dialogupdate::getFirmwareCheck()
{
    sendRequest(serviceUrl(FirmwareCheckPath, serviceQueryText(sensorId, sensorHw, sensorSw)),
                &view_dialogupdate::firmwareCheckFinished);
}

void view_dialogupdate::checkInternet()
{
    sendRequest(serviceUrl(InternetProbePath), &view_dialogupdate::internetProbeFinished);
}

void view_dialogupdate::firmwareCheckFinished(QNetworkReply* reply)
{
    // A verified run needs no service to be reported, so the report comes offline too.
    if (reply->error() != QNetworkReply::NoError && !updatePending)
        return;
    if (updatePending) {
        // The first answer after a flash from this dialog reports it done, whatever it says.
        updatePending = false;
        qDebug() << "updated";
        emit firmwareStatus(tr("[updatedialog:firmware:updated]"));
        return;
    }
    const QByteArray first = replyBody(reply).split(';').constFirst();
    emit firmwareStatus(first == "true" ? tr("[updatedialog:firmware:ok]") : tr("[updatedialog:firmware:new]"));
}

void view_dialogupdate::internetProbeFinished(QNetworkReply* reply)
{
    if (reply->error() == QNetworkReply::NoError && replyBody(reply) == "true")
        internetOk = true;
}
