#pragma once

#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

#include <functional>

class QHBoxLayout;
class QListWidget;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class bootloader;
class tessaro;

// The page for a sensor in its resident HID bootloader: the flash geometry and every
// status line of the flashing sequence in a list, the progress of the running pass in a
// bar, and the "Update" button that asks for an image file and starts the sequence.
class view_update : public QWidget
{
    Q_OBJECT
public:
    view_update(QWidget* parent, tessaro* device);
    ~view_update() override;

    // Asks the user for the image file; returns an empty name when cancelled. A seam, so
    // that tests answer it instead of a modal dialog. Defaults to QFileDialog::getOpenFileName.
    static std::function<QString(QWidget* parent, const QString& caption, const QString& filter)> chooseImageFile;

    // The sequence's two waits (default 5 s) and its reply time limit; tests shorten them.
    void setSettleTimeMs(int ms);
    void setReplyTimeoutMs(int ms);

    // The file filter offered for the connected device, "Binary files (*.xxxx.bin)".
    QString imageFilter() const;

    // The status lines of the last run started here (empty before any), for showing after
    // this page has gone.
    QStringList lastRunLines() const { return runLines; }

    QWidget* container = nullptr;
    QVBoxLayout* containerLayout = nullptr;
    QHBoxLayout* buttonLayout = nullptr;
    QPushButton* updateButton = nullptr;
    QListWidget* statusList = nullptr;
    QProgressBar* progressBar = nullptr;
    // Shared: a running sequence keeps the object alive after this page is gone.
    QSharedPointer<bootloader> loader;

signals:
    // A run asked for with Update() has ended: ok only after a verified run that started
    // the application; cancelled when no image file was chosen.
    void updateEnded(bool ok, bool cancelled);

public slots:
    void Update();
    void status(QString line, bool clear);

private:
    void sequenceFinished(bool ok);
    void beginRun(const QString& imagePath);

    QPointer<tessaro> device;
    bool runActive = false;
    QString runImage;
    qint64 runImageSize = 0;
    QStringList runLines;
};
