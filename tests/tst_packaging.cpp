// The installation's own files: the udev rule that opens the catalogue's sensors to the
// user at the seat, the desktop entry, the AppStream metainfo and the icon they name.
#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#if !defined(TESSARO_APP_ID) || !defined(TESSARO_LAUNCHER_NAME) || !defined(TESSARO_UDEV_RULE_FILE)
#error "the installation names come from cmake/install.cmake"
#endif

namespace {

QString sourcePath(const QString& relative)
{
    return QStringLiteral(TESSARO_SOURCE_DIR "/") + relative;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct UsbId
{
    unsigned vendor = 0;
    unsigned product = 0;
};

// Numbers as the catalogue reads them: hexadecimal digits in a JSON string, 0 otherwise.
unsigned hexMember(const QJsonObject& entry, const char* name)
{
    bool ok = false;
    const unsigned value = entry.value(QLatin1String(name)).toString().toUInt(&ok, 16);
    return ok ? value : 0;
}

QList<UsbId> cataloguePairs()
{
    const QJsonDocument document = QJsonDocument::fromJson(readAll(sourcePath(QStringLiteral("data/sensors/supported.json"))));
    QList<UsbId> pairs;
    const QJsonArray entries = document.object().value(QLatin1String("devlist")).toArray();
    for (const QJsonValue& entry : entries)
        pairs.append({hexMember(entry.toObject(), "vendorId"), hexMember(entry.toObject(), "productId")});
    return pairs;
}

QString ruleKey(unsigned vendor, unsigned product)
{
    return QString::asprintf("%04x:%04x", vendor, product);
}

// Keys and values of the [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QString& path)
{
    QMap<QString, QString> keys;
    bool inEntry = false;
    const QList<QByteArray> lines = readAll(path).split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (inEntry && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

} // namespace

class tst_packaging : public QObject
{
    Q_OBJECT

private:
    static QString udevFolder() { return sourcePath(QStringLiteral("data/udev")); }

    // Vendor/product pairs ("1209:0001") of every rule line, from every rules file; lines
    // of another form go to malformed.
    static QSet<QString> rulePairs(QStringList* malformed = nullptr)
    {
        static const QRegularExpression rule(QStringLiteral(
            R"re(^KERNEL=="hidraw\*", KERNELS=="0003:([0-9A-F]{4}):([0-9A-F]{4})\.\*", TAG\+="uaccess"$)re"));
        QSet<QString> pairs;
        const QStringList files = QDir(udevFolder()).entryList({QStringLiteral("*.rules")}, QDir::Files);
        for (const QString& name : files) {
            const QList<QByteArray> lines = readAll(udevFolder() + QLatin1Char('/') + name).split('\n');
            for (const QByteArray& raw : lines) {
                const QString line = QString::fromUtf8(raw).trimmed();
                if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                    continue;
                const QRegularExpressionMatch match = rule.match(line);
                if (!match.hasMatch()) {
                    if (malformed)
                        malformed->append(name + QLatin1String(": ") + line);
                } else {
                    pairs.insert((match.captured(1) + QLatin1Char(':') + match.captured(2)).toLower());
                }
            }
        }
        return pairs;
    }

private slots:
    void catalogueIsReadable()
    {
        const QList<UsbId> pairs = cataloguePairs();
        QVERIFY2(!pairs.isEmpty(), "data/sensors/supported.json lists no devices");
        for (const UsbId& pair : pairs)
            QVERIFY2(pair.vendor != 0 && pair.product != 0, "a catalogue entry has no vendor or product ID");
    }

    void ruleFileIsTheOneTheDebugOutputNames()
    {
        const QString ruleFile = QStringLiteral(TESSARO_UDEV_RULE_FILE);
        QVERIFY2(QFile::exists(udevFolder() + QLatin1Char('/') + ruleFile), qPrintable(ruleFile));
        // Named once, for the debug output and the status line.
        const QByteArray connection = readAll(sourcePath(QStringLiteral("device/tessaro.h")));
        QVERIFY2(connection.contains('"' + ruleFile.toUtf8() + '"'),
                 "the permission hint of the device connection names another rule file");
    }

    void rulesRunBeforeTheSeatRules()
    {
        // TAG+="uaccess" only takes effect when set before 73-seat-late.rules.
        static const QRegularExpression numbered(QStringLiteral(R"re(^(\d\d)-[a-z0-9-]+\.rules$)re"));
        const QStringList files = QDir(udevFolder()).entryList({QStringLiteral("*.rules")}, QDir::Files);
        QVERIFY(!files.isEmpty());
        for (const QString& name : files) {
            const QRegularExpressionMatch match = numbered.match(name);
            QVERIFY2(match.hasMatch(), qPrintable(name));
            QVERIFY2(match.captured(1).toInt() < 73, qPrintable(name));
        }
    }

    void ruleLinesHaveTheHidrawUaccessForm()
    {
        // One hidraw line per device on its HID parent's name, USB bus, IDs as four upper-case
        // hex digits as the kernel writes them (udev compares text).
        QStringList malformed;
        QVERIFY(!rulePairs(&malformed).isEmpty());
        QVERIFY2(malformed.isEmpty(), qPrintable(malformed.join(QLatin1Char('\n'))));
    }

    void everyCataloguePairHasARule()
    {
        const QSet<QString> rules = rulePairs();
        for (const UsbId& pair : cataloguePairs()) {
            const QString key = ruleKey(pair.vendor, pair.product);
            QVERIFY2(rules.contains(key), qPrintable(QStringLiteral("no udev rule for ") + key));
        }
    }

    void noRuleForDevicesOutsideTheCatalogue()
    {
        QSet<QString> catalogue;
        for (const UsbId& pair : cataloguePairs())
            catalogue.insert(ruleKey(pair.vendor, pair.product));
        const QSet<QString> rules = rulePairs();
        for (const QString& key : rules)
            QVERIFY2(catalogue.contains(key), qPrintable(QStringLiteral("udev rule for a device not in the catalogue: ") + key));
    }

    void desktopEntryStartsTheLauncher()
    {
        const QString path = sourcePath(QStringLiteral("data/desktop/" TESSARO_APP_ID ".desktop"));
        QVERIFY2(QFile::exists(path), qPrintable(path));
        const QMap<QString, QString> entry = desktopEntry(path);
        QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
        const QString program = entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
        QCOMPARE(program.section(QLatin1Char('/'), -1), QStringLiteral(TESSARO_LAUNCHER_NAME));
        QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral(TESSARO_APP_ID));
        QCOMPARE(entry.value(QStringLiteral("Terminal")), QStringLiteral("false"));
        const QStringList categories = entry.value(QStringLiteral("Categories")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QVERIFY(categories.contains(QStringLiteral("Settings")));
        QVERIFY(categories.contains(QStringLiteral("HardwareSettings")));
    }

    void installedIconIsTheDrawnWindowIcon()
    {
        // Installed as hicolor/256x256/apps/<id>.png: the drawn picture must be that size.
        const QImage icon(QStringLiteral("rc/tessaro_icon.png"));
        QVERIFY2(!icon.isNull(), "rc/tessaro_icon.png was not drawn");
        QCOMPARE(icon.size(), QSize(256, 256));
    }

    void metainfoNamesTheDesktopEntryAndTheSensors()
    {
        const QString path = sourcePath(QStringLiteral("data/desktop/" TESSARO_APP_ID ".metainfo.xml"));
        QXmlStreamReader xml(readAll(path));
        QString id;
        QString launchable;
        QStringList binaries;
        QSet<QString> modaliases;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QStringRef name = xml.name();
            if (name == QLatin1String("id"))
                id = xml.readElementText();
            else if (name == QLatin1String("launchable"))
                launchable = xml.readElementText();
            else if (name == QLatin1String("binary"))
                binaries.append(xml.readElementText());
            else if (name == QLatin1String("modalias"))
                modaliases.insert(xml.readElementText());
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(id, QStringLiteral(TESSARO_APP_ID));
        QCOMPARE(launchable, QStringLiteral(TESSARO_APP_ID ".desktop"));
        QCOMPARE(binaries, QStringList{QStringLiteral(TESSARO_LAUNCHER_NAME)});
        for (const UsbId& pair : cataloguePairs()) {
            const QString alias = QString::asprintf("usb:v%04Xp%04Xd*", pair.vendor, pair.product);
            QVERIFY2(modaliases.contains(alias), qPrintable(QStringLiteral("metainfo lacks ") + alias));
        }
    }
};

TESSARO_TEST_MAIN(tst_packaging)
#include "tst_packaging.moc"
