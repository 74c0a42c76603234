// The shipped language files: valid, a text for every key the program shows and for every
// text of the shipped parameter files, and menu entries with mnemonics that do not clash.
#include "app/tessarotranslator.h"
#include "sensor/parameterfile.h"
#include "testmain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>

namespace {

const QString SourceDir = QStringLiteral(TESSARO_SOURCE_DIR);
const QString DataDir = SourceDir + QStringLiteral("/data");

// Where the program's own code lies; sim/ and tests/ show nothing to the user.
const char* const ProgramFolders[] = {"app", "device", "sensor", "live", "update"};

// Every key the finished program shows, listed here because many views that pass them
// through the translation call are not written yet. The scan below adds any others.
const char* const ProgramKeys[] = {
    // main window
    "[title]", "[tsro_connect]", "[menu:file]", "[menu:file:lang]", "[menu:file:update]", "[menu:file:exit]",
    "[menu:info]", "[menu:info:help]", "[menu:info:support]", "[menu:info:web]", "[menu:info:registration]",
    "[menu:info:about]",
    // About window
    "[about]",
    // sensor view, its tabs and the poll
    "[tab:simple]", "[tab:info]", "[tab:system]", "[tab:advanced]", "[simple:preset]", "[simple:presets]",
    "[simple:easythr]", "[simple:save]", "[info:sensor]", "[info:sensor:id]", "[info:sensor:hw]",
    "[info:sensor:sw]", "[info:sensor:swbuild]", "[info:sensor:uptodate]", "[info:sensor:newfirm]", "[info:pen]",
    "[info:pen:id]", "[info:pen:swver]", "[info:pen:id:acquire]", "[info:pen:id:ready]", "[live:pen]",
    "[live:pen:batt]", "[live:pen:run]", "[live:pen:volt]", "[live:pen:hours]", "[live:pen:nodata]",
    "[sys:calibrate:start]", "[sys:calibrate:abort]", "[sys:calibrate:center]", "[adv:btn:reload]",
    "[adv:btn:save]", "[menu:info:about:uptodate]", "[menu:info:about:newsoft]",
    // live view
    "[live:sens]", "[live:sens:x]", "[live:sens:y]", "[live:sens:size]", "[live:sens:num]", "[live:cal]",
    "[live:cal:state]", "[live:cal:point]", "[live:cal:running]", "[live:cal:done]", "[live:penbattery]",
    // calibration screen
    "[cal:abort]", "[cal:restart]",
    // centering screen
    "[center:setup]", "[center:setup:info]", "[center:startcal]", "[center:stop]",
    // update dialog
    "[updatedialog:info]", "[updatedialog:hw]", "[updatedialog:sw]", "[updatedialog:usefile]",
    "[updatedialog:cancel]", "[updatedialog:firmware:new]", "[updatedialog:firmware:ok]",
    "[updatedialog:firmware:updating]", "[updatedialog:firmware:updated]",
    // legacy device view
    "[legacy:text]", "[legacy:update]",
};

// A bracketed key as the first literal of tr(), QT_TR_NOOP() or the second of translate()
// and QT_TRANSLATE_NOOP(), whatever the spacing and line breaks.
const QRegularExpression TranslationCall(QStringLiteral(
    R"re((?:\b(?:tr|QT_TR_NOOP)\s*\(|\btranslate\s*\(\s*[^,;()]*,|\bQT_TRANSLATE_NOOP\s*\(\s*"[^"]*"\s*,)\s*"(\[[^"\\]*\])")re"));

const QRegularExpression BracketedKey(QStringLiteral(R"(^\[[^\[\]]+\]$)"));

// The menu bar's titles and each menu's entries: each text needs a mnemonic of its own
// within its menu. The language names get theirs from the window.
const QList<QStringList> Menus = {
    {"[menu:file]", "[menu:info]"},
    {"[menu:file:lang]", "[menu:file:update]", "[menu:file:exit]"},
    {"[menu:info:help]", "[menu:info:support]", "[menu:info:web]", "[menu:info:registration]", "[menu:info:about]"},
};

QSet<QString> keysIn(const QString& source)
{
    QSet<QString> keys;
    QRegularExpressionMatchIterator it = TranslationCall.globalMatch(source);
    while (it.hasNext())
        keys.insert(it.next().captured(1));
    return keys;
}

QSet<QString> keysInProgram(int* fileCount)
{
    QSet<QString> keys;
    *fileCount = 0;
    for (const char* folder : ProgramFolders) {
        QDirIterator it(SourceDir + QLatin1Char('/') + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            ++*fileCount;
            keys.unite(keysIn(QString::fromUtf8(file.readAll())));
        }
    }
    return keys;
}

QSet<QString> requiredKeys()
{
    int fileCount = 0;
    QSet<QString> keys = keysInProgram(&fileCount);
    for (const char* key : ProgramKeys)
        keys.insert(QString::fromLatin1(key));
    return keys;
}

QJsonDocument readJson(const QString& relativePath, QString* problem)
{
    QFile file(DataDir + QLatin1Char('/') + relativePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = relativePath + QStringLiteral(": ") + file.errorString();
        return QJsonDocument();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (document.isNull())
        *problem = QStringLiteral("%1: %2 at offset %3").arg(relativePath, error.errorString()).arg(error.offset);
    else if (!document.isObject())
        *problem = relativePath + QStringLiteral(": not a JSON object");
    return document;
}

// The shown texts of one parameter row: its caption and, for a drop-down, its choices.
// A row of another type is not shown at all.
void addRowTexts(const QJsonObject& parameter, QSet<QString>* texts)
{
    const QString type = ParameterFile::text(parameter.value(QLatin1String("type")));
    if (type != QLatin1String("int") && type != QLatin1String("bool") && type != QLatin1String("enum"))
        return;
    texts->insert(ParameterFile::text(parameter.value(QLatin1String("name"))));
    if (type != QLatin1String("enum"))
        return;
    const QJsonArray values = ParameterFile::array(parameter, "values");
    for (const QJsonValue& value : values)
        texts->insert(ParameterFile::text(value.toObject().value(QLatin1String("comment"))));
}

// Group titles, captions and choices of every parameter file the shipped catalogue names:
// the sensor view shows them through the translator.
QSet<QString> parameterTexts(QString* problem)
{
    QSet<QString> texts;
    const QJsonArray devices =
        readJson(QStringLiteral("sensors/supported.json"), problem).object().value("devlist").toArray();
    for (const QJsonValue& device : devices) {
        const QString configFile = device.toObject().value("configfile").toString();
        if (configFile.isEmpty())
            continue;
        const QJsonObject file = readJson(QLatin1String(ParameterFile::Folder) + configFile, problem).object();
        const QJsonArray groups = ParameterFile::array(file, "parameters_system");
        for (const QJsonValue& group : groups) {
            texts.insert(ParameterFile::text(group.toObject().value(QLatin1String("name"))));
            const QJsonArray rows = ParameterFile::array(group.toObject(), "parameters");
            for (const QJsonValue& row : rows)
                addRowTexts(row.toObject(), &texts);
        }
        const QJsonArray advanced = ParameterFile::array(file, "parameters_advanced");
        for (const QJsonValue& row : advanced)
            addRowTexts(row.toObject(), &texts);
    }
    texts.remove(QString());
    return texts;
}

// The letter after the text's '&' (a doubled one is shown, not a mnemonic); null without one.
QChar mnemonic(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) != QLatin1Char('&'))
            return text.at(i + 1).toLower();
        ++i;
    }
    return QChar();
}

QString sorted(const QSet<QString>& set)
{
    QStringList list(set.cbegin(), set.cend());
    list.sort();
    return list.join(QStringLiteral(", "));
}

} // namespace

class tst_languages : public QObject
{
    Q_OBJECT

private:
    // Code and file of every listed language; a broken catalogue gives one row that fails.
    static void addLanguageRows()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("file");
        QString problem;
        const QJsonArray langs =
            readJson(QLatin1String(TessaroLang::CataloguePath), &problem).object().value("langs").toArray();
        for (const QJsonValue& entry : langs) {
            const QString code = entry.toObject().value("code").toString();
            QTest::newRow(qPrintable(code)) << code << entry.toObject().value("file").toString();
        }
        if (langs.isEmpty())
            QTest::newRow("no languages") << QString() << QString();
    }

    QSet<QString> shownParameterTexts;

    // Reads a language file's texts by key, failing the test on anything malformed.
    void readTexts(const QString& file, QMap<QString, QString>* texts)
    {
        QVERIFY2(!file.isEmpty(), "the catalogue names no file");
        QString problem;
        const QJsonDocument document = readJson(QLatin1String(TessaroLang::Folder) + file, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const QJsonValue tr = document.object().value("tr");
        QVERIFY2(tr.isArray(), "\"tr\" is not an array");
        const QJsonArray entries = tr.toArray();
        for (int i = 0; i < entries.size(); ++i) {
            const QJsonObject entry = entries.at(i).toObject();
            const QString where = QStringLiteral("entry %1 %2").arg(i).arg(
                QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact)));
            QVERIFY2(entries.at(i).isObject(), qPrintable(where + QStringLiteral(": not an object")));
            QVERIFY2(entry.value("id").isString(), qPrintable(where + QStringLiteral(": \"id\" is not a string")));
            QVERIFY2(entry.value("tr").isString(), qPrintable(where + QStringLiteral(": \"tr\" is not a string")));
            const QString id = entry.value("id").toString();
            QVERIFY2(BracketedKey.match(id).hasMatch() || shownParameterTexts.contains(id),
                     qPrintable(where + QStringLiteral(": neither a key in brackets nor a parameter file's text")));
            QVERIFY2(!texts->contains(id), qPrintable(where + QStringLiteral(": key given twice")));
            texts->insert(id, entry.value("tr").toString());
        }
    }

private slots:
    void initTestCase()
    {
        QString problem;
        shownParameterTexts = parameterTexts(&problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(!shownParameterTexts.isEmpty());
    }

    void scanFindsTranslationCalls_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("tr") << R"(label->setText(tr("[menu:file]"));)" << QStringList({"[menu:file]"});
        QTest::newRow("spaces") << "tr ( \"[a:b]\" )" << QStringList({"[a:b]"});
        QTest::newRow("class tr") << R"(QObject::tr("[x]") + view_about::tr("[y]"))" << QStringList({"[x]", "[y]"});
        QTest::newRow("translate") << R"(QCoreApplication::translate("view_legacy", "[legacy:text]"))"
                                   << QStringList({"[legacy:text]"});
        QTest::newRow("translate, context variable") << "QCoreApplication::translate(Context,\n    \"[k]\")"
                                                     << QStringList({"[k]"});
        QTest::newRow("QT_TR_NOOP") << R"({QT_TR_NOOP("[one]"), QT_TR_NOOP( "[two]" )})"
                                    << QStringList({"[one]", "[two]"});
        QTest::newRow("QT_TRANSLATE_NOOP") << R"(QT_TRANSLATE_NOOP("viewMain", "[three]"))"
                                           << QStringList({"[three]"});
        QTest::newRow("line break") << "tr(\n        \"[live:pen:volt]\")" << QStringList({"[live:pen:volt]"});
        QTest::newRow("not a key") << R"(tr("Update"); tr("VAVUvazud"); setWindowTitle("About");)"
                                   << QStringList();
        QTest::newRow("no translation call") << R"(QLabel("[plain]"); str("[s]"); attr("[a]"))" << QStringList();
        QTest::newRow("variable") << "tr(key)" << QStringList();
    }

    void scanFindsTranslationCalls()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, keys);
        QStringList found(keysIn(source).values());
        found.sort();
        keys.sort();
        QCOMPARE(found, keys);
    }

    void scanReadsTheProgram()
    {
        int fileCount = 0;
        const QSet<QString> keys = keysInProgram(&fileCount);
        QVERIFY(fileCount > 0);
        // The main window's title is passed through the translation call from the start.
        QVERIFY2(keys.contains(QStringLiteral("[title]")), qPrintable(sorted(keys)));
    }

    void catalogueIsValid()
    {
        QString problem;
        const QJsonDocument document = readJson(QLatin1String(TessaroLang::CataloguePath), &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        const QJsonValue langs = document.object().value("langs");
        QVERIFY2(langs.isArray(), "\"langs\" is not an array");
        QVERIFY(!langs.toArray().isEmpty());
        QSet<QString> codes;
        for (const QJsonValue& value : langs.toArray()) {
            QVERIFY(value.isObject());
            const QJsonObject entry = value.toObject();
            for (const char* member : {"code", "name", "intname", "file"})
                QVERIFY2(!entry.value(QLatin1String(member)).toString().isEmpty(),
                         qPrintable(QStringLiteral("no \"%1\" in %2")
                                        .arg(QLatin1String(member),
                                             QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact)))));
            const QString code = entry.value("code").toString();
            QVERIFY2(!codes.contains(code), qPrintable(code + QStringLiteral(" listed twice")));
            codes.insert(code);
        }
        // A first run, with no setting stored, starts in Dutch.
        QVERIFY(codes.contains(QStringLiteral("nl")));
    }

    void languageFileIsValid_data()
    {
        addLanguageRows();
    }

    void languageFileIsValid()
    {
        QFETCH(QString, file);
        QMap<QString, QString> texts;
        readTexts(file, &texts);
    }

    void languageHasEveryKey_data()
    {
        addLanguageRows();
    }

    void languageHasEveryKey()
    {
        QFETCH(QString, file);
        QMap<QString, QString> texts;
        readTexts(file, &texts);
        if (QTest::currentTestFailed())
            return;
        QSet<QString> missing;
        const QSet<QString> keys = requiredKeys() + shownParameterTexts;
        for (const QString& key : keys) {
            if (texts.value(key).trimmed().isEmpty())
                missing.insert(key);
        }
        QVERIFY2(missing.isEmpty(), qPrintable(file + QStringLiteral(" lacks a text for ") + sorted(missing)));
    }

    void menusHaveMnemonics_data()
    {
        addLanguageRows();
    }

    void menusHaveMnemonics()
    {
        QFETCH(QString, file);
        QMap<QString, QString> texts;
        readTexts(file, &texts);
        if (QTest::currentTestFailed())
            return;
        for (const QStringList& menu : Menus) {
            QMap<QChar, QString> taken;
            for (const QString& key : menu) {
                const QString text = texts.value(key);
                const QChar letter = mnemonic(text);
                QVERIFY2(!letter.isNull() && letter.isLetterOrNumber(),
                         qPrintable(QStringLiteral("%1 \"%2\" has no mnemonic").arg(key, text)));
                QVERIFY2(!taken.contains(letter), qPrintable(QStringLiteral("%1 \"%2\" and \"%3\" share '%4'")
                                                                 .arg(key, text, taken.value(letter), letter)));
                taken.insert(letter, text);
            }
        }
    }

    void translatorShowsEveryKey_data()
    {
        addLanguageRows();
    }

    void translatorShowsEveryKey()
    {
        QFETCH(QString, code);
        // The program opens its data relative to the current directory.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(DataDir));
        const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });

        tessaroTranslator translator;
        QVERIFY(translator.getAvaibleLanguages().contains(code));
        translator.loadLanguage(code);
        QStringList untranslated;
        const QSet<QString> keys = requiredKeys();
        for (const QString& key : keys) {
            if (translator.translate("viewMain", key.toUtf8().constData()) == key)
                untranslated << key;
        }
        untranslated.sort();
        QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QStringLiteral(", "))));
    }
};

TESSARO_TEST_MAIN(tst_languages)
#include "tst_languages.moc"
