// Baseline for the whole-program figures: a Qt widgets program with nothing but a main
// window holding a label, shown like the tool's. With --quit it closes the window as soon
// as the event loop runs (as TESSARO_DEMO_ACTION=quit does for the demo program), so its
// run time is the bare cost of starting Qt and showing a window. Without, it idles, with
// --timers N timers of 100 ms whose slots do nothing: the cost of waking up as often as
// the tool's hot-plug timer (N = 1) or its hot-plug and poll timers (N = 2).
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[])
{
    bool quit = false;
    int timers = 0;
    for (int i = 1; i < argc; ++i) {
        quit = quit || std::strcmp(argv[i], "--quit") == 0;
        if (std::strcmp(argv[i], "--timers") == 0 && i + 1 < argc)
            timers = std::atoi(argv[i + 1]);
    }
    QApplication application(argc, argv);
    QMainWindow window;
    auto* label = new QLabel(QStringLiteral("baseline"));
    window.setCentralWidget(label);
    window.resize(700, 400);
    window.show();
    for (int i = 0; i < timers; ++i) {
        auto* timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, label, [] {});
        // Started apart, as the tool's two timers are, so each wakes the process itself.
        QTimer::singleShot(i * 50, timer, [timer] { timer->start(100); });
    }
    if (quit)
        QTimer::singleShot(0, &window, &QWidget::close);
    return QCoreApplication::exec();
}
