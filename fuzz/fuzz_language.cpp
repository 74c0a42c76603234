// The fuzzer input as the language catalogue and as one language's file: the languages are
// listed, loaded and asked for a few texts.
#include "fuzzcommon.h"

#include "app/tessarotranslator.h"

namespace {

constexpr int MaxLoads = 4;
const char* const Keys[] = {"[title]", "[menu:file]", "[tab:simple]", "", "[unknown:key]"};

void translateSome(const tessaroTranslator& translator)
{
    for (const char* key : Keys) {
        translator.translate("view_main", key);
        translator.translate(nullptr, key, nullptr, 2);
    }
    translator.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzzsupport::bytes(data, size);
    const QByteArray english = QByteArrayLiteral(R"({"tr": [{"id": "[title]", "tr": "TessaroUtility"}]})");

    // The input as the catalogue.
    fuzzsupport::writeFile(QString::fromLatin1(TessaroLang::CataloguePath), input);
    fuzzsupport::writeFile(QStringLiteral("lang/en.json"), english);
    {
        tessaroTranslator translator;
        const LangMap languages = translator.getAvaibleLanguages();
        int loads = 0;
        for (auto it = languages.cbegin(); it != languages.cend() && loads < MaxLoads; ++it, ++loads) {
            translator.loadLanguage(it.key());
            translateSome(translator);
        }
        translator.loadLanguage(QStringLiteral("en"));
        translateSome(translator);
    }

    // The input as one language's file.
    fuzzsupport::writeFile(QString::fromLatin1(TessaroLang::CataloguePath),
                           QByteArrayLiteral(R"({"langs": [{"code": "xx", "name": "X", "intname": "X", "file": "xx.json"}]})"));
    fuzzsupport::writeFile(QStringLiteral("lang/xx.json"), input);
    {
        tessaroTranslator translator;
        translator.getAvaibleLanguages();
        translator.loadLanguage(QStringLiteral("xx"));
        translateSome(translator);
    }
    return 0;
}
