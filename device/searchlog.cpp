#include "searchlog.h"

QDebug SearchLog::line(const char* file, int line, const char* function)
{
    if (!m_open)
        return QMessageLogger(file, line, function).debug();
    m_lines.push_back(Line{file, line, function, QString()});
    return QDebug(&m_lines.back().text);
}

void SearchLog::open()
{
    m_lines.clear();
    m_open = true;
}

void SearchLog::close(bool write)
{
    m_open = false;
    if (write) {
        for (Line& held : m_lines) {
            // The stream leaves a blank after its last item, which qDebug() drops.
            if (held.text.endsWith(QLatin1Char(' ')))
                held.text.chop(1);
            QMessageLogger(held.file, held.line, held.function).debug().noquote()
                << held.text;
        }
    }
    m_lines.clear();
}
