// Register editors: reading on connection, reply rules, and when a user action writes.
#include "device/tessaro.h"
#include "sensor/view_tessaroparameter_bool.h"
#include "sensor/view_tessaroparameter_enum.h"
#include "sensor/view_tessaroparameter_int.h"
#include "simfixture.h"
#include "testmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWheelEvent>

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

void sendWheel(QWidget* widget, int angle)
{
    const QPoint pos = widget->rect().center();
    QWheelEvent event(QPointF(pos), QPointF(widget->mapToGlobal(pos)), QPoint(), QPoint(0, angle), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
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

    // The sensor view creates editors without parent and lets its layout adopt them.
    template <typename Editor>
    Editor* place(Editor* editor)
    {
        window->layout()->addWidget(editor);
        return editor;
    }

    view_tessaroParameter_int* intEditor(int minimum = -10, int maximum = 255)
    {
        return place(new view_tessaroParameter_int(nullptr, device, Module, Register, minimum, maximum));
    }

    QWidget* editor(Kind kind)
    {
        // Choices as the sensor view builds them: text to value, sorted by text.
        const QMap<QString, int> choices{{QStringLiteral("off"), 0}, {QStringLiteral("auto"), 1}, {QStringLiteral("high"), 5}};
        switch (kind) {
        case Kind::Int:
            return intEditor();
        case Kind::Enum:
            return place(new view_tessaroParameter_enum(nullptr, device, Module, Register, choices));
        case Kind::Bool:
            return place(new view_tessaroParameter_bool(nullptr, device, Module, Register));
        }
        return nullptr;
    }

    // What the editor shows: a number, a choice's text, or "on"/"off".
    static QString shown(QWidget* w)
    {
        if (auto* i = qobject_cast<view_tessaroParameter_int*>(w))
            return i->slider->value() == i->spinBox->value() ? QString::number(i->slider->value()) : QStringLiteral("differ");
        if (auto* e = qobject_cast<view_tessaroParameter_enum*>(w))
            return e->comboBox->currentText();
        return static_cast<view_tessaroParameter_bool*>(w)->checkBox->isChecked() ? QStringLiteral("on") : QStringLiteral("off");
    }

    static void setShown(QWidget* w, const QString& text)
    {
        if (auto* i = qobject_cast<view_tessaroParameter_int*>(w))
            i->slider->setValue(text.toInt());
        else if (auto* e = qobject_cast<view_tessaroParameter_enum*>(w))
            e->comboBox->setCurrentText(text);
        else
            static_cast<view_tessaroParameter_bool*>(w)->checkBox->setChecked(text == QLatin1String("on"));
    }

    // One user change of the kind's widget; returns the write it must cause.
    static QString commit(QWidget* w)
    {
        if (auto* i = qobject_cast<view_tessaroParameter_int*>(w)) {
            i->slider->setSliderDown(true);
            i->slider->setSliderPosition(i->slider->value() + 1);
            i->slider->setSliderDown(false);
            return writeCommand(i->slider->value());
        }
        if (auto* e = qobject_cast<view_tessaroParameter_enum*>(w)) {
            e->comboBox->setCurrentIndex((e->comboBox->currentIndex() + 1) % e->comboBox->count());
            return writeCommand(e->comboBox->currentData().toInt());
        }
        auto* e = static_cast<view_tessaroParameter_bool*>(w);
        e->checkBox->click();
        return writeCommand(e->checkBox->isChecked() ? 1 : 0);
    }

    // What opening the system or advanced tab does: one more read.
    static void reread(QWidget* w) { QMetaObject::invokeMethod(w, "connected"); }

private slots:
    void init()
    {
        fixture.emplace();
        device = fixture->connectSensor(sensor);
        QVERIFY(device);
        window = new QWidget;
        new QVBoxLayout(window);
    }

    void cleanup()
    {
        delete window;
        fixture.reset();
    }

    // Squeezed to the smallest the layout allows, the spin box still shows every value whole.
    void spinBoxShowsItsLongestValue()
    {
        auto* e = intEditor(-1000, 9999);
        window->resize(1, 1);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QLineEdit* edit = e->spinBox->findChild<QLineEdit*>();
        for (const int value : {-1000, 9999})
            QVERIFY2(edit->width() > edit->fontMetrics().horizontalAdvance(QString::number(value)),
                     qPrintable(QStringLiteral("%1 in %2 pixels").arg(value).arg(edit->width())));
    }

    void readShowsTheValue_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("reply"); // "-": the sensor gives no reply
        QTest::addColumn<QString>("after");
        const Kind i = Kind::Int, e = Kind::Enum, b = Kind::Bool;
        // The int editor holds -10..255.
        QTest::newRow("int: four fields") << i << "17" << "sens:read:conf1thr:42;" << "17";
        QTest::newRow("int: five fields") << i << "17" << "sens:read:conf1thr:42:;" << "42";
        QTest::newRow("int: more fields, no semicolon") << i << "17" << "sens:read:conf1thr:42:a:b" << "42";
        QTest::newRow("int: not a number") << i << "17" << "sens:read:conf1thr:abc:;" << "0";
        QTest::newRow("int: hexadecimal") << i << "17" << "sens:read:conf1thr:0x1f:;" << "0";
        QTest::newRow("int: leading zero is decimal") << i << "17" << "sens:read:conf1thr:010:;" << "10";
        QTest::newRow("int: above range") << i << "17" << "sens:read:conf1thr:300:;" << "255";
        QTest::newRow("int: below range") << i << "17" << "sens:read:conf1thr:-50:;" << "-10";
        QTest::newRow("int: beyond int") << i << "17" << "sens:read:conf1thr:99999999999:;" << "0";
        QTest::newRow("int: empty reply") << i << "17" << "" << "17";
        QTest::newRow("int: no reply") << i << "17" << "-" << "17";
        QTest::newRow("enum: known value") << e << "high" << "sens:read:conf1thr:1:;" << "auto";
        QTest::newRow("enum: no such choice") << e << "high" << "sens:read:conf1thr:7:;" << "high";
        QTest::newRow("enum: not a number reads 0") << e << "high" << "sens:read:conf1thr:x:;" << "off";
        QTest::newRow("enum: four fields") << e << "high" << "sens:read:conf1thr:1;" << "high";
        QTest::newRow("bool: 1") << b << "off" << "sens:read:conf1thr:1:;" << "on";
        QTest::newRow("bool: 2 is not set") << b << "on" << "sens:read:conf1thr:2:;" << "off";
        QTest::newRow("bool: not a number") << b << "on" << "sens:read:conf1thr:on:;" << "off";
        QTest::newRow("bool: four fields") << b << "on" << "sens:read:conf1thr:0;" << "on";
    }

    void readShowsTheValue()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, before);
        QFETCH(QString, reply);
        QFETCH(QString, after);
        QWidget* e = editor(kind);
        setShown(e, before);
        if (reply == QLatin1String("-"))
            sensor->injectFault(1, sim::Fault::NoReply);
        else
            sensor->setReply(ReadCommand.toStdString(), reply.toStdString());
        emit device->connectedLoad();
        QCOMPARE(shown(e), after);
        QVERIFY(device->isConnected);
        // Showing what was read is never written back; the read counts as done, so a
        // user's change now writes.
        QCOMPARE(sent(), QStringList({ReadCommand}));
        sensor->clearLog();
        const QString write = commit(e);
        QCOMPARE(sent(), QStringList({write}));
    }

    // A drag or finished typing (Enter, focus loss) writes at once; arrow keys and wheel
    // once they have settled (a held key must not flood the sensor). Each writes once.
    void intUserChangesWriteOnce_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("finishKey");
        QTest::addColumn<bool>("atOnce");
        QTest::addColumn<int>("value"); // -1: any value but 40
        QTest::newRow("drag, on release") << "drag" << 0 << true << 60;
        QTest::newRow("release without a move") << "press" << 0 << true << 40;
        QTest::newRow("slider arrow key") << "sliderKey" << 0 << false << 41;
        QTest::newRow("slider wheel") << "sliderWheel" << 0 << false << -1;
        QTest::newRow("spin box arrow keys") << "spinUpUp" << 0 << false << 42;
        QTest::newRow("spin box wheel") << "spinWheel" << 0 << false << -1;
        QTest::newRow("spin box arrows, then Enter") << "spinUpUp" << int(Qt::Key_Return) << true << 42;
        // Typed digits, with a pause longer than the settling: only the whole number goes out.
        QTest::newRow("typed value, then Enter") << "type1pause23" << int(Qt::Key_Enter) << true << 123;
        QTest::newRow("typed value, then Tab") << "type1pause23" << int(Qt::Key_Tab) << true << 123;
        QTest::newRow("Tab without change") << "" << int(Qt::Key_Tab) << true << 40;
    }

    void intUserChangesWriteOnce()
    {
        QFETCH(QString, action);
        QFETCH(int, finishKey);
        QFETCH(bool, atOnce);
        QFETCH(int, value);
        auto* e = intEditor(0, 255);
        auto* next = new QLineEdit(window);
        window->layout()->addWidget(next);
        window->show();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        setRegister("40");
        emit device->connectedLoad();
        sensor->clearLog();
        e->spinBox->setFocus();
        QTRY_VERIFY(e->spinBox->hasFocus());

        if (action == "drag" || action == "press") {
            e->slider->setSliderDown(true);
            if (action == "drag")
                e->slider->setSliderPosition(60);
            QVERIFY(sent().isEmpty());
            e->slider->setSliderDown(false);
        } else if (action == "sliderKey") {
            QTest::keyClick(e->slider, Qt::Key_Right);
        } else if (action == "sliderWheel" || action == "spinWheel") {
            sendWheel(action == "sliderWheel" ? static_cast<QWidget*>(e->slider) : e->spinBox, 120);
        } else if (action == "spinUpUp") {
            QTest::keyClick(e->spinBox, Qt::Key_Up);
            QTest::keyClick(e->spinBox, Qt::Key_Up);
        } else if (action == "type1pause23") {
            e->spinBox->selectAll();
            QTest::keyClicks(e->spinBox, QStringLiteral("1"));
            QTest::qWait(SettledMs);
            QTest::keyClicks(e->spinBox, QStringLiteral("23"));
        }
        if (finishKey)
            QTest::keyClick(e->spinBox, static_cast<Qt::Key>(finishKey));

        const int now = e->slider->value();
        QCOMPARE(e->spinBox->value(), now);
        if (value >= 0)
            QCOMPARE(now, value);
        else
            QVERIFY(now != 40);
        const QStringList once{writeCommand(now)};
        if (atOnce) {
            QCOMPARE(sent(), once);
        } else {
            QVERIFY(sent().isEmpty());
            QTRY_COMPARE(sent(), once);
        }
        QTest::qWait(SettledMs);
        QCOMPARE(sent(), once);
        if (finishKey == Qt::Key_Tab)
            QVERIFY(next->hasFocus());
    }

    // A keyboard change still settling is the user's: it goes out before a re-read.
    void settlingChangeIsWrittenBeforeARead()
    {
        auto* e = intEditor(0, 255);
        setRegister("40");
        emit device->connectedLoad();
        e->spinBox->stepUp();
        emit device->connectedLoad();
        QCOMPARE(sent(), QStringList({ReadCommand, writeCommand(41), ReadCommand}));
    }

    // However often read, one user change writes once; a re-read that changes a choice or
    // a check box writes it back, a number only shows. Then a write fails.
    void rereadsThenAFailedWrite_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("writesBack");
        QTest::newRow("int") << Kind::Int << "99" << "99" << false;
        QTest::newRow("enum") << Kind::Enum << "5" << "high" << true;
        QTest::newRow("bool") << Kind::Bool << "1" << "on" << true;
    }

    void rereadsThenAFailedWrite()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, second);
        QFETCH(QString, after);
        QFETCH(bool, writesBack);
        QWidget* e = editor(kind);
        setRegister("0");
        emit device->connectedLoad();
        setRegister(second);
        emit device->connectedLoad();
        emit device->connectedLoad();
        QTest::qWait(kind == Kind::Int ? SettledMs : 0);
        QCOMPARE(shown(e), after);
        QStringList expected{ReadCommand, ReadCommand};
        if (writesBack)
            expected << writeCommand(second.toInt());
        QCOMPARE(sent(), expected << ReadCommand);
        sensor->clearLog();
        const QString write = commit(e);
        QCOMPARE(sent(), QStringList({write}));

        // A failed write closes the link once; a later change is not sent.
        QSignalSpy lost(device, &tessaro::disconnected);
        sensor->injectFault(1, sim::Fault::WriteFails);
        QTest::ignoreMessage(QtDebugMsg, ExchangeFailed);
        commit(e);
        sensor->clearLog();
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        commit(e);
        QMetaObject::invokeMethod(e, "disconnected");
        QVERIFY(sent().isEmpty());
        QCOMPARE(lost.count(), 1);
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

        // Opened again without announcing it, so that the editor does not read by itself.
        {
            const QSignalBlocker quiet(device);
            device->hotplugWorker();
        }
        QVERIFY(device->isConnected);
        sensor->clearLog();
        commit(e);
        QVERIFY(sent().isEmpty());

        // A later read (the tab being opened) connects the commit signal.
        reread(e);
        QCOMPARE(sent(), QStringList({ReadCommand}));
        sensor->clearLog();
        const QString write = commit(e);
        QCOMPARE(sent(), QStringList({write}));
    }

    void boolStateEqualToLastWritesNothing()
    {
        auto* e = static_cast<view_tessaroParameter_bool*>(editor(Kind::Bool));
        // No state yet: even an unchecked box differs from it.
        QTest::ignoreMessage(QtDebugMsg, "0");
        e->updateValue(0);
        QCOMPARE(sent(), QStringList({writeCommand(0)}));
        e->updateValue(0);
        QCOMPARE(sent(), QStringList({writeCommand(0)}));
        // A partly checked state counts as set.
        QTest::ignoreMessage(QtDebugMsg, "1");
        e->updateValue(1);
        QCOMPARE(sent(), QStringList({writeCommand(0), writeCommand(1)}));
        // The state read counts as well.
        setRegister("1");
        emit device->connectedLoad();
        e->updateValue(2);
        QCOMPARE(sent(), QStringList({writeCommand(0), writeCommand(1), ReadCommand}));
    }

    // Names go out as UTF-8, and a report holds 64 of its bytes, not 64 characters.
    void commandsLongerThanReportAreNotSent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("readSent");
        // "sens:read:" + name + ";" is 64 bytes for a name of 53 bytes; its write is longer.
        QTest::newRow("read of 64 bytes, write too long") << QString(53, QLatin1Char('r')) << true;
        QTest::newRow("read too long") << QString(54, QLatin1Char('r')) << false;
        QTest::newRow("UTF-8, read of 64 bytes") << QString(26, QChar(0xf6)) + QLatin1Char('r') << true;
        QTest::newRow("UTF-8, read too long") << QString(26, QChar(0xf6)) + QStringLiteral("\u20ac") << false;
    }

    void commandsLongerThanReportAreNotSent()
    {
        QFETCH(QString, name);
        QFETCH(bool, readSent);
        auto* e = place(new view_tessaroParameter_int(nullptr, device, Module, name, 0, 100));
        const QString read = Module + ":read:" + name + ';';
        sensor->setReply(read.toStdString(), "x:x:x:5:;");
        const QRegularExpression tooLong("^Command longer than one report, not sent:");
        if (!readSent)
            QTest::ignoreMessage(QtDebugMsg, tooLong);
        emit device->connectedLoad();
        QCOMPARE(sent(), readSent ? QStringList({read}) : QStringList());
        if (readSent)
            QTest::ignoreMessage(QtDebugMsg, tooLong);
        emit e->slider->sliderReleased();
        QCOMPARE(sent(), readSent ? QStringList({read}) : QStringList());
        QVERIFY(device->isConnected);
    }

    void editorsWithoutConnectionStayQuiet()
    {
        auto* i = place(new view_tessaroParameter_int(nullptr, nullptr, Module, Register, 0, 9));
        auto* e = place(new view_tessaroParameter_enum(nullptr, nullptr, Module, Register, {{"a", 1}}));
        auto* b = place(new view_tessaroParameter_bool(nullptr, nullptr, Module, Register));
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        i->connected();
        QTest::ignoreMessage(QtDebugMsg, NotConnected);
        e->connected();
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
