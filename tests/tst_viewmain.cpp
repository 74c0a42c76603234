// The main window: pages by device type, menus, language change, web links, geometry.
#include "app/appsettings.h"
#include "app/grouptitlestyle.h"
#include "app/serviceidentity.h"
#include "app/tessarotranslator.h"
#include "app/view_about.h"
#include "app/view_main.h"
#include "device/tessaro.h"
#include "device/updatelock.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "sensor/view_tessaro.h"
#include "sim/simbootloader.h"
#include "sim/simsensor.h"
#include "update/bootloader.h"
#include "update/flashlog.h"
#include "update/view_dialogupdate.h"
#include "update/view_update.h"
#include "findbytext.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"

#include <QAction>
#include <QActionGroup>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QFontMetrics>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QGroupBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>

#include <memory>
#include <optional>

// Catches the addresses the window hands to the desktop's browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

class tst_viewmain : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QStringList restarts;
    bool restartStarts = true;
    UrlRecorder browser;

    static QWidget* currentPage(viewMain& window) { return window.findChild<QStackedWidget*>()->currentWidget(); }

    static bool showsConnectPrompt(viewMain& window)
    {
        const auto* label = currentPage(window)->findChild<QLabel*>();
        return label && label->text() == QLatin1String("[tsro_connect]");
    }

    // A window asked for at pos with size, as the screen allows.
    static QRect onScreen(const QPoint& pos, const QSize& size)
    {
        return viewMain::fittedGeometry(QGuiApplication::primaryScreen()->availableGeometry(), pos, size);
    }

private slots:
    void initTestCase()
    {
        // As the program's main() does.
        GroupTitleStyle::install();
        ServiceAddress::useClosedPort();
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
        viewMain::openUrl = [this](const QUrl& url) {
            browser.open(url);
            return true;
        };
        viewMain::restartProgram = [this](const QString& program) {
            restarts << program;
            return restartStarts;
        };
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry(), SimFixture::entry(QStringLiteral("bootloader"), 0x0002),
                                 SimFixture::entry(QStringLiteral("update"), 0x0003)});
        fixture->writeFile(QStringLiteral("lang/lang.json"), R"({"langs": [
            {"code": "nl", "name": "Nederlands", "intname": "Dutch", "file": "nl.json"},
            {"code": "de", "name": "Deutsch", "intname": "German", "file": "de.json"},
            {"code": "da", "name": "Dansk & Co", "intname": "<b>Danish</b>", "file": "da.json"},
            {"code": "en", "name": "English", "intname": "English", "file": "en.json"}]})");
        appSettings().clear();
        restarts.clear();
        restartStarts = true;
        browser.urls.clear();
    }

    void cleanup() { fixture.reset(); }

    // Only the program's own keys, of their own types, and only from a file of the size the
    // program writes without stored objects: QSettings would build any "@Variant(...)" as it
    // parses (a list as long as it claims).
    void settingsFileIsReadWithCare_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("asideTaken");  // aside names held by a folder that cannot be removed
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("keptAs");
        const QByteArray over = QByteArray("lang=en\n").leftJustified(8 * 1024 + 1, ';');
        QTest::newRow("text") << QByteArray("lang=en\n") << 0 << "en" << "";
        QTest::newRow("not text") << QByteArray("lang=@Size(10 20)\n") << 0 << "nl" << "";
        QTest::newRow("a stored object") << QByteArray("lang=en\nx=@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xff)\n") << 0 << "nl"
                                         << ".refused";
        QTest::newRow("8 KiB") << QByteArray("lang=en\n").leftJustified(8 * 1024, ';') << 0 << "en" << "";
        QTest::newRow("over 8 KiB") << over << 0 << "nl" << ".refused";
        QTest::newRow("over 8 KiB, first aside name taken") << over << 1 << "nl" << ".refused.1";
        // Left in place, it is still not parsed.
        QTest::newRow("over 8 KiB, cannot be moved aside") << over << int(4) << "nl" << "";
    }

    void settingsFileIsReadWithCare()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, asideTaken);
        QFETCH(QString, keptAs);
        const QString path = appSettings::filePath();
        const auto asideName = [&](int n) { return path + ".refused" + (n ? QStringLiteral(".%1").arg(n) : QString()); };
        for (int n = 0; n < asideTaken; ++n)
            QVERIFY(QDir().mkpath(asideName(n) + "/full"));
        const auto clean = qScopeGuard([&] {
            for (int n = 0; n < appSettings::MaxAsideNames; ++n)
                QFile::exists(asideName(n) + "/full") ? QDir(asideName(n)).removeRecursively() : QFile::remove(asideName(n));
        });
        QFile file(path);
        QDir().mkpath(QFileInfo(file).path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size());
        file.close();
        QTEST(appSettings().language(), "language");
        if (!keptAs.isEmpty())
            QVERIFY(QFileInfo(path + keptAs).isFile());
        QCOMPARE(QFile::exists(path), keptAs.isEmpty());
    }

    void storedGeometryStaysOnScreen_data()
    {
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<QVariant>("pos");
        QTest::addColumn<QRect>("expected");
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize frame = viewMain::frameAllowance();
        const QVariant size(QSize(400, 300));
        const QVariant pos(QPoint(50, 60));
        const QSize first = viewMain::defaultSize();
        QTest::newRow("nothing stored") << QVariant() << QVariant() << onScreen(QPoint(200, 200), first);
        QTest::newRow("kept") << size << pos << QRect(50, 60, 400, 300);
        QTest::newRow("huge") << QVariant(QSize(100000, 100000)) << pos << QRect(screen.topLeft(), screen.size() - frame);
        QTest::newRow("largest int") << QVariant(QSize(INT_MAX, INT_MAX)) << pos << QRect(screen.topLeft(), screen.size() - frame);
        QTest::newRow("garbage size") << QVariant(QStringLiteral("garbage")) << pos << onScreen(QPoint(50, 60), first);
        QTest::newRow("too narrow") << QVariant(QSize(199, 300)) << pos << onScreen(QPoint(50, 60), first);
        QTest::newRow("too low") << QVariant(QSize(400, 99)) << pos << onScreen(QPoint(50, 60), first);
        QTest::newRow("smallest") << QVariant(QSize(200, 100)) << pos << QRect(50, 60, 200, 100);
        QTest::newRow("negative size") << QVariant(QSize(-500, -500)) << pos << onScreen(QPoint(50, 60), first);
        QTest::newRow("off every screen") << size << QVariant(QPoint(-30000, -30000)) << QRect(200, 200, 400, 300);
        QTest::newRow("garbage pos") << size << QVariant(QStringLiteral("garbage")) << QRect(200, 200, 400, 300);
        // Moved in whole, frame and all, not left with a corner to grab.
        QTest::newRow("over the right edge") << size << QVariant(QPoint(screen.right() - 10, 60))
                                             << QRect(screen.right() + 1 - 400 - frame.width(), 60, 400, 300);
        QTest::newRow("below the bottom edge") << size << QVariant(QPoint(50, screen.bottom() - 10))
                                               << QRect(50, screen.bottom() + 1 - 300 - frame.height(), 400, 300);
    }

    void storedGeometryStaysOnScreen()
    {
        QFETCH(QVariant, size);
        QFETCH(QVariant, pos);
        QFETCH(QRect, expected);
        // 56 x 35 lines of the application font, at a small one (9 pt) too: the 700 x 400 floor
        // lies below both. The test's own font last, for the window.
        const QFont font = QApplication::font();
        for (const QFont& shown : {QFont(font.family(), 9), font}) {
            QApplication::setFont(shown);
            QCOMPARE(viewMain::defaultSize(), QSize(56, 35) * QFontMetrics(QApplication::font()).height());
        }
        if (size.isValid()) {
            appSettings settings;
            settings.setValue(QStringLiteral("mainwindow/size"), size);
            settings.setValue(QStringLiteral("mainwindow/pos"), pos);
        }
        viewMain window;
        window.show();
        QTRY_COMPARE(QRect(window.pos(), window.size()), expected);
    }

    void pagesAndStatusLineFollowTheDevice_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("page");
        QTest::addColumn<bool>("update");  // the menu entry
        QTest::newRow("nothing") << "none" << "[status:nodevice]" << false << false;
        QTest::newRow("sensor") << "sensor" << "[status:connected] (TS-000123, SW 2.4)" << true << true;
        QTest::newRow("bootloader") << "bootloader" << "[status:bootloader]" << true << false;
        // Left alone, nothing sent: its replies would reach the other program's handle too.
        QTest::newRow("bootloader another program updates") << "elsewhere" << "[status:updatingelsewhere]" << false << false;
        QTest::newRow("older device") << "update" << "[status:legacy]" << true << true;
        QTest::newRow("firmware not listed") << "unsupported" << "[status:unsupported] (HW 7, SW 9.9)" << false << false;
        QTest::newRow("no answer") << "silent" << "[status:silent]" << false << false;
        QTest::newRow("cannot be opened") << "closed" << "[status:notopenable] (sim/1209:0001:00, 70-tessaroutility.rules)"
                                          << false << false;
    }

    // Whatever is plugged in, the status line says what it is and what to do; so does the
    // centre of the window for a device found but not usable, not asking for a sensor.
    void pagesAndStatusLineFollowTheDevice()
    {
        QFETCH(QString, device);
        QFETCH(QString, state);
        QFETCH(bool, page);
        QFETCH(bool, update);
        const QString centre = device == QLatin1String("none") ? QStringLiteral("[tsro_connect]")
            : device == QLatin1String("unsupported")           ? state + QStringLiteral("\n[connect:unsupported:next]")
                                                                : state;
        QVERIFY(fixture->useShippedModel(QStringLiteral("tessaro.json")));
        viewMain window;
        auto* line = window.statusBar()->findChild<QLabel*>();
        QAction* updateEntry = findByText<QAction>(&window, QStringLiteral("[menu:file:update]"));
        sim::DeviceInfo info = sim::SimSensor::defaultInfo();
        const bool elsewhere = device == QLatin1String("elsewhere");
        info.productId = device == QLatin1String("bootloader") || elsewhere ? 0x0002 : device == QLatin1String("update") ? 0x0003 : 1;
        UpdateLock otherProgram;
        if (elsewhere)
            QVERIFY(otherProgram.acquire(UpdateLock::unitName(info.vendorId, QString::fromStdWString(info.serial))));
        std::shared_ptr<sim::SimSensor> sensor = device == QLatin1String("none") ? nullptr : fixture->plugSensor(info);
        if (device == QLatin1String("unsupported"))
            sensor->setVersionReply("app:version:HW 7:SW 9.9:x;");
        else if (device == QLatin1String("silent"))
            sensor->setPersistentFault(sim::Fault::NoReply);
        else if (device == QLatin1String("closed"))
            sensor->setOpenable(false);
        QTRY_COMPARE(line->text(), state);
        if (!page)
            QCOMPARE(currentPage(window)->findChild<QLabel*>()->text(), centre);
        QCOMPARE(updateEntry->isEnabled(), update);
        if (elsewhere) {
            // Once the other program has ended, the bootloader is the window's.
            QVERIFY(sensor->receivedReports().empty());
            otherProgram.release();
            QTRY_COMPARE(line->text(), QStringLiteral("[status:bootloader]"));
            QVERIFY(!showsConnectPrompt(window));
        }
        if (!sensor)
            return;
        sim::SimBus::instance().unplug(sensor.get());
        QTRY_COMPARE(line->text(), QStringLiteral("[status:nodevice]"));
        QVERIFY(showsConnectPrompt(window) && !updateEntry->isEnabled());
    }

    void deviceTextIsShownAsPlainText_data()
    {
        QTest::addColumn<QString>("command");  // whose reply carries the text
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("labels");  // that show it: the rows, the state line, the dialog, the screens
        QTest::newRow("sensor id") << "app:id;" << "app:id:%1;" << 2;
        QTest::newRow("hardware") << "app:version;" << "app:version:%1:SW 2.4:2026:11:20;" << 2;
        QTest::newRow("firmware") << "app:version;" << "app:version:HW 1.1:%1:2026:11:20;" << 3;
        QTest::newRow("build") << "app:version;" << "app:version:HW 1.1:SW 2.4:2026:%1;" << 1;
        QTest::newRow("not supported: state line, centre") << "unsupported" << "app:version:HW 1.1:%1:x;" << 2;
        QTest::newRow("pen id") << "pen:id;" << "pen:id:100:%1:258;" << 1;
        QTest::newRow("point: live, calibration, centering") << "sens:point;" << "sens:point:%1:1:1:1;" << 3;
        QTest::newRow("calibration point") << "cal:state;" << "cal:state:1:%1;" << 1;
    }

    // Markup in a reply is shown as the text it is, with no line break or terminal control of it.
    void deviceTextIsShownAsPlainText()
    {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        QFETCH(int, labels);
        const QString markup = QStringLiteral("<img src=x><b>M</b>");
        if (command != QLatin1String("unsupported")) {
            QJsonObject anyVersion = SimFixture::sensorEntry({}, {});
            anyVersion.insert("default", true);
            fixture->writeCatalogue({anyVersion});
        }
        QVERIFY(fixture->useShippedModel(QStringLiteral("tessaro.json")));
        auto sensor = fixture->plugSensor();
        const std::string text = reply.arg(markup + QStringLiteral("\n\x1b[2J")).toStdString();
        if (command == QLatin1String("app:id;"))
            sensor->setIdReply(text);
        else if (command == QLatin1String("app:version;") || command == QLatin1String("unsupported"))
            sensor->setVersionReply(text);
        else
            sensor->setReply(command.toStdString(), text);
        viewMain window;
        window.updateFirmware();
        const QString shown = markup + QString(2, QChar(0xfffd)) + QStringLiteral("[2J");
        const auto showing = [&markup] {
            QList<QLabel*> found;
            const auto widgets = QApplication::allWidgets();
            for (QWidget* widget : widgets) {
                auto* label = qobject_cast<QLabel*>(widget);
                if (label && label->text().contains(markup))
                    found << label;
            }
            return found;
        };
        QTRY_COMPARE(showing().size(), labels);
        for (const QLabel* label : showing()) {
            QVERIFY2(label->text().contains(shown), qPrintable(label->text()));
            QCOMPARE(label->textFormat(), Qt::PlainText);
        }
    }

    // The sensor view is deleted later; until then its editors must not answer the next
    // device's connection, which would send sensor commands to a bootloader.
    void viewOnItsWayOutSendsNothingToTheNextDevice()
    {
        QVERIFY(fixture->useShippedModel(QStringLiteral("tessaro.json")));
        auto sensor = fixture->plugSensor();
        viewMain window;
        window.device->SetHotPlugTimerState(false);
        QPointer<view_tessaro> view = qobject_cast<view_tessaro*>(currentPage(window));
        QVERIFY(view && view->systemTab->findChild<QSlider*>());
        sim::SimBus::instance().unplug(sensor.get());
        window.device->hotplugWorker();
        window.device->hotplugWorker();  // an empty bus again: nothing new to log
        auto loader = std::make_shared<sim::SimBootloader>();
        sim::SimBus::instance().plug(loader);
        window.device->hotplugWorker();
        QVERIFY(view);  // not yet deleted
        QCOMPARE(loader->exchangeCount(), 1);
        QCOMPARE(loader->requestCount(sim::SimBootloader::GetInfo), 1);
    }

    void unplugDuringCalibrationLeavesNoFullScreenWindow()
    {
        auto sensor = fixture->plugSensor();
        viewMain window;
        window.show();
        auto* view = qobject_cast<view_tessaro*>(currentPage(window));
        view->calibrateStartButton->setPauseMs(0);
        view->calibrateStartButton->click();
        view->centerButton->click();
        QPointer<QWidget> calibration = view->calibrateWindow.get();
        QPointer<QWidget> centering = view->centerWindow.get();
        QVERIFY(calibration->isVisible() && centering->isVisible());
        sim::SimBus::instance().unplug(sensor.get());
        QTRY_VERIFY(calibration.isNull() && centering.isNull());
    }

    void everyTabFitsTheWindow_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("nl") << "nl";
        QTest::newRow("en") << "en";
        QTest::newRow("de") << "de";
    }

    // In each language every tab shows whole, and opening one never widens the window.
    void everyTabFitsTheWindow()
    {
        QFETCH(QString, code);
        // The shipped catalogue, parameter file, texts and pictures, where the program finds them.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(code);
        QCoreApplication::installTranslator(&translator);
        const auto uninstall = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });
        fixture->plugSensor();

        viewMain window;
        window.show();
        auto* view = qobject_cast<view_tessaro*>(currentPage(window));
        // The poll has filled the information tab while it was hidden.
        QTRY_VERIFY(!view->penRunLabel->text().isEmpty());
        const int width = window.width();
        const QTabBar* tabBar = view->tabs->tabBar();
        for (int i = 0; i < view->tabs->count(); ++i) {
            view->tabs->setCurrentIndex(i);
            QCoreApplication::sendPostedEvents();
            QCOMPARE(window.width(), width);
            QVERIFY2(tabBar->tabRect(tabBar->count() - 1).right() < tabBar->width(),
                     qPrintable(tabBar->tabText(tabBar->count() - 1)));
        }
    }

    void firstWindowFitsTheScreen_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<qreal>("points");  // of the font; 0: the test's own, 1.5 times that at 144 dpi
        QTest::addColumn<QRect>("screen");  // its available area
        const QRect small(0, 0, 1366, 768);
        for (const char* code : {"nl", "en", "de"}) {
            QTest::addRow("%s, 1366 x 768, 96 dpi", code) << QString::fromLatin1(code) << 0.0 << small;
            QTest::addRow("%s, 1366 x 768, 144 dpi", code) << QString::fromLatin1(code) << 1.5 << small;
            // A small font makes the first window's 56 x 35 lines smaller than the sensor view.
            QTest::addRow("%s, 1920 x 1080, 9 pt", code) << QString::fromLatin1(code) << 9.0 << QRect(0, 0, 1920, 1080);
        }
    }

    // The first window lies whole on its screen, frame included. Where the screen is too
    // small its pages scroll, with no caption cut; where it is large enough nothing scrolls.
    void firstWindowFitsTheScreen()
    {
        QFETCH(QString, code);
        QFETCH(qreal, points);
        QFETCH(QRect, screen);
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(code);
        QCoreApplication::installTranslator(&translator);
        // The offscreen screen has 96 dpi: 1.5 times the points is what 144 dpi shows.
        const QFont font = QApplication::font();
        QFont scaled = font;
        scaled.setPointSizeF(points == 0 ? font.pointSizeF() : points < 2 ? font.pointSizeF() * points : points);
        QApplication::setFont(scaled);
        const auto restore = qScopeGuard([&translator, font] {
            QCoreApplication::removeTranslator(&translator);
            QApplication::setFont(font);
        });
        fixture->plugSensor();

        viewMain window;
        auto* view = qobject_cast<view_tessaro*>(currentPage(window));
        QVERIFY(view);
        // Shown first, so that every part has its size, then given the place it takes on that screen.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect placed = window.defaultGeometry(screen);
        QVERIFY(screen.contains(QRect(placed.topLeft(), placed.size() + viewMain::frameAllowance())));
        // Nothing holds it larger.
        QVERIFY(placed.width() >= window.minimumSizeHint().width() && placed.height() >= window.minimumSizeHint().height());
        window.resize(placed.size());
        QTRY_COMPARE(window.size(), placed.size());
        const bool roomy = screen.width() >= 1920;
        for (int i = 0; i < view->tabs->count(); ++i) {
            view->tabs->setCurrentIndex(i);
            QCoreApplication::sendPostedEvents();
            auto* page = qobject_cast<QScrollArea*>(view->tabs->currentWidget());
            QVERIFY(page);
            if (roomy) {
                QVERIFY2(!page->verticalScrollBar()->isVisible() && !page->horizontalScrollBar()->isVisible(),
                         qPrintable(view->tabs->tabText(i)));
            }
            // Each group's title in a place as wide as its drawn text, to the fraction of a pixel.
            const auto boxes = page->widget()->findChildren<QGroupBox*>();
            for (const QGroupBox* box : boxes) {
                QStyleOptionGroupBox option;
                option.initFrom(box);
                option.text = box->title();
                option.lineWidth = 1;
                option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
                option.textAlignment = box->alignment();
                const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
                QVERIFY2(label.width() >= QFontMetricsF(box->font()).horizontalAdvance(box->title().trimmed()), qPrintable(box->title()));
            }
        }
    }

    // Sorted by code, each with a mnemonic that no entry before it took; the tool tip shows
    // the catalogue's text as it is.
    void languageMenuInCodeOrder()
    {
        appSettings().setValue(QStringLiteral("lang"), QStringLiteral("en"));
        viewMain window;
        QStringList entries;
        const auto actions = window.findChild<QActionGroup*>()->actions();
        for (QAction* action : actions) {
            QTextDocument tip;
            tip.setHtml(action->toolTip());
            entries << action->text() + " / " + tip.toPlainText() + (action->isChecked() ? " *" : "");
        }
        QCOMPARE(entries, QStringList({"&Dansk && Co / <b>Danish</b>, da", "D&eutsch / German, de",
                                       "E&nglish / English, en *", "Nede&rlands / Dutch, nl"}));
    }

    void languageChangeRestarts_data()
    {
        QTest::addColumn<QString>("code");  // the entries are in code order: da, de, en, nl
        QTest::addColumn<bool>("started");
        QTest::newRow("other language") << "de" << true;
        QTest::newRow("already checked") << "nl" << true;
        QTest::newRow("new copy does not start") << "de" << false;
    }

    void languageChangeRestarts()
    {
        QFETCH(QString, code);
        QFETCH(bool, started);
        restartStarts = started;
        viewMain window;
        window.show();
        window.move(70, 80);
        QAction* entry = window.findChild<QActionGroup*>()->actions().at(code == QLatin1String("de") ? 1 : 3);
        QTimer::singleShot(0, entry, &QAction::trigger);
        // A copy that did not start leaves this one running.
        QTimer::singleShot(200, [] { QCoreApplication::exit(0); });
        QCOMPARE(QCoreApplication::exec(), started ? viewMain::RestartExitCode : 0);
        QCOMPARE(restarts, QStringList({QCoreApplication::applicationFilePath()}));
        QCOMPARE(appSettings().language(), code);
        QCOMPARE(appSettings().value(QStringLiteral("mainwindow/pos")).toPoint(), QPoint(70, 80));
        QCOMPARE(window.statusBar()->currentMessage(),
                 started ? QString() : QStringLiteral("[menu:file:lang:restartfailed]"));
    }

    // Neither a new copy of the program nor the end of this one may take the link from
    // a sequence that is erasing and writing the sensor's flash.
    void flashingKeepsTheLink()
    {
        sim::SimBus::instance().plug(std::make_shared<sim::SimBootloader>());
        viewMain window;
        window.show();
        auto* view = qobject_cast<view_update*>(currentPage(window));
        view->setSettleTimeMs(100);
        fixture->writeImage(QStringLiteral("image.bin"), sim::makeFirmwareImage(512, "SW 2.5"));
        const QSharedPointer<bootloader> sequence = view->loader;
        sequence->updateFromFile(QStringLiteral("image.bin"));
        QVERIFY(sequence->isBusy());

        QList<QAction*> entries = window.findChild<QActionGroup*>()->actions();
        entries << findByText<QAction>(&window, QStringLiteral("[menu:file:exit]"));
        for (QAction* entry : qAsConst(entries)) {
            QVERIFY(!entry->isEnabled());
            entry->trigger();
        }
        window.close();
        QVERIFY(restarts.isEmpty() && window.isVisible());
        // The refusal says why; the page says not to unplug (the dialog may be behind the
        // window), and the dialog can neither start another run nor go away.
        QCOMPARE(window.statusBar()->findChild<QLabel*>()->text(), QStringLiteral("[flash:closerefused]"));
        QTRY_VERIFY(view->unplugWarning->isVisible());
        view_dialogupdate* dialog = window.updateDialog();
        QVERIFY(!dialog->useFileButton->isEnabled() && !dialog->cancelButton->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(!sequence->isBusy(), 30000);
        for (QAction* entry : qAsConst(entries))
            QVERIFY(entry->isEnabled());
        QVERIFY(dialog->useFileButton->isEnabled() && dialog->cancelButton->isEnabled());
    }

    // File → save and load: tessaroctl's JSON and checks; the unit is named before the first
    // write; values are read back and then stored. A refused file sends no write.
    void sensorSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("file");  // empty: the file the window saved, gain 9
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QString>("told");     // how the last dialog begins
        QTest::addColumn<int>("writes");
        QTest::addColumn<QString>("gain");  // in the sensor afterwards
        QTest::newRow("saved file loads back") << QByteArray() << true << "[settings:load:done]" << 16 << "9";
        QTest::newRow("not confirmed") << QByteArray() << false << "[settings:load:confirm] (saved.json, 16, [settings:unit] (TS-000123, HW 1.1, SW 2.4))"
                                       << 0 << "3";
        QTest::newRow("short names") << QByteArray(R"({"registers":{"expo":300,"gain":6}})") << true
                                     << "[settings:load:done] (2," << 2 << "6";
        QTest::newRow("another model") << QByteArray(R"({"configfile":"tessaro_t9.json","registers":{"sens:gain":4}})")
                                       << true << "[settings:problem:othermodel]" << 0 << "3";
        QTest::newRow("out of range") << QByteArray(R"({"registers":{"sens:gain":4,"sens:expo":5000}})") << true
                                      << "[settings:problem:refused] (sens:expo, 5000," << 0 << "3";
        QTest::newRow("a register twice") << QByteArray(R"({"registers":{"gain":6,"sens:gain":7}})") << true
                                          << "[settings:problem:twice] (sens:gain)" << 0 << "3";
        QTest::newRow("another model's register") << QByteArray(R"({"registers":{"sens:laser":1}})") << true
                                                  << "[settings:problem:unknown] (sens:laser)" << 0 << "3";
        QTest::newRow("over 1 MiB") << QByteArray(R"({"registers":{"sens:gain":4}})").leftJustified(1024 * 1024 + 1, ' ')
                                    << true << "[settings:problem:toolarge]" << 0 << "3";
    }

    void sensorSettingsFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, confirmed);
        QFETCH(QString, told);
        QFETCH(int, writes);
        QVERIFY(fixture->useShippedModel());
        fixture->writeCatalogue({SimFixture::sensorEntry({"SW 2.4"}, {"HW 1.1"}, "tessaro_t1.json")});
        std::shared_ptr<sim::SimSensor> sensor = fixture->plugSensor();
        sensor->setRegister("sens", "gain", 9);
        viewMain window;
        auto* save = findByText<QAction>(&window, QStringLiteral("[menu:file:savesettings]"));
        QTRY_VERIFY(save->isEnabled());
        using TestSupport::Dialogs;
        const auto restore = qScopeGuard([] { Dialogs::confirmAnswer = true; });
        Dialogs::fileAnswer = fixture->dir() + QStringLiteral("/saved.json");
        save->trigger();
        QVERIFY2(Dialogs::shown.constLast().startsWith("[settings:save:title]: [settings:save:done]"),
                 qPrintable(Dialogs::shown.constLast()));
        sensor->setRegister("sens", "gain", 3);
        sensor->clearLog();
        if (!file.isEmpty()) {
            fixture->writeFile(QStringLiteral("other.json"), file);
            Dialogs::fileAnswer = fixture->dir() + QStringLiteral("/other.json");
        }
        Dialogs::confirmAnswer = confirmed;
        findByText<QAction>(&window, QStringLiteral("[menu:file:loadsettings]"))->trigger();
        QVERIFY2(Dialogs::shown.constLast().startsWith(QStringLiteral("[settings:load:title]: ") + told),
                 qPrintable(Dialogs::shown.constLast()));
        QCOMPARE(SimFixture::commands(*sensor).filter(QStringLiteral(":write:")).size(), writes);
        QTEST(QString::fromStdString(sensor->registerValue("sens", "gain").value_or("")), "gain");
        QCOMPARE(sensor->savedRegisterValue("sens", "gain") == std::optional<std::string>("9"), writes == 16);
    }

    // Esc closes the update dialog and the About window; Exit ends the program with both open.
    void exitEndsTheProgram()
    {
        viewMain window;
        window.show();
        QAction* about = findByText<QAction>(&window, QStringLiteral("[menu:info:about]"));
        view_dialogupdate* dialog = window.updateDialog();
        for (int round = 0; round < 2; ++round) {
            window.updateFirmware();
            about->trigger();
            QPointer<view_about> aboutWindow;
            const auto topLevels = QApplication::topLevelWidgets();
            for (QWidget* widget : topLevels) {
                if (!aboutWindow)
                    aboutWindow = qobject_cast<view_about*>(widget);
            }
            QVERIFY(dialog->isVisible() && aboutWindow->isVisible());
            if (round == 1)
                break;
            QTest::keyClick(dialog, Qt::Key_Escape);
            QTest::keyClick(aboutWindow, Qt::Key_Escape);
            QVERIFY(!dialog->isVisible());
            QTRY_VERIFY(aboutWindow.isNull());
        }
        QTimer::singleShot(0, findByText<QAction>(&window, QStringLiteral("[menu:file:exit]")), &QAction::trigger);
        // Only if Exit left the program running.
        QTimer stillRunning;
        connect(&stillRunning, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        stillRunning.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!dialog->isVisible());
    }

    // Without a sensor view the identity last shown stands in; the update log opens as a
    // file; each About click opens a window.
    void infoMenu()
    {
        // Chosen so that the Base64 text holds "+", "/" and "=".
        sensorId = QStringLiteral("ID>>?");
        sensorHw = QStringLiteral("HW 1.1");
        sensorSw = QStringLiteral("SW 2.4");
        const QString data = QString::fromLatin1(QByteArray("ID>>?;HW 1.1;SW 2.4;UTIL 2.2").toBase64());
        viewMain window;
        for (const QString page : {"help", "support", "web", "registration"}) {
            findByText<QAction>(&window, "[menu:info:" + page + "]")->trigger();
            QCOMPARE(browser.urls.size(), 1);
            QCOMPARE(browser.urls.takeFirst().toString(QUrl::FullyEncoded),
                     "http://127.0.0.1:9/utility/" + page + ".php?data=" + data);
        }
        // The update log: none yet, which the status bar says; then the file itself.
        QFile log(FlashLog::filePath());
        log.remove();
        QAction* showLog = findByText<QAction>(&window, QStringLiteral("[menu:info:updatelog]"));
        showLog->trigger();
        QVERIFY(browser.urls.isEmpty());
        QVERIFY(window.statusBar()->currentMessage().startsWith(QStringLiteral("[menu:info:updatelog:none]")));
        QVERIFY(QDir().mkpath(QFileInfo(log).path()) && log.open(QIODevice::WriteOnly));
        showLog->trigger();
        QCOMPARE(browser.urls, QList<QUrl>({QUrl::fromLocalFile(FlashLog::filePath())}));
        // The support report: where asked, with the status line in it; a folder that is not
        // there is said on the status bar.
        for (const QString& name : {QStringLiteral("report.json"), QStringLiteral("missing/report.json")}) {
            const QString path = fixture->dir() + QLatin1Char('/') + name;
            viewMain::askReportPath = [&](QWidget*, const QString&, const QString&) { return path; };
            findByText<QAction>(&window, QStringLiteral("[menu:info:report]"))->trigger();
            QFile report(path);
            const bool saved = report.open(QIODevice::ReadOnly);
            QCOMPARE(saved, !name.startsWith(QLatin1String("missing")));
            QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("[menu:info:report:%1] (%2)")
                                                               .arg(saved ? "saved" : "failed", QDir::toNativeSeparators(path)));
            if (saved)
                QCOMPARE(QJsonDocument::fromJson(report.readAll()).object().value("state").toString(),
                         window.device->busState().text());
        }
        QAction* about = findByText<QAction>(&window, QStringLiteral("[menu:info:about]"));
        about->trigger();
        about->trigger();
        int shown = 0;
        const auto topLevels = QApplication::topLevelWidgets();
        for (QWidget* widget : topLevels) {
            if (auto* view = qobject_cast<view_about*>(widget)) {
                shown += view->isVisible() && view->statusLabel->text().isEmpty() ? 1 : 0;
                view->deleteLater();
            }
        }
        QCOMPARE(shown, 2);
    }
};

TESSARO_TEST_MAIN(tst_viewmain)
#include "tst_viewmain.moc"
