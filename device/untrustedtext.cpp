#include "untrustedtext.h"

bool UntrustedText::isHidden(char32_t c)
{
    const bool control = c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
    const bool bidi = c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e)
        || (c >= 0x2066 && c <= 0x2069);
    // Zero-width characters splice a word that looks whole ("OK" made of two fields).
    const bool invisible = (c >= 0x200b && c <= 0x200d) || (c >= 0x2060 && c <= 0x2064) || c == 0xfeff;
    return control || bidi || invisible;
}

QString UntrustedText::shown(const QString& text, int cap)
{
    QString result = text;
    bool cut = false;
    if (cap > 0 && result.size() > cap) {
        // Room for the mark, and never half of a surrogate pair left behind.
        int keep = cap - 1;
        if (keep > 0 && result.at(keep - 1).isHighSurrogate())
            --keep;
        result.truncate(keep);
        cut = true;
    }
    for (QChar& c : result) {
        if (isHidden(c.unicode()))
            c = QChar(Replacement);
    }
    if (cut)
        result += QChar(Ellipsis);
    return result;
}
