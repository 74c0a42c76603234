// The translator: language catalogue, key-to-text table and the key shown for a missing text.
#include "app/qttranslations.h"
#include "device/translatedtext.h"
#include "app/tessarotranslator.h"
#include "simfixture.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QScopeGuard>

#include <sys/stat.h>

#include <optional>

namespace {
const QString CataloguePath = QString::fromLatin1(TessaroLang::CataloguePath);
const QByteArray Dutch = R"({"code": "nl", "name": "Nederlands", "file": "nl.json"})";
const QByteArray German = R"({"code": "de", "name": "Deutsch", "file": "de.json"})";
QByteArray langs(const QByteArray& items) { return "{\"langs\": [" + items + "]}"; }
} // namespace

class tst_translator : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;

    void write(const QString& path, const QByteArray& content) { fixture->writeFile(path, content); }

private slots:
    void init() { fixture.emplace(); }
    void cleanup() { fixture.reset(); }

    void catalogue_data()
    {
        QTest::addColumn<QByteArray>("second");  // the catalogue read after one with Dutch alone
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QString>("dutchName");
        QTest::newRow("ordered by code, accumulated") << langs(German) << QStringList({"de", "nl"}) << "Nederlands";
        QTest::newRow("later duplicate wins") << langs(R"({"code": "nl", "name": "Vlaams"})") << QStringList({"nl"}) << "Vlaams";
        QTest::newRow("non-objects skipped") << langs("5, \"it\", null, [\"it\"], " + German) << QStringList({"de", "nl"}) << "Nederlands";
        QTest::newRow("non-strings read as empty") << langs(R"({"code": "nl", "name": 7}, {})") << QStringList({"", "nl"}) << "";
        QTest::newRow("not JSON") << QByteArray("{\"langs\": [") << QStringList({"nl"}) << "Nederlands";
        QTest::newRow("missing") << QByteArray() << QStringList({"nl"}) << "Nederlands";
    }

    // A bad or missing catalogue changes nothing of what was read.
    void catalogue()
    {
        QFETCH(QByteArray, second);
        tessaroTranslator translator;
        write(CataloguePath, langs(Dutch));
        translator.getAvaibleLanguages();
        if (!second.isEmpty())
            write(CataloguePath, second);
        else {
            QVERIFY(QFile::remove(CataloguePath));
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^language catalogue not read .*lang.json$")));
        }
        const LangMap languages = translator.getAvaibleLanguages();
        QTEST(QStringList(languages.keys()), "codes");
        QTEST(languages.value(QStringLiteral("nl")).name, "dutchName");
    }

    void textOfKey_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("shown");
        const QByteArray file = R"({"tr": [{"id": "[menu:file]", "tr": "Bestand"}, {"id": "[a]", "tr": ""},
                                           {"id": "[b]", "tr": "Eerste"}, {"id": "[b]", "tr": "Tweede"},
                                           1, null]})";
        QTest::newRow("text") << file << QByteArray("[menu:file]") << "Bestand";
        QTest::newRow("no entry: the key") << file << QByteArray("[menu:info]") << "[menu:info]";
        QTest::newRow("empty text: the key") << file << QByteArray("[a]") << "[a]";
        QTest::newRow("later duplicate wins") << file << QByteArray("[b]") << "Tweede";
        QTest::newRow("UTF-8 key without text") << file << QByteArray("[gr\xc3\xb6\xc3\x9f" "e]") << QStringLiteral("[gr\u00f6\u00dfe]");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"tr\": [{\"id\": \"[s]\", \"tr\": \"Best\xff" "and\"}]}")
                                       << QByteArray("[s]") << QStringLiteral("Best\uFFFDand");
    }

    void textOfKey()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, key);
        write(CataloguePath, langs(Dutch));
        write(QStringLiteral("lang/nl.json"), file);
        QTest::ignoreMessage(QtDebugMsg, "\"nl.json\"");
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        QTEST(translator.translate("viewMain", key.constData()), "shown");
    }

    // A language's file is one of the language folder, a regular file of at most 1 MiB.
    void languageFileStaysInItsFolder_data()
    {
        QTest::addColumn<QString>("file");    // as the catalogue names it
        QTest::addColumn<QString>("written"); // where the texts lie; "fifo": a named pipe at lang/nl.json
        QTest::addColumn<int>("size");        // padded with spaces to this size
        QTest::addColumn<QString>("shown");
        QTest::newRow("in the folder") << "nl.json" << "lang/nl.json" << 0 << "Bestand";
        QTest::newRow("1 MiB") << "nl.json" << "lang/nl.json" << (1 << 20) << "Bestand";
        QTest::newRow("over 1 MiB") << "nl.json" << "lang/nl.json" << (1 << 20) + 1 << "[menu:file]";
        QTest::newRow("a named pipe") << "nl.json" << "fifo" << 0 << "[menu:file]";
        QTest::newRow("parent folder") << "../nl.json" << "nl.json" << 0 << "[menu:file]";
        QTest::newRow("sub-folder") << "x/nl.json" << "lang/x/nl.json" << 0 << "[menu:file]";
    }

    void languageFileStaysInItsFolder()
    {
        QFETCH(QString, file);
        QFETCH(QString, written);
        QFETCH(int, size);
        const QByteArray texts = R"({"tr": [{"id": "[menu:file]", "tr": "Bestand"}]})";
        if (written == "fifo") {
            QDir().mkpath(QStringLiteral("lang"));
            QCOMPARE(::mkfifo("lang/nl.json", 0600), 0);
        } else {
            write(written, texts.leftJustified(size, ' '));
        }
        write(CataloguePath, langs(R"({"code": "nl", "file": ")" + file.toUtf8() + R"("})"));
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        QTEST(translator.translate("viewMain", "[menu:file]"), "shown");
    }

    // Only the key counts; the table is the last loaded language's alone.
    void tableOfTheLoadedLanguage()
    {
        write(CataloguePath, langs(Dutch + ',' + German));
        write(QStringLiteral("lang/nl.json"), R"({"tr": [{"id": "[a]", "tr": "A"}, {"id": "[b]", "tr": "B"}]})");
        write(QStringLiteral("lang/de.json"), R"({"tr": [{"id": "[a]", "tr": "Ä"}]})");
        tessaroTranslator translator;
        translator.loadLanguage(QStringLiteral("nl"));  // before the catalogue is read
        QCOMPARE(translator.translate("c", "[a]"), QStringLiteral("[a]"));
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(translator.translate(nullptr, "[b]", "plural", 3), QStringLiteral("B"));
        QVERIFY(translator.translate("viewMain", nullptr).isEmpty());
        translator.loadLanguage(QStringLiteral("de"));
        QCOMPARE(translator.translate("c", "[a]") + translator.translate("c", "[b]"), QStringLiteral("\u00c4[b]"));
        write(QStringLiteral("lang/nl.json"), "not JSON");
        translator.loadLanguage(QStringLiteral("nl"));
        QCOMPARE(translator.translate("c", "[a]"), QStringLiteral("[a]"));
    }

    void valuesFillTheirPlaces_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no values") << "%1 left" << QStringList() << "%1 left";
        QTest::newRow("one") << "%1 left" << QStringList({"5"}) << "5 left";
        QTest::newRow("two, each once") << "%2 of %1" << QStringList({"%2", "3"}) << "3 of %2";
        QTest::newRow("three") << "%1/%2/%3" << QStringList({"a", "b", "c"}) << "a/b/c";
        QTest::newRow("a place missing: after the text") << "[key]" << QStringList({"a", "b"}) << "[key] (a, b)";
        QTest::newRow("four: after the text") << "%1%2%3%4" << QStringList({"a", "b", "c", "d"}) << "%1%2%3%4 (a, b, c, d)";
    }

    void valuesFillTheirPlaces()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, values);
        QTEST(fillTranslation(text, values), "shown");
    }

    void qtDialogsSpeakTheLanguage_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("lookIn");  // the file dialog's folder caption
        QTest::newRow("de") << "de" << "Suchen in:";
        QTest::newRow("no such language") << "xx" << "Look in:";
        QTest::newRow("not a code") << "../de" << "Look in:";
    }

    // Installed with no owner and no table, it answers every key; Qt's own texts come from Qt's translation.
    void qtDialogsSpeakTheLanguage()
    {
        QFETCH(QString, code);
        QFETCH(QString, lookIn);
        if (lookIn != QLatin1String("Look in:") && !QFile::exists(qtTranslationsPath() + "/qtbase_" + code + ".qm"))
            QSKIP("Qt's own translation for this language (qtbase_<code>.qm) is not installed here");
        QObject owner;
        tessaroTranslator translator(&owner);
        QVERIFY(translator.parent() == nullptr && !translator.isEmpty());
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto uninstall = qScopeGuard([&translator] {
            QCoreApplication::removeTranslator(&translator);
            qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>(QString(), Qt::FindDirectChildrenOnly));
        });
        QCOMPARE(installQtTranslations(QCoreApplication::instance(), code), lookIn != QLatin1String("Look in:"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), lookIn);
        QCOMPARE(QCoreApplication::translate("viewMain", "[menu:file]"), QStringLiteral("[menu:file]"));
    }
};

TESSARO_TEST_MAIN(tst_translator)
#include "tst_translator.moc"
