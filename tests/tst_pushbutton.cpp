// Command button: what a press emits, in which order, and the pause after each command.
#include "live/tessaropushbutton.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <memory>

class tst_pushbutton : public QObject
{
    Q_OBJECT

private slots:
    void pressEmitsEveryCommandBeforeClicked_data()
    {
        QTest::addColumn<int>("constructor"); // 0: parent only, 1: one command, 2: a list
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("none") << 0 << QStringList();
        QTest::newRow("one") << 1 << QStringList({"cal:start;"});
        QTest::newRow("two") << 2 << QStringList({"cal:abort;", "cal:start;"});
        QTest::newRow("repeated") << 2 << QStringList({"a;", "a;", "b;"});
    }

    void pressEmitsEveryCommandBeforeClicked()
    {
        QFETCH(int, constructor);
        QFETCH(QStringList, commands);
        QWidget parent;
        std::unique_ptr<tessaroPushButton> button(
            constructor == 0   ? new tessaroPushButton(&parent)
            : constructor == 1 ? new tessaroPushButton(QStringLiteral("b"), commands.constFirst(), &parent)
                               : new tessaroPushButton(QStringLiteral("b"), commands, &parent));
        QCOMPARE(button->commands, commands);
        button->setPauseMs(1);
        QStringList events;
        connect(button.get(), &tessaroPushButton::execCommand, this, [&events](const QString& c) { events << c; });
        connect(button.get(), &QPushButton::clicked, this, [&events] { events << QStringLiteral("clicked"); });

        QTest::mousePress(button.get(), Qt::LeftButton);
        QCOMPARE(events, commands);
        QTest::mouseRelease(button.get(), Qt::LeftButton);
        QCOMPARE(events, commands + QStringList({"clicked"}));
        // Each press sends the list again, by keyboard too.
        QTest::keyClick(button.get(), Qt::Key_Space);
        QCOMPARE(events, (commands + QStringList({"clicked"})) + (commands + QStringList({"clicked"})));
    }

    // A receiver may change the list or delete the button while a command is out.
    void receiverChangesDuringEmission_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("seen");
        QTest::newRow("adds a command") << "add" << QStringList({"a;", "b;", "added;"});
        QTest::newRow("clears the list") << "clear" << QStringList({"a;"});
        QTest::newRow("deletes the button") << "delete" << QStringList({"a;"});
    }

    void receiverChangesDuringEmission()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, seen);
        auto* button = new tessaroPushButton(QStringLiteral("b"), QStringList({"a;", "b;"}));
        const QPointer<tessaroPushButton> watch(button);
        button->setPauseMs(0);
        QStringList got;
        connect(button, &tessaroPushButton::execCommand, this, [&](const QString& c) {
            got << c;
            if (change == "add" && c == QLatin1String("a;"))
                button->commands << QStringLiteral("added;");
            else if (change == "clear")
                button->commands.clear();
            else if (change == "delete")
                delete button;
        });
        button->emitCommand();
        QCOMPARE(got, seen);
        delete watch.data();
    }

    void pauseFollowsEveryCommand_data()
    {
        QTest::addColumn<int>("setPause"); // -1000: left at its default
        QTest::addColumn<int>("pause");
        QTest::addColumn<int>("count");
        QTest::newRow("default, two commands") << -1000 << 200 << 2;
        QTest::newRow("30 ms, three commands") << 30 << 30 << 3;
        QTest::newRow("negative means none") << -5 << 0 << 1;
        QTest::newRow("no command: nothing sent") << -1000 << 200 << 0;
    }

    void pauseFollowsEveryCommand()
    {
        QFETCH(int, setPause);
        QFETCH(int, pause);
        QFETCH(int, count);
        QStringList commands;
        for (int i = 0; i < count; ++i)
            commands << QStringLiteral("c%1;").arg(i);
        tessaroPushButton button(QStringLiteral("b"), commands);
        if (setPause != -1000)
            button.setPauseMs(setPause);
        QCOMPARE(button.pauseMs(), pause);

        QElapsedTimer clock;
        QList<qint64> at;
        connect(&button, &tessaroPushButton::execCommand, this, [&] { at << clock.elapsed(); });
        clock.start();
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(at.size(), count);
        for (int i = 1; i < count; ++i)
            QVERIFY2(at.at(i) - at.at(i - 1) >= pause, qPrintable(QString::number(at.at(i) - at.at(i - 1))));
        // The last command is followed by a pause as well.
        if (count > 0)
            QVERIFY2(clock.elapsed() - at.last() >= pause, qPrintable(QString::number(clock.elapsed() - at.last())));
    }
};

TESSARO_TEST_MAIN(tst_pushbutton)
#include "tst_pushbutton.moc"
