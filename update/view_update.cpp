#include "view_update.h"

#include "bootloader.h"
#include "firmwareimage.h"
#include "flashfailure.h"
#include "app/askuser.h"
#include "app/appsettings.h"
#include "device/translatedtext.h"
#include "device/tessaro.h"
#include "device/untrustedtext.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// The page's texts are looked up under this context, whatever the class is called.
const char* const TextContext = "VAVUvazud";
// The pattern stays as it is; only the name before it is the user's language.
const char* const ImagePatternFormat = " (*.%04x.bin)";
constexpr int ProgressMaximum = 100;
constexpr int SecondsPerMinute = 60;
// The bar's value is the pass's percent, whatever its maximum.
const char* const ProgressFormat = "%v%";
constexpr int LayoutSpacing = 6;
constexpr int LayoutMargin = 11;

// Byte counts in groups of three digits, kept on one line: "10 944".
QString groupedBytes(qint64 bytes)
{
    QString digits = QString::number(bytes);
    for (int i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QChar(0x00A0));
    return digits;
}

// "1:05" for 65 s.
QString minutesAndSeconds(int seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / SecondsPerMinute).arg(seconds % SecondsPerMinute, 2, 10, QLatin1Char('0'));
}
}

std::function<QString(QWidget*, const QString&, const QString&, const QString&)> view_update::chooseImageFile =
    [](QWidget* parent, const QString& caption, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, folder, filter);
    };

QString view_update::flashQuestionTitle()
{
    return QCoreApplication::translate(TextContext, "[flash:confirm:title]");
}

QString view_update::flashQuestion(const QString& imagePath, const QString& id, const QString& firmwareNow)
{
    const QFileInfo info(imagePath);
    const QString unit = id.isEmpty()
        ? QCoreApplication::translate(TextContext, "[flash:confirm:unknownunit]")
        : fillTranslation(QCoreApplication::translate(TextContext, "[flash:confirm:unit]"),
                          {UntrustedText::shown(id), UntrustedText::shown(firmwareNow)});
    const QString named = FirmwareImage::namedFirmware(imagePath);
    const QString holds = named.isEmpty() ? QCoreApplication::translate(TextContext, "[flash:confirm:noname]")
                                          : fillTranslation(QCoreApplication::translate(TextContext, "[flash:confirm:holds]"), {named});
    return fillTranslation(QCoreApplication::translate(TextContext, "[flash:confirm]"),
                           {UntrustedText::shown(info.fileName(), UntrustedText::LineCap), groupedBytes(info.size()), unit})
        + QLatin1Char(' ') + holds;
}

void view_update::setUnit(const QString& id, const QString& firmware)
{
    unitId = id;
    unitFirmware = firmware;
}

QString view_update::imageFolder()
{
    // Never the program's own folder, where the dialog would start by default.
    const QString folder = appSettings().text(QLatin1String(appSettings::ImageFolderKey));
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    return QDir::homePath();
}

view_update::view_update(QWidget* parent, tessaro* connection)
    : QWidget(parent)
    , device(connection)
{
    setWindowTitle(QCoreApplication::translate(TextContext, "VAVUvazud"));

    auto* pageLayout = new QHBoxLayout(this);
    container = new QWidget(this);
    container->setEnabled(true);
    pageLayout->addWidget(container);

    containerLayout = new QVBoxLayout(container);
    containerLayout->setSpacing(LayoutSpacing);
    containerLayout->setContentsMargins(LayoutMargin, LayoutMargin, LayoutMargin, LayoutMargin);

    buttonLayout = new QHBoxLayout;
    updateButton = new QPushButton(QCoreApplication::translate(TextContext, "[flash:update]"), container);
    buttonLayout->addWidget(updateButton);
    restartButton = new QPushButton(QCoreApplication::translate(TextContext, "[flash:restart]"), container);
    restartButton->hide();
    buttonLayout->addWidget(restartButton);
    containerLayout->addLayout(buttonLayout);

    // The update dialog may be behind the window: the page says it itself.
    unplugWarning = new QLabel(QCoreApplication::translate(TextContext, "[flash:donotunplug]"), container);
    unplugWarning->setWordWrap(true);
    QFont bold = unplugWarning->font();
    bold.setBold(true);
    unplugWarning->setFont(bold);
    unplugWarning->hide();
    containerLayout->addWidget(unplugWarning);

    // Where the run stands, above its bar; the sequence's own lines follow in the list.
    phaseLabel = new QLabel(container);
    phaseLabel->setWordWrap(true);
    phaseLabel->hide();
    containerLayout->addWidget(phaseLabel);

    progressBar = new QProgressBar(container);
    progressBar->setMaximum(ProgressMaximum);
    progressBar->setValue(0);
    progressBar->setFormat(QLatin1String(ProgressFormat));
    progressBar->setTextVisible(true);
    overallBar = new QProgressBar(container);
    overallBar->setMaximum(ProgressMaximum);
    overallBar->setValue(0);
    overallBar->setTextVisible(true);
    overallBar->hide();
    auto* barLayout = new QHBoxLayout;
    barLayout->addWidget(progressBar, 1);
    barLayout->addWidget(overallBar, 2);
    containerLayout->addLayout(barLayout);

    statusList = new QListWidget(container);
    statusList->setMovement(QListView::Static);
    containerLayout->addWidget(statusList);

    loader = bootloader::create(connection);
    connect(updateButton, &QPushButton::clicked, this, &view_update::Update);
    connect(restartButton, &QPushButton::clicked, this, &view_update::startPresentFirmware);
    connect(loader.data(), &bootloader::status, this, &view_update::status);
    connect(loader.data(), &bootloader::eraseflashStatus, progressBar, &QProgressBar::setValue);
    if (connection)
        connect(loader.data(), &bootloader::hotplugtimer, connection, &tessaro::SetHotPlugTimerState);
    connect(loader.data(), &bootloader::updateFinished, this, &view_update::sequenceFinished);
    connect(loader.data(), &bootloader::phaseChanged, this, &view_update::showPhase);
    connect(loader.data(), &bootloader::eraseflashStatus, this, [this](int percent) {
        if (overall) {
            overall->passProgress(percent, overallClock.elapsed());
            showOverall();
        }
    });

    // The geometry lines (or the communication error) stand in the list when shown.
    loader->getinfo();
}

view_update::~view_update() = default;

void view_update::setSettleTimeMs(int ms)
{
    loader->setSettleTimeMs(ms);
}

void view_update::setReplyTimeoutMs(int ms)
{
    loader->setReplyTimeoutMs(ms);
}

QString view_update::imageFilter() const
{
    return QCoreApplication::translate(TextContext, "[flash:filter]") + QString::asprintf(ImagePatternFormat, loader->productId);
}

QString view_update::shownLine(const QString& line)
{
    // The sequence's own lines, kept as they are for the log and support; each with at
    // most one value, which the translation places at %1.
    struct Known {
        const char* pattern;
        const char* key;
    };
    static const Known known[] = {
        {R"(^Opening(.*)$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:opening]")},
        {R"(^Start flash erase$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:erasestart]")},
        {R"(^Flash erased!$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:erased]")},
        {R"(^Start flashing$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:writestart]")},
        {R"(^Flash written!$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:written]")},
        {R"(^Start Reading$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:verifystart]")},
        {R"(^Flash readed!$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:verified]")},
        {R"(^Updated succesfully!$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:updated]")},
        {R"(^no file selected!$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:nofile]")},
        {R"(^Could not open file$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:noopen]")},
        {R"(^Abort$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:abort]")},
        {R"(^Update already running$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:busy]")},
        {R"(^Bootloader not connected$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:notconnected]")},
        {R"(^Could not read from bootloader$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:noread]")},
        {R"(^Could not write to bootloader$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:nowrite]")},
        {R"(^Flash not equal @ (\w+)$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:notequal]")},
        {R"(^Flash erase error @ page (\d+)$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:eraseerror]")},
        {R"(^Flash write error @ page (\d+)$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:writeerror]")},
        {R"(^Flash read error @ page (\d+)$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:readerror]")},
        {R"(^flash size: (\d+) bytes$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:flashsize]")},
        {R"(^page size: (\d+) bytes$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:pagesize]")},
        {R"(^page count: (\d+)$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:pagecount]")},
        {R"(^bootloader size: (\d+) bytes$)", QT_TRANSLATE_NOOP("VAVUvazud", "[flash:line:bootsize]")},
    };
    for (const Known& entry : known) {
        const QRegularExpression pattern(QLatin1String(entry.pattern));
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch()) {
            const QString text = QCoreApplication::translate(TextContext, entry.key);
            return pattern.captureCount() > 0 ? fillTranslation(text, {match.captured(1)}) : text;
        }
    }
    // A line this page does not know (a refusal that names its reason) is shown as it is.
    return line;
}

void view_update::status(QString line, bool clear)
{
    if (runActive)
        runLines << line;
    // The original line for support; the list speaks the user's language.
    qDebug().noquote() << line;
    if (clear)
        statusList->clear();
    statusList->addItem(shownLine(line));
    statusList->scrollToBottom();
}

void view_update::Update()
{
    if (!loader->linkOk) {
        const QString line = QStringLiteral("Bootloader not connected");
        beginRun(QString());
        runLines << line;
        statusList->addItem(shownLine(line));
        showPhase(bootloader::NotStarted, 0);
        runActive = false;
        emit updateEnded(false, false);
        return;
    }
    // Two sequences must never share the link: no second request until this one ends.
    if (loader->isBusy())
        return;
    updateButton->setEnabled(false);
    // While the modal file dialog runs its own event loop, a removal probe could make the
    // main window delete this page, and with it the dialog, under the open dialog.
    // The sequence stops polling anyway; stopping it already here closes that window.
    if (device)
        device->SetHotPlugTimerState(false);

    QPointer<view_update> self(this);
    const QPointer<tessaro> connection = device;
    const QString fileName = chooseImageFile(this, QCoreApplication::translate(TextContext, "[flash:open]"), imageFolder(), imageFilter());
    if (!self) {
        // Gone meanwhile: nothing was started, so polling must not stay stopped.
        if (connection)
            connection->SetHotPlugTimerState(true);
        return;
    }
    qDebug() << fileName;
    if (!fileName.isEmpty())
        appSettings().setValue(QLatin1String(appSettings::ImageFolderKey), QFileInfo(fileName).absolutePath());
    // Nothing is erased before the user has seen which file goes into which unit; a no
    // ends the run as a cancelled choice does.
    const bool confirmed =
        !fileName.isEmpty() && AskUser::confirm(this, flashQuestionTitle(), flashQuestion(fileName, unitId, unitFirmware));
    if (!self) {
        if (connection)
            connection->SetHotPlugTimerState(true);
        return;
    }
    startRun(confirmed ? fileName : QString());
}

void view_update::flashFile(const QString& imagePath)
{
    if (!loader->linkOk || loader->isBusy()) {
        // Through Update: it reports the link that is down, or ignores the second request.
        Update();
        return;
    }
    startRun(imagePath);
}

void view_update::startRun(const QString& imagePath)
{
    updateButton->setEnabled(false);
    beginRun(imagePath);
    const qint64 erasePages = loader->pageSize == 0 ? 0 : (qint64{loader->flashSize} - loader->bootloaderSize) / loader->pageSize;
    if (imagePath.isEmpty())
        endOverall();
    else
        beginOverall(FlashProgress::update(loader->settleTimeMs(), erasePages, runImageSize));
    loader->updateFromFile(imagePath);
    // A refused request has already ended (updateFinished came before this line).
    updateButton->setEnabled(!loader->isBusy());
}

void view_update::startPresentFirmware()
{
    restartButton->hide();
    updateButton->setEnabled(false);
    // Only a flashing run has a whole to show.
    endOverall();
    loader->runApplication();
    updateButton->setEnabled(!loader->isBusy());
}

void view_update::beginRun(const QString& imagePath)
{
    runActive = true;
    lastPass = 0;
    restartButton->hide();
    showPhaseText(QString());
    runImage = imagePath;
    runImageSize = imagePath.isEmpty() ? 0 : QFileInfo(imagePath).size();
    runLines.clear();
}

void view_update::showPhase(bootloader::Phase phase, int secondsLeft)
{
    const QString seconds = QString::number(secondsLeft);
    const QString passCount = QString::number(bootloader::PassCount);
    if (bootloader::passNumber(phase) > 0)
        lastPass = bootloader::passNumber(phase);
    if (phase == bootloader::Erasing)
        erasedHere = true;
    if (bootloader::passNumber(phase) > 0)
        progressBar->setValue(0);
    if (phase == bootloader::Done)
        progressBar->setValue(ProgressMaximum);
    if (phase == bootloader::NotStarted)
        endOverall();  // refused before anything began: there is no whole
    if (overall) {
        overall->phaseChanged(phase, secondsLeft, overallClock.elapsed());
        showOverall();
    }
    const QString pass = QString::number(lastPass);
    QString text;
    switch (phase) {
    case bootloader::Settling:
        text = fillTranslation(QCoreApplication::translate(TextContext, "[flash:phase:settle]"), {seconds});
        break;
    case bootloader::Erasing:
        text = fillTranslation(QCoreApplication::translate(TextContext, "[flash:phase:erase]"), {pass, passCount});
        break;
    case bootloader::Writing:
        text = fillTranslation(QCoreApplication::translate(TextContext, "[flash:phase:write]"), {pass, passCount});
        break;
    case bootloader::Verifying:
        text = fillTranslation(QCoreApplication::translate(TextContext, "[flash:phase:verify]"), {pass, passCount});
        break;
    case bootloader::Starting:
        text = fillTranslation(QCoreApplication::translate(TextContext, "[flash:phase:start]"), {seconds});
        break;
    case bootloader::Done:
        text = QCoreApplication::translate(TextContext, "[flash:phase:done]");
        break;
    case bootloader::Failed:
        text = failureSummary();
        break;
    case bootloader::NotStarted:
        text = QCoreApplication::translate(TextContext, "[flash:phase:notstarted]");
        break;
    case bootloader::Restarting:
        text = fillTranslation(QCoreApplication::translate(TextContext, "[flash:phase:restart]"), {seconds});
        break;
    case bootloader::Restarted:
        text = QCoreApplication::translate(TextContext, "[flash:phase:restarted]");
        break;
    }
    const bool ended = phase == bootloader::Done || phase == bootloader::Failed || phase == bootloader::NotStarted
        || phase == bootloader::Restarted;
    unplugWarning->setVisible(!ended);
    // Nothing erased: the firmware in the flash can still be started instead.
    const bool offerRestart = phase == bootloader::NotStarted && loader->linkOk && !erasedHere;
    restartButton->setVisible(offerRestart);
    if (offerRestart)
        text += QLatin1Char(' ') + QCoreApplication::translate(TextContext, "[flash:phase:notstarted:next]");
    showPhaseText(text);
}

bool view_update::unitStillOnTheBus() const
{
    return device && device->bootloadersPresent().contains(device->connectedIdentity);
}

QString view_update::failureSummary() const
{
    const FlashFailure failure = FlashFailure::read(runLines);
    const int pass = qMax(failure.pass, 1);
    const qint64 total = pass == 1 ? qint64{loader->flashSize} - qint64{loader->bootloaderSize} : runImageSize;
    const char* where = "[flash:stop:refused]";
    if (failure.cause == FlashFailure::Mismatch)
        where = "[flash:stop:mismatch]";
    else if (failure.cause == FlashFailure::LinkLost)
        where = unitStillOnTheBus() ? "[flash:stop:silent]" : "[flash:stop:left]";
    // Where it stopped, then what that left on the unit and what to do next.
    return fillTranslation(QCoreApplication::translate(TextContext, where),
                           {QString::number(pass), groupedBytes(failure.bytesDone), groupedBytes(qMax(total, qint64{0}))})
        + QLatin1Char(' ')
        + QCoreApplication::translate(TextContext, failure.nothingErased() ? "[flash:phase:failed:unerased]" : "[flash:phase:failed]");
}

void view_update::beginOverall(const FlashProgress& plan)
{
    overall = plan;
    overallClock.start();
    showOverall();
    overallBar->show();
}

void view_update::endOverall()
{
    overall.reset();
    overallBar->hide();
}

void view_update::showOverall()
{
    overallBar->setValue(overall->percent());
    const QString percent = QString::number(overall->percent());
    const int seconds = overall->secondsLeft();
    // The bar's own text, so that a translation places the values as its language needs.
    const QString text = seconds < 0 || overall->percent() == ProgressMaximum
        ? fillTranslation(QCoreApplication::translate(TextContext, "[flash:overall]"), {percent})
        : fillTranslation(QCoreApplication::translate(TextContext, "[flash:overall:left]"),
                          {percent, minutesAndSeconds(seconds)});
    overallBar->setFormat(text);
}

void view_update::showPhaseText(const QString& text)
{
    // No empty row above the bar before the first run.
    phaseLabel->setText(text);
    phaseLabel->setVisible(!text.isEmpty());
}

void view_update::sequenceFinished(bool ok)
{
    updateButton->setEnabled(true);
    if (!runActive)
        return;
    runActive = false;
    emit updateEnded(ok, runImage.isEmpty());
}
