// Loads one file into TLEdit and prints timings as "key=value" lines:
//   load_ms   LoadFile
//   shown_ms  LoadFile + show + first paint (the text is on screen and scrollable)
//   last_ms   GoToLine(last line) + the paint that shows it
//   page_ms   median of 20 page-downs from there, each with its paint
//   rss_mb    peak resident memory of the process
// Usage: editor_bench FILE wrap|nowrap
#include "controls/tledit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {
struct PaintWatch : QObject {
    int paints = 0;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void waitPaint(PaintWatch &w)
{
    const int before = w.paints;
    QElapsedTimer t;
    t.start();
    while (w.paints == before && t.elapsed() < 600000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}
}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    const bool wrap = QByteArray(argv[2]) == "wrap";
    TLEdit edit;
    edit.SetQuiet(true);
    edit.SetWordWrap(wrap);
    edit.resize(1000, 700);
    PaintWatch watch;
    edit.viewport()->installEventFilter(&watch);

    QElapsedTimer t;
    t.start();
    if (!edit.LoadFile(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(edit.LastError()));
        return 1;
    }
    const double loadMs = t.nsecsElapsed() / 1e6;
    edit.show();
    waitPaint(watch);
    const double shownMs = t.nsecsElapsed() / 1e6;

    t.restart();
    const int last = edit.LineCount();
    edit.GoToLine(last);
    edit.viewport()->update();
    waitPaint(watch);
    const double lastMs = t.nsecsElapsed() / 1e6;
    int line, index;
    edit.getCursorPosition(&line, &index);

    std::vector<double> pages;
    edit.GoToLine(last / 2);
    waitPaint(watch);
    for (int i = 0; i < 20; ++i) {
        t.restart();
        edit.SendScintilla(QsciScintillaBase::SCI_PAGEDOWN);
        edit.viewport()->update();
        waitPaint(watch);
        pages.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(pages.begin(), pages.end());

    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("load_ms=%.1f\nshown_ms=%.1f\nlast_ms=%.1f\npage_ms=%.2f\nrss_mb=%.1f\nlines=%d\ncaret_line=%d\n",
                loadMs, shownMs, lastMs, pages[pages.size() / 2], ru.ru_maxrss / 1024.0, last, line + 1);
    return 0;
}
