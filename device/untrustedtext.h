#pragma once

#include <QString>

// How text from outside the program is shown: whatever a device answers, what a file the
// user opens holds and what the web service sends. The rule, the only place it is kept:
// - Such text is data, never markup: a label that may show it is a PlainLabel (plain
//   text); list, combo box and terminal lines are plain by themselves.
// - It passes through shown() before it is put into any text for a person (a label, a
//   list line, a status or log line, tessaroctl's output, a debug line): control
//   characters (C0, DEL, C1, line and paragraph separators) would start fake lines or
//   drive a terminal, bidirectional formatting characters would reorder the program's own
//   text around them, zero-width characters would hide where a text was spliced, and a
//   long text would swamp the window. Each is replaced by a
//   visible U+FFFD, and the text is cut at a cap with a "…" at its end.
class UntrustedText
{
public:
    // One value: a field of a device reply, a key or name from a file.
    static constexpr int FieldCap = 256;
    // A whole line or a path: a reply in a debug line, an image file's path.
    static constexpr int LineCap = 4096;

    static constexpr char16_t Replacement = u'\uFFFD';
    static constexpr char16_t Ellipsis = u'\u2026';

    // The text as a person may see it; at most cap characters. Showing a shown text
    // again gives the same text.
    static QString shown(const QString& text, int cap = FieldCap);
    // Whether a character is one that shown() replaces.
    static bool isHidden(char32_t c);
};
