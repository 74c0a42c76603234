#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QGridLayout;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QCloseEvent;
class QKeyEvent;
class QShowEvent;
class ServiceRequest;
class tessaro;

// Small top-level window: asks the maker's web service whether the connected sensor's
// firmware is current, and leads the user through an update from an image file, following
// the device from sensor to bootloader and back (stages raised by the main window). The
// file is asked for and checked before the sensor is sent to its bootloader, so that a
// cancelled choice or an unusable file leaves the unit running; with no unit connected, or
// another program updating it, nothing is sent and the status says so. While a flashing
// sequence runs, neither button can be used and the window does not close.
class view_dialogupdate : public QWidget
{
    Q_OBJECT
public:
    explicit view_dialogupdate(tessaro* device, QWidget* parent = nullptr);
    ~view_dialogupdate() override;

    // Sends the firmware check; its answer sets the status label through firmwareStatus.
    void getFirmwareCheck();
    // Sends the connectivity probe; an answer "true" sets internetOk.
    void checkInternet();

    // Requests sent whose answer has not been handled yet.
    int pendingRequests() const;
    QList<QPointer<QNetworkReply>> requestsInFlight() const;

    bool upgradeRequested = false;
    bool updatePending = false;
    bool internetOk = false;

public slots:
    // The flashing view's run has ended (view_update::updateEnded).
    void flashingEnded(bool ok, bool cancelled);
    // A flashing sequence runs (or no longer does), from whichever button it was started.
    void setFlashing(bool running);

public:

    QGridLayout* grid = nullptr;
    QLabel* infoLabel = nullptr;
    QLabel* swCaption = nullptr;
    QLabel* swLabel = nullptr;
    QLabel* hwCaption = nullptr;
    QLabel* hwLabel = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* busyLabel = nullptr;
    QPushButton* useFileButton = nullptr;
    QPushButton* cancelButton = nullptr;

signals:
    void shown();
    // Flash this file on the bootloader now connected.
    void updateFile(const QString& imagePath);
    void firmwareStatus(QString status);
    void bootloaderStage();
    void tessaroStage();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onShown();
    void onTessaroStage();
    void onUseFile();
    void onBootloaderStage();
    void showIdentity();
    // A version as the dialog shows it: "not known" for a device that gave none.
    static QString shownVersion(const QString& version);
    void showStatus(const QString& text);
    void firmwareCheckFinished(bool answered, const QByteArray& body);
    void internetProbeFinished(bool answered, const QByteArray& body);

    // Why the bootloader that just connected must not be flashed on its own; empty if it may.
    QString reasonNotToFlash() const;
    // Says so and is true when no unit is connected to be sent to its bootloader.
    bool noUnitToSend();
    // Why the chosen file cannot be flashed; empty if it may be tried.
    static QString imageProblem(const QString& path);
    bool bootloaderConnected() const;

    QPointer<tessaro> device;
    // The bootloaders on the bus when the sensor was asked to restart into its own.
    QStringList bootloadersBefore;
    // A run was started from this dialog and has not ended yet.
    bool flashStarted = false;
    bool flashing = false;
    // The file chosen with the use-file button, flashed when the bootloader appears.
    QString imagePath;
    // One manager for the dialog's requests (their parent), one request of each kind at a time.
    QNetworkAccessManager* network = nullptr;
    ServiceRequest* firmwareCheck = nullptr;
    ServiceRequest* internetProbe = nullptr;
};
