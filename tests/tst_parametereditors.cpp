// Register editors: reading on connection, reply rules, and when a user action writes.
#include "device/tessaro.h"
#include "sensor/view_tessaroparameter_bool.h"
#include "sensor/view_tessaroparameter_enum.h"
#include "sensor/view_tessaroparameter_int.h"
#include "simfixture.h"
#include "testmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <functional>
#include <optional>

namespace {

const char* const NotConnected = "Tessaro not connected, ABORT!";
const char* const ExchangeFailed = "Error reading Tessaro, ABORT!";
const QString Module = QStringLiteral("sens");
const QString Register = QStringLiteral("conf1thr");
const QString ReadCommand = QStringLiteral("sens:read:conf1thr;");
// Longer than an integer editor waits for a keyboard or wheel change to settle.
constexpr int SettledMs = 1000;

enum class Kind { Int, Enum, Bool };

QString writeCommand(int value)
{
    return QStringLiteral("sens:write:conf1thr:%1;").arg(value);
}

// Choices as the sensor view builds them: text to value, kept sorted by text.
QMap<QString, int> choices()
{
    return {{QStringLiteral("off"), 0}, {QStringLiteral("auto"), 1}, {QStringLiteral("high"), 5}};
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void sendWheel(QWidget* widget, int angle)
{
    const QPoint pos = widget->rect().center();
    QWheelEvent event(QPointF(pos), QPointF(widget->mapToGlobal(pos)), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

QRect sliderHandle(QSlider* slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.tickPosition = slider->tickPosition();
    option.tickInterval = slider->tickInterval();
    option.upsideDown = slider->invertedAppearance();
    option.direction = Qt::LeftToRight;
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    if (slider->orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
}

QRect spinBoxUpButton(QSpinBox* spinBox)
{
    QStyleOptionSpinBox option;
    option.initFrom(spinBox);
    option.subControls = QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown
                       | QStyle::SC_SpinBoxEditField;
    option.frame = spinBox->hasFrame();
    option.buttonSymbols = spinBox->buttonSymbols();
    option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    return spinBox->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, spinBox);
}

// Presses the slider's handle, drags it by dx pixels in steps, and lets it go.
void dragHandle(QSlider* slider, int dx, const std::function<void()>& whileDragging = {})
{
    QPoint pos = sliderHandle(slider).center();
    sendMouse(slider, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    const int steps = 5;
    for (int i = 1; i <= steps; ++i) {
        const QPoint to = pos + QPoint(dx * i / steps, 0);
        sendMouse(slider, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    }
    if (whileDragging)
        whileDragging();
    pos += QPoint(dx, 0);
    sendMouse(slider, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class tst_parametereditors : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    QPointer<tessaro> device;
    std::shared_ptr<sim::SimSensor> sensor;
    QPointer<QWidget> window;

    QStringList sent() const { return SimFixture::commands(*sensor); }

    // The sensor's answer to the read of conf1thr: the value followed by an empty field.
    void setRegister(const QString& value)
    {
        sensor->setReply(ReadCommand.toStdString(), QStringLiteral("sens:read:conf1thr:%1:;").arg(value).toStdString());
    }

    template <typename Editor>
    Editor* place(Editor* editor)
    {
        // The sensor view creates editors without parent and lets its layout adopt them.
        window->layout()->addWidget(editor);
        return editor;
    }

    view_tessaroParameter_int* intEditor(int minimum = -10, int maximum = 255)
    {
        return place(new view_tessaroParameter_int(nullptr, device, Module, Register, minimum, maximum));
    }
    view_tessaroParameter_enum* enumEditor(const QMap<QString, int>& values = choices())
    {
        return place(new view_tessaroParameter_enum(nullptr, device, Module, Register, values));
    }
    view_tessaroParameter_bool* boolEditor()
    {
        return place(new view_tessaroParameter_bool(nullptr, device, Module, Register));
    }
    QWidget* editor(Kind kind)
    {
        switch (kind) {
        case Kind::Int:
            return intEditor();
        case Kind::Enum:
            return enumEditor();
        case Kind::Bool:
            return boolEditor();
        }
        return nullptr;
    }

    void showWindow()
    {
        window->resize(400, 200);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->layout()->activate();
    }

    void activateWindow()
    {
        showWindow();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    // One commit of the kind's user action; returns the write it must cause.
    QString commit(QWidget* w, Kind kind)
    {
        switch (kind) {
        case Kind::Int: {
            auto* e = static_cast<view_tessaroParameter_int*>(w);
            dragHandle(e->slider, 20);
            return writeCommand(e->slider->value());
        }
        case Kind::Enum: {
            auto* e = static_cast<view_tessaroParameter_enum*>(w);
            const int next = (e->comboBox->currentIndex() + 1) % e->comboBox->count();
            e->comboBox->setCurrentIndex(next);
            return writeCommand(e->comboBox->currentData().toInt());
        }
        case Kind::Bool: {
            auto* e = static_cast<view_tessaroParameter_bool*>(w);
            QTest::keyClick(e->checkBox, Qt::Key_Space);
            return writeCommand(e->checkBox->isChecked() ? 1 : 0);
        }
        }
        return QString();
    }

    // What opening the system or advanced tab does: one more read.
    static void reread(QWidget* w, Kind kind)
    {
        switch (kind) {
        case Kind::Int:
            static_cast<view_tessaroParameter_int*>(w)->connected();
            break;
        case Kind::Enum:
            static_cast<view_tessaroParameter_enum*>(w)->connected();
            break;
        case Kind::Bool:
            static_cast<view_tessaroParameter_bool*>(w)->connected();
            break;
        }
    }

    static void addKinds()
    {
        QTest::addColumn<Kind>("kind");
        QTest::newRow("int") << Kind::Int;
        QTest::newRow("enum") << Kind::Enum;
        QTest::newRow("bool") << Kind::Bool;
    }

    // Opens the link again without announcing it, so that no editor reads by itself.
    void reopenQuietly()
    {
        const QSignalBlocker quiet(device);
        device->hotplugWorker();
        QVERIFY(device->isConnected);
        sensor->clearLog();
    }

private slots:
    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        sensor = fixture->plugSensor();
        device = SimFixture::openConnection();
        QVERIFY(device);
        window = new QWidget;
        new QVBoxLayout(window);
    }

    void cleanup()
    {
        delete window;
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

    void intEditorWidgets_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("shown");
        QTest::newRow("0..255") << 0 << 255 << 0;
        QTest::newRow("10..20") << 10 << 20 << 10;
        QTest::newRow("-20..-5") << -20 << -5 << -5;
        QTest::newRow("numbers in the file: 0..0") << 0 << 0 << 0;
        QTest::newRow("minimum above maximum") << 9 << 3 << 9;
    }

    void intEditorWidgets()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, shown);
        auto* e = intEditor(minimum, maximum);
        QCOMPARE(e->module, Module);
        QCOMPARE(e->regname, Register);
        QCOMPARE(e->connection, device.data());
        QCOMPARE(e->slider->orientation(), Qt::Horizontal);
        QCOMPARE(e->slider->parentWidget(), e);
        QCOMPARE(e->spinBox->parentWidget(), e);
        // Squeezed to the smallest the layout allows, the spin box still shows every value whole.
        window->resize(1, 1);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->layout()->activate();
        const QLineEdit* edit = e->spinBox->findChild<QLineEdit*>();
        for (const int value : {minimum, maximum})
            QVERIFY2(edit->width() > edit->fontMetrics().horizontalAdvance(QString::number(value)),
                     qPrintable(QStringLiteral("%1 in %2 pixels").arg(value).arg(edit->width())));
        QCOMPARE(e->slider->minimum(), minimum);
        QCOMPARE(e->spinBox->minimum(), minimum);
        QCOMPARE(e->slider->maximum(), qMax(minimum, maximum));
        QCOMPARE(e->spinBox->maximum(), qMax(minimum, maximum));
        QCOMPARE(e->slider->value(), shown);
        QCOMPARE(e->spinBox->value(), shown);

        auto* layout = qobject_cast<QHBoxLayout*>(e->layout());
        QVERIFY(layout);
        QCOMPARE(layout->contentsMargins(), QMargins());
        QCOMPARE(layout->count(), 2);
        QCOMPARE(layout->itemAt(0)->widget(), e->slider);
        QCOMPARE(layout->itemAt(1)->widget(), e->spinBox);

        e->disconnected();
        QVERIFY(sent().isEmpty());
    }

    void intWidgetsFollowEachOther()
    {
        auto* e = intEditor(0, 255);
        e->spinBox->setValue(77);
        QCOMPARE(e->slider->value(), 77);
        e->slider->setValue(12);
        QCOMPARE(e->spinBox->value(), 12);
        QVERIFY(sent().isEmpty());
    }

    void enumEditorWidgets()
    {
        const QMap<QString, int> values{{QStringLiteral("off"), 0},
                                        {QStringLiteral("auto"), 1},
                                        {QStringLiteral("high"), 5},
                                        {QStringLiteral("Zeta"), 9}};
        auto* e = enumEditor(values);
        QCOMPARE(e->values, values);
        QCOMPARE(e->connection, device.data());
        QCOMPARE(e->comboBox->parentWidget(), e);
        // Key order of the map: plain string comparison, capitals first.
        const QStringList texts{"Zeta", "auto", "high", "off"};
        const QList<int> data{9, 1, 5, 0};
        QCOMPARE(e->comboBox->count(), texts.size());
        for (int i = 0; i < texts.size(); ++i) {
            QCOMPARE(e->comboBox->itemText(i), texts.at(i));
            QCOMPARE(e->comboBox->itemData(i, Qt::UserRole), QVariant(data.at(i)));
        }
        QCOMPARE(e->comboBox->currentIndex(), 0);

        auto* layout = qobject_cast<QHBoxLayout*>(e->layout());
        QVERIFY(layout);
        QCOMPARE(layout->contentsMargins(), QMargins());
        QCOMPARE(layout->count(), 1);
        QCOMPARE(layout->itemAt(0)->widget(), e->comboBox);
        e->disconnected();
        QVERIFY(sent().isEmpty());
    }

    void boolEditorWidgets()
    {
        auto* e = boolEditor();
        QCOMPARE(e->connection, device.data());
        QCOMPARE(e->checkBox->parentWidget(), e);
        QVERIFY(e->checkBox->text().isEmpty());
        QVERIFY(!e->checkBox->isChecked());
        QVERIFY(!e->lastState.has_value());

        auto* layout = qobject_cast<QHBoxLayout*>(e->layout());
        QVERIFY(layout);
        QCOMPARE(layout->contentsMargins(), QMargins());
        QCOMPARE(layout->count(), 1);
        QCOMPARE(layout->itemAt(0)->widget(), e->checkBox);
        e->disconnected();
        QVERIFY(sent().isEmpty());
    }

    void everyEditorReadsOnConnectedLoad()
    {
        place(new view_tessaroParameter_int(nullptr, device, "sens", "a", 0, 9));
        place(new view_tessaroParameter_enum(nullptr, device, "pen", "b", choices()));
        place(new view_tessaroParameter_bool(nullptr, device, "app", "c"));
        QVERIFY(sent().isEmpty());
        emit device->connectedLoad();
        QCOMPARE(sent(), QStringList({"sens:read:a;", "pen:read:b;", "app:read:c;"}));
    }

    void readFollowsArrivalOfTheSensor()
    {
        auto* e = intEditor();
        setRegister("42");
        device->disconnectDevice();
        sensor->clearLog();
        device->hotplugWorker();
        QCOMPARE(sent(), QStringList({"app:version;", ReadCommand}));
        QCOMPARE(e->slider->value(), 42);
    }

    void intReplyRules_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("shown");
        // The editor shows 17 before the read.
        QTest::newRow("four fields") << "sens:read:conf1thr:42;" << 17;
        QTest::newRow("trailing colon") << "sens:read:conf1thr:42:;" << 42;
        QTest::newRow("five fields") << "sens:read:conf1thr:42:0;" << 42;
        QTest::newRow("more fields") << "sens:read:conf1thr:42:a:b;" << 42;
        QTest::newRow("no semicolon") << "sens:read:conf1thr:42:" << 42;
        QTest::newRow("negative") << "sens:read:conf1thr:-7:;" << -7;
        QTest::newRow("non-numeric") << "sens:read:conf1thr:abc:;" << 0;
        QTest::newRow("empty value") << "sens:read:conf1thr::;" << 0;
        QTest::newRow("hexadecimal") << "sens:read:conf1thr:0x1f:;" << 0;
        QTest::newRow("leading zero is decimal") << "sens:read:conf1thr:010:;" << 10;
        QTest::newRow("above range") << "sens:read:conf1thr:300:;" << 255;
        QTest::newRow("below range") << "sens:read:conf1thr:-50:;" << -10;
        QTest::newRow("beyond int") << "sens:read:conf1thr:99999999999:;" << 0;
        QTest::newRow("error echo") << "sens:read:conf1thr:err;" << 17;
        QTest::newRow("empty reply") << "" << 17;
    }

    void intReplyRules()
    {
        QFETCH(QString, reply);
        QFETCH(int, shown);
        auto* e = intEditor(-10, 255);
        e->slider->setValue(17);
        sensor->setReply(ReadCommand.toStdString(), reply.toStdString());
        emit device->connectedLoad();
        QCOMPARE(e->slider->value(), shown);
        QCOMPARE(e->spinBox->value(), shown);
        // Showing what was read never writes it back.
        QCOMPARE(sent(), QStringList({ReadCommand}));
    }

    void sensorWithoutReplyLeavesEditor()
    {
        auto* e = intEditor();
        e->slider->setValue(17);
        sensor->injectFault(1, sim::Fault::NoReply);
        emit device->connectedLoad();
        QCOMPARE(e->slider->value(), 17);
        QVERIFY(device->isConnected);
        // The read counted as done: a release writes.
        sensor->clearLog();
        emit e->slider->sliderReleased();
        QCOMPARE(sent(), QStringList({writeCommand(17)}));
    }

    void dragWritesOnceOnRelease()
    {
        auto* e = intEditor(0, 255);
        showWindow();
        setRegister("40");
        emit device->connectedLoad();
        QCOMPARE(e->slider->value(), 40);
        sensor->clearLog();

        QStringList duringDrag;
        dragHandle(e->slider, e->slider->width() / 3, [&] { duringDrag = sent(); });
        QVERIFY(duringDrag.isEmpty());
        QVERIFY(e->slider->value() > 40);
        QCOMPARE(e->spinBox->value(), e->slider->value());
        QTest::qWait(SettledMs);
        QCOMPARE(sent(), QStringList({writeCommand(e->slider->value())}));
    }

    void keyboardAndWheelWriteOnceSettled_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("slider arrow key") << "sliderKey";
        QTest::newRow("slider page key") << "sliderPageKey";
        QTest::newRow("slider wheel") << "sliderWheel";
        QTest::newRow("groove click beside handle") << "grooveClick";
        QTest::newRow("spin box arrow key") << "spinKey";
        QTest::newRow("spin box arrow button") << "spinButton";
        QTest::newRow("spin box wheel") << "spinWheel";
    }

    void keyboardAndWheelWriteOnceSettled()
    {
        QFETCH(QString, action);
        auto* e = intEditor(0, 255);
        showWindow();
        setRegister("40");
        emit device->connectedLoad();
        sensor->clearLog();

        int expected = 40;
        if (action == "sliderKey") {
            QTest::keyClick(e->slider, Qt::Key_Right);
            expected += e->slider->singleStep();
        } else if (action == "sliderPageKey") {
            QTest::keyClick(e->slider, Qt::Key_PageUp);
            expected += e->slider->pageStep();
        } else if (action == "sliderWheel") {
            sendWheel(e->slider, 120);
            expected = e->slider->value();
            QVERIFY(expected != 40);
        } else if (action == "grooveClick") {
            const QPoint beside(e->slider->width() * 9 / 10, e->slider->height() / 2);
            QVERIFY(!sliderHandle(e->slider).contains(beside));
            sendMouse(e->slider, QEvent::MouseButtonPress, beside, Qt::LeftButton, Qt::LeftButton);
            sendMouse(e->slider, QEvent::MouseButtonRelease, beside, Qt::LeftButton, Qt::NoButton);
            expected += e->slider->pageStep();
        } else if (action == "spinKey") {
            QTest::keyClick(e->spinBox, Qt::Key_Up);
            QTest::keyClick(e->spinBox, Qt::Key_Up);
            expected += 2;
        } else if (action == "spinButton") {
            const QPoint up = spinBoxUpButton(e->spinBox).center();
            sendMouse(e->spinBox, QEvent::MouseButtonPress, up, Qt::LeftButton, Qt::LeftButton);
            sendMouse(e->spinBox, QEvent::MouseButtonRelease, up, Qt::LeftButton, Qt::NoButton);
            expected += 1;
        } else if (action == "spinWheel") {
            sendWheel(e->spinBox, 120);
            expected = e->spinBox->value();
            QVERIFY(expected != 40);
        }
        QCOMPARE(e->slider->value(), expected);
        QCOMPARE(e->spinBox->value(), expected);
        // Not at once: a held key or a turned wheel must not flood the sensor.
        QVERIFY(sent().isEmpty());
        QTRY_COMPARE(sent(), QStringList({writeCommand(expected)}));
        QTest::qWait(SettledMs);
        QCOMPARE(sent(), QStringList({writeCommand(expected)}));
    }

    void spinBoxWritesWhenEditingFinishes_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("upKeys");
        QTest::addColumn<int>("finishKey");
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("arrows, then Enter") << QString() << 3 << int(Qt::Key_Return) << QStringList({writeCommand(43)});
        QTest::newRow("arrows, then Tab") << QString() << 2 << int(Qt::Key_Tab) << QStringList({writeCommand(42)});
        QTest::newRow("Tab without change") << QString() << 0 << int(Qt::Key_Tab) << QStringList({writeCommand(40)});
        QTest::newRow("typed value, then Enter") << "123" << 0 << int(Qt::Key_Enter) << QStringList({writeCommand(123)});
        QTest::newRow("typed above range, then Tab") << "999" << 0 << int(Qt::Key_Tab) << QStringList({writeCommand(99)});
        QTest::newRow("arrows only, settled") << QString() << 2 << 0 << QStringList({writeCommand(42)});
    }

    void spinBoxWritesWhenEditingFinishes()
    {
        QFETCH(QString, typed);
        QFETCH(int, upKeys);
        QFETCH(int, finishKey);
        QFETCH(QStringList, writes);
        auto* e = intEditor(0, 255);
        auto* next = new QLineEdit(window);
        window->layout()->addWidget(next);
        activateWindow();
        setRegister("40");
        emit device->connectedLoad();
        sensor->clearLog();

        e->spinBox->setFocus();
        QTRY_VERIFY(e->spinBox->hasFocus());
        if (!typed.isEmpty()) {
            e->spinBox->selectAll();
            QTest::keyClicks(e->spinBox, typed);
        }
        for (int i = 0; i < upKeys; ++i)
            QTest::keyClick(e->spinBox, Qt::Key_Up);
        QVERIFY(sent().isEmpty());
        if (finishKey)
            QTest::keyClick(e->spinBox, static_cast<Qt::Key>(finishKey));
        // Once, also after the change has settled.
        QTest::qWait(SettledMs);
        QCOMPARE(sent(), writes);
        if (finishKey == Qt::Key_Tab)
            QVERIFY(next->hasFocus());
        QCOMPARE(e->slider->value(), e->spinBox->value());
    }

    void rereadsAddNoSecondConnection_data() { addKinds(); }

    void rereadsAddNoSecondConnection()
    {
        QFETCH(Kind, kind);
        QWidget* e = editor(kind);
        showWindow();
        setRegister("1");
        for (int i = 0; i < 3; ++i)
            emit device->connectedLoad();
        QCOMPARE(sent(), QStringList({ReadCommand, ReadCommand, ReadCommand}));
        sensor->clearLog();
        const QString write = commit(e, kind);
        QCOMPARE(sent(), QStringList({write}));
    }

    void releaseWithoutMoveWritesCurrentValue()
    {
        auto* e = intEditor();
        showWindow();
        setRegister("42");
        emit device->connectedLoad();
        sensor->clearLog();
        dragHandle(e->slider, 0);
        QCOMPARE(sent(), QStringList({writeCommand(42)}));
    }

    void firstReadNeverWritesBack_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("value");
        QTest::newRow("int") << Kind::Int << "42";
        QTest::newRow("enum") << Kind::Enum << "5";
        QTest::newRow("bool") << Kind::Bool << "1";
    }

    void firstReadNeverWritesBack()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, value);
        QWidget* e = editor(kind);
        setRegister(value);
        emit device->connectedLoad();
        QCOMPARE(sent(), QStringList({ReadCommand}));
        switch (kind) {
        case Kind::Int:
            QCOMPARE(static_cast<view_tessaroParameter_int*>(e)->slider->value(), 42);
            break;
        case Kind::Enum:
            QCOMPARE(static_cast<view_tessaroParameter_enum*>(e)->comboBox->currentText(), QStringLiteral("high"));
            break;
        case Kind::Bool:
            QVERIFY(static_cast<view_tessaroParameter_bool*>(e)->checkBox->isChecked());
            break;
        }
    }

    void failedFirstReadWritesNothingUntilRead_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("linkOpen");
        QTest::addColumn<int>("fault");
        const std::pair<const char*, Kind> kinds[] = {{"int", Kind::Int}, {"enum", Kind::Enum}, {"bool", Kind::Bool}};
        for (const auto& [name, kind] : kinds) {
            QTest::addRow("%s, not connected", name) << kind << false << int(sim::Fault::None);
            QTest::addRow("%s, read fails", name) << kind << true << int(sim::Fault::ReadFails);
            QTest::addRow("%s, write fails", name) << kind << true << int(sim::Fault::WriteFails);
        }
    }

    void failedFirstReadWritesNothingUntilRead()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, linkOpen);
        QFETCH(int, fault);
        QWidget* e = editor(kind);
        showWindow();
        setRegister("1");
        QSignalSpy lost(device, &tessaro::disconnected);
        if (linkOpen) {
            sensor->injectFault(1, static_cast<sim::Fault>(fault));
            QTest::ignoreMessage(QtDebugMsg, ExchangeFailed);
            emit device->connectedLoad();
            QCOMPARE(lost.count(), 1);
            QVERIFY(!device->isConnected);
        } else {
            device->disconnectDevice();
            sensor->clearLog();
            QTest::ignoreMessage(QtDebugMsg, NotConnected);
            emit device->connectedLoad();
            QVERIFY(sent().isEmpty());
        }

        reopenQuietly();
        commit(e, kind);
        QVERIFY(sent().isEmpty());

        // A later read (the tab being opened) connects the commit signal.
        reread(e, kind);
        QCOMPARE(sent(), QStringList({ReadCommand}));
        sensor->clearLog();
        const QString write = commit(e, kind);
        QCOMPARE(sent(), QStringList({write}));
    }

    void writeWhileNotConnectedSendsNothing_data() { addKinds(); }

    void writeWhileNotConnectedSendsNothing()
    {
        QFETCH(Kind, kind);
        QWidget* e = editor(kind);
        showWindow();
        setRegister("1");
        emit device->connectedLoad();
        sim::SimBus::instance().unplug(sensor.get());
        device->hotplugWorker();
        QVERIFY(!device->isConnected);
        sensor->clearLog();

        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        commit(e, kind);
        QVERIFY(sent().isEmpty());
        // The user's change stays on screen.
        if (kind == Kind::Enum)
            QCOMPARE(static_cast<view_tessaroParameter_enum*>(e)->comboBox->currentText(), QStringLiteral("high"));
        if (kind == Kind::Bool)
            QVERIFY(!static_cast<view_tessaroParameter_bool*>(e)->checkBox->isChecked());

        // A re-read stops at the same test and leaves the widget as it is.
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        reread(e, kind);
        QVERIFY(sent().isEmpty());
    }

    void failedWriteDisconnectsOnce_data() { addKinds(); }

    void failedWriteDisconnectsOnce()
    {
        QFETCH(Kind, kind);
        QWidget* e = editor(kind);
        showWindow();
        setRegister("1");
        emit device->connectedLoad();
        QSignalSpy lost(device, &tessaro::disconnected);
        sensor->injectFault(1, sim::Fault::WriteFails);
        QTest::ignoreMessage(QtDebugMsg, ExchangeFailed);
        commit(e, kind);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!device->isConnected);

        sensor->clearLog();
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        commit(e, kind);
        QVERIFY(sent().isEmpty());
        QCOMPARE(lost.count(), 1);
    }

    void writeReachesTheSensorsRegister()
    {
        // No fixed reply: the simulated sensor's own register model answers.
        sensor->setRegister("sens", "conf1thr", 136);
        auto* e = intEditor(0, 255);
        showWindow();
        emit device->connectedLoad();
        QCOMPARE(e->slider->value(), 136);
        dragHandle(e->slider, -e->slider->width() / 4);
        QVERIFY(e->slider->value() < 136);
        QCOMPARE(sensor->registerValue("sens", "conf1thr"), std::optional<std::string>(std::to_string(e->slider->value())));
    }

    void intRereadOnlyShowsNewValue()
    {
        auto* e = intEditor();
        setRegister("42");
        emit device->connectedLoad();
        setRegister("99");
        emit device->connectedLoad();
        QCOMPARE(e->slider->value(), 99);
        QCOMPARE(e->spinBox->value(), 99);
        QTest::qWait(SettledMs);
        QCOMPARE(sent(), QStringList({ReadCommand, ReadCommand}));
    }

    void enumRead_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("selected");
        // "high" is selected before the read.
        QTest::newRow("known value") << "sens:read:conf1thr:1:;" << "auto";
        QTest::newRow("value 0") << "sens:read:conf1thr:0:;" << "off";
        QTest::newRow("missing value") << "sens:read:conf1thr:7:;" << "high";
        QTest::newRow("non-numeric reads 0") << "sens:read:conf1thr:x:;" << "off";
        QTest::newRow("four fields") << "sens:read:conf1thr:1;" << "high";
        QTest::newRow("error echo") << "sens:read:conf1thr:err;" << "high";
    }

    void enumRead()
    {
        QFETCH(QString, reply);
        QFETCH(QString, selected);
        auto* e = enumEditor();
        e->comboBox->setCurrentText(QStringLiteral("high"));
        sensor->setReply(ReadCommand.toStdString(), reply.toStdString());
        emit device->connectedLoad();
        QCOMPARE(e->comboBox->currentText(), selected);
        QCOMPARE(sent(), QStringList({ReadCommand}));
    }

    void enumSelectsFirstItemWithTheValue()
    {
        auto* e = enumEditor({{"a", 1}, {"b", 1}, {"c", 2}});
        e->comboBox->setCurrentIndex(2);
        setRegister("1");
        emit device->connectedLoad();
        QCOMPARE(e->comboBox->currentText(), QStringLiteral("a"));
    }

    void enumRereadWritesChangedValueBackOnce()
    {
        auto* e = enumEditor();
        setRegister("1");
        emit device->connectedLoad();
        QCOMPARE(e->comboBox->currentText(), QStringLiteral("auto"));

        setRegister("5");
        emit device->connectedLoad();
        QCOMPARE(e->comboBox->currentText(), QStringLiteral("high"));
        QCOMPARE(sent(), QStringList({ReadCommand, ReadCommand, writeCommand(5)}));

        // Unchanged or unknown values write nothing.
        sensor->clearLog();
        emit device->connectedLoad();
        setRegister("7");
        emit device->connectedLoad();
        QCOMPARE(e->comboBox->currentText(), QStringLiteral("high"));
        QCOMPARE(sent(), QStringList({ReadCommand, ReadCommand}));
    }

    void enumUserSelectionWritesItsValue()
    {
        auto* e = enumEditor();
        showWindow();
        setRegister("1");
        emit device->connectedLoad();
        sensor->clearLog();
        QTest::keyClick(e->comboBox, Qt::Key_Down);
        QCOMPARE(e->comboBox->currentText(), QStringLiteral("high"));
        QTest::keyClick(e->comboBox, Qt::Key_Down);
        QCOMPARE(e->comboBox->currentText(), QStringLiteral("off"));
        QCOMPARE(sent(), QStringList({writeCommand(5), writeCommand(0)}));
    }

    void boolRead_data()
    {
        QTest::addColumn<bool>("checkedBefore");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<int>("lastState");  // -1: none
        QTest::newRow("1") << false << "sens:read:conf1thr:1:;" << true << 2;
        QTest::newRow("0") << true << "sens:read:conf1thr:0:;" << false << 0;
        QTest::newRow("2 is not set") << true << "sens:read:conf1thr:2:;" << false << 0;
        QTest::newRow("-1") << true << "sens:read:conf1thr:-1:;" << false << 0;
        QTest::newRow("non-numeric") << true << "sens:read:conf1thr:on:;" << false << 0;
        QTest::newRow("four fields") << true << "sens:read:conf1thr:0;" << true << -1;
        QTest::newRow("error echo") << false << "sens:read:conf1thr:err;" << false << -1;
    }

    void boolRead()
    {
        QFETCH(bool, checkedBefore);
        QFETCH(QString, reply);
        QFETCH(bool, checked);
        QFETCH(int, lastState);
        auto* e = boolEditor();
        e->checkBox->setChecked(checkedBefore);
        sensor->setReply(ReadCommand.toStdString(), reply.toStdString());
        emit device->connectedLoad();
        QCOMPARE(e->checkBox->isChecked(), checked);
        if (lastState < 0)
            QVERIFY(!e->lastState.has_value());
        else
            QCOMPARE(e->lastState, std::optional<int>(lastState));
        QCOMPARE(sent(), QStringList({ReadCommand}));
    }

    void boolReadingTwoThenCheckingWritesOne()
    {
        auto* e = boolEditor();
        showWindow();
        setRegister("2");
        emit device->connectedLoad();
        QVERIFY(!e->checkBox->isChecked());
        sensor->clearLog();

        QTest::ignoreMessage(QtDebugMsg, "2");
        QTest::keyClick(e->checkBox, Qt::Key_Space);
        QVERIFY(e->checkBox->isChecked());
        QCOMPARE(e->lastState, std::optional<int>(2));
        QTest::ignoreMessage(QtDebugMsg, "0");
        QTest::keyClick(e->checkBox, Qt::Key_Space);
        QCOMPARE(e->lastState, std::optional<int>(0));
        QCOMPARE(sent(), QStringList({writeCommand(1), writeCommand(0)}));
    }

    void boolRereadWritesChangedValueBackOnce()
    {
        auto* e = boolEditor();
        setRegister("0");
        emit device->connectedLoad();
        QCOMPARE(e->lastState, std::optional<int>(0));

        setRegister("1");
        emit device->connectedLoad();
        QVERIFY(e->checkBox->isChecked());
        QCOMPARE(e->lastState, std::optional<int>(2));
        QCOMPARE(sent(), QStringList({ReadCommand, ReadCommand, writeCommand(1)}));

        sensor->clearLog();
        emit device->connectedLoad();
        QCOMPARE(sent(), QStringList({ReadCommand}));
    }

    void boolStateEqualToLastWritesNothing()
    {
        auto* e = boolEditor();
        // No state yet: even an unchecked box differs from it.
        QTest::ignoreMessage(QtDebugMsg, "0");
        e->updateValue(0);
        QCOMPARE(e->lastState, std::optional<int>(0));
        QCOMPARE(sent(), QStringList({writeCommand(0)}));
        e->updateValue(0);
        QCOMPARE(sent(), QStringList({writeCommand(0)}));
        // A partly checked state counts as set.
        QTest::ignoreMessage(QtDebugMsg, "1");
        e->updateValue(1);
        QCOMPARE(sent(), QStringList({writeCommand(0), writeCommand(1)}));
    }

    void userChangeBeforeFirstReadWritesNothing_data() { addKinds(); }

    void userChangeBeforeFirstReadWritesNothing()
    {
        QFETCH(Kind, kind);
        QWidget* e = editor(kind);
        showWindow();
        commit(e, kind);
        QVERIFY(sent().isEmpty());
        if (kind == Kind::Bool)
            QVERIFY(!static_cast<view_tessaroParameter_bool*>(e)->lastState.has_value());
    }

    void namesAreSentAsUtf8()
    {
        const QString module = QStringLiteral("m\u00f6d");
        const QString regname = QStringLiteral("gr\u00f6\u00dfe\u20ac");
        auto* e = place(new view_tessaroParameter_int(nullptr, device, module, regname, 0, 100));
        const std::string read = "m\xc3\xb6" "d:read:gr\xc3\xb6\xc3\x9f" "e\xe2\x82\xac;";
        sensor->setReply(read, read.substr(0, read.size() - 1) + ":33:ok;");
        emit device->connectedLoad();
        QCOMPARE(e->slider->value(), 33);
        emit e->slider->sliderReleased();
        const std::vector<std::string> expected{read, "m\xc3\xb6" "d:write:gr\xc3\xb6\xc3\x9f" "e\xe2\x82\xac:33;"};
        QVERIFY(sensor->receivedCommands() == expected);
    }

    void commandsLongerThanReportAreNotSent_data()
    {
        QTest::addColumn<int>("nameLength");
        QTest::addColumn<bool>("readSent");
        // "sens:read:" + name + ";" is 64 bytes for a name of 53; its write is longer.
        QTest::newRow("read of 64 bytes, write too long") << 53 << true;
        QTest::newRow("read too long") << 54 << false;
        QTest::newRow("far too long") << 500 << false;
    }

    void commandsLongerThanReportAreNotSent()
    {
        QFETCH(int, nameLength);
        QFETCH(bool, readSent);
        const QString name(nameLength, QLatin1Char('r'));
        auto* e = place(new view_tessaroParameter_int(nullptr, device, Module, name, 0, 100));
        const QString read = Module + ":read:" + name + ';';
        sensor->setReply(read.toStdString(), "x:x:x:5:;");
        if (!readSent)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Command longer than one report, not sent:"));
        emit device->connectedLoad();
        QCOMPARE(sent(), readSent ? QStringList({read}) : QStringList());
        QVERIFY(device->isConnected);

        if (readSent)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Command longer than one report, not sent:"));
        emit e->slider->sliderReleased();
        QCOMPARE(sent(), readSent ? QStringList({read}) : QStringList());
        QVERIFY(device->isConnected);
    }

    void editorsWithoutConnectionStayQuiet()
    {
        auto* i = place(new view_tessaroParameter_int(nullptr, nullptr, Module, Register, 0, 9));
        auto* b = place(new view_tessaroParameter_bool(nullptr, nullptr, Module, Register));
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        i->connected();
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        i->updateValue();
        QTest::ignoreMessage(QtDebugMsg, "2");
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        b->updateValue(2);
        QVERIFY(sent().isEmpty());
    }
};

TESSARO_TEST_MAIN(tst_parametereditors)
#include "tst_parametereditors.moc"
