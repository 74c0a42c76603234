// Command button: what a press emits, in which order, and the pause after each command.
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "simfixture.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <optional>

namespace {
// Short enough to keep the suite quick, long enough to measure.
constexpr int ShortPauseMs = 30;
}

class tst_pushbutton : public QObject
{
    Q_OBJECT

private:
    static QStringList emitted(const QSignalSpy& spy)
    {
        QStringList list;
        for (const QList<QVariant>& arguments : spy)
            list << arguments.at(0).toString();
        return list;
    }

private slots:
    void constructors()
    {
        QWidget parent;
        tessaroPushButton plain(&parent);
        QVERIFY(plain.text().isEmpty());
        QVERIFY(plain.commands.isEmpty());
        QCOMPARE(plain.parentWidget(), &parent);
        QCOMPARE(plain.pauseMs(), 200);
        QCOMPARE(tessaroPushButton::DefaultPauseMs, 200);

        const QStringList list{"cal:abort;", "cal:start;"};
        tessaroPushButton several(QStringLiteral("[cal:restart]"), list, &parent);
        QCOMPARE(several.text(), QStringLiteral("[cal:restart]"));
        QCOMPARE(several.commands, list);
        QCOMPARE(several.parentWidget(), &parent);

        tessaroPushButton one(QStringLiteral("[sys:calibrate:start]"), QStringLiteral("cal:start;"), &parent);
        QCOMPARE(one.text(), QStringLiteral("[sys:calibrate:start]"));
        QCOMPARE(one.commands, QStringList({"cal:start;"}));

        tessaroPushButton orphan(QStringLiteral("x"), QStringLiteral("sens:reset;"));
        QVERIFY(orphan.parentWidget() == nullptr);
        QCOMPARE(orphan.pauseMs(), 200);
    }

    void pressEmitsEveryCommandBeforeClicked_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList({"cal:start;"});
        QTest::newRow("two") << QStringList({"cal:abort;", "cal:start;"});
        QTest::newRow("save") << QStringList({"sens:reset;", "sens:commit;"});
        QTest::newRow("repeated") << QStringList({"a;", "a;", "b;"});
    }

    void pressEmitsEveryCommandBeforeClicked()
    {
        QFETCH(QStringList, commands);
        tessaroPushButton button(QStringLiteral("b"), commands);
        button.setPauseMs(1);
        QStringList events;
        connect(&button, &tessaroPushButton::execCommand, this, [&events](const QString& c) { events << c; });
        connect(&button, &QPushButton::clicked, this, [&events] { events << QStringLiteral("clicked"); });

        QTest::mousePress(&button, Qt::LeftButton);
        QCOMPARE(events, commands);
        QTest::mouseRelease(&button, Qt::LeftButton);
        QCOMPARE(events, commands + QStringList({"clicked"}));
    }

    void keyboardPressEmitsToo()
    {
        tessaroPushButton button(QStringLiteral("b"), QStringLiteral("cal:abort;"));
        button.setPauseMs(0);
        QSignalSpy spy(&button, &tessaroPushButton::execCommand);
        QTest::keyClick(&button, Qt::Key_Space);
        QCOMPARE(emitted(spy), QStringList({"cal:abort;"}));
    }

    void eachPressSendsTheListAgain()
    {
        tessaroPushButton button(QStringLiteral("b"), QStringList({"x;", "y;"}));
        button.setPauseMs(0);
        QSignalSpy spy(&button, &tessaroPushButton::execCommand);
        button.click();
        button.click();
        QCOMPARE(emitted(spy), QStringList({"x;", "y;", "x;", "y;"}));
    }

    void emptyListEmitsNothing()
    {
        tessaroPushButton button(nullptr);
        QSignalSpy spy(&button, &tessaroPushButton::execCommand);
        QElapsedTimer clock;
        clock.start();
        button.emitCommand();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
        // No command, no pause.
        QVERIFY(clock.elapsed() < tessaroPushButton::DefaultPauseMs);
    }

    void listIsReadAgainAfterEachCommand()
    {
        tessaroPushButton button(QStringLiteral("b"), QStringList({"first;"}));
        button.setPauseMs(0);
        QStringList seen;
        connect(&button, &tessaroPushButton::execCommand, this, [&](const QString& c) {
            seen << c;
            if (c == QLatin1String("first;"))
                button.commands << QStringLiteral("added;");
        });
        button.emitCommand();
        QCOMPARE(seen, QStringList({"first;", "added;"}));
    }

    void listShrinkingDuringEmissionStops()
    {
        tessaroPushButton button(QStringLiteral("b"), QStringList({"a;", "b;", "c;"}));
        button.setPauseMs(0);
        QStringList seen;
        connect(&button, &tessaroPushButton::execCommand, this, [&](const QString& c) {
            seen << c;
            button.commands.clear();
        });
        button.emitCommand();
        QCOMPARE(seen, QStringList({"a;"}));
    }

    void buttonDeletedByReceiverStops()
    {
        auto* button = new tessaroPushButton(QStringLiteral("b"), QStringList({"a;", "b;"}));
        button->setPauseMs(0);
        QStringList seen;
        connect(button, &tessaroPushButton::execCommand, this, [&](const QString& c) {
            seen << c;
            delete button;
        });
        button->emitCommand();
        QCOMPARE(seen, QStringList({"a;"}));
    }

    void pauseFollowsEveryCommand_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
        QTest::newRow("four") << 4;
    }

    void pauseFollowsEveryCommand()
    {
        QFETCH(int, count);
        QStringList commands;
        for (int i = 0; i < count; ++i)
            commands << QStringLiteral("c%1;").arg(i);
        tessaroPushButton button(QStringLiteral("b"), commands);
        button.setPauseMs(ShortPauseMs);
        QCOMPARE(button.pauseMs(), ShortPauseMs);

        QElapsedTimer clock;
        QList<qint64> at;
        connect(&button, &tessaroPushButton::execCommand, this, [&] { at << clock.elapsed(); });
        clock.start();
        button.emitCommand();
        const qint64 total = clock.elapsed();

        QCOMPARE(at.size(), count);
        for (int i = 1; i < count; ++i)
            QVERIFY2(at.at(i) - at.at(i - 1) >= ShortPauseMs, qPrintable(QString::number(at.at(i) - at.at(i - 1))));
        // The last command is followed by a pause as well.
        QVERIFY2(total - at.last() >= ShortPauseMs, qPrintable(QString::number(total - at.last())));
        QVERIFY(total >= qint64(count) * ShortPauseMs);
    }

    void defaultPauseIs200ms()
    {
        tessaroPushButton button(QStringLiteral("b"), QStringList({"cal:abort;", "cal:start;"}));
        QStringList events;
        QElapsedTimer clock;
        connect(&button, &tessaroPushButton::execCommand, this, [&](const QString& c) { events << c; });
        connect(&button, &QPushButton::clicked, this, [&] { events << QStringLiteral("clicked"); });
        clock.start();
        QTest::mouseClick(&button, Qt::LeftButton);
        QVERIFY(clock.elapsed() >= 2 * 200);
        QCOMPARE(events, QStringList({"cal:abort;", "cal:start;", "clicked"}));
    }

    void negativePauseMeansNone()
    {
        tessaroPushButton button(QStringLiteral("b"), QStringLiteral("a;"));
        button.setPauseMs(-5);
        QCOMPARE(button.pauseMs(), 0);
    }

    void sensorReceivesCommandsInOrder()
    {
        SimFixture fixture;
        fixture.writeCatalogue({SimFixture::sensorEntry()});
        auto sensor = fixture.plugSensor();
        tessaro device;
        device.SetHotPlugTimerState(false);
        device.hotplugWorker();
        QVERIFY(device.isConnected);
        sensor->clearLog();

        tessaroPushButton button(QStringLiteral("[cal:restart]"), QStringList({"cal:abort;", "cal:start;"}));
        button.setPauseMs(ShortPauseMs);
        connect(&button, &tessaroPushButton::execCommand, &device, &tessaro::execCommand);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"cal:abort;", "cal:start;"}));

        device.disconnectDevice();
    }
};

TESSARO_TEST_MAIN(tst_pushbutton)
#include "tst_pushbutton.moc"
