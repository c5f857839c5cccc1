// Shows the hex editor window on a file, for looking at it by eye (not a test):
//   hexedit_demo FILE [SHOT.png]   with SHOT, the window is grabbed after half a second and the program ends.
#include "hexedit/hexeditor.h"
#include "hexedit/hexform.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  const QString shot = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  THexForm *form = THexForm::open(nullptr, [file] { return file; });
  if (!shot.isEmpty()) {
    QTimer::singleShot(500, [form, shot] {
      form->editor()->setFocus();
      if (qEnvironmentVariableIsSet("HEXDEMO_VIEW")) {  // markers, grid lines, decimal offsets, 32 per line
        form->editor()->setShowMarkerColumn(true);
        form->editor()->setGridLineWidth(1);
        form->editor()->setOffsetDisplay(odDec);
        form->editor()->setBytesPerLine(32);
        form->editor()->setCaretStyle(csFull);
        form->editor()->buffer()->setSelStart(64);
        QTest::keyClick(form->editor(), Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier);
        form->editor()->buffer()->setSelStart(160);
        QTest::keyClick(form->editor(), Qt::Key_7, Qt::ControlModifier | Qt::ShiftModifier);
      }
      form->editor()->buffer()->setSelStart(5);
      form->editor()->buffer()->setSelEnd(9);
      form->editor()->buffer()->ChangeByte(20, form->editor()->buffer()->cachedByte(20), 0x41);
    });
    QTimer::singleShot(900, [form, shot] {
      form->grab().save(shot);
      form->editor()->NewFile(QStringLiteral("Untitled"));  // nothing to ask about on the way out
      QApplication::quit();
    });
  }
  return app.exec();
}
