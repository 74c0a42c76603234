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

    // With log, the program's debug output is kept there instead of passed on. Started in
    // folder, or in the build folder.
    int runDemo(const QString& action, QByteArray* log = nullptr, const QString& folder = QString())
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        environment.insert(QStringLiteral("TESSARO_DEMO_ACTION"), action);
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(log ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
        if (!folder.isEmpty())
            program.setWorkingDirectory(folder);
        program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/TessaroUtility-sim"), QStringList());
        if (!program.waitForFinished(20000))
            return -1;
        if (log)
            *log = program.readAllStandardError();
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2;
    }

    QSettings settings() const
    {
        return QSettings(configHome.filePath(QStringLiteral("Corvanel/TessaroUtility.ini")), QSettings::IniFormat);
    }

private slots:
    void closeEndsWithStatusZero()
    {
        QByteArray log;
        QCOMPARE(runDemo(QStringLiteral("quit"), &log), 0);
        QVERIFY(settings().value(QStringLiteral("mainwindow/size")).toSize().isValid());
        // Debug lines name the source file from the tree's top, never by the build machine's folders.
        QVERIFY2(log.contains("app/tessarotranslator.cpp:"), log.constData());
        const QRegularExpression absolute(QRegularExpression::escape(QStringLiteral(TESSARO_SOURCE_DIR))
                                          + QStringLiteral(R"(/\S+\.(cpp|h):\d)"));
        QVERIFY2(!absolute.match(QString::fromLocal8Bit(log)).hasMatch(), log.constData());
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
        QByteArray log;
        QCOMPARE(runDemo(QStringLiteral("quit"), &log, shared.path()), 0);
        QVERIFY2(log.contains("\"nl.json\"") && !log.contains("planted"), log.constData());
    }

    void languageChangeEndsWithStatus12AndRestarts()
    {
        QFile::remove(configHome.filePath(QStringLiteral("Corvanel/TessaroUtility.ini")));
        QCOMPARE(runDemo(QStringLiteral("lang:en")), 12);
        QCOMPARE(settings().value(QStringLiteral("lang")).toString(), QStringLiteral("en"));
        // The first instance ends without closing its window; the restarted one stores
        // its geometry when it closes, which shows that it ran.
        QTRY_VERIFY_WITH_TIMEOUT(settings().contains(QStringLiteral("mainwindow/size")), 20000);
    }
};

TESSARO_TEST_MAIN(tst_program)
#include "tst_program.moc"
