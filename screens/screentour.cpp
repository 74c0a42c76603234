#include "screentour.h"

#include "app/view_main.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "live/view_tessarolive.h"
#include "sensor/view_tessaro.h"
#include "sensor/view_tessaroparameter_int.h"
#include "sim/simbus.h"
#include "sim/simsensor.h"
#include "sim/standinservice.h"
#include "update/bootloader.h"
#include "update/view_dialogupdate.h"
#include "update/view_legacy.h"
#include "update/view_update.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGraphicsPolygonItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

using std::chrono::milliseconds;

// Long enough for a connection, a web answer or a layout on a busy machine.
constexpr int StepTimeoutMs = 15000;
// A whole update: two 5 s waits of the sequence, the passes and the sensor's return.
constexpr int FlashTimeoutMs = 90000;
// Time for posted layout and paint requests before a picture is taken.
constexpr int SettleMs = 300;
constexpr int PollSliceMs = 10;
// The catalogue's device with older firmware ("update").
constexpr std::uint16_t LegacyProductId = 0x0003;
// The service's answer when it is down.
constexpr int ServiceDown = 503;

// The poll reads the corners on every eleventh tick.
constexpr int TicksPerCornerRead = 11;
// A pen stroke across the lower left of the calibrated area, one point per tick.
constexpr int TrailLength = 8;
const QPoint Trail[TrailLength] = {{290, 560}, {330, 515}, {372, 478}, {418, 448},
                                   {466, 425}, {515, 410}, {562, 402}, {606, 399}};
// Held on the centre mark a little right of and above the middle, as a user starts.
const QPoint NearCentre(560, 350);
// The sensor waits for the third corner: two done, one active, one to do.
constexpr int CalibrationCorner = 3;
constexpr milliseconds CalibrationStep(2000);
// The flashing picture: half way through the write pass (the second pass).
constexpr int WritePass = 2;
constexpr int FlashingPercent = 50;

} // namespace

ScreenTour::ScreenTour(viewMain* window, StandInService* service, const QString& outputFolder, const QString& image)
    : m_window(window)
    , m_service(service)
    , m_folder(outputFolder)
    , m_image(image)
{
    m_sensor = std::make_shared<sim::SimSensor>();
    // Everything that time drives stands still; each step sets what it shows.
    m_sensor->setLiveMotion(false);
    m_sensor->setPairing(100);
    m_sensor->setCalibrationStepTime(CalibrationStep);
    m_sensor->setReenumerates(true);
    m_sensor->setPenPoint(Trail[0].x(), Trail[0].y(), 4, 1);

    m_previousChooser = view_update::chooseImageFile;
    view_update::chooseImageFile = [this](QWidget*, const QString&, const QString&, const QString&) { return m_image; };
    m_previousConfirm = AskUser::confirm;
    m_previousTell = AskUser::tell;
    m_previousOpen = AskUser::openFile;
    m_previousSave = AskUser::saveFile;
    AskUser::confirm = [this](QWidget* parent, const QString& title, const QString& question) {
        return picture(parent, title, question, true);
    };
    AskUser::tell = [this](QWidget* parent, const QString& title, const QString& text) { picture(parent, title, text, false); };
    AskUser::openFile = [this](QWidget*, const QString&, const QString&, const QString&) { return m_settingsFile; };
    AskUser::saveFile = AskUser::openFile;
}

ScreenTour::~ScreenTour()
{
    view_update::chooseImageFile = m_previousChooser;
    AskUser::confirm = m_previousConfirm;
    AskUser::tell = m_previousTell;
    AskUser::openFile = m_previousOpen;
    AskUser::saveFile = m_previousSave;
}

bool ScreenTour::picture(QWidget* parent, const QString& title, const QString& text, bool question)
{
    QMessageBox box(question ? QMessageBox::Question : QMessageBox::Information, title, text,
                    question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.show();
    settle();
    save(&box, question ? QStringLiteral("question") : QStringLiteral("note"));
    return true;
}

bool ScreenTour::showSettingsFiles()
{
    QMenu* fileMenu = m_window->menuBar()->actions().value(0) ? m_window->menuBar()->actions().constFirst()->menu() : nullptr;
    if (!fileMenu)
        return fail(QStringLiteral("file menu"));
    fileMenu->popup(m_window->mapToGlobal(QPoint(0, m_window->menuBar()->height())));
    settle();
    const bool menuSaved = save(fileMenu, QStringLiteral("file-menu"));
    fileMenu->hide();
    if (!menuSaved)
        return false;
    QTemporaryDir folder;
    m_settingsFile = folder.filePath(QStringLiteral("settings.json"));
    // Saved, then loaded back: the load's question and its note are the pictures.
    const QStringList keys = {QStringLiteral("[menu:file:savesettings]"), QStringLiteral("[menu:file:loadsettings]")};
    for (const QString& key : keys) {
        const QString entry = QCoreApplication::translate("viewMain", qPrintable(key));
        QAction* action = nullptr;
        for (QAction* candidate : fileMenu->actions()) {
            if (candidate->text() == entry)
                action = candidate;
        }
        if (!action || !action->isEnabled())
            return fail(key);
        action->trigger();
    }
    return QFileInfo::exists(m_settingsFile) || fail(QStringLiteral("settings file"));
}

bool ScreenTour::run()
{
    QDir().mkpath(m_folder);
    // Newer firmware is on offer: the information tab and the dialog say so.
    m_service->setVerdicts(false);
    return showConnectPage() && showUnusableDevices() && showSensorTabs() && showSettingsFiles() && showCalibration()
        && showCentering() && showUpdateDialog() && showFlashing();
}

bool ScreenTour::fail(const QString& step)
{
    m_error = step;
    return false;
}

bool ScreenTour::waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(PollSliceMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void ScreenTour::settle()
{
    QElapsedTimer elapsed;
    elapsed.start();
    waitFor([&elapsed] { return elapsed.elapsed() >= SettleMs; }, SettleMs * 2);
}

bool ScreenTour::save(QWidget* widget, const QString& name)
{
    ++m_saved;
    const QString file = QDir(m_folder).filePath(QStringLiteral("%1-%2.png").arg(m_saved, 2, 10, QLatin1Char('0')).arg(name));
    if (!widget->grab().save(file))
        return fail(QStringLiteral("saving ") + file);
    // Where the window lies on the screen, and how small it can go: for the review of
    // the pictures at each screen size.
    const QRect frame = widget->frameGeometry();
    const QSize smallest = widget->minimumSizeHint();
    std::printf("%s: %dx%d at (%d,%d), smallest %dx%d, screen %dx%d\n", qPrintable(name), frame.width(),
                frame.height(), frame.x(), frame.y(), smallest.width(), smallest.height(),
                QGuiApplication::primaryScreen()->availableGeometry().width(),
                QGuiApplication::primaryScreen()->availableGeometry().height());
    return true;
}

bool ScreenTour::fillScreen(QWidget* screen)
{
    // Xvfb has no window manager to give a full-screen window the whole screen.
    const QRect whole = QGuiApplication::primaryScreen()->geometry();
    if (!waitFor([screen] { return screen->isVisible(); }, StepTimeoutMs))
        return false;
    screen->setGeometry(whole);
    return waitFor([screen, whole] { return screen->geometry() == whole; }, StepTimeoutMs);
}

view_tessaro* ScreenTour::sensorView() const
{
    return m_window ? m_window->findChild<view_tessaro*>() : nullptr;
}

void ScreenTour::tick(int x, int y)
{
    m_sensor->setPenPoint(x, y, 4, 1);
    if (view_tessaro* view = sensorView())
        view->dataPollWorker();
}

void ScreenTour::drawPenTrail()
{
    for (const QPoint& point : Trail)
        tick(point.x(), point.y());
}

bool ScreenTour::showConnectPage()
{
    if (!waitFor([this] { return m_window && m_window->isVisible(); }, StepTimeoutMs))
        return fail(QStringLiteral("main window"));
    settle();
    return save(m_window, QStringLiteral("connect"));
}

bool ScreenTour::showUnusableDevices()
{
    // A sensor whose firmware this program does not know: the centre says so, and what to do.
    auto unsupported = std::make_shared<sim::SimSensor>();
    unsupported->setVersionReply("app:version:HW 7:SW 9.9:x;");
    sim::SimBus::instance().plug(unsupported);
    auto* prompt = m_window->findChild<QStackedWidget*>()->widget(0)->findChild<QLabel*>();
    if (!waitFor([prompt] { return prompt->text().contains(QLatin1Char('\n')); }, StepTimeoutMs))
        return fail(QStringLiteral("unsupported device"));
    settle();
    if (!save(m_window, QStringLiteral("unsupported")))
        return false;
    sim::SimBus::instance().unplug(unsupported.get());

    // A device with older firmware, which tells nothing about itself: the dialog says "not known".
    sim::DeviceInfo info = sim::SimSensor::defaultInfo();
    info.productId = LegacyProductId;
    auto legacy = std::make_shared<sim::SimSensor>(info);
    sim::SimBus::instance().plug(legacy);
    if (!waitFor([this] { return m_window->findChild<view_legacy*>() != nullptr; }, StepTimeoutMs))
        return fail(QStringLiteral("legacy device"));
    m_window->updateFirmware();
    view_dialogupdate* dialog = m_window->updateDialog();
    if (!waitFor([dialog] { return dialog->isVisible() && dialog->pendingRequests() == 0; }, StepTimeoutMs))
        return fail(QStringLiteral("update dialog of the legacy device"));
    settle();
    if (!save(m_window, QStringLiteral("legacy")) || !save(dialog, QStringLiteral("legacy-update")))
        return false;
    dialog->close();
    sim::SimBus::instance().unplug(legacy.get());
    return waitFor([this] { return !m_window->findChild<view_legacy*>(); }, StepTimeoutMs)
        || fail(QStringLiteral("legacy device unplugged"));
}

bool ScreenTour::showSensorTabs()
{
    sim::SimBus::instance().plug(m_sensor);
    if (!waitFor([this] { return sensorView() && !sensorView()->idLabel->text().isEmpty(); }, StepTimeoutMs))
        return fail(QStringLiteral("sensor view"));
    view_tessaro* view = sensorView();
    // Ticks come from here from now on.
    view->pollTimer->stop();
    if (!waitFor([view] { return !view->firmwareStatusText.isEmpty(); }, StepTimeoutMs))
        return fail(QStringLiteral("web check"));
    for (int i = 0; i < TicksPerCornerRead; ++i)
        tick(Trail[0].x(), Trail[0].y());
    if (view->liveView->areaScene->items().isEmpty())
        return fail(QStringLiteral("calibrated area"));
    drawPenTrail();

    const char* const names[] = {"simple", "information", "system", "advanced"};
    for (int tab = 0; tab < view->tabs->count() && tab < 4; ++tab) {
        view->tabs->setCurrentIndex(tab);
        settle();
        if (!save(m_window, QLatin1String(names[tab])))
            return false;
    }
    // A value written and not yet saved: its row is marked, a line says so.
    auto* editor = view->advancedTab->findChild<view_tessaroParameter_int*>();
    if (!editor)
        return fail(QStringLiteral("advanced editor"));
    editor->slider->setValue(editor->slider->value() + 1);
    editor->updateValue();
    settle();
    if (!save(m_window, QStringLiteral("unsaved")))
        return false;
    view->tabs->setCurrentIndex(0);
    return true;
}

bool ScreenTour::showCalibration()
{
    view_tessaro* view = sensorView();
    view->calibrateStartButton->click();
    view_tessarocalibrate* screen = view->calibrateWindow.get();
    // The sensor moves on while the pen is there: two corners done.
    m_sensor->advanceTime(CalibrationStep * (CalibrationCorner - 1) + milliseconds(100));
    if (m_sensor->calibrationPoint() != CalibrationCorner)
        return fail(QStringLiteral("calibration on the sensor"));
    tick(NearCentre.x(), NearCentre.y());
    if (!fillScreen(screen))
        return fail(QStringLiteral("calibration screen"));
    settle();
    if (!save(screen, QStringLiteral("calibration")))
        return false;

    // Ended from the sensor view, as a technician would after the screenshot's moment.
    screen->close();
    view->calibrateAbortButton->click();
    tick(Trail[0].x(), Trail[0].y());
    if (m_sensor->calibrationPoint() != 0)
        return fail(QStringLiteral("calibration abort"));
    return true;
}

bool ScreenTour::showCentering()
{
    view_tessaro* view = sensorView();
    view->centerButton->click();
    view_tessarocenter* screen = view->centerWindow.get();
    tick(NearCentre.x(), NearCentre.y());
    if (!fillScreen(screen))
        return fail(QStringLiteral("centering screen"));
    settle();
    if (!save(screen, QStringLiteral("centering")))
        return false;
    screen->hide();
    // The live view shows the stroke again for the flashing step's window.
    drawPenTrail();
    return true;
}

bool ScreenTour::showUpdateDialog()
{
    view_dialogupdate* dialog = m_window->updateDialog();
    // First without the service: the dialog says it could not be reached and stays usable.
    m_service->setReply(QLatin1String(StandInService::FirmwarePath), QByteArray(), ServiceDown);
    m_window->updateFirmware();
    if (!waitFor([dialog] { return dialog->isVisible() && dialog->pendingRequests() == 0; }, StepTimeoutMs))
        return fail(QStringLiteral("update dialog without the service"));
    settle();
    if (!save(dialog, QStringLiteral("update-offline")))
        return false;
    dialog->close();
    m_service->resetReplies();
    m_service->setVerdicts(false);
    m_window->updateFirmware();
    if (!waitFor([dialog] { return dialog->isVisible() && !dialog->statusLabel->text().isEmpty()
                                   && dialog->pendingRequests() == 0; },
                 StepTimeoutMs))
        return fail(QStringLiteral("update dialog"));
    settle();
    return save(dialog, QStringLiteral("update"));
}

void ScreenTour::watchFlashing(view_update* view)
{
    if (!view)
        return;
    // Queued from the sequence's thread after the bar's own update for the same value,
    // so the picture shows the bar at exactly that value.
    connect(view->loader.data(), &bootloader::eraseflashStatus, this, [this, view = QPointer<view_update>(view)](int percent) {
        if (percent < m_lastProgress || m_lastProgress < 0)
            ++m_flashPass;
        m_lastProgress = percent;
        if (m_flashingSaved || !view || m_flashPass != WritePass || percent < FlashingPercent)
            return;
        m_flashingSaved = true;
        if (!m_window || !save(m_window, QStringLiteral("flashing")))
            m_flashingSaveFailed = true;
    });
}

bool ScreenTour::showFlashing()
{
    view_dialogupdate* dialog = m_window->updateDialog();
    const QString updated = view_dialogupdate::tr("[updatedialog:firmware:updated]");
    // The file is chosen in the dialog; the flashing page that takes it comes afterwards.
    auto* stack = m_window->findChild<QStackedWidget*>();
    const QMetaObject::Connection pageWatch = connect(stack, &QStackedWidget::currentChanged, this, [this, stack] {
        watchFlashing(qobject_cast<view_update*>(stack->currentWidget()));
    });
    dialog->useFileButton->click();
    const bool flashingSeen = waitFor([this] { return m_flashingSaved; }, FlashTimeoutMs);
    disconnect(pageWatch);
    if (!flashingSeen)
        return fail(QStringLiteral("flashing"));
    if (m_flashingSaveFailed)
        return false;
    // Back with the new firmware, and the dialog says so.
    if (!waitFor([this, dialog, updated] {
            return sensorView() && sensorView()->swLabel->text() == QLatin1String("SW 2.5")
                && dialog->statusLabel->text() == updated;
        }, FlashTimeoutMs))
        return fail(QStringLiteral("sensor back after the update"));
    settle();
    return save(dialog, QStringLiteral("updated"));
}
