// Loads one file into TLEdit and prints timings as "key=value" lines:
//   load_ms   LoadFile
//   shown_ms  LoadFile + show + first paint (the text is on screen and scrollable)
//   last_ms   GoToLine(last line) + the paint that shows it
//   up_ms, pageup_ms       median of 20 Up / Page Up key presses from there, each with its paint
//   word_left_ms, backspace_ms  median of Ctrl+Left (20) and Backspace (10) presses near the end
//   click_ms, type_ms      a click in the view near the end, then typing "x" and Enter there
//   mid_ms                 GoToLine(middle line) + paint
//   pagedown_ms, down_ms   median of 20 Page Down / Down key presses from there
//   rss_mb    peak resident memory of the process
// Usage: editor_bench FILE wrap|nowrap
#include "controls/tledit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
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

    // Keys as a user presses them, each followed by the paint that shows the result.
    auto keyMedian = [&](int key, int times, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        std::vector<double> ms;
        for (int i = 0; i < times; ++i) {
            t.restart();
            QKeyEvent press(QEvent::KeyPress, key, mods);
            QApplication::sendEvent(&edit, &press);
            edit.viewport()->update();
            waitPaint(watch);
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    };
    const double upMs = keyMedian(Qt::Key_Up, 20);
    const double wordMs = keyMedian(Qt::Key_Left, 20, Qt::ControlModifier);
    // A click in the middle of the view, then a typed character there.
    t.restart();
    const QPointF mid(edit.viewport()->width() / 3.0, edit.viewport()->height() / 2.0);
    QMouseEvent down(QEvent::MouseButtonPress, mid, edit.viewport()->mapToGlobal(mid), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, mid, edit.viewport()->mapToGlobal(mid), Qt::LeftButton,
                   Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(edit.viewport(), &down);
    QApplication::sendEvent(edit.viewport(), &up);
    edit.viewport()->update();
    waitPaint(watch);
    const double clickMs = t.nsecsElapsed() / 1e6;
    t.restart();
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&edit, &typed);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(&edit, &enter);
    edit.viewport()->update();
    waitPaint(watch);
    const double typeMs = t.nsecsElapsed() / 1e6;
    t.restart();
    QApplication::sendEvent(&edit, &typed);
    edit.viewport()->update();
    waitPaint(watch);
    const double type2Ms = t.nsecsElapsed() / 1e6;
    const double backspaceMs = keyMedian(Qt::Key_Backspace, 10);
    const double pageUpMs = keyMedian(Qt::Key_PageUp, 20);
    t.restart();
    edit.GoToLine(last / 2);
    edit.viewport()->update();
    waitPaint(watch);
    const double midMs = t.nsecsElapsed() / 1e6;
    const double pageDownMs = keyMedian(Qt::Key_PageDown, 20);
    const double downMs = keyMedian(Qt::Key_Down, 20);
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("load_ms=%.1f\nshown_ms=%.1f\nlast_ms=%.1f\nup_ms=%.2f\npageup_ms=%.2f\nmid_ms=%.1f\n"
                "pagedown_ms=%.2f\ndown_ms=%.2f\nclick_ms=%.1f\ntype_ms=%.1f\ntype_again_ms=%.1f\n"
                "word_left_ms=%.2f\nbackspace_ms=%.2f\nrss_mb=%.1f\nlines=%d\ncaret_line=%d\n",
                loadMs, shownMs, lastMs, upMs, pageUpMs, midMs, pageDownMs, downMs, clickMs, typeMs, type2Ms, wordMs, backspaceMs, ru.ru_maxrss / 1024.0, last,
                line + 1);
    return 0;
}
