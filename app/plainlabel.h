#pragma once

#include <QLabel>

// A label that shows its text as it is, never as rich text: the label for any text that
// may hold something from a device, a file or the web service (see UntrustedText). A
// QLabel guesses the format from the text and would render a reply that looks like HTML,
// pictures and all.
class PlainLabel : public QLabel
{
    Q_OBJECT

public:
    explicit PlainLabel(QWidget* parent = nullptr);
    explicit PlainLabel(const QString& text, QWidget* parent = nullptr);
};
