#include "view_update.h"

#include "bootloader.h"
#include "flashlog.h"
#include "device/tessaro.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// The page's texts are looked up under this context, whatever the class is called.
const char* const TextContext = "VAVUvazud";
const char* const ImageFilterFormat = "Binary files (*.%04x.bin)";
const char* const ImageCaption = "Open binary image";
// The bar stops one short of 100, so the read pass's final 100 leaves it where it was.
constexpr int ProgressMaximum = 99;
constexpr int LayoutSpacing = 6;
constexpr int LayoutMargin = 11;
}

std::function<QString(QWidget*, const QString&, const QString&)> view_update::chooseImageFile =
    [](QWidget* parent, const QString& caption, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
    };

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
    updateButton = new QPushButton(QCoreApplication::translate(TextContext, "Update"), container);
    buttonLayout->addWidget(updateButton);
    containerLayout->addLayout(buttonLayout);

    statusList = new QListWidget(container);
    statusList->setMovement(QListView::Static);
    containerLayout->addWidget(statusList);

    progressBar = new QProgressBar(container);
    progressBar->setMaximum(ProgressMaximum);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    containerLayout->addWidget(progressBar);

    loader = bootloader::create(connection);
    connect(updateButton, &QPushButton::clicked, this, &view_update::Update);
    connect(loader.data(), &bootloader::status, this, &view_update::status);
    connect(loader.data(), &bootloader::eraseflashStatus, progressBar, &QProgressBar::setValue);
    if (connection)
        connect(loader.data(), &bootloader::hotplugtimer, connection, &tessaro::SetHotPlugTimerState);
    connect(loader.data(), &bootloader::updateFinished, this, &view_update::sequenceFinished);

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
    return QString::asprintf(ImageFilterFormat, loader->productId);
}

void view_update::status(QString line, bool clear)
{
    if (runActive)
        runLines << line;
    if (clear)
        statusList->clear();
    statusList->addItem(line);
    statusList->scrollToBottom();
}

void view_update::Update()
{
    if (!loader->linkOk) {
        const QString line = QStringLiteral("Bootloader not connected");
        beginRun(QString());
        runLines << line;
        statusList->addItem(line);
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
    const QString fileName = chooseImageFile(this, QLatin1String(ImageCaption), imageFilter());
    if (!self) {
        // Gone meanwhile: nothing was started, so polling must not stay stopped.
        if (connection)
            connection->SetHotPlugTimerState(true);
        return;
    }
    qDebug() << fileName;
    beginRun(fileName);
    loader->updateFromFile(fileName);
    // A refused request has already ended (updateFinished came before this line).
    updateButton->setEnabled(!loader->isBusy());
}

void view_update::beginRun(const QString& imagePath)
{
    runActive = true;
    runImage = imagePath;
    runImageSize = imagePath.isEmpty() ? 0 : QFileInfo(imagePath).size();
    runLines.clear();
}

void view_update::sequenceFinished(bool ok)
{
    updateButton->setEnabled(true);
    if (!runActive)
        return;
    runActive = false;
    const bool cancelled = runImage.isEmpty();
    // A cancelled file dialog flashed nothing: there is no run to record.
    if (!cancelled && !FlashLog::append(runImage, runImageSize, ok, runLines))
        qDebug() << "Could not write" << FlashLog::filePath();
    emit updateEnded(ok, cancelled);
}
