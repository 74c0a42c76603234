// How text from a device, a file or the web service is shown: what is replaced, where it is cut.
#include "device/untrustedtext.h"
#include "testmain.h"

class tst_untrustedtext : public QObject
{
    Q_OBJECT

private slots:
    void shown_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QString>("shown");
        const QString r(QChar(0xfffd));
        QTest::newRow("plain, markup kept as text") << "<b>TS-1</b> é" << 20 << "<b>TS-1</b> é";
        QTest::newRow("C0, DEL") << QString("a\nb\rc\x1b[2Jd\te\x7f") << 20 << "a" + r + "b" + r + "c" + r + "[2Jd" + r + "e" + r;
        QTest::newRow("nul") << QString::fromUtf16(u"a\0b", 3) << 20 << "a" + r + "b";
        QTest::newRow("C1, separators") << QString::fromUtf16(u"a\u0085b\u009bc\u2028d\u2029") << 20 << "a" + r + "b" + r + "c" + r + "d" + r;
        QTest::newRow("bidi") << QString::fromUtf16(u"\u202eDETCEJER\u202c \u200e\u200f\u202a\u202b\u202d\u2066\u2067\u2068\u2069\u061c")
                              << 30 << r + "DETCEJER" + r + " " + QString(10, QChar(0xfffd));
        QTest::newRow("zero-width") << QString::fromUtf16(u"O\u200bK\u200c\u200d\u2060\u2064\ufeff") << 20 << "O" + r + "K" + QString(5, QChar(0xfffd));
        QTest::newRow("at the cap") << "abcde" << 5 << "abcde";
        QTest::newRow("over the cap") << "abcdef" << 5 << QString::fromUtf16(u"abcd\u2026");
        QTest::newRow("shown again") << QString::fromUtf16(u"abcd\u2026") << 5 << QString::fromUtf16(u"abcd\u2026");
        QTest::newRow("no half pair at the cut") << QString::fromUtf16(u"abc\U0001F600xyz") << 5 << QString::fromUtf16(u"abc\u2026");
        QTest::newRow("device field cap") << QString(100000, 'x') << int(UntrustedText::FieldCap)
                                          << QString(UntrustedText::FieldCap - 1, 'x') + QChar(0x2026);
    }

    void shown()
    {
        QFETCH(QString, text);
        QFETCH(int, cap);
        QTEST(UntrustedText::shown(text, cap), "shown");
    }
};

TESSARO_TEST_MAIN(tst_untrustedtext)
#include "tst_untrustedtext.moc"
