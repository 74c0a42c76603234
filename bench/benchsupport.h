#pragma once

// Small helpers shared by the benchmark programs: clocks, order statistics, command-line
// numbers, a quiet message handler and a one-line JSON writer for scripts/bench.

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// Nearest-rank percentile (p in 0..100) of the samples; 0 for none.
inline double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    const std::size_t index = rank < 1.0 ? 0 : static_cast<std::size_t>(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

inline double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}

// "--name value" from the command line, or fallback.
inline int intArg(int argc, char** argv, const char* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return std::atoi(argv[i + 1]);
    }
    return fallback;
}

inline std::string stringArg(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    }
    return fallback;
}

// Debug lines of the program (it writes one per erased page, one per device seen) would
// flood the terminal and cost write time that the program's user does not see either;
// warnings and worse still reach stderr.
inline void quietDebug()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        std::fprintf(stderr, "%s\n", qPrintable(message));
    });
}

// Programs that build windows run offscreen, and their web checks go to a closed local port
// unless the caller chose an address.
inline void headlessWindows()
{
    quietDebug();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TESSARO_SERVICE_URL"))
        qputenv("TESSARO_SERVICE_URL", "http://127.0.0.1:1");
}

// Collects name/value pairs and prints them as one JSON object on one line of stdout.
class JsonLine
{
public:
    JsonLine& add(const char* name, double value)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g", std::isfinite(value) ? value : 0.0);
        m_fields.emplace_back(name, text);
        return *this;
    }
    JsonLine& add(const char* name, long long value)
    {
        m_fields.emplace_back(name, std::to_string(value));
        return *this;
    }
    JsonLine& add(const char* name, int value) { return add(name, static_cast<long long>(value)); }
    JsonLine& add(const char* name, bool value)
    {
        m_fields.emplace_back(name, value ? "true" : "false");
        return *this;
    }
    JsonLine& add(const char* name, const char* value)
    {
        m_fields.emplace_back(name, std::string("\"") + value + "\"");
        return *this;
    }
    void print() const
    {
        std::string line = "{";
        for (std::size_t i = 0; i < m_fields.size(); ++i) {
            if (i)
                line += ", ";
            line += "\"" + m_fields[i].first + "\": " + m_fields[i].second;
        }
        line += "}";
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

private:
    std::vector<std::pair<std::string, std::string>> m_fields;
};

} // namespace bench
