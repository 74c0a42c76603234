// The translator: language catalogue, key-to-text table and the key shown for a missing text.
#include "app/qttranslations.h"
#include "app/tessarotranslator.h"
#include "simfixture.h"
#include "testmain.h"

#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>

#include <optional>

namespace {

const QString CataloguePath = QString::fromLatin1(TessaroLang::CataloguePath);

QJsonObject language(const QString& code, const QString& name, const QString& intname, const QString& file)
{
    return QJsonObject{{"code", code}, {"name", name}, {"intname", intname}, {"file", file}};
}

QByteArray catalogue(const QJsonArray& langs)
{
    return QJsonDocument(QJsonObject{{"langs", langs}}).toJson();
}

QJsonObject text(const QString& id, const QString& tr)
{
    return QJsonObject{{"id", id}, {"tr", tr}};
}

QByteArray texts(const QJsonArray& tr)
{
    return QJsonDocument(QJsonObject{{"tr", tr}}).toJson();
}

} // namespace

class tst_translator : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;

    // One language "nl" in "nl.json" with the given texts, loaded into a fresh translator.
    void loadDutch(tessaroTranslator& translator, const QByteArray& languageFile)
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json")}));
        fixture->writeFile(QStringLiteral("lang/nl.json"), languageFile);
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
    }

    static QString show(const tessaroTranslator& translator, const QString& key)
    {
        return translator.translate("viewMain", key.toUtf8().constData());
    }

private slots:
    void init()
    {
        fixture.emplace();
    }

    void cleanup()
    {
        fixture.reset();
    }

    void neverEmpty()
    {
        tessaroTranslator translator;
        QVERIFY(!translator.isEmpty());
        loadDutch(translator, texts({text("[menu:file]", "Bestand")}));
        QVERIFY(!translator.isEmpty());
    }

    void takesNoParent()
    {
        QObject owner;
        tessaroTranslator translator(&owner);
        QVERIFY(translator.parent() == nullptr);
        QVERIFY(owner.children().isEmpty());
    }

    void catalogueOrderedByCode()
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json"),
                                                     language("en", "English", "English", "en.json"),
                                                     language("fr", "Français", "French", "fr.json"),
                                                     language("de", "Deutsch", "German", "de.json")}));
        tessaroTranslator translator;
        const LangMap languages = translator.getAvaibleLanguages();
        QCOMPARE(languages.keys(), QStringList({"de", "en", "fr", "nl"}));
        const Language dutch = languages.value(QStringLiteral("nl"));
        QCOMPARE(dutch.code, QStringLiteral("nl"));
        QCOMPARE(dutch.name, QStringLiteral("Nederlands"));
        QCOMPARE(dutch.intname, QStringLiteral("Dutch"));
        QCOMPARE(dutch.file, QStringLiteral("nl.json"));
        QCOMPARE(languages.value(QStringLiteral("fr")).name, QStringLiteral("Français"));
    }

    void fileNamesGoToTheDebugStream()
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json"),
                                                     language("de", "Deutsch", "German", "de.json")}));
        QTest::ignoreMessage(QtDebugMsg, "\"nl.json\"");
        QTest::ignoreMessage(QtDebugMsg, "\"de.json\"");
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
    }

    void laterDuplicateCodeWins()
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json"),
                                                     language("de", "Deutsch", "German", "de.json"),
                                                     language("nl", "Vlaams", "Flemish", "vl.json")}));
        fixture->writeFile(QStringLiteral("lang/nl.json"), texts({text("[menu:file]", "Bestand")}));
        fixture->writeFile(QStringLiteral("lang/vl.json"), texts({text("[menu:file]", "Bestand (Vlaams)")}));
        tessaroTranslator translator;
        const LangMap languages = translator.getAvaibleLanguages();
        QCOMPARE(languages.keys(), QStringList({"de", "nl"}));
        QCOMPARE(languages.value(QStringLiteral("nl")).name, QStringLiteral("Vlaams"));
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("Bestand (Vlaams)"));
    }

    void catalogueAccumulates()
    {
        tessaroTranslator translator;
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json")}));
        translator.getAvaibleLanguages();
        fixture->writeFile(CataloguePath, catalogue({language("de", "Deutsch", "German", "de.json")}));
        QCOMPARE(translator.getAvaibleLanguages().keys(), QStringList({"de", "nl"}));
    }

    void missingMembersGiveEmptyStrings_data()
    {
        QTest::addColumn<QJsonObject>("entry");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("intname");
        QTest::addColumn<QString>("file");
        QTest::newRow("no name") << QJsonObject{{"code", "nl"}, {"intname", "Dutch"}, {"file", "nl.json"}}
                                 << "nl" << "" << "Dutch" << "nl.json";
        QTest::newRow("no intname") << QJsonObject{{"code", "nl"}, {"name", "Nederlands"}, {"file", "nl.json"}}
                                    << "nl" << "Nederlands" << "" << "nl.json";
        QTest::newRow("no file") << QJsonObject{{"code", "nl"}, {"name", "Nederlands"}, {"intname", "Dutch"}}
                                 << "nl" << "Nederlands" << "Dutch" << "";
        QTest::newRow("no code") << QJsonObject{{"name", "Nederlands"}, {"intname", "Dutch"}, {"file", "nl.json"}}
                                 << "" << "Nederlands" << "Dutch" << "nl.json";
        QTest::newRow("name not a string")
            << QJsonObject{{"code", "nl"}, {"name", 7}, {"intname", QJsonArray{"Dutch"}}, {"file", true}}
            << "nl" << "" << "" << "";
        QTest::newRow("empty object") << QJsonObject() << "" << "" << "" << "";
    }

    void missingMembersGiveEmptyStrings()
    {
        QFETCH(QJsonObject, entry);
        QFETCH(QString, code);
        fixture->writeFile(CataloguePath, catalogue({entry}));
        tessaroTranslator translator;
        const LangMap languages = translator.getAvaibleLanguages();
        QCOMPARE(languages.keys(), QStringList({code}));
        const Language record = languages.value(code);
        QCOMPARE(record.code, code);
        QTEST(record.name, "name");
        QTEST(record.intname, "intname");
        QTEST(record.file, "file");
    }

    void entriesThatAreNotObjects()
    {
        fixture->writeFile(CataloguePath, "{\"langs\": [5, \"nl\", null, [\"nl\"], "
                                          "{\"code\": \"de\", \"name\": \"Deutsch\", \"file\": \"de.json\"}]}");
        fixture->writeFile(QStringLiteral("lang/de.json"), texts({text("[menu:file]", "Datei")}));
        tessaroTranslator translator;
        const LangMap languages = translator.getAvaibleLanguages();
        QCOMPARE(languages.value(QStringLiteral("de")).name, QStringLiteral("Deutsch"));
        QVERIFY(!languages.contains(QStringLiteral("nl")));
        QCOMPARE(languages.keys(), QStringList({"de"}));
        translator.loadLanguage(QStringLiteral("de"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("Datei"));
    }

    void missingCatalogue()
    {
        QTest::ignoreMessage(QtDebugMsg, "error code = 5");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^error string = \".+\"$")));
        tessaroTranslator translator;
        QVERIFY(translator.getAvaibleLanguages().isEmpty());
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
        QVERIFY(!translator.isEmpty());
    }

    void unreadableCatalogue()
    {
        // A folder where the catalogue file should be cannot be opened as a file.
        QDir(fixture->dir()).mkpath(CataloguePath);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^error code = [1-9][0-9]*$")));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^error string = \".+\"$")));
        tessaroTranslator translator;
        QVERIFY(translator.getAvaibleLanguages().isEmpty());
    }

    void brokenCatalogueChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"langs\": [");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01", 4);
        QTest::newRow("top-level array") << QByteArray("[{\"code\": \"en\"}]");
        QTest::newRow("langs is an object") << QByteArray("{\"langs\": {\"code\": \"en\"}}");
        QTest::newRow("langs is a string") << QByteArray("{\"langs\": \"en\"}");
        QTest::newRow("no langs") << QByteArray("{\"languages\": []}");
    }

    void brokenCatalogueChangesNothing()
    {
        QFETCH(QByteArray, content);
        tessaroTranslator translator;
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json")}));
        fixture->writeFile(QStringLiteral("lang/nl.json"), texts({text("[menu:file]", "Bestand")}));
        const LangMap before = translator.getAvaibleLanguages();

        fixture->writeFile(CataloguePath, content);
        const LangMap after = translator.getAvaibleLanguages();
        QCOMPARE(after.keys(), before.keys());
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("Bestand"));

        tessaroTranslator fresh;
        QVERIFY(fresh.getAvaibleLanguages().isEmpty());
    }

    void textOfKey()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Bestand"), text("[menu:info]", "Info")}));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("Bestand"));
        QCOMPARE(show(translator, "[menu:info]"), QStringLiteral("Info"));
    }

    void keyWithoutTextShowsItself()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Bestand")}));
        QCOMPARE(show(translator, "[menu:file:exit]"), QStringLiteral("[menu:file:exit]"));
        QCOMPARE(show(translator, "close"), QStringLiteral("close"));
        QCOMPARE(show(translator, ""), QString());
    }

    void emptyTextShowsKey()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "")}));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
    }

    void laterDuplicateIdWins()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Eerste"), text("[menu:info]", "Info"),
                                     text("[menu:file]", "Bestand")}));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("Bestand"));
    }

    void laterEmptyDuplicateShowsKey()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Bestand"), text("[menu:file]", "")}));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
    }

    void contextAndCountIgnored()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[live:pen:hours]", "uur")}));
        QCOMPARE(translator.translate("view_tessaro", "[live:pen:hours]"), QStringLiteral("uur"));
        QCOMPARE(translator.translate("view_dialogupdate", "[live:pen:hours]", "plural", 3), QStringLiteral("uur"));
        QCOMPARE(translator.translate(nullptr, "[live:pen:hours]"), QStringLiteral("uur"));
        QVERIFY(translator.translate("viewMain", nullptr).isEmpty());
    }

    void unknownCodeShowsKeys()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Bestand")}));
        translator.loadLanguage(QStringLiteral("xx"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
        translator.loadLanguage(QString());
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
    }

    void loadWithoutCatalogueShowsKeys()
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json")}));
        fixture->writeFile(QStringLiteral("lang/nl.json"), texts({text("[menu:file]", "Bestand")}));
        tessaroTranslator translator;
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
    }

    void missingLanguageFileShowsKeys()
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json"),
                                                     language("de", "Deutsch", "German", "de.json"),
                                                     language("fr", "Français", "French", "")}));
        fixture->writeFile(QStringLiteral("lang/nl.json"), texts({text("[menu:file]", "Bestand")}));
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        translator.loadLanguage(QStringLiteral("de"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
        translator.loadLanguage(QStringLiteral("fr"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
    }

    void badLanguageFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not JSON") << QByteArray("{\"tr\": [{\"id\": \"[menu:file]\", \"tr\": \"Bestand\"}")
                                  << "[menu:file]" << "[menu:file]";
        QTest::newRow("empty file") << QByteArray() << "[menu:file]" << "[menu:file]";
        QTest::newRow("plain text") << QByteArray("[menu:file]=Bestand\n") << "[menu:file]" << "[menu:file]";
        QTest::newRow("top-level array") << QByteArray("[{\"id\": \"[menu:file]\", \"tr\": \"Bestand\"}]")
                                         << "[menu:file]" << "[menu:file]";
        QTest::newRow("tr is an object") << QByteArray("{\"tr\": {\"id\": \"[menu:file]\", \"tr\": \"Bestand\"}}")
                                         << "[menu:file]" << "[menu:file]";
        QTest::newRow("text is a number") << QByteArray("{\"tr\": [{\"id\": \"[menu:file]\", \"tr\": 5}]}")
                                          << "[menu:file]" << "[menu:file]";
        QTest::newRow("text is an array") << QByteArray("{\"tr\": [{\"id\": \"[menu:file]\", \"tr\": [\"Bestand\"]}]}")
                                          << "[menu:file]" << "[menu:file]";
        QTest::newRow("text is null") << QByteArray("{\"tr\": [{\"id\": \"[menu:file]\", \"tr\": null}]}")
                                      << "[menu:file]" << "[menu:file]";
        QTest::newRow("no text") << QByteArray("{\"tr\": [{\"id\": \"[menu:file]\"}]}") << "[menu:file]"
                                 << "[menu:file]";
        QTest::newRow("id is a number") << QByteArray("{\"tr\": [{\"id\": 12, \"tr\": \"Twaalf\"}]}") << "12"
                                        << "12";
        QTest::newRow("elements not objects")
            << QByteArray("{\"tr\": [1, \"[menu:info]\", null, [\"[menu:info]\", \"Info\"], "
                          "{\"id\": \"[menu:file]\", \"tr\": \"Bestand\"}]}")
            << "[menu:file]" << "Bestand";
        QTest::newRow("invalid UTF-8 in a text")
            << QByteArray("{\"tr\": [{\"id\": \"[menu:file]\", \"tr\": \"Best\xff" "and\"}]}")
            << "[menu:file]" << QStringLiteral("Best\uFFFDand");
    }

    void badLanguageFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        tessaroTranslator translator;
        loadDutch(translator, content);
        QTEST(show(translator, key), "expected");
    }

    void newLanguageReplacesTable()
    {
        fixture->writeFile(CataloguePath, catalogue({language("nl", "Nederlands", "Dutch", "nl.json"),
                                                     language("en", "English", "English", "en.json")}));
        fixture->writeFile(QStringLiteral("lang/nl.json"),
                           texts({text("[menu:file]", "Bestand"), text("[menu:info]", "Info")}));
        fixture->writeFile(QStringLiteral("lang/en.json"), texts({text("[menu:file]", "File")}));
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        translator.loadLanguage(QStringLiteral("en"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("File"));
        QCOMPARE(show(translator, "[menu:info]"), QStringLiteral("[menu:info]"));

        // A broken file empties the table too.
        fixture->writeFile(QStringLiteral("lang/nl.json"), "not JSON");
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("[menu:file]"));
    }

    void utf8Texts()
    {
        tessaroTranslator translator;
        // Written byte for byte, as an editor would save the file.
        loadDutch(translator, QByteArray("{\"tr\": [\n"
                                         "  {\"id\": \"[live:sens:size]\", \"tr\": \"Gr\xc3\xb6\xc3\x9f" "e\"},\n"
                                         "  {\"id\": \"[menu:info:about]\", \"tr\": \"\xc3\x9c" "ber TessaroUtility\"},\n"
                                         "  {\"id\": \"[legacy:text]\", \"tr\": \"\\u00c4nderung n\\u00f6tig\"},\n"
                                         "  {\"id\": \"[info:pen:id:acquire]\", \"tr\": \"Stift wird erkannt\xe2\x80\xa6\"}\n"
                                         "]}\n"));
        QCOMPARE(show(translator, "[live:sens:size]"), QStringLiteral("Gr\u00f6\u00dfe"));
        QCOMPARE(show(translator, "[menu:info:about]"), QStringLiteral("\u00dcber TessaroUtility"));
        QCOMPARE(show(translator, "[legacy:text]"), QStringLiteral("\u00c4nderung n\u00f6tig"));
        QCOMPARE(show(translator, "[info:pen:id:acquire]"), QStringLiteral("Stift wird erkannt\u2026"));
        // A key without text comes back decoded as UTF-8.
        QCOMPARE(translator.translate("viewMain", "[gr\xc3\xb6\xc3\x9f" "e]"), QStringLiteral("[gr\u00f6\u00dfe]"));
    }

    void utf8NamesInCatalogue()
    {
        fixture->writeFile(CataloguePath, QByteArray("{\"langs\": [{\"code\": \"fr\", \"name\": \"Fran\xc3\xa7" "ais\", "
                                                     "\"intname\": \"French\", \"file\": \"fr.json\"}]}"));
        tessaroTranslator translator;
        QCOMPARE(translator.getAvaibleLanguages().value(QStringLiteral("fr")).name, QStringLiteral("Fran\u00e7ais"));
    }

    void installedInApplication()
    {
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Bestand"), text("[live:sens:size]", "Gr\u00f6\u00dfe")}));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto uninstall = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });

        QCOMPARE(QCoreApplication::translate("viewMain", "[menu:file]"), QStringLiteral("Bestand"));
        QCOMPARE(QCoreApplication::translate("view_legacy", "[menu:file]"), QStringLiteral("Bestand"));
        QCOMPARE(QCoreApplication::translate("view_tessarolive", "[live:sens:size]"), QStringLiteral("Gr\u00f6\u00dfe"));
        QCOMPARE(QCoreApplication::translate("viewMain", "[menu:file:exit]"), QStringLiteral("[menu:file:exit]"));
        QCOMPARE(tr("[menu:file]"), QStringLiteral("Bestand"));
    }

    void qtDialogsSpeakTheLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("lookIn");  // the file dialog's folder caption
        QTest::newRow("de") << "de" << true << "Suchen in:";
        QTest::newRow("nl") << "nl" << true << "Zoeken in:";
        QTest::newRow("no such language") << "xx" << false << "Look in:";
        QTest::newRow("not a code") << "../de" << false << "Look in:";
    }

    // Qt's own texts come from Qt's translation, the program's keys still from its own.
    void qtDialogsSpeakTheLanguage()
    {
        QFETCH(QString, code);
        QFETCH(bool, installed);
        QFETCH(QString, lookIn);
        tessaroTranslator translator;
        loadDutch(translator, texts({text("[menu:file]", "Bestand")}));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto uninstall = qScopeGuard([&translator] {
            QCoreApplication::removeTranslator(&translator);
            qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly));
        });
        QCOMPARE(installQtTranslations(QCoreApplication::instance(), code), installed);
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), lookIn);
        QCOMPARE(QCoreApplication::translate("viewMain", "[menu:file]"), QStringLiteral("Bestand"));
    }

    void installedBeforeAnyLoad()
    {
        // Start-up with no language data: installed all the same, every text its key.
        tessaroTranslator translator;
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto uninstall = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });
        QCOMPARE(QCoreApplication::translate("viewMain", "[menu:file]"), QStringLiteral("[menu:file]"));
    }
};

TESSARO_TEST_MAIN(tst_translator)
#include "tst_translator.moc"
