#include "view_main.h"

#include "appsettings.h"
#include "device/tessaro.h"

#include <QCloseEvent>
#include <QDebug>
#include <QFrame>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
const QSize DefaultSize(700, 400);
const QPoint DefaultPos(200, 200);
}

viewMain::viewMain(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(tr("[title]"));

    viewStack = new QStackedWidget(this);
    setCentralWidget(viewStack);

    device = new tessaro(this);
    connect(device, &tessaro::connected, this, &viewMain::connected);
    connect(device, &tessaro::disconnected, this, &viewMain::disconnected);
    connect(this, &viewMain::doHotPlugEvent, device, &tessaro::hotplugWorker);

    prompt = new QLabel(tr("[tsro_connect]"));
    connectLayout = new QVBoxLayout;
    connectLayout->addWidget(prompt, 0, Qt::AlignHCenter | Qt::AlignVCenter);
    connectPage = new QFrame;
    connectPage->setLayout(connectLayout);
    viewStack->addWidget(connectPage);

    emit doHotPlugEvent();
    restoreGeometryFromSettings();
}

viewMain::~viewMain()
{
    device->disconnectDevice();
}

void viewMain::restoreGeometryFromSettings()
{
    appSettings settings;
    settings.beginGroup(QLatin1String(appSettings::WindowGroup));
    resize(settings.value(QLatin1String(appSettings::SizeKey), DefaultSize).toSize());
    move(settings.value(QLatin1String(appSettings::PosKey), DefaultPos).toPoint());
    settings.endGroup();
}

void viewMain::connected()
{
    qDebug() << "Connected:" << device->deviceType << Qt::hex << device->productId;
    QWidget* view = new QLabel(device->deviceType, connectPage);
    viewStack->addWidget(view);
    deviceViewPresent = true;
    viewStack->setCurrentWidget(view);
}

void viewMain::disconnected()
{
    QWidget* shown = viewStack->currentWidget();
    viewStack->setCurrentWidget(connectPage);
    if (deviceViewPresent) {
        deviceViewPresent = false;
        if (shown && shown != connectPage) {
            viewStack->removeWidget(shown);
            // The loss is often noticed inside one of this view's own slots.
            shown->deleteLater();
        }
    }
}

void viewMain::closeEvent(QCloseEvent* event)
{
    appSettings settings;
    settings.beginGroup(QLatin1String(appSettings::WindowGroup));
    settings.setValue(QLatin1String(appSettings::SizeKey), size());
    settings.setValue(QLatin1String(appSettings::PosKey), pos());
    settings.endGroup();
    event->accept();
}
