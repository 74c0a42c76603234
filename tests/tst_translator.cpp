// The translator: language catalogue, key-to-text table and the key shown for a missing text.
#include "app/qttranslations.h"
#include "app/tessarotranslator.h"
#include "simfixture.h"
#include "testmain.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>

#include <optional>

namespace {

const QString CataloguePath = QString::fromLatin1(TessaroLang::CataloguePath);
const QByteArray Dutch = R"({"code": "nl", "name": "Nederlands", "intname": "Dutch", "file": "nl.json"})";
const QByteArray German = R"({"code": "de", "name": "Deutsch", "intname": "German", "file": "de.json"})";

QByteArray catalogue(const QByteArray& entries)
{
    return "{\"langs\": [" + entries + "]}";
}

} // namespace

class tst_translator : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;

    static QString show(const tessaroTranslator& translator, const QByteArray& key)
    {
        return translator.translate("viewMain", key.constData());
    }

private slots:
    void init() { fixture.emplace(); }
    void cleanup() { fixture.reset(); }

    void catalogue_data()
    {
        QTest::addColumn<QByteArray>("entries");
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QString>("dutchName");
        QTest::newRow("ordered by code") << Dutch + ',' + German << QStringList({"de", "nl"}) << "Nederlands";
        QTest::newRow("later duplicate wins")
            << Dutch + ',' + R"({"code": "nl", "name": "Vlaams", "file": "vl.json"})" << QStringList({"nl"}) << "Vlaams";
        QTest::newRow("non-objects skipped") << "5, \"nl\", null, [\"nl\"], " + German << QStringList({"de"}) << "";
        QTest::newRow("non-strings read as empty")
            << QByteArray(R"({"code": "nl", "name": 7, "file": true}, {})") << QStringList({"", "nl"}) << "";
        QTest::newRow("UTF-8") << QByteArray("{\"code\": \"nl\", \"name\": \"Fran\xc3\xa7" "ais\"}") << QStringList({"nl"})
                               << QStringLiteral("Fran\u00e7ais");
    }

    void catalogue()
    {
        QFETCH(QByteArray, entries);
        QFETCH(QStringList, codes);
        fixture->writeFile(CataloguePath, ::catalogue(entries));
        fixture->writeFile(QStringLiteral("lang/vl.json"), R"({"tr": [{"id": "[menu:file]", "tr": "Bestand Vlaams"}]})");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^\".*\"$")));
        tessaroTranslator translator;
        const LangMap languages = translator.getAvaibleLanguages();
        QCOMPARE(languages.keys(), codes);
        QTEST(languages.value(QStringLiteral("nl")).name, "dutchName");
        if (QTest::currentDataTag() == QLatin1String("later duplicate wins")) {
            translator.loadLanguage(QStringLiteral("nl"));
            QCOMPARE(show(translator, "[menu:file]"), QStringLiteral("Bestand Vlaams"));
        }
    }

    void badCatalogueChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"langs\": [");
        QTest::newRow("top-level array") << QByteArray("[{\"code\": \"en\"}]");
        QTest::newRow("langs is an object") << QByteArray("{\"langs\": {\"code\": \"en\"}}");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("a folder") << QByteArray();
    }

    // What was read stays; a second catalogue adds to it.
    void badCatalogueChangesNothing()
    {
        QFETCH(QByteArray, content);
        tessaroTranslator translator;
        fixture->writeFile(CataloguePath, ::catalogue(Dutch));
        translator.getAvaibleLanguages();
        QFile::remove(QDir(fixture->dir()).filePath(CataloguePath));
        if (QTest::currentDataTag() == QLatin1String("a folder"))
            QDir(fixture->dir()).mkpath(CataloguePath);
        else if (!content.isEmpty())
            fixture->writeFile(CataloguePath, content);
        if (content.isEmpty()) {
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^error code = [1-9][0-9]*$")));
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^error string = \".+\"$")));
        }
        QCOMPARE(translator.getAvaibleLanguages().keys(), QStringList({"nl"}));
        QVERIFY(tessaroTranslator().getAvaibleLanguages().isEmpty());
        if (QTest::currentDataTag() == QLatin1String("not JSON")) {
            fixture->writeFile(CataloguePath, ::catalogue(German));
            QCOMPARE(translator.getAvaibleLanguages().keys(), QStringList({"de", "nl"}));
        }
    }

    void textOfKey_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("shown");
        const QByteArray file = R"({"tr": [{"id": "[menu:file]", "tr": "Bestand"}, {"id": "[a]", "tr": ""},
                                           {"id": "[b]", "tr": "Eerste"}, {"id": "[b]", "tr": "Tweede"},
                                           {"id": "[c]", "tr": "Eerste"}, {"id": "[c]", "tr": ""},
                                           {"id": "[d]", "tr": 5}, {"id": 12, "tr": "Twaalf"}, 1, null]})";
        QTest::newRow("text") << file << QByteArray("[menu:file]") << "Bestand";
        QTest::newRow("no entry: the key") << file << QByteArray("[menu:info]") << "[menu:info]";
        QTest::newRow("empty text: the key") << file << QByteArray("[a]") << "[a]";
        QTest::newRow("later duplicate wins") << file << QByteArray("[b]") << "Tweede";
        QTest::newRow("later empty duplicate") << file << QByteArray("[c]") << "[c]";
        QTest::newRow("text not a string") << file << QByteArray("[d]") << "[d]";
        QTest::newRow("id not a string") << file << QByteArray("12") << "12";
        QTest::newRow("empty key") << file << QByteArray() << "";
        QTest::newRow("not JSON") << QByteArray(R"({"tr": [{"id": "[menu:file]", "tr": "Bestand"})")
                                  << QByteArray("[menu:file]") << "[menu:file]";
        QTest::newRow("tr is an object") << QByteArray(R"({"tr": {"id": "[menu:file]", "tr": "Bestand"}})")
                                         << QByteArray("[menu:file]") << "[menu:file]";
        QTest::newRow("UTF-8") << QByteArray("{\"tr\": [{\"id\": \"[s]\", \"tr\": \"Gr\xc3\xb6\xc3\x9f" "e\\u2026\"}]}")
                               << QByteArray("[s]") << QStringLiteral("Gr\u00f6\u00dfe\u2026");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"tr\": [{\"id\": \"[s]\", \"tr\": \"Best\xff" "and\"}]}")
                                       << QByteArray("[s]") << QStringLiteral("Best\uFFFDand");
        QTest::newRow("UTF-8 key without text") << file << QByteArray("[gr\xc3\xb6\xc3\x9f" "e]")
                                                << QStringLiteral("[gr\u00f6\u00dfe]");
    }

    void textOfKey()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, key);
        fixture->writeFile(CataloguePath, ::catalogue(Dutch));
        fixture->writeFile(QStringLiteral("lang/nl.json"), file);
        QTest::ignoreMessage(QtDebugMsg, "\"nl.json\"");
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        QTEST(show(translator, key), "shown");
    }

    // Only the key counts; the table is the last loaded language's alone.
    void tableOfTheLoadedLanguage()
    {
        fixture->writeFile(CataloguePath, ::catalogue(Dutch + ',' + German));
        fixture->writeFile(QStringLiteral("lang/nl.json"), R"({"tr": [{"id": "[a]", "tr": "A"}, {"id": "[b]", "tr": "B"}]})");
        fixture->writeFile(QStringLiteral("lang/de.json"), R"({"tr": [{"id": "[a]", "tr": "Ä"}]})");
        QTest::ignoreMessage(QtDebugMsg, "\"nl.json\"");
        QTest::ignoreMessage(QtDebugMsg, "\"de.json\"");
        tessaroTranslator translator;
        translator.loadLanguage(QStringLiteral("nl"));  // before the catalogue is read
        QCOMPARE(show(translator, "[a]"), QStringLiteral("[a]"));
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(translator.translate("view_tessaro", "[b]", "plural", 3), QStringLiteral("B"));
        QCOMPARE(translator.translate(nullptr, "[b]"), QStringLiteral("B"));
        QVERIFY(translator.translate("viewMain", nullptr).isEmpty());
        translator.loadLanguage(QStringLiteral("de"));
        QCOMPARE(show(translator, "[a]"), QStringLiteral("\u00c4"));
        QCOMPARE(show(translator, "[b]"), QStringLiteral("[b]"));
        fixture->writeFile(QStringLiteral("lang/nl.json"), "not JSON");
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(show(translator, "[a]"), QStringLiteral("[a]"));
        translator.loadLanguage(QStringLiteral("xx"));
        QCOMPARE(show(translator, "[a]"), QStringLiteral("[a]"));
    }

    void qtDialogsSpeakTheLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("lookIn");  // the file dialog's folder caption
        QTest::newRow("de") << "de" << true << "Suchen in:";
        QTest::newRow("no such language") << "xx" << false << "Look in:";
        QTest::newRow("not a code") << "../de" << false << "Look in:";
    }

    // Installed with no owner and no table, the translator answers every key for the window;
    // Qt's own texts come from Qt's translation.
    void qtDialogsSpeakTheLanguage()
    {
        QFETCH(QString, code);
        QFETCH(bool, installed);
        QObject owner;
        tessaroTranslator translator(&owner);
        QVERIFY(translator.parent() == nullptr);
        QVERIFY(!translator.isEmpty());
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto uninstall = qScopeGuard([&translator] {
            QCoreApplication::removeTranslator(&translator);
            qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly));
        });
        QCOMPARE(installQtTranslations(QCoreApplication::instance(), code), installed);
        QTEST(QCoreApplication::translate("QFileDialog", "Look in:"), "lookIn");
        QCOMPARE(QCoreApplication::translate("viewMain", "[menu:file]"), QStringLiteral("[menu:file]"));
    }
};

TESSARO_TEST_MAIN(tst_translator)
#include "tst_translator.moc"
