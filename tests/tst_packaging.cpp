// The installation's own files: the udev rule that opens the catalogue's sensors to the
// user at the seat, the desktop entry, the AppStream metainfo and the icon they name.
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#if !defined(TESSARO_APP_ID) || !defined(TESSARO_LAUNCHER_NAME) || !defined(TESSARO_UDEV_RULE_FILE)
#error "the installation names come from cmake/install.cmake"
#endif

namespace {

const QString SourceDir = QStringLiteral(TESSARO_SOURCE_DIR "/");
const QString UdevDir = SourceDir + QStringLiteral("data/udev/");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "1209:0001" for each catalogue entry, IDs as the catalogue reads them (hex strings).
QSet<QString> cataloguePairs()
{
    QSet<QString> pairs;
    const QJsonArray entries = QJsonDocument::fromJson(readAll(SourceDir + QStringLiteral("data/sensors/supported.json")))
                                   .object().value(QLatin1String("devlist")).toArray();
    for (const QJsonValue& entry : entries) {
        bool vendorOk = false;
        bool productOk = false;
        const unsigned vendor = entry.toObject().value(QLatin1String("vendorId")).toString().toUInt(&vendorOk, 16);
        const unsigned product = entry.toObject().value(QLatin1String("productId")).toString().toUInt(&productOk, 16);
        if (vendorOk && productOk && vendor != 0 && product != 0)
            pairs.insert(QString::asprintf("%04x:%04x", vendor, product));
        else
            pairs.insert(QStringLiteral("unreadable entry"));
    }
    return pairs;
}

} // namespace

class tst_packaging : public QObject
{
    Q_OBJECT

private slots:
    // One hidraw line per catalogue device, on its HID parent's name, IDs in upper-case hex as
    // the kernel writes them (udev compares text), in a file that runs before 73-seat-late.rules
    // (TAG+="uaccess" only takes effect before it), named as the device connection's hint names it.
    void udevRulesOpenExactlyTheCatalogueSensors()
    {
        static const QRegularExpression rule(QStringLiteral(
            R"re(^KERNEL=="hidraw\*", KERNELS=="0003:([0-9A-F]{4}):([0-9A-F]{4})\.\*", TAG\+="uaccess"$)re"));
        static const QRegularExpression numbered(QStringLiteral(R"re(^(\d\d)-[a-z0-9-]+\.rules$)re"));
        const QString ruleFile = QStringLiteral(TESSARO_UDEV_RULE_FILE);
        QVERIFY2(QFile::exists(UdevDir + ruleFile), qPrintable(ruleFile));
        QVERIFY(readAll(SourceDir + QStringLiteral("device/tessaro.h")).contains('"' + ruleFile.toUtf8() + '"'));
        QSet<QString> pairs;
        for (const QString& name : QDir(UdevDir).entryList({QStringLiteral("*.rules")}, QDir::Files)) {
            const QRegularExpressionMatch number = numbered.match(name);
            QVERIFY2(number.hasMatch() && number.captured(1).toInt() < 73, qPrintable(name));
            for (const QByteArray& raw : readAll(UdevDir + name).split('\n')) {
                const QString line = QString::fromUtf8(raw).trimmed();
                if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                    continue;
                const QRegularExpressionMatch match = rule.match(line);
                QVERIFY2(match.hasMatch(), qPrintable(name + QLatin1String(": ") + line));
                pairs.insert((match.captured(1) + QLatin1Char(':') + match.captured(2)).toLower());
            }
        }
        QVERIFY(!pairs.isEmpty());
        QCOMPARE(pairs, cataloguePairs());
    }

    void desktopEntryStartsTheLauncher()
    {
        const QByteArray entry = readAll(SourceDir + QStringLiteral("data/desktop/" TESSARO_APP_ID ".desktop"));
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        for (const QByteArray& line : {QByteArray("Type=Application"), QByteArray("Terminal=false"),
                                       QByteArray("Icon=" TESSARO_APP_ID)})
            QVERIFY2(entry.split('\n').contains(line), line.constData());
        QVERIFY(QRegularExpression(QStringLiteral("\nExec=(\\S*/)?" TESSARO_LAUNCHER_NAME "( |\n)"))
                    .match(QString::fromUtf8(entry)).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("\nCategories=.*\\bSettings;(.*;)?HardwareSettings;"))
                    .match(QString::fromUtf8(entry)).hasMatch());
        // Installed as hicolor/256x256/apps/<id>.png: the drawn picture must be that size.
        QCOMPARE(QImage(QStringLiteral("rc/tessaro_icon.png")).size(), QSize(256, 256));
    }

    void metainfoNamesTheDesktopEntryAndTheSensors()
    {
        QXmlStreamReader xml(readAll(SourceDir + QStringLiteral("data/desktop/" TESSARO_APP_ID ".metainfo.xml")));
        QMap<QString, QStringList> elements;
        const QStringList named = {"id", "launchable", "binary", "modalias", "image"};
        QStringList summaryLanguages;
        QStringList releases;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QString name = xml.name().toString();
            if (name == QLatin1String("summary"))
                summaryLanguages << xml.attributes().value(QLatin1String("xml:lang")).toString();
            else if (name == QLatin1String("release"))
                releases << xml.attributes().value(QLatin1String("version")).toString();
            else if (named.contains(name))
                elements[name] << xml.readElementText();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(elements.value(QStringLiteral("id")), QStringList{TESSARO_APP_ID});
        QCOMPARE(elements.value(QStringLiteral("launchable")), QStringList{TESSARO_APP_ID ".desktop"});
        QCOMPARE(elements.value(QStringLiteral("binary")), QStringList{TESSARO_LAUNCHER_NAME});
        QCOMPARE(summaryLanguages, (QStringList{QString(), "nl", "de"}));
        // The newest release entry is the version the package is built as.
        const QString project = QString::fromUtf8(readAll(SourceDir + QStringLiteral("CMakeLists.txt")));
        QVERIFY(!releases.isEmpty());
        QVERIFY2(project.contains(QLatin1String("project(TessaroUtility VERSION ") + releases.constFirst() + QLatin1Char(' ')),
                 qPrintable(releases.constFirst()));
        QCOMPARE(elements.value(QStringLiteral("image")).size(), 1);
        const QStringList modaliases = elements.value(QStringLiteral("modalias"));
        for (const QString& pair : cataloguePairs()) {
            const QString alias = QStringLiteral("usb:v%1p%2d*").arg(pair.left(4).toUpper(), pair.mid(5).toUpper());
            QVERIFY2(modaliases.contains(alias), qPrintable(alias));
        }
    }

    // A sensor plugged in before the package came (or went) gets the rule's access at once.
    void maintainerScriptsApplyTheRuleToPresentSensors_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("action");  // the package step the script acts on
        QTest::newRow("installed") << "postinst" << "configure";
        QTest::newRow("removed") << "postrm" << "remove";
    }

    void maintainerScriptsApplyTheRuleToPresentSensors()
    {
        QFETCH(QString, script);
        QFETCH(QString, action);
        // The script runs against a recording udevadm on PATH.
        QTemporaryDir folder;
        QFile udevadm(folder.filePath(QStringLiteral("udevadm")));
        QVERIFY(udevadm.open(QIODevice::WriteOnly));
        udevadm.write("#!/bin/sh\necho \"$*\" >>\"$(dirname \"$0\")/calls\"\n");
        udevadm.close();
        udevadm.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess shell;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), folder.path() + QStringLiteral(":/usr/bin:/bin"));
        shell.setProcessEnvironment(environment);
        shell.start(QStringLiteral("sh"), {SourceDir + QStringLiteral("data/deb/") + script, action});
        QVERIFY(shell.waitForFinished(10000));
        QCOMPARE(shell.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(readAll(folder.filePath(QStringLiteral("calls")))),
                 QStringLiteral("control --reload-rules\ntrigger --subsystem-match=hidraw --action=change\n"));
    }

    // Register names come from a parameter file and device paths from the system: the
    // completion compares them as text. Expanded, these would run a command or match files.
    // Else the real tessaroctl lists the shipped model's words, with no sensor attached.
    void completionNeverExpandsWhatItOffers_data()
    {
        QTest::addColumn<QString>("line");    // what was typed; Tab at its end
        QTest::addColumn<bool>("hostile");    // tessaroctl stubbed with hostile names and paths
        QTest::addColumn<QString>("offered"); // one per line, as bash inserts it in place of its word
        QTest::newRow("get") << "tessaroctl get " << true << "sens:gain\nsens:gamma";
        QTest::newRow("set") << "tessaroctl set sens:ga" << true << "gain=\ngamma=";
        QTest::newRow("device") << "tessaroctl --device " << true << "/dev/hidraw3\nsim/1209:0001:00";
        QTest::newRow("device, past a colon") << "tessaroctl -d sim/1209:0" << true << "0001:00";
        QTest::newRow("set, no sensor") << "tessaroctl set sens:g" << false << "gain=";
        QTest::newRow("set, after the module") << "tessaroctl set pen:" << false << "mode=\nhover=\nsleep=";
        QTest::newRow("choices") << "tessaroctl set sens:filter=" << false << "Light\nOff\nStrong";
        QTest::newRow("a choice, short name") << "tessaroctl set gain=4 fps=F" << false << "Fast";
        QTest::newRow("presets") << "tessaroctl preset " << false << "Default\nBright\\ room\nDim\\ room";
        QTest::newRow("a preset in quotes") << "tessaroctl preset \"Di" << false << "Dim room";
    }

    void completionNeverExpandsWhatItOffers()
    {
        QFETCH(QString, line);
        QFETCH(bool, hostile);
        const QString script = QString::fromLatin1(R"sh(
            source /usr/share/bash-completion/bash_completion
            [[ $NAMES ]] && tessaroctl() { if [[ $1 == list ]]; then printf '%s\n' "$DEVICES"; else printf '%s\n' "$NAMES"; fi; }
            source "$1"
            COMP_LINE=$2; COMP_POINT=${#2}; COMP_WORDS=("${@:3}"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            _tessaroctl
            printf '%s\n' "${COMPREPLY[@]}")sh");
        // Split at spaces, and around ':' and '=' as bash's COMP_WORDBREAKS has it.
        const QStringList words = line.split(QRegularExpression(QStringLiteral(" |(?=[:=])|(?<=[:=])(?!$)")));
        QTemporaryDir folder;
        QVERIFY(QFile(folder.filePath(QStringLiteral("sens:gaglob"))).open(QIODevice::WriteOnly));
        QProcess bash;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), QCoreApplication::applicationDirPath() + ":" + environment.value("PATH"));
        environment.insert(QStringLiteral("NAMES"), hostile ? QStringLiteral(
            "sens:gain\nsens:gamma\nsens:ga$(touch${IFS}planted)\nsens:ga`touch${IFS}planted`\nsens:ga*") : QString());
        environment.insert(QStringLiteral("DEVICES"), QStringLiteral("\"path\": \"/dev/hidraw3\"\n"
                                                                     "\"path\": \"sim/1209:0001:00\"\n\"path\": \"$(touch${IFS}planted)\""));
        bash.setProcessEnvironment(environment);
        bash.setWorkingDirectory(folder.path());
        bash.start(QStringLiteral("bash"), QStringList{"--norc", "--noprofile", "-c", script, "bash",
                                                       SourceDir + QStringLiteral("data/completion/tessaroctl"), line}
                                               + words);
        QVERIFY(bash.waitForFinished(10000));
        QCOMPARE(bash.readAllStandardError(), QByteArray());
        QTEST(QString::fromUtf8(bash.readAllStandardOutput()).trimmed(), "offered");
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("planted"))));
    }

    void programsCarryTheHidapiGuards_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("window") << QStringLiteral("TessaroUtility");
        QTest::newRow("command line") << QStringLiteral("tessaroctl");
    }

    // Each program that links the real hidapi defines the functions that keep it alive when
    // a device leaves the bus mid-call; without them the library's own would be used.
    void programsCarryTheHidapiGuards()
    {
        QFETCH(QString, program);
        QProcess nm;
        nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("--defined-only"),
                                        QCoreApplication::applicationDirPath() + QLatin1Char('/') + program});
        QVERIFY(nm.waitForFinished(10000));
        const QString symbols = QString::fromLatin1(nm.readAllStandardOutput());
        for (const char* name : {"hid_open_path", "hid_close", "udev_device_get_sysattr_value"}) {
            const QRegularExpression defined(QStringLiteral(" T %1$").arg(QLatin1String(name)),
                                             QRegularExpression::MultilineOption);
            QVERIFY2(defined.match(symbols).hasMatch(), name);
        }
    }

    void helpManualAndCompletionNameTheSameOptions()
    {
        static const QRegularExpression option(QStringLiteral("(?:^|[\\s,\"])(--?[a-z]+)"));
        const auto options = [](const QString& text) {
            QSet<QString> found;
            for (auto it = option.globalMatch(text); it.hasNext();)
                found.insert(it.next().captured(1));
            return found;
        };
        QProcess ctl;
        ctl.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaroctl"), {QStringLiteral("--help")});
        QVERIFY(ctl.waitForFinished(10000));
        const QSet<QString> listed = options(QString::fromUtf8(ctl.readAllStandardOutput()).section("Options:", 1).section("\n\n", 0, 0));
        QVERIFY(listed.contains(QStringLiteral("-y")) && listed.contains(QStringLiteral("--verbose")));
        const QString manual = QString::fromUtf8(readAll(SourceDir + QStringLiteral("data/man/tessaroctl.1"))).replace("\\-", "-");
        QCOMPARE(options(manual.section(".SH OPTIONS", 1).section(".SH", 0, 0)), listed);
        const QString completion = QString::fromUtf8(readAll(SourceDir + QStringLiteral("data/completion/tessaroctl")));
        QCOMPARE(options(completion.section("local options=", 1).section('\n', 0, 0)), listed);
    }
};

TESSARO_TEST_MAIN(tst_packaging)
#include "tst_packaging.moc"
