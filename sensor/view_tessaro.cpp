#include "view_tessaro.h"

#include "parameterfile.h"
#include "tessaroeasytable.h"
#include "tessaroidentity.h"
#include "tessaropreset.h"
#include "tessaroregister.h"
#include "view_tessaroparameter_bool.h"
#include "view_tessaroparameter_enum.h"
#include "view_tessaroparameter_int.h"
#include "app/askuser.h"
#include "app/fittingscrollarea.h"
#include "app/plainlabel.h"
#include "app/serviceidentity.h"
#include "app/servicerequest.h"
#include "device/tessaro.h"
#include "device/translatedtext.h"
#include "device/untrustedtext.h"
#include "live/tessaropoll.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "live/view_tessarolive.h"

#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QFrame>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <type_traits>

namespace {

const char* const NotConnected = "Tessaro not connected, ABORT!";
const char* const PictureStyle = "border-style: none; background: transparent";
constexpr int WeatherSize = 64;
constexpr int EasyDefaultMax = 10;
constexpr int FillerStretch = 1000;

// A name from the parameter file, in the user's language where a translation has it.
QString translated(const QString& text)
{
    const QByteArray source = text.toUtf8();
    return UntrustedText::shown(QCoreApplication::translate("view_tessaro", source.constData()));
}

QGraphicsView* pictureView(const QString& file, const QSize& size, QWidget* parent)
{
    auto* scene = new QGraphicsScene(0, 0, size.width(), size.height(), parent);
    const QPixmap picture(file);
    // A missing picture leaves an empty place.
    if (!picture.isNull())
        scene->addPixmap(picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    auto* view = new QGraphicsView(scene, parent);
    view->setStyleSheet(QLatin1String(PictureStyle));
    return view;
}

// Two decimals with the language's decimal sign and no grouping: 1500,00 hours, not 1.500,00.
QString shownNumber(QLocale locale, double value)
{
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 2);
}

// A line that says what a flow has done to the sensor; hidden until it has done something.
QLabel* storedLine()
{
    auto* label = new QLabel;
    label->setWordWrap(true);
    label->hide();
    return label;
}

} // namespace

view_tessaro::view_tessaro(QWidget* parent, tessaro* deviceConnection)
    : QWidget(parent)
    , connection(deviceConnection)
{
    // Released with the view, so no tick can outlive it.
    pollTimer = new QTimer(this);
    pollTimer->setInterval(PollPeriodMs);
    poll = new tessaroPoll(connection, this);
    calibrateWindow = std::make_unique<view_tessarocalibrate>(connection, nullptr);
    centerWindow = std::make_unique<view_tessarocenter>(connection, nullptr);
    liveView = new view_tessarolive(nullptr);
    tabs = new QTabWidget;
    simpleTab = new QFrame;
    infoTab = new QFrame;
    systemTab = new QFrame;
    advancedTab = new QFrame;

    auto* layout = new QHBoxLayout(this);
    auto* tabFrame = new QFrame;
    auto* tabLayout = new QVBoxLayout(tabFrame);
    tabLayout->setContentsMargins(0, 0, 0, 0);
    tabLayout->addWidget(tabs);
    layout->addWidget(tabFrame);
    // The live view's picture has a fixed size: on a low screen it scrolls like the tabs.
    layout->addWidget(new FittingScrollArea(liveView));

    // Every tab whole, in every language: no scroll arrows and no shortened labels.
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    // Each page scrolls on a screen too small for it, rather than push the window past the edge.
    tabs->addTab(new FittingScrollArea(simpleTab), tr("[tab:simple]"));
    tabs->addTab(new FittingScrollArea(infoTab), tr("[tab:info]"));
    tabs->addTab(new FittingScrollArea(systemTab), tr("[tab:system]"));
    tabs->addTab(new FittingScrollArea(advancedTab), tr("[tab:advanced]"));

    buildSimpleTab();
    systemLayout = new QVBoxLayout(systemTab);
    buildInfoTab();

    pollTimer->start();

    connect(connection, &tessaro::connected, this, &view_tessaro::connected);
    connect(connection, &tessaro::disconnected, this, &view_tessaro::disconnected);
    connect(pollTimer, &QTimer::timeout, this, &view_tessaro::dataPollWorker);
    connect(poll, &tessaroPoll::pointReply, this, &view_tessaro::updatePoints);
    connect(poll, &tessaroPoll::penState, this, &view_tessaro::showPenState);
    connect(poll, &tessaroPoll::penIdentity, this, &view_tessaro::showPenId);
    connect(poll, &tessaroPoll::calStateReply, this, &view_tessaro::updateCalState);
    connect(poll, &tessaroPoll::cornersRead, this, &view_tessaro::updateCalPoints);
    connect(this, &view_tessaro::updatePoints, liveView, &view_tessarolive::updatePoints);
    connect(this, &view_tessaro::updatePoints, calibrateWindow.get(), &view_tessarocalibrate::LivePoint);
    connect(this, &view_tessaro::updatePoints, centerWindow.get(), &view_tessarocenter::pointData);
    connect(this, &view_tessaro::updateCalState, liveView, &view_tessarolive::updateCalibration);
    connect(this, &view_tessaro::updateCalPoints, liveView, &view_tessarolive::updateCalPoints);
    connect(centerWindow.get(), &view_tessarocenter::startCal, calibrateStartButton, &QAbstractButton::click);
    connect(calibrateStartButton, &QPushButton::clicked, calibrateWindow.get(), &QWidget::showFullScreen);
    connect(centerButton, &QPushButton::clicked, centerWindow.get(), &QWidget::showFullScreen);
    connect(liveView, &view_tessarolive::CalibrationState, calibrateWindow.get(),
            &view_tessarocalibrate::CalibrationState);
    connect(liveView, &view_tessarolive::CalibrationState, calibrateAbortButton,
            [this](int state) { calibrateAbortButton->setEnabled(state != 0); });
    connect(calibrateAbortButton, &QPushButton::pressed, calibrateWindow.get(), &view_tessarocalibrate::noteAbort);
    connect(calibrateWindow.get(), &view_tessarocalibrate::calibrationEnded, this, [this](const QString& text) {
        calibrationResultLabel->setText(text);
        calibrationResultLabel->show();
    });
    connect(this, &view_tessaro::execCommand, connection, &tessaro::execCommand);
    connect(easySlider, &QSlider::valueChanged, this, &view_tessaro::easyUpdateSensor);
    easySlider->setPageStep(1);
}

view_tessaro::~view_tessaro()
{
    // A check still out is dropped before the view's members go.
    delete networkManager;
}

void view_tessaro::buildSimpleTab()
{
    auto* layout = new QVBoxLayout(simpleTab);

    auto* easyGroup = new QGroupBox(tr("[simple:easythr]"));
    auto* easyGroupLayout = new QVBoxLayout(easyGroup);
    auto* easyLayout = new QHBoxLayout;
    easyGroupLayout->addLayout(easyLayout);
    easyStoredLabel = storedLine();
    easyGroupLayout->addWidget(easyStoredLabel);
    easySlider = new QSlider(Qt::Horizontal);
    easySlider->setRange(0, EasyDefaultMax);
    easySlider->setTickInterval(1);
    easySlider->setTickPosition(QSlider::TicksBelow);
    easyLayout->addWidget(pictureView(QStringLiteral("rc/cload.png"), QSize(WeatherSize, WeatherSize), easyGroup));
    easyLayout->addWidget(easySlider);
    easyLayout->addWidget(pictureView(QStringLiteral("rc/sun.png"), QSize(WeatherSize, WeatherSize), easyGroup));
    layout->addWidget(easyGroup);

    auto* presetGroup = new QGroupBox(tr("[simple:preset]"));
    auto* presetLayout = new QGridLayout(presetGroup);
    presetCombo = new QComboBox;
    presetInfo = new PlainLabel;
    presetInfo->setMinimumHeight(150);
    presetInfo->setWordWrap(true);
    presetInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* saveButton = new QPushButton(tr("[simple:save]"));
    presetLayout->addWidget(new QLabel(tr("[simple:presets]")), 0, 0, Qt::AlignTop);
    presetLayout->addWidget(presetCombo, 0, 1, Qt::AlignTop);
    presetLayout->addWidget(presetInfo, 1, 0, 1, -1, Qt::AlignLeft | Qt::AlignTop);
    presetLayout->addWidget(saveButton, 2, 0, 1, -1, Qt::AlignBottom);
    presetStoredLabel = storedLine();
    presetLayout->addWidget(presetStoredLabel, 3, 0, 1, -1);
    connect(saveButton, &QPushButton::clicked, this, &view_tessaro::simpleUpdateSensor);
    layout->addWidget(presetGroup);

    layout->addStretch(FillerStretch);

    centerButton = new QPushButton(tr("[sys:calibrate:center]"));
    calibrateStartButton = new tessaroPushButton(tr("[sys:calibrate:start]"), QStringLiteral("cal:start;"), nullptr);
    calibrateAbortButton = new tessaroPushButton(tr("[sys:calibrate:abort]"), QStringLiteral("cal:abort;"), nullptr);
    // There is nothing to abort until the sensor reports a calibration running.
    calibrateAbortButton->setEnabled(false);
    layout->addWidget(centerButton);
    layout->addWidget(calibrateStartButton);
    layout->addWidget(calibrateAbortButton);
    calibrationResultLabel = storedLine();
    layout->addWidget(calibrationResultLabel);
    connect(calibrateStartButton, &tessaroPushButton::execCommand, connection, &tessaro::execCommand);
    connect(calibrateAbortButton, &tessaroPushButton::execCommand, connection, &tessaro::execCommand);

    presetCombo->setCurrentIndex(0);
}

void view_tessaro::buildInfoTab()
{
    auto* layout = new QVBoxLayout(infoTab);
    layout->addWidget(buildSensorGroup());
    layout->addWidget(buildPenGroup());
    layout->addWidget(buildPenLiveGroup());
    layout->addStretch(FillerStretch);
}

QWidget* view_tessaro::buildSensorGroup()
{
    auto* group = new QGroupBox(tr("[info:sensor]"));
    auto* grid = new QGridLayout(group);
    idLabel = new PlainLabel;
    hwLabel = new PlainLabel;
    swLabel = new PlainLabel;
    swBuildLabel = new PlainLabel;
    statusLabel = new QLabel;
    const QList<QPair<QString, QLabel*>> rows = {{tr("[info:sensor:id]"), idLabel},
                                                 {tr("[info:sensor:hw]"), hwLabel},
                                                 {tr("[info:sensor:sw]"), swLabel},
                                                 {tr("[info:sensor:swbuild]"), swBuildLabel}};
    for (int row = 0; row < rows.size(); ++row) {
        grid->addWidget(new QLabel(rows.at(row).first), row, 0);
        rows.at(row).second->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        grid->addWidget(rows.at(row).second, row, 1);
    }
    grid->addWidget(statusLabel, rows.size(), 0, 1, 2);
    copyButton = new QPushButton(tr("[info:copy]"));
    grid->addWidget(copyButton, 0, 2, Qt::AlignRight | Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    connect(copyButton, &QPushButton::clicked, this, &view_tessaro::copyIdentity);
    return group;
}

QString view_tessaro::identityText() const
{
    // One "caption value" line each, as a support request or a service report quotes them.
    const QList<QPair<const char*, QLabel*>> rows = {{"[info:sensor:id]", idLabel},
                                                     {"[info:sensor:hw]", hwLabel},
                                                     {"[info:sensor:sw]", swLabel},
                                                     {"[info:pen:id]", penIdLabel},
                                                     {"[info:pen:swver]", penSwLabel}};
    QStringList lines;
    for (const auto& row : rows)
        lines << tr(row.first) + QLatin1Char(' ') + row.second->text();
    return lines.join(QLatin1Char('\n'));
}

void view_tessaro::copyIdentity()
{
    QGuiApplication::clipboard()->setText(identityText());
}

QWidget* view_tessaro::buildPenGroup()
{
    auto* group = new QGroupBox(tr("[info:pen]"));
    auto* grid = new QGridLayout(group);
    penIdLabel = new PlainLabel;
    penSwLabel = new PlainLabel;
    penIdStatusLabel = new QLabel;
    grid->addWidget(new QLabel(tr("[info:pen:id]")), 0, 0);
    grid->addWidget(penIdLabel, 0, 1);
    grid->addWidget(new QLabel(tr("[info:pen:swver]")), 1, 0);
    grid->addWidget(penSwLabel, 1, 1);
    grid->addWidget(penIdStatusLabel, 2, 0, 1, -1);
    return group;
}

QWidget* view_tessaro::buildPenLiveGroup()
{
    auto* group = new QGroupBox(tr("[live:pen]"));
    auto* grid = new QGridLayout(group);
    penVoltLabel = new QLabel;
    penRunLabel = new QLabel;
    grid->addWidget(new QLabel(tr("[live:pen:batt]") + QLatin1Char(':')), 0, 0);
    grid->addWidget(penVoltLabel, 0, 1);
    grid->addWidget(new QLabel(tr("[live:pen:run]") + QLatin1Char(':')), 1, 0);
    grid->addWidget(penRunLabel, 1, 1);

    for (int i = 0; i < BatteryPicture::LevelCount; ++i)
        batteryPixmaps[i] = QPixmap(QLatin1String(BatteryPicture::file(static_cast<BatteryPicture::Level>(i))));
    auto* scene = new QGraphicsScene(0, 0, BatteryPicture::Width, BatteryPicture::Height, group);
    batteryItem = scene->addPixmap(batteryPixmaps[BatteryPicture::Unknown]);
    batteryItem->setPos(0, 0);
    batteryItem->setRotation(0);
    auto* view = new QGraphicsView(scene);
    view->setStyleSheet(QLatin1String(PictureStyle));
    view->setMaximumSize(BatteryPicture::Width, BatteryPicture::Height);
    grid->addWidget(view, 0, 2, 2, 1);
    grid->setColumnStretch(0, 50);
    grid->setColumnStretch(1, 25);
    grid->setColumnStretch(2, 25);
    return group;
}

void view_tessaro::reloadUi()
{
    connect(tabs, &QTabWidget::currentChanged, this, &view_tessaro::tabChanged, Qt::UniqueConnection);

    const QJsonDocument document = ParameterFile::read(connection->configFile);
    if (document.isNull())
        return;
    const QJsonObject file = document.object();

    buildSystemGroups(file);
    updateEasy();
    fillPresets(file);
    buildAdvancedTab(file);
    if (readIdentity())
        sendCheckRequest();
}

bool view_tessaro::addParameterRow(QGridLayout* grid, const QJsonObject& parameter)
{
    const QString name = ParameterFile::text(parameter.value(QLatin1String("name")));
    const QString regname = ParameterFile::text(parameter.value(QLatin1String("regname")));
    const QString module = ParameterFile::text(parameter.value(QLatin1String("module")));
    const QString type = ParameterFile::text(parameter.value(QLatin1String("type")));
    if (!ParameterFile::hasNames(parameter)) {
        qDebug().noquote() << "parameter row refused, a name holds more than letters, digits and _:"
                           << ParameterFile::rowName(parameter);
        return false;
    }

    auto* caption = new PlainLabel(translated(name));
    // Only the advanced tab has a save button: its rows are marked until it is pressed.
    const bool marked = grid == advancedLayout;
    auto markOnWrite = [this, caption, marked](auto* editor) {
        using Editor = std::remove_pointer_t<decltype(editor)>;
        if (marked)
            connect(editor, &Editor::written, this, [this, caption] { markUnsaved(caption); });
    };
    QWidget* editor = nullptr;
    if (type == QLatin1String("int")) {
        editor = new view_tessaroParameter_int(nullptr, connection, module, regname,
                                               ParameterFile::integer(parameter.value(QLatin1String("min"))),
                                               ParameterFile::integer(parameter.value(QLatin1String("max"))));
        connect(this, &view_tessaro::updateAdv, static_cast<view_tessaroParameter_int*>(editor),
                &view_tessaroParameter_int::connected);
        markOnWrite(static_cast<view_tessaroParameter_int*>(editor));
    } else if (type == QLatin1String("bool")) {
        editor = new view_tessaroParameter_bool(nullptr, connection, module, regname);
        connect(this, &view_tessaro::updateAdv, static_cast<view_tessaroParameter_bool*>(editor),
                &view_tessaroParameter_bool::connected);
        markOnWrite(static_cast<view_tessaroParameter_bool*>(editor));
    } else if (type == QLatin1String("enum")) {
        editor = new view_tessaroParameter_enum(
            nullptr, connection, module, regname,
            ParameterFile::choices(ParameterFile::array(parameter, "values"), "view_tessaro"));
        connect(this, &view_tessaro::updateAdv, static_cast<view_tessaroParameter_enum*>(editor),
                &view_tessaroParameter_enum::connected);
        markOnWrite(static_cast<view_tessaroParameter_enum*>(editor));
    } else {
        delete caption;
        return false;
    }
    const int row = grid->rowCount() == 1 && !grid->itemAtPosition(0, 0) ? 0 : grid->rowCount();
    grid->addWidget(caption, row, 0);
    grid->addWidget(editor, row, 1);
    return true;
}

void view_tessaro::buildSystemGroups(const QJsonObject& file)
{
    while (QLayoutItem* item = systemLayout->takeAt(0)) {
        if (item->widget())
            item->widget()->deleteLater();
        delete item;
    }
    const QJsonArray groups = ParameterFile::array(file, "parameters_system");
    for (const QJsonValue& value : groups) {
        const QJsonObject group = value.toObject();
        auto* box = new QGroupBox(translated(ParameterFile::text(group.value(QLatin1String("name")))));
        auto* grid = new QGridLayout(box);
        const QJsonArray parameters = ParameterFile::array(group, "parameters");
        for (const QJsonValue& parameter : parameters) {
            if (parameter.isObject())
                addParameterRow(grid, parameter.toObject());
        }
        systemLayout->addWidget(box);
    }
    systemLayout->addWidget(new QWidget, FillerStretch);
}

void view_tessaro::fillPresets(const QJsonObject& file)
{
    presetCombo->clear();
    const QJsonArray presets = ParameterFile::array(file, "parameters_simple");
    for (const QJsonValue& value : presets) {
        const QJsonObject preset = value.toObject();
        presetCombo->addItem(UntrustedText::shown(ParameterFile::text(preset.value(QLatin1String("name")))), preset);
    }
    connect(presetCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, &view_tessaro::simpleChangedIndex,
            Qt::UniqueConnection);
    presetCombo->setCurrentIndex(0);
    simpleChangedIndex(0);
}

void view_tessaro::buildAdvancedTab(const QJsonObject& file)
{
    QWidget* oldTab = tabs->widget(tabIndex(advancedTab));
    tabs->removeTab(tabIndex(advancedTab));
    oldTab->deleteLater();
    advancedTab = new QFrame;
    advancedLayout = new QGridLayout(advancedTab);
    tabs->addTab(new FittingScrollArea(advancedTab), tr("[tab:advanced]"));

    const QJsonArray parameters = ParameterFile::array(file, "parameters_advanced");
    for (const QJsonValue& parameter : parameters)
        addParameterRow(advancedLayout, parameter.toObject());

    const int r = advancedLayout->rowCount();
    advancedLayout->addWidget(new QWidget, r, 0);
    advancedLayout->setRowStretch(r, FillerStretch);
    auto* buttonBar = new QWidget;
    auto* buttonLayout = new QHBoxLayout(buttonBar);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    auto* reloadButton = new tessaroPushButton(tr("[adv:btn:reload]"), QStringLiteral("sens:reset;"), nullptr);
    auto* saveButton = new tessaroPushButton(
        tr("[adv:btn:save]"), QStringList({QStringLiteral("sens:reset;"), QStringLiteral("sens:commit;")}), nullptr);
    buttonLayout->addWidget(reloadButton);
    buttonLayout->addWidget(saveButton);
    connect(reloadButton, &tessaroPushButton::execCommand, connection, &tessaro::execCommand);
    // After the button's reset (connected before this): every editor reads its register again.
    connect(reloadButton, &QPushButton::pressed, this, &view_tessaro::updateAdv);
    connect(saveButton, &tessaroPushButton::execCommand, connection, &tessaro::execCommand);
    // The reset brings back the values stored in the sensor: nothing is left unsaved.
    connect(reloadButton, &QPushButton::clicked, this, [this] { clearUnsaved(QString()); });
    connect(saveButton, &QPushButton::clicked, this, [this] {
        if (connection->isConnected)
            clearUnsaved(tr("[sensor:stored]"));
    });
    unsavedRows.clear();
    unsavedLabel = storedLine();
    advancedLayout->addWidget(unsavedLabel, r + 1, 0, 1, 3);
    advancedLayout->addWidget(buttonBar, r + 2, 0, 1, 3);
}

bool view_tessaro::readIdentity()
{
    tessaroIdentity identity;
    const bool ok = identity.read(connection);
    if (identity.id)
        idLabel->setText(UntrustedText::shown(*identity.id));
    if (!ok)
        return false;
    if (identity.hasVersion) {
        centerWindow->hardwareVersion = identity.hardware;
        hwLabel->setText(UntrustedText::shown(identity.hardware));
        swLabel->setText(UntrustedText::shown(identity.firmware));
        swBuildLabel->setText(UntrustedText::shown(identity.buildDate()));
    }

    sensorSw = swLabel->text();
    sensorHw = hwLabel->text();
    sensorId = idLabel->text();
    return true;
}

void view_tessaro::sendCheckRequest()
{
    checkData = serviceQueryText(idLabel->text(), hwLabel->text(), swLabel->text());
    // One manager for the view, a child of it: a reply that comes after the view is gone
    // is dropped with it. A newer check replaces one still out.
    if (!networkManager) {
        networkManager = new QNetworkAccessManager(this);
        checkRequest = new ServiceRequest(networkManager, networkManager);
        connect(checkRequest, &ServiceRequest::finished, this, &view_tessaro::checkReplyFinished);
    }
    checkRequest->get(serviceUrl("/utility/check.php?data=", checkData));
}

void view_tessaro::checkReplyFinished(bool answered, const QByteArray& body)
{
    if (answered) {
        const QStringList parts = QString::fromLatin1(body).split(QLatin1Char(';'));
        if (parts.at(0) == QLatin1String("true"))
            firmwareStatusText = tr("[info:sensor:uptodate]");
        else if (parts.at(0) == QLatin1String("false"))
            firmwareStatusText = tr("[info:sensor:newfirm]");
        if (parts.size() > 1 && parts.at(1) == QLatin1String("true"))
            softwareStatusText = tr("[menu:info:about:uptodate]");
        else if (parts.size() > 1 && parts.at(1) == QLatin1String("false"))
            softwareStatusText = tr("[menu:info:about:newsoft]");
    }
}

int view_tessaro::tabIndex(const QWidget* page) const
{
    for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->widget(i)->isAncestorOf(page))
            return i;
    }
    return -1;
}

void view_tessaro::tabChanged(int index)
{
    if (index == tabIndex(advancedTab))
        emit updateAdv();
    if (index == tabIndex(systemTab))
        emit updateAdv();
    if (index == tabIndex(simpleTab))
        updateEasy();
}

void view_tessaro::updateEasy()
{
    const QJsonDocument document = ParameterFile::read(connection->configFile);
    if (document.isNull())
        return;

    tessaroEasyTable easy;
    if (!easy.readMode(connection, document.object()))
        return;
    easyRegister = easy.registerName;
    if (!easy.readCurrent(connection))
        return;
    easyTable = easy.table;

    // Only shows what the sensor holds: the slider's own notification would write the
    // nearest entry over it as if the user had moved the slider.
    const QSignalBlocker showOnly(easySlider);
    easySlider->setMaximum(easyTable.size() - 1);
    easySlider->setMinimum(0);
    easySlider->setValue(tessaroEasyTable::nearestIndex(easyTable, easy.current));
}

void view_tessaro::easyUpdateSensor(int val)
{
    Q_UNUSED(val)
    if (!connection->isConnected) {
        qDebug() << NotConnected;
        return;
    }
    tessaroEasyTable easy;
    easy.registerName = easyRegister;
    easy.table = easyTable;
    if (!easy.writePosition(connection, easySlider->value()))
        return;
    commitAndReset();
    showStored(easyStoredLabel);
}

void view_tessaro::simpleChangedIndex(int index)
{
    const QJsonObject preset = presetCombo->itemData(index).toJsonObject();
    presetInfo->setText(UntrustedText::shown(ParameterFile::text(preset.value(QLatin1String("info"))), UntrustedText::LineCap));
}

void view_tessaro::simpleUpdateSensor()
{
    // A preset overwrites several settings and stores them: the user names it once more.
    const QString question = fillTranslation(tr("[simple:save:confirm]"),
                                             {UntrustedText::shown(presetCombo->currentText()), UntrustedText::shown(idLabel->text())});
    const QPointer<view_tessaro> self(this);
    if (!AskUser::confirm(this, tr("[simple:preset]"), question) || !self)
        return;
    if (!TessaroPreset::writeAll(connection, presetCombo->currentData().toJsonObject()))
        return;
    commitAndReset();
    showStored(presetStoredLabel);
}

void view_tessaro::showStored(QLabel* line)
{
    // The commit's reply is not read: a link still open is as far as the window can tell.
    line->setVisible(connection->isConnected);
    line->setText(tr("[sensor:stored]"));
    // The commit stored every register, the advanced tab's written ones too.
    if (connection->isConnected && !unsavedRows.isEmpty())
        clearUnsaved(tr("[sensor:stored]"));
}

void view_tessaro::markUnsaved(QLabel* caption)
{
    QFont font = caption->font();
    font.setBold(true);
    caption->setFont(font);
    if (!unsavedRows.contains(caption))
        unsavedRows << caption;
    unsavedLabel->setText(tr("[adv:unsaved]"));
    unsavedLabel->show();
}

void view_tessaro::clearUnsaved(const QString& said)
{
    for (const QPointer<QLabel>& caption : qAsConst(unsavedRows)) {
        if (!caption)
            continue;
        QFont font = caption->font();
        font.setBold(false);
        caption->setFont(font);
    }
    unsavedRows.clear();
    unsavedLabel->setText(said);
    unsavedLabel->setVisible(!said.isEmpty());
}

void view_tessaro::commitAndReset()
{
    const QStringList commands = TessaroPreset::commitAndReset();
    for (const QString& command : commands)
        emit execCommand(command);
}

void view_tessaro::updateFirmware()
{
    emit execCommand(QStringLiteral("app:bootloader;"));
}

void view_tessaro::connected()
{
}

void view_tessaro::disconnected()
{
    pollTimer->stop();
}

void view_tessaro::showBattery(BatteryPicture::Level battery)
{
    batteryItem->setPixmap(batteryPixmaps[battery]);
}

void view_tessaro::dataPollWorker()
{
    statusLabel->setText(firmwareStatusText);
    poll->tick();
}

void view_tessaro::showPenState(const tessaroPenState& state)
{
    if (!state.valid) {
        penVoltLabel->setText(tr("[live:pen:nodata]"));
        penRunLabel->setText(tr("[live:pen:nodata]"));
        return;
    }
    if (!state.hasBattery) {
        liveView->setPenBattery(-1.0);
        penVoltLabel->setText(tr("[live:pen:nodata]"));
        showBattery(BatteryPicture::Unknown);
    } else {
        liveView->setPenBattery(state.volts);
        showBattery(BatteryPicture::forVoltage(state.volts));
        penVoltLabel->setText(shownNumber(locale(), state.volts) + QLatin1Char(' ') + tr("[live:pen:volt]"));
    }
    if (!state.hasRunning)
        penRunLabel->setText(tr("[live:pen:nodata]"));
    else
        penRunLabel->setText(shownNumber(locale(), state.runningHours) + QLatin1Char(' ')
                             + tr("[live:pen:hours]"));
}

void view_tessaro::showPenId(const tessaroPenIdentity& identity)
{
    penIdLabel->setText(UntrustedText::shown(identity.id));
    penIdStatusLabel->setText(identity.ready ? tr("[info:pen:id:ready]") : tr("[info:pen:id:acquire]"));
    penSwLabel->setText(identity.versionText());
}
