#pragma once

#include "app/askuser.h"
#include "update/view_update.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;
class StandInService;
class viewMain;
class view_tessaro;
class view_update;

namespace sim {
class SimSensor;
}

// Walks the real main window through every screen a technician sees, against the
// simulated sensor and the stand-in web service, and saves each as a PNG: the connect
// page, the four tabs with the live view and its pen trail, the File menu with saving and
// loading the sensor's settings, calibration, centering, the update dialog, the question
// before flashing, flashing and the finished update. The sensor's clock is frozen and every
// poll tick is driven from here, so that two runs show the same pictures.
class ScreenTour : public QObject
{
    Q_OBJECT
public:
    // image: the firmware file the flashing step "chooses" in the file dialog.
    ScreenTour(viewMain* window, StandInService* service, const QString& outputFolder, const QString& image);
    ~ScreenTour() override;

    // Runs every step; false with the step that failed in error().
    bool run();
    QString error() const { return m_error; }

private:
    bool showConnectPage();
    bool showUnusableDevices();
    bool showSensorTabs();
    bool showCalibration();
    bool showCentering();
    bool showUpdateDialog();
    bool showFlashing();
    bool showSettingsFiles();
    // The question or note a dialog would show, as a picture; the answer is yes.
    bool picture(QWidget* parent, const QString& title, const QString& text, bool question);

    bool waitFor(const std::function<bool()>& done, int timeoutMs);
    void settle();
    bool save(QWidget* widget, const QString& name);
    bool fail(const QString& step);
    bool fillScreen(QWidget* screen);
    view_tessaro* sensorView() const;
    // One poll tick of the sensor view, with the pen held at a point.
    void tick(int x, int y);
    void drawPenTrail();
    void watchFlashing(view_update* view);

    QPointer<viewMain> m_window;
    StandInService* m_service = nullptr;
    QString m_folder;
    QString m_image;
    std::shared_ptr<sim::SimSensor> m_sensor;
    QString m_error;
    decltype(view_update::chooseImageFile) m_previousChooser;
    decltype(AskUser::confirm) m_previousConfirm;
    decltype(AskUser::tell) m_previousTell;
    decltype(AskUser::openFile) m_previousOpen;
    decltype(AskUser::saveFile) m_previousSave;
    // Where the settings step saves the sensor's settings and loads them from.
    QString m_settingsFile;
    int m_saved = 0;
    // The flashing view's progress: passes begun, and whether the picture is taken.
    int m_flashPass = 0;
    int m_lastProgress = -1;
    bool m_flashingSaved = false;
    bool m_flashingSaveFailed = false;
};
