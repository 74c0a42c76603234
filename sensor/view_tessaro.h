#pragma once

#include "live/batterypicture.h"
#include "live/tessaropoll.h"

#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

class QComboBox;
class QFrame;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;
class QGridLayout;
class QJsonObject;
class QLabel;
class QNetworkAccessManager;
class QPushButton;
class QSlider;
class ServiceRequest;
class QTabWidget;
class QTimer;
class QVBoxLayout;
class tessaro;
class tessaroPushButton;
class view_tessarocalibrate;
class view_tessarocenter;
class view_tessarolive;

// The view shown while a sensor runs its application firmware: simple, information,
// system and advanced tabs, the poll of live data, and the web check of versions.
class view_tessaro : public QWidget
{
    Q_OBJECT
public:
    static constexpr int PollPeriodMs = 100;

    view_tessaro(QWidget* parent, tessaro* connection);
    ~view_tessaro() override;

    void reloadUi();
    // The tab that holds a page (its scroll area's index), -1 for none.
    int tabIndex(const QWidget* page) const;
    void updateEasy();
    // Reads "app:id;" and "app:version;" into the information tab; false when the link failed.
    bool readIdentity();
    // The sensor's id, hardware and firmware and the pen's id and firmware, a line each.
    QString identityText() const;

    tessaro* connection = nullptr;
    QString checkData;
    QString softwareStatusText;
    QString firmwareStatusText;

    QTabWidget* tabs = nullptr;
    QFrame* simpleTab = nullptr;
    QFrame* infoTab = nullptr;
    QFrame* systemTab = nullptr;
    QFrame* advancedTab = nullptr;
    QVBoxLayout* systemLayout = nullptr;
    QGridLayout* advancedLayout = nullptr;
    view_tessarolive* liveView = nullptr;
    // Top-level windows without parent; they go with the view.
    std::unique_ptr<view_tessarocalibrate> calibrateWindow;
    std::unique_ptr<view_tessarocenter> centerWindow;
    QTimer* pollTimer = nullptr;
    tessaroPoll* poll = nullptr;  // the reads of each tick

    QSlider* easySlider = nullptr;
    QVector<int> easyTable;
    QString easyRegister;
    QComboBox* presetCombo = nullptr;
    QLabel* presetInfo = nullptr;

    QLabel* idLabel = nullptr;
    QLabel* hwLabel = nullptr;
    QLabel* swLabel = nullptr;
    QLabel* swBuildLabel = nullptr;
    QLabel* statusLabel = nullptr;
    // Puts identityText() on the clipboard.
    QPushButton* copyButton = nullptr;

    QLabel* penIdLabel = nullptr;
    QLabel* penSwLabel = nullptr;
    QLabel* penIdStatusLabel = nullptr;
    QLabel* penVoltLabel = nullptr;
    QLabel* penRunLabel = nullptr;
    QGraphicsPixmapItem* batteryItem = nullptr;

    tessaroPushButton* calibrateStartButton = nullptr;
    // Enabled only while the sensor reports a calibration running.
    tessaroPushButton* calibrateAbortButton = nullptr;
    QPushButton* centerButton = nullptr;
    // How the last calibration ended, once one has.
    QLabel* calibrationResultLabel = nullptr;
    // "Stored in the sensor" after the light slider or a preset has been committed.
    QLabel* easyStoredLabel = nullptr;
    QLabel* presetStoredLabel = nullptr;
    // On the advanced tab: that values are in use but not stored, or that they were stored.
    QLabel* unsavedLabel = nullptr;
    // Captions of the advanced rows written since the last save, shown in bold.
    QList<QPointer<QLabel>> unsavedRows;

    QPointer<QNetworkAccessManager> networkManager;
    ServiceRequest* checkRequest = nullptr;

signals:
    void updateAdv();
    void updateSimple();
    void updatePoints(QString data);
    void updatePen(QString data);
    void updateCalState(QString data);
    void updateCalPoints(QList<int> x, QList<int> y);
    void execCommand(QString data);

public slots:
    void dataPollWorker();
    void connected();
    void disconnected();
    void tabChanged(int index);
    void simpleChangedIndex(int index);
    void simpleUpdateSensor();
    void easyUpdateSensor(int val);
    void updateFirmware();
    void copyIdentity();

private:
    void buildSimpleTab();
    void buildInfoTab();
    QWidget* buildSensorGroup();
    QWidget* buildPenGroup();
    QWidget* buildPenLiveGroup();
    void buildSystemGroups(const QJsonObject& file);
    void fillPresets(const QJsonObject& file);
    void buildAdvancedTab(const QJsonObject& file);
    bool addParameterRow(QGridLayout* grid, const QJsonObject& parameter);
    void sendCheckRequest();
    void checkReplyFinished(bool answered, const QByteArray& body);
    void commitAndReset();
    void showStored(QLabel* line);
    void markUnsaved(QLabel* caption);
    // Takes the marks off; said is what the advanced tab's line says then (empty: nothing).
    void clearUnsaved(const QString& said);

    void showPenState(const tessaroPenState& state);
    void showPenId(const tessaroPenIdentity& identity);
    void showBattery(BatteryPicture::Level battery);

    QPixmap batteryPixmaps[BatteryPicture::LevelCount];
};
