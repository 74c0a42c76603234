#pragma once

#include <QDebug>
#include <QString>

#include <deque>

// The debug lines of one hot-plug search, held back until the search has ended and then
// written only when the bus looks different from the last search's: a device that stays
// plugged in but cannot be used (not supported, not openable) is searched every 100 ms,
// and its lines would otherwise fill the terminal ten times a second. Outside a search
// (open() not called) every line is written at once.
class SearchLog
{
public:
    // A debug stream for one line, with the source context it is written under.
    QDebug line(const char* file, int line, const char* function);

    void open();
    // Writes the held lines, in order, each under its own context, when write is true;
    // drops them otherwise. Ends the search.
    void close(bool write);
    bool isOpen() const { return m_open; }

private:
    // file and function are the compiler's literals (__FILE__, the function's name), which
    // live as long as the program.
    struct Line {
        const char* file;
        int line;
        const char* function;
        QString text;
    };
    // A deque keeps the address of every text that a QDebug stream may still be writing to.
    std::deque<Line> m_lines;
    bool m_open = false;
};

// Like qDebug(), through a SearchLog.
#define SEARCH_DEBUG(log) (log).line(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC)
