// The shipped language files: a text for every key the program and every shipped parameter
// file show, and menu mnemonics that do not clash.
#include "app/tessarotranslator.h"
#include "app/view_about.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "sensor/parameterfile.h"
#include "sensor/tessaroidentity.h"
#include "testmain.h"

#include <QAbstractButton>
#include <QLabel>

#include <functional>

namespace {

const QString SourceDir = QStringLiteral(TESSARO_SOURCE_DIR);
const QString DataDir = SourceDir + QStringLiteral("/data");

// A bracketed key as the first literal of tr(), QT_TR_NOOP() or the second of translate()
// and QT_TRANSLATE_NOOP(), whatever the spacing and line breaks.
const QRegularExpression TranslationCall(QStringLiteral(
    R"re((?:\b(?:tr|QT_TR_NOOP)\s*\(|\btranslate\s*\(\s*[^,;()]*,|\bQT_TRANSLATE_NOOP\s*\(\s*"[^"]*"\s*,)\s*"(\[[^"\\]*\])")re"));

// The menu bar's titles and each menu's entries: each needs a mnemonic of its own in its menu.
const QList<QStringList> Menus = {
    {"[menu:file]", "[menu:info]"},
    {"[menu:file:lang]", "[menu:file:update]", "[menu:file:exit]"},
    {"[menu:info:help]", "[menu:info:support]", "[menu:info:web]", "[menu:info:registration]", "[menu:info:updatelog]",
     "[menu:info:report]", "[menu:info:about]"},
};

QSet<QString> keysIn(const QString& source)
{
    QSet<QString> keys;
    QRegularExpressionMatchIterator it = TranslationCall.globalMatch(source);
    while (it.hasNext())
        keys.insert(it.next().captured(1));
    return keys;
}

// Every key in the program's own code; sim/ and tests/ show nothing to the user.
QSet<QString> keysInProgram()
{
    QSet<QString> keys;
    for (const char* folder : {"app", "device", "sensor", "live", "update"}) {
        QDirIterator it(SourceDir + QLatin1Char('/') + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            keys.unite(keysIn(file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString()));
        }
    }
    return keys;
}

QJsonObject readJson(const QString& relativePath)
{
    QFile file(DataDir + QLatin1Char('/') + relativePath);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), &error);
    [&] { QVERIFY2(document.isObject(), qPrintable(relativePath + QLatin1String(": ") + error.errorString())); }();
    return document.object();
}

// The shown texts of one parameter row: caption and, for a drop-down, its choices.
void addRowTexts(const QJsonObject& parameter, QSet<QString>* texts)
{
    const QString type = ParameterFile::text(parameter.value(QLatin1String("type")));
    if (QStringList({"int", "bool", "enum"}).contains(type))
        texts->insert(ParameterFile::text(parameter.value(QLatin1String("name"))));
    for (const QJsonValue& value : type == QLatin1String("enum") ? ParameterFile::array(parameter, "values") : QJsonArray())
        texts->insert(ParameterFile::text(value.toObject().value(QLatin1String("comment"))));
}

// Group titles, captions and choices of every parameter file the shipped catalogue names.
QSet<QString> parameterTexts()
{
    QSet<QString> texts;
    for (const QJsonValue& device : readJson(QStringLiteral("sensors/supported.json")).value("devlist").toArray()) {
        const QString configFile = device.toObject().value("configfile").toString();
        const QJsonObject file = configFile.isEmpty() ? QJsonObject() : readJson(ParameterFile::Folder + configFile);
        for (const QJsonValue& group : ParameterFile::array(file, "parameters_system")) {
            texts.insert(ParameterFile::text(group.toObject().value(QLatin1String("name"))));
            for (const QJsonValue& row : ParameterFile::array(group.toObject(), "parameters"))
                addRowTexts(row.toObject(), &texts);
        }
        for (const QJsonValue& row : ParameterFile::array(file, "parameters_advanced"))
            addRowTexts(row.toObject(), &texts);
    }
    texts.remove(QString());
    return texts;
}

// Every text a screen shows: its title, labels and buttons.
QStringList shownTexts(QWidget* screen)
{
    QStringList texts{screen->windowTitle()};
    for (const QLabel* label : screen->findChildren<QLabel*>())
        texts << label->text();
    for (const QAbstractButton* button : screen->findChildren<QAbstractButton*>())
        texts << button->text();
    return texts;
}

} // namespace

using Screen = std::function<QStringList()>;
Q_DECLARE_METATYPE(Screen)

class tst_languages : public QObject
{
    Q_OBJECT

private slots:
    // The program opens its data from the working folder.
    void initTestCase() { QVERIFY(QDir::setCurrent(DataDir)); }

    void languages_data()
    {
        // The scan finds every form of the call, and only bracketed keys.
        QCOMPARE(keysIn(R"(tr ( "[a]" ) translate(Context,
            "[b]") {QT_TR_NOOP("[c]"), QT_TRANSLATE_NOOP("v", "[d]")} tr("e") str("[f]") tr(key))"),
                 QSet<QString>({"[a]", "[b]", "[c]", "[d]"}));
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("file");
        QSet<QString> codes;
        for (const QJsonValue& entry : readJson(QLatin1String(TessaroLang::CataloguePath)).value("langs").toArray()) {
            const QString code = entry.toObject().value("code").toString();
            QTest::newRow(qPrintable(code)) << code << entry.toObject().value("file").toString();
            QVERIFY2(!codes.contains(code) && !entry.toObject().value("name").toString().isEmpty(), qPrintable(code));
            codes.insert(code);
        }
        QVERIFY(codes.contains(QStringLiteral("nl")));  // a first run starts in Dutch
    }

    // Each key once, a text for every shown key as the program's translator loads it.
    void languages()
    {
        QFETCH(QString, code);
        QFETCH(QString, file);
        const QSet<QString> shownParameterTexts = parameterTexts();
        QVERIFY(!shownParameterTexts.isEmpty());
        static const QRegularExpression bracketedKey(QStringLiteral(R"(^\[[^\[\]]+\]$)"));
        QMap<QString, QString> texts;
        for (const QJsonValue& value : readJson(QLatin1String(TessaroLang::Folder) + file).value("tr").toArray()) {
            const QString id = value.toObject().value("id").toString();
            // A string text, a key or a parameter file's text, given once.
            QVERIFY2(value.toObject().value("tr").isString() && !texts.contains(id)
                         && (bracketedKey.match(id).hasMatch() || shownParameterTexts.contains(id)),
                     QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).constData());
            texts.insert(id, value.toObject().value("tr").toString());
        }

        tessaroTranslator translator;
        QVERIFY(translator.getAvaibleLanguages().contains(code));
        translator.loadLanguage(code);
        QStringList missing;
        for (const QString& key : keysInProgram() + shownParameterTexts) {
            const QString text = texts.value(key);
            if (text.trimmed().isEmpty() || translator.translate("viewMain", key.toUtf8().constData()) != text)
                missing << key;
        }
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(file + QStringLiteral(" lacks ") + missing.join(QStringLiteral(", "))));

        for (const QStringList& menu : Menus) {
            QMap<QString, QString> taken;
            for (const QString& key : menu) {
                // The letter after the '&' (a doubled one is shown, not a mnemonic).
                const QString single = QString(texts.value(key)).remove(QStringLiteral("&&"));
                const QString letter = single.mid(single.indexOf(QLatin1Char('&')) + 1, 1).toLower();
                QVERIFY2(single.contains(QLatin1Char('&')) && !letter.isEmpty() && letter.at(0).isLetterOrNumber(),
                         qPrintable(key + QStringLiteral(" has no mnemonic")));
                QVERIFY2(!taken.contains(letter), qPrintable(key + QStringLiteral(" and ") + taken.value(letter)));
                taken.insert(letter, key);
            }
        }
    }

    void noEnglish_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<Screen>("screen");
        QTest::addColumn<QStringList>("english");  // texts that must not be shown
        const QList<std::tuple<const char*, Screen, QStringList>> screens{
            {"about",
             [] {
                 view_about about;
                 return shownTexts(&about);
             },
             {"About", "Version:", "close"}},
            {"centering",
             [] {
                 view_tessarocenter center(nullptr);
                 return shownTexts(&center);
             },
             {"Size"}},
            {"calibration",
             [] {
                 view_tessarocalibrate calibrate(nullptr);
                 calibrate.LivePoint(QStringLiteral("sens:point:512:384:big:1"));
                 return shownTexts(&calibrate);
             },
             {"Size"}},
            {"build date",
             [] {
                 tessaroIdentity identity;
                 identity.build = QStringLiteral("2026:11:20");
                 return QStringList{identity.buildDate()};
             },
             {"2026:11:20"}},
        };
        for (const char* code : {"nl", "de"})
            for (const auto& [name, screen, english] : screens)
                QTest::addRow("%s %s", code, name) << code << screen << english;
    }

    // The screens in Dutch and German show none of their former English texts.
    void noEnglish()
    {
        QFETCH(QString, code);
        QFETCH(Screen, screen);
        QFETCH(QStringList, english);
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(code);
        QVERIFY(QCoreApplication::installTranslator(&translator));
        QLocale::setDefault(QLocale(code));
        const QStringList texts = screen();
        QCoreApplication::removeTranslator(&translator);
        QLocale::setDefault(QLocale::c());
        QVERIFY(!texts.join(QString()).isEmpty());
        for (const QString& text : texts)
            for (const QString& word : english)
                QVERIFY2(!text.contains(word), qPrintable(text));
    }

    // A build that is no date is shown as sent.
    void buildNotADate()
    {
        tessaroIdentity identity;
        identity.build = QStringLiteral("nightly:7");
        QCOMPARE(identity.buildDate(), identity.build);
    }
};

TESSARO_TEST_MAIN(tst_languages)
#include "tst_languages.moc"
