// The real demo program as a process: exit status after a close and after a language change.
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

class tst_program : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir configHome;
    const QString logFile = configHome.filePath(QStringLiteral("log"));

    // The program's debug output goes to a file, which a copy that it starts writes to as well.
    // Started in folder, or in the test's own.
    int runDemo(const QString& action, const QString& messagePattern = QString(), const QString& folder = QString())
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        environment.insert(QStringLiteral("TESSARO_DEMO_ACTION"), action);
        environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), messagePattern);  // empty: the program's own
        program.setProcessEnvironment(environment);
        program.setStandardErrorFile(logFile);
        if (!folder.isEmpty())
            program.setWorkingDirectory(folder);
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/TessaroUtility-sim"), QStringList());
        if (!program.waitForFinished(20000))
            return -1;
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2;
    }

    // A file's contents: the log, or a process's command line (empty once it has ended).
    static QString contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    QSettings settings() const
    {
        return QSettings(configHome.filePath(QStringLiteral("Corvanel/TessaroUtility.ini")), QSettings::IniFormat);
    }

private slots:
    void closeEndsWithStatusZero()
    {
        QCOMPARE(runDemo(QStringLiteral("quit")), 0);
        QVERIFY(settings().value(QStringLiteral("mainwindow/size")).toSize().isValid());
        const QString log = contents(logFile);
        // Debug lines name the source file from the tree's top, never by the build machine's folders.
        QVERIFY2(log.contains(QLatin1String("app/tessarotranslator.cpp:")), qPrintable(log));
        const QRegularExpression absolute(QRegularExpression::escape(QStringLiteral(TESSARO_SOURCE_DIR))
                                          + QStringLiteral(R"(/\S+\.(cpp|h):\d)"));
        QVERIFY2(!absolute.match(log).hasMatch(), qPrintable(log));
    }

    // Started from a shared folder, the program takes its data from beside itself, not the
    // files another user put there.
    void dataFromBesideTheProgram()
    {
        QTemporaryDir shared;
        QVERIFY(QDir(shared.path()).mkpath(QStringLiteral("lang")));
        QFile planted(shared.filePath(QStringLiteral("lang/lang.json")));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write(R"({"langs": [{"code": "nl", "file": "planted.json"}]})");
        planted.close();
        QCOMPARE(runDemo(QStringLiteral("quit"), QString(), shared.path()), 0);
        const QString log = contents(logFile);
        QVERIFY2(log.contains(QLatin1String("\"nl.json\"")) && !log.contains(QLatin1String("planted")), qPrintable(log));
    }

    void languageChangeEndsWithStatus12AndRestarts()
    {
        QCOMPARE(runDemo(QStringLiteral("lang:en"), QStringLiteral("%{pid} %{message}")), 12);
        QCOMPARE(settings().value(QStringLiteral("lang")).toString(), QStringLiteral("en"));
        // The new copy itself: after the first copy's lines, those of another process ...
        const QRegularExpression newCopy(QStringLiteral(R"(\A(\d+) [\s\S]*^(?!\1 )(\d+) )"), QRegularExpression::MultilineOption);
        QTRY_VERIFY_WITH_TIMEOUT(newCopy.match(contents(logFile)).hasMatch(), 20000);
        // ... which only closes again, and must not outlive this test's folders.
        QTRY_VERIFY_WITH_TIMEOUT(contents("/proc/" + newCopy.match(contents(logFile)).captured(2) + "/cmdline").isEmpty(), 20000);
    }
};

TESSARO_TEST_MAIN(tst_program)
#include "tst_program.moc"
