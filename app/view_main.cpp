#include "view_main.h"

#include "appsettings.h"
#include "plainlabel.h"
#include "serviceidentity.h"
#include "tessarotranslator.h"
#include "device/translatedtext.h"
#include "view_about.h"
#include "windowfit.h"
#include "device/tessaro.h"
#include "device/untrustedtext.h"
#include "sensor/settingstransfer.h"
#include "sensor/view_tessaro.h"
#include "support/supportreport.h"
#include "update/flashlog.h"
#include "update/bootloader.h"
#include "update/view_dialogupdate.h"
#include "update/view_legacy.h"
#include "update/view_update.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextDocument>
#include <QThreadPool>
#include <QUrl>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const QSize DefaultSize(700, 400);
// A first window holds the sensor view, every tab and label of it, in each language: its
// size in lines of the application font, so that it grows with the font and the dpi.
constexpr int DefaultWidthInLines = 56;
constexpr int DefaultHeightInLines = 35;
const QPoint DefaultPos(200, 200);
// A stored size below this is no window anyone chose: the default is used instead.
const QSize SmallestRestoredSize(200, 100);
// Room for the window manager's frame and title bar, which are not known before the
// window is shown, in lines of the application font (the title grows with it).
constexpr int FrameWidthInLines = 1;
constexpr int FrameHeightInLines = 3;
const char* const IconPath = "rc/tessaro_icon.png";
// A passing message in the status bar gives the device state its place back after this.
constexpr int StatusMessageMs = 15000;
constexpr char SupportReportName[] = "tessaro-support-report.json";
constexpr int CountdownStepMs = 1000;
constexpr int ReportMargin = 11;
}

// The catalogue's language names carry no mnemonic: each gets the first of its letters
// that no entry before it took, so that no two entries of the menu share one.
QString viewMain::withMnemonic(const QString& name, QString* taken)
{
    // A '&' of the name itself is shown, not taken as a mnemonic.
    QString text = name;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    for (int i = 0; i < text.size(); ++i) {
        const QChar letter = text.at(i).toLower();
        if (letter.isLetterOrNumber() && !taken->contains(letter)) {
            taken->append(letter);
            return text.insert(i, QLatin1Char('&'));
        }
    }
    return text;
}

QSize viewMain::defaultSize()
{
    const int line = QFontMetrics(QApplication::font()).height();
    return DefaultSize.expandedTo(QSize(DefaultWidthInLines * line, DefaultHeightInLines * line));
}

std::function<bool(const QUrl&)> viewMain::openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
std::function<QString(QWidget*, const QString&, const QString&)> viewMain::askReportPath =
    [](QWidget* parent, const QString& caption, const QString& suggested) {
        return QFileDialog::getSaveFileName(parent, caption, suggested, QStringLiteral("JSON (*.json)"));
    };

std::function<bool(const QString&)> viewMain::restartProgram = [](const QString& program) {
    return QProcess::startDetached(program, QStringList());
};

viewMain::viewMain(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowIcon(QIcon(QString::fromLatin1(IconPath)));
    setWindowTitle(tr("[title]"));

    auto* central = new QWidget(this);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    viewStack = new QStackedWidget(central);
    centralLayout->addWidget(viewStack, 1);
    centralLayout->addWidget(buildFlashReport());
    setCentralWidget(central);
    connect(viewStack, &QStackedWidget::currentChanged, this, &viewMain::showFlashReportWithPage);

    device = new tessaro(this);
    dialogUpdate = std::make_unique<view_dialogupdate>(device);
    connect(device, &tessaro::connected, this, &viewMain::connected);
    connect(device, &tessaro::disconnected, this, &viewMain::disconnected);
    connect(this, &viewMain::doHotPlugEvent, device, &tessaro::hotplugWorker);

    // It may show a device state, with the versions the device reported.
    prompt = new PlainLabel(tr("[tsro_connect]"));
    connectLayout = new QVBoxLayout;
    prompt->setAlignment(Qt::AlignCenter);
    // The device states run to a few lines in some languages.
    prompt->setWordWrap(true);
    // The whole page wide, so that a long device state wraps only where it must.
    connectLayout->addWidget(prompt);
    connectPage = new QFrame;
    connectPage->setLayout(connectLayout);
    viewStack->addWidget(connectPage);

    buildMenus();

    deviceState = new PlainLabel;
    deviceState->setWordWrap(true);
    deviceState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(deviceState, 1);
    connect(device, &tessaro::busStateChanged, this, &viewMain::showDeviceState);
    showDeviceState();

    returnTimer = new QTimer(this);
    returnTimer->setInterval(CountdownStepMs);
    connect(returnTimer, &QTimer::timeout, this, &viewMain::showReturnWait);

    // A device that is already plugged in gets its view before the window is first shown.
    emit doHotPlugEvent();
    restoreGeometryFromSettings();
}

viewMain::~viewMain()
{
    // A flashing sequence may still use the link on a pool thread: let it end (every
    // bootloader reply has a time limit) before the handle is closed under it.
    QThreadPool::globalInstance()->waitForDone();
    device->disconnectDevice();
    recordPendingRun();
}

void viewMain::buildMenus()
{
    QMenu* fileMenu = menuBar()->addMenu(tr("[menu:file]"));
    QMenu* languageMenu = fileMenu->addMenu(tr("[menu:file:lang]"));
    fileMenu->addSeparator();
    updateAction = fileMenu->addAction(tr("[menu:file:update]"));
    updateAction->setEnabled(false);
    saveSettingsAction = fileMenu->addAction(tr("[menu:file:savesettings]"));
    loadSettingsAction = fileMenu->addAction(tr("[menu:file:loadsettings]"));
    fileMenu->addSeparator();
    exitAction = fileMenu->addAction(tr("[menu:file:exit]"));
    exitAction->setShortcut(QKeySequence::Quit);

    buildLanguageEntries(languageMenu);

    QMenu* infoMenu = menuBar()->addMenu(tr("[menu:info]"));
    QAction* helpAction = infoMenu->addAction(tr("[menu:info:help]"));
    helpAction->setShortcut(QKeySequence::HelpContents);
    connect(helpAction, &QAction::triggered, this, &viewMain::openHelp);
    connect(infoMenu->addAction(tr("[menu:info:support]")), &QAction::triggered, this, &viewMain::openSupport);
    connect(infoMenu->addAction(tr("[menu:info:web]")), &QAction::triggered, this, &viewMain::openWebsite);
    connect(infoMenu->addAction(tr("[menu:info:registration]")), &QAction::triggered, this,
            &viewMain::openRegistration);
    connect(infoMenu->addAction(tr("[menu:info:updatelog]")), &QAction::triggered, this, &viewMain::openUpdateLog);
    connect(infoMenu->addAction(tr("[menu:info:report]")), &QAction::triggered, this, &viewMain::saveSupportReport);
    infoMenu->addSeparator();
    connect(infoMenu->addAction(tr("[menu:info:about]")), &QAction::triggered, this, &viewMain::openAbout);

    connect(exitAction, &QAction::triggered, this, &viewMain::exitProgram);
    connect(updateAction, &QAction::triggered, this, &viewMain::updateFirmware);
    connect(saveSettingsAction, &QAction::triggered, this, [this] { SettingsTransfer::save(this, device); });
    connect(loadSettingsAction, &QAction::triggered, this, [this] {
        // The editors show what the sensor holds now.
        if (SettingsTransfer::load(this, device) && sensorView)
            emit sensorView->updateAdv();
    });
    enableSettingsActions(false);
}

void viewMain::enableSettingsActions(bool sensorShown)
{
    saveSettingsAction->setEnabled(sensorShown);
    loadSettingsAction->setEnabled(sensorShown);
}

void viewMain::buildLanguageEntries(QMenu* languageMenu)
{
    // A translator of its own, only for the catalogue.
    tessaroTranslator catalogueReader;
    const LangMap languages = catalogueReader.getAvaibleLanguages();
    const QString current = appSettings().language();

    languageGroup = new QActionGroup(this);
    languageGroup->setExclusive(true);
    QString mnemonics;
    for (auto it = languages.cbegin(); it != languages.cend(); ++it) {
        QAction* action = languageGroup->addAction(withMnemonic(UntrustedText::shown(it->name), &mnemonics));
        // A tool tip takes anything that looks like markup for rich text: escaped, it shows as it is.
        action->setToolTip(Qt::convertFromPlainText(UntrustedText::shown(it->intname + QStringLiteral(", ") + it.key())));
        action->setData(it.key());
        action->setCheckable(true);
        action->setChecked(it.key() == current);
        languageMenu->addAction(action);
    }
    connect(languageGroup, &QActionGroup::triggered, this, &viewMain::changeLang);
}

QSize viewMain::frameAllowance()
{
    const int line = QFontMetrics(QApplication::font()).height();
    return QSize(FrameWidthInLines * line, FrameHeightInLines * line);
}

QRect viewMain::fittedGeometry(const QRect& available, const QPoint& pos, const QSize& size)
{
    return WindowFit::within(available, pos, size, frameAllowance());
}

QSize viewMain::firstSize() const
{
    // Large enough that the page shown now needs no scrolling, where the screen allows;
    // measured in the style it will be shown in (polishing adds margins).
    ensurePolished();
    return defaultSize().expandedTo(sizeHint());
}

QRect viewMain::defaultGeometry(const QRect& available) const
{
    return fittedGeometry(available, DefaultPos, firstSize());
}

void viewMain::restoreGeometryFromSettings()
{
    appSettings settings;
    settings.beginGroup(QLatin1String(appSettings::WindowGroup));
    const QVariant storedSize = settings.value(QLatin1String(appSettings::SizeKey));
    const QVariant storedPos = settings.value(QLatin1String(appSettings::PosKey));
    settings.endGroup();

    // The file is anybody's to edit, and the screens may have changed since (a window
    // stored on a larger screen): a stored value must never make the window huge, tiny
    // or reach past its screen.
    QSize size = storedSize.userType() == QMetaType::QSize ? storedSize.toSize() : firstSize();
    if (size.width() < SmallestRestoredSize.width() || size.height() < SmallestRestoredSize.height())
        size = firstSize();
    QPoint pos = storedPos.userType() == QMetaType::QPoint ? storedPos.toPoint() : DefaultPos;
    const QScreen* screen = QGuiApplication::screenAt(pos);
    if (!screen) {
        pos = DefaultPos;
        screen = QGuiApplication::primaryScreen();
    }
    const QRect placed = screen ? fittedGeometry(screen->availableGeometry(), pos, size) : QRect(pos, size);
    resize(placed.size());
    move(placed.topLeft());
    growOnFirstShow = storedSize.userType() != QMetaType::QSize;
}

void viewMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Only now is every size known (the status bar sets its height as it is shown): a
    // first window grows to show its page whole, as far as the screen allows.
    if (growOnFirstShow && !event->spontaneous()) {
        growOnFirstShow = false;
        growToShowPage();
    }
}

void viewMain::growToShowPage()
{
    // A device view that came after the window was placed: the window grows so that it
    // shows the view whole, but never past its screen (the view's pages scroll there).
    // A view added just now has only asked for its layout: its size is known once it is done.
    ensurePolished();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QSize wanted = size().expandedTo(sizeHint());
    const QScreen* current = screen();
    if (wanted == size() || !current || isMaximized() || isFullScreen())
        return;
    const QRect placed = fittedGeometry(current->availableGeometry(), pos(), wanted);
    resize(placed.size());
    move(placed.topLeft());
}

QWidget* viewMain::buildFlashReport()
{
    // The pages bring their own margins; the report gets the same.
    flashReportArea = new QWidget;
    auto* areaLayout = new QVBoxLayout(flashReportArea);
    areaLayout->setContentsMargins(ReportMargin, 0, ReportMargin, ReportMargin);
    flashReport = new QGroupBox(tr("[flashreport:title]"));
    areaLayout->addWidget(flashReport);
    auto* layout = new QVBoxLayout(flashReport);
    flashReportPhase = new QLabel;
    flashReportPhase->setWordWrap(true);
    layout->addWidget(flashReportPhase);
    flashReportList = new QListWidget;
    flashReportList->setObjectName(QStringLiteral("flashReportList"));
    layout->addWidget(flashReportList);
    layout->addWidget(new QLabel(tr("[flashreport:log]")));
    auto* logPath = new PlainLabel(QDir::toNativeSeparators(FlashLog::filePath()));
    logPath->setWordWrap(true);
    logPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(logPath);
    auto* dismiss = new QPushButton(tr("[flashreport:dismiss]"));
    layout->addWidget(dismiss, 0, Qt::AlignRight);
    connect(dismiss, &QPushButton::clicked, this, [this] {
        flashReportPending = false;
        flashReportArea->hide();
    });
    flashReportArea->hide();
    return flashReportArea;
}

void viewMain::showFlashReport(const QString& phase, const QStringList& lines)
{
    flashReportPhase->setText(phase);
    flashReportPhase->setVisible(!phase.isEmpty());
    flashReportList->clear();
    for (const QString& line : lines)
        flashReportList->addItem(view_update::shownLine(line));
    flashReportList->scrollToBottom();
    flashReportPending = true;
    showFlashReportWithPage();
}

void viewMain::showFlashReportWithPage()
{
    // Kept across the unit's return in its bootloader, where the dialog's "see the main
    // window" points; the sensor view needs the room and means the unit runs again.
    QWidget* page = viewStack->currentWidget();
    flashReportArea->setVisible(flashReportPending && (page == connectPage || qobject_cast<view_update*>(page)));
}

void viewMain::showDeviceView(QWidget* view)
{
    viewStack->addWidget(view);
    deviceViewPresent = true;
    deviceView = view;
    viewStack->setCurrentWidget(view);
    growToShowPage();
}

void viewMain::connected()
{
    endReturnWait();
    const QString& type = device->deviceType;
    if (type == QLatin1String(TessaroLink::TypeSensor)) {
        auto* view = new view_tessaro(connectPage, device);
        sensorView = view;
        updateAction->setEnabled(true);
        viewStack->addWidget(view);
        deviceViewPresent = true;
        deviceView = view;
        view->reloadUi();
        // The reads of reloadUi may have lost the sensor already; its view is gone then.
        if (deviceViewPresent && deviceView == view) {
            viewStack->setCurrentWidget(view);
            growToShowPage();
            device->noteSensorIdentity(view->idLabel->text(), view->hwLabel->text(), view->swLabel->text());
            sensorShown(view->idLabel->text(), view->hwLabel->text(), view->swLabel->text());
            enableSettingsActions(true);
        }
        emit dialogUpdate->tessaroStage();
    } else if (type == QLatin1String(TessaroLink::TypeUpdate)) {
        sensorLastShown.reset();
        auto* view = new view_legacy(connectPage);
        legacyView = view;
        updateAction->setEnabled(true);
        showDeviceView(view);
        connect(view->updateButton, &QPushButton::clicked, this, &viewMain::updateFirmware);
    } else if (type == QLatin1String(TessaroLink::TypeBootloader)) {
        // A verified run whose unit comes back as a bootloader: its sensor did not return.
        recordPendingRun();
        flashingUnit = sensorLastShown.value_or(FlashLog::Run());
        sensorLastShown.reset();
        auto* view = new view_update(connectPage, device);
        flashingView = view;
        view->setUnit(flashingUnit.unitId, flashingUnit.firmwareBefore);
        watchFlashing(view->loader.data());
        showDeviceView(view);
        connect(dialogUpdate.get(), &view_dialogupdate::updateFile, view, &view_update::flashFile);
        connect(view, &view_update::updateEnded, dialogUpdate.get(), &view_dialogupdate::flashingEnded);
        connect(view, &view_update::updateEnded, this,
                [this, view](bool ok, bool cancelled) { flashRunEnded(view, ok, cancelled); });
        emit dialogUpdate->bootloaderStage();
    }
}

void viewMain::disconnected()
{
    updateAction->setEnabled(false);
    enableSettingsActions(false);
    viewStack->setCurrentWidget(connectPage);
    if (!deviceViewPresent)
        return;
    deviceViewPresent = false;
    // The device view, even when the loss came before it was made the current page
    // (a failed read while the sensor view loads).
    QWidget* view = deviceView;
    deviceView = nullptr;
    // The run's report must outlive its view: after an abort the bootloader often leaves.
    if (view && view == flashingView && !flashingView->lastRunLines().isEmpty())
        showFlashReport(flashingView->phaseLabel->text(), flashingView->lastRunLines());
    if (view && view != connectPage) {
        viewStack->removeWidget(view);
        // Until it is gone, neither the view nor its editors may answer the connection of
        // the next device, which may be a bootloader that must not get sensor commands.
        detachFromDevice(view);
        // The loss is often noticed inside one of this view's own slots.
        view->deleteLater();
    }
}

void viewMain::detachFromDevice(QWidget* view)
{
    // Only the connection signals: the view's own disconnected() slots still have to run.
    auto detach = [this](QObject* receiver) {
        QObject::disconnect(device, &tessaro::connected, receiver, nullptr);
        QObject::disconnect(device, &tessaro::connectedLoad, receiver, nullptr);
    };
    detach(view);
    const auto children = view->findChildren<QObject*>();
    for (QObject* child : children)
        detach(child);
}

void viewMain::watchFlashing(bootloader* loader)
{
    flashLoader = loader;
    // Both come on the GUI thread, right after the busy flag has changed.
    connect(loader, &bootloader::hotplugtimer, this, &viewMain::followFlashing);
    connect(loader, &bootloader::updateFinished, this, &viewMain::followFlashing);
    // After the view's own connection: its phase line is up to date when this reads it.
    connect(loader, &bootloader::phaseChanged, this, [this](bootloader::Phase phase) { followPhase(phase); });
}

bool viewMain::flashing() const
{
    return flashLoader && flashLoader->isBusy();
}

void viewMain::followFlashing()
{
    // A new copy of the program would open the bootloader that this one is erasing and
    // writing, and the end of this one would close it: neither while a sequence runs.
    const bool idle = !flashing();
    languageGroup->setEnabled(idle);
    exitAction->setEnabled(idle);
    dialogUpdate->setFlashing(!idle);
}

void viewMain::followPhase(int phase)
{
    switch (phase) {
    case bootloader::Starting:
    case bootloader::Restarting:
        // The unit is about to leave the bus: the state line says so, not "bootloader".
        stateOverride = flashingView ? flashingView->phaseLabel->text() : QString();
        showDeviceState();
        break;
    case bootloader::Done:
        awaitReturn("[flash:returning:new]");
        break;
    case bootloader::Restarted:
        awaitReturn("[flash:returning:present]");
        break;
    case bootloader::Failed:
    case bootloader::NotStarted:
        stateOverride.clear();
        showDeviceState();
        break;
    default:
        break;
    }
}

void viewMain::awaitReturn(const char* waitingKey)
{
    returnKey = waitingKey;
    returnDeadline.setRemainingTime(returnWaitMs);
    returnTimer->start();
    showReturnWait();
}

void viewMain::showReturnWait()
{
    QString text;
    if (returnDeadline.hasExpired()) {
        returnTimer->stop();
        text = tr("[flash:noreturn]");
    } else {
        const qint64 secondsLeft = (returnDeadline.remainingTime() + CountdownStepMs - 1) / CountdownStepMs;
        text = fillTranslation(tr(returnKey), {QString::number(secondsLeft)});
    }
    // Between the bootloader's exit and the sensor's return nothing is on the bus: the
    // window says what it waits for rather than "connect a sensor".
    prompt->setText(text);
    stateOverride = text;
    showDeviceState();
}

void viewMain::endReturnWait()
{
    if (!returnKey)
        return;
    returnKey = nullptr;
    returnTimer->stop();
    prompt->setText(tr("[tsro_connect]"));
    stateOverride.clear();
    showDeviceState();
}

void viewMain::showDeviceState()
{
    const tessaroDeviceState state = device->busState();
    const QString text = stateOverride.isEmpty() ? state.text() : stateOverride;
    // Written down, for the unit's history when a technician sends the log.
    if (text != deviceState->text())
        qDebug().noquote() << "State:" << text;
    deviceState->setText(text);
    // Unless it waits for its own unit's return, the centre says what the state line says
    // of a device that was found but cannot be used, and what to do about it, rather than
    // ask for a sensor that is already plugged in.
    if (!returnKey)
        prompt->setText(promptFor(state));
}

QString viewMain::promptFor(const tessaroDeviceState& state)
{
    switch (state.kind()) {
    case tessaroDeviceState::Unsupported:
        return state.text() + QLatin1Char('\n') + tr("[connect:unsupported:next]");
    case tessaroDeviceState::Silent:
    case tessaroDeviceState::NotOpenable:
    case tessaroDeviceState::UpdatingElsewhere:
        // Their lines name the next step themselves.
        return state.text();
    default:
        return tr("[tsro_connect]");
    }
}

void viewMain::sensorShown(const QString& id, const QString& hardware, const QString& firmware)
{
    FlashLog::Run unit;
    unit.unitId = id;
    unit.hardware = hardware;
    unit.firmwareBefore = firmware;
    sensorLastShown = unit;
    // The unit of a verified run is back: its firmware now is the run's result.
    if (pendingRun && (pendingRun->unitId.isEmpty() || pendingRun->unitId == id))
        pendingRun->firmwareAfter = firmware;
    recordPendingRun();
}

void viewMain::flashRunEnded(const view_update* view, bool ok, bool cancelled)
{
    // A cancelled file dialog flashed nothing: there is no run to record.
    if (cancelled)
        return;
    recordPendingRun();
    FlashLog::Run run = flashingUnit;
    run.imagePath = view->lastRunImage();
    run.imageSize = view->lastRunImageSize();
    run.ok = ok;
    run.lines = view->lastRunLines();
    run.program = QStringLiteral("TessaroUtility ") + QLatin1String(ToolVersion);
    if (ok)
        pendingRun = run;
    else
        recordRun(run);
}

void viewMain::recordPendingRun()
{
    if (!pendingRun)
        return;
    const FlashLog::Run run = *pendingRun;
    pendingRun.reset();
    recordRun(run);
}

void viewMain::recordRun(const FlashLog::Run& run)
{
    if (FlashLog::append(run))
        return;
    const QString path = QDir::toNativeSeparators(FlashLog::filePath());
    qDebug() << "Could not write" << path;
    statusBar()->showMessage(fillTranslation(tr("[flashlog:writefailed]"), {path}), StatusMessageMs);
}

void viewMain::openUpdateLog()
{
    const QString path = FlashLog::filePath();
    const QString shownPath = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path))
        statusBar()->showMessage(fillTranslation(tr("[menu:info:updatelog:none]"), {shownPath}), StatusMessageMs);
    else if (!openUrl(QUrl::fromLocalFile(path)))
        statusBar()->showMessage(fillTranslation(tr("[menu:info:updatelog:failed]"), {shownPath}), StatusMessageMs);
}

void viewMain::saveSupportReport()
{
    const QString caption = tr("[menu:info:report]").remove(QLatin1Char('&'));
    const QString path = askReportPath(this, caption, QDir::home().filePath(QLatin1String(SupportReportName)));
    if (path.isEmpty())
        return;
    SupportReport report(QCoreApplication::applicationName(), QLatin1String(ToolVersion));
    const tessaroDeviceState state = device->busState();
    report.setState(state.text());
    // Not while flashing: the register reads would go to the bootloader's link.
    if (device->isConnected && device->deviceType == QLatin1String(TessaroLink::TypeSensor) && !flashing()) {
        SupportReport::Unit unit{state.path(), state.sensorId(), state.hardware(), state.firmware(), device->configFile, {}};
        SupportReport::readRegisters(device, device->configFile, &unit.registers);
        report.setUnit(unit);
    }
    QString error;
    const bool saved = report.save(path, &error);
    if (!saved)
        qDebug().noquote() << error;
    statusBar()->showMessage(fillTranslation(saved ? tr("[menu:info:report:saved]") : tr("[menu:info:report:failed]"),
                                             {QDir::toNativeSeparators(path)}),
                             StatusMessageMs);
}

void viewMain::changeLang(QAction* action)
{
    if (flashing())
        return;
    const QString code = action->data().toString();
    appSettings().setValue(QLatin1String(appSettings::LangKey), code);
    qDebug() << code;
    // The new copy opens where this one is now.
    saveGeometryToSettings();
    if (!restartProgram(QCoreApplication::applicationFilePath())) {
        qDebug() << "Could not start" << QCoreApplication::applicationFilePath();
        statusBar()->showMessage(tr("[menu:file:lang:restartfailed]"), StatusMessageMs);
        return;
    }
    QCoreApplication::exit(RestartExitCode);
}

QString viewMain::serviceQuery() const
{
    // Without a sensor view the identity last shown stands in.
    return sensorView ? sensorView->checkData : serviceQueryText(sensorId, sensorHw, sensorSw);
}

QString viewMain::aboutStatus() const
{
    return sensorView ? sensorView->softwareStatusText : QString();
}

void viewMain::openServicePage(const char* pathAndQuery)
{
    QDesktopServices::openUrl(serviceUrl(pathAndQuery, serviceQuery()));
}

void viewMain::openHelp()
{
    openServicePage("/utility/help.php?data=");
}

void viewMain::openWebsite()
{
    openServicePage("/utility/web.php?data=");
}

void viewMain::openSupport()
{
    openServicePage("/utility/support.php?data=");
}

void viewMain::openRegistration()
{
    openServicePage("/utility/registration.php?data=");
}

void viewMain::openAbout()
{
    auto* about = new view_about;
    aboutWindows << about;
    about->showNormal();
    about->statusLabel->setText(aboutStatus());
}

void viewMain::updateFirmware()
{
    // Already open, perhaps behind the main window: bring it forward.
    if (dialogUpdate->isVisible())
        dialogUpdate->raise();
    dialogUpdate->show();
}

void viewMain::saveGeometryToSettings()
{
    appSettings settings;
    settings.beginGroup(QLatin1String(appSettings::WindowGroup));
    settings.setValue(QLatin1String(appSettings::SizeKey), size());
    settings.setValue(QLatin1String(appSettings::PosKey), pos());
    settings.endGroup();
}

void viewMain::exitProgram()
{
    if (close())
        QCoreApplication::quit();
}

void viewMain::closeEvent(QCloseEvent* event)
{
    if (flashing()) {
        // On the state line, which wraps; the run's next phase or its end replaces it.
        stateOverride = tr("[flash:closerefused]");
        showDeviceState();
        event->ignore();
        return;
    }
    saveGeometryToSettings();
    // Windows of their own would keep the program running without its main window.
    dialogUpdate->close();
    for (const QPointer<view_about>& about : qAsConst(aboutWindows)) {
        if (about)
            about->deleteLater();
    }
    aboutWindows.clear();
    event->accept();
}
