// The legacy device page: text and button in the middle, the identity it leaves for the
// update dialog, and the way from its button through the dialog to the upgrade report.
#include "app/serviceidentity.h"
#include "app/view_main.h"
#include "device/tessaro.h"
#include "sim/simbootloader.h"
#include "sim/standinservice.h"
#include "findbytext.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/view_dialogupdate.h"
#include "update/view_legacy.h"
#include "update/view_update.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>

#include <algorithm>
#include <optional>

namespace {
constexpr std::uint16_t LegacyProductId = 0x0003;
}

class tst_viewlegacy : public QObject
{
    Q_OBJECT

private:
    std::optional<StandInService> service;
    std::optional<SimFixture> fixture;

    static sim::DeviceInfo legacyDevice()
    {
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        info.productId = LegacyProductId;
        info.path = "sim/legacy";
        return info;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ServiceAddress::useStandIn(service));
    }

    void cleanupTestCase()
    {
        service.reset();
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry(),
                                 SimFixture::entry(QStringLiteral("bootloader"), sim::BootloaderProductId),
                                 SimFixture::entry(QStringLiteral("update"), LegacyProductId)});
        service->resetReplies();
        service->clearRequests();
        sensorId = QStringLiteral("TS-000123");
        sensorHw = QStringLiteral("HW 1.1");
        sensorSw = QStringLiteral("SW 2.4");
    }

    void cleanup()
    {
        fixture.reset();
    }

    void textAndButtonStandInTheMiddle()
    {
        view_legacy page;
        page.resize(700, 400);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QRect label = page.textLabel->geometry();
        const QRect button = page.updateButton->geometry();
        QVERIFY(qAbs(label.center().x() - 350) < 20);
        QVERIFY(button.top() >= label.bottom());
        QVERIFY(label.top() > 100);
        QVERIFY(button.bottom() < 300);
    }

    void legacyDeviceInTheMainWindow()
    {
        auto device = fixture->plugSensor(legacyDevice());
        viewMain window;
        window.show();
        auto* page = qobject_cast<view_legacy*>(window.findChild<QStackedWidget*>()->currentWidget());
        QVERIFY(page);
        QPointer<view_legacy> watch = page;
        QVERIFY(findByText<QAction>(&window, QStringLiteral("[menu:file:update]"))->isEnabled());
        view_dialogupdate* dialog = window.updateDialog();
        QVERIFY(!dialog->isVisible());

        // The button opens the update dialog, which sends "none" and shows "not known": such
        // a device tells nothing about itself.
        QCOMPARE(sensorId, QStringLiteral("none"));
        page->updateButton->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->swLabel->text(), QStringLiteral("[updatedialog:unknown]"));
        QCOMPARE(dialog->hwLabel->text(), QStringLiteral("[updatedialog:unknown]"));
        QTRY_COMPARE(dialog->pendingRequests(), 0);
        const auto requests = service->requests();
        const auto check = std::find_if(requests.cbegin(), requests.cend(), [](const StandInService::Request& r) {
            return r.path == QLatin1String(StandInService::FirmwarePath);
        });
        QVERIFY(check != requests.cend());
        QCOMPARE(check->identity, QStringList({"none", "none", "none", "UTIL 2.2"}));

        // Use-file, once a file is chosen: the device gets its upgrade report, data byte 0x09 and zeros.
        fixture->writeFile(QStringLiteral("image.bin"), "firmware");
        view_update::chooseImageFile = [this](QWidget*, const QString&, const QString&, const QString&) {
            return fixture->dir() + QStringLiteral("/image.bin");
        };
        device->clearLog();
        dialog->useFileButton->click();
        QVERIFY(dialog->upgradeRequested);
        const auto reports = device->receivedReports();
        QCOMPARE(reports.size(), std::size_t(1));
        QCOMPARE(reports[0][0], std::uint8_t(0x09));
        QVERIFY(std::all_of(reports[0].begin() + 1, reports[0].end(), [](std::uint8_t b) { return b == 0; }));
        QVERIFY(SimFixture::commands(*device).value(0) != QStringLiteral("app:bootloader;"));

        // Unplugged: the page goes, the update entry is disabled.
        sim::SimBus::instance().unplug(device.get());
        QTRY_VERIFY(watch.isNull());
        QVERIFY(!findByText<QAction>(&window, QStringLiteral("[menu:file:update]"))->isEnabled());
        dialog->close();
    }
};

TESSARO_TEST_MAIN(tst_viewlegacy)
#include "tst_viewlegacy.moc"
