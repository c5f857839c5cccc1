// Shows the hex editor window on a file, for looking at it by eye (not a test):
//   hexedit_demo FILE [SHOT.png]   with SHOT, the window is grabbed once it is on screen and the program ends.
#include "windows/hex/hexdialogs.h"
#include "windows/hex/hexeditor.h"
#include "windows/hex/hexform.h"
#include "windows/hex/hexhost.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

namespace {
// Opens FILE on the first activation; asks through the window's usual boxes.
class DemoHost final : public THexDialogHost {
 public:
  explicit DemoHost(QString file) : file(std::move(file)) {}
  QString currentFile() const override { return file; }
  void clearCurrentFile() override { file.clear(); }

 private:
  QString file;
};
}  // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
  const QString shot = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  DemoHost host(file);
  THexForm *form = THexForm::open(nullptr, host);
  if (!shot.isEmpty()) {
    QTimer::singleShot(0, [form, shot] {
      // The file is loaded on the first activation; the shot waits for the window and for that.
      if (!QTest::qWaitForWindowExposed(form)) qWarning("the window was not shown");
      form->FormActivate();
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
      QCoreApplication::processEvents();  // the posted state change fills the status bar
      form->grab().save(shot);
      form->editor()->NewFile(QStringLiteral("Untitled"));  // nothing to ask about on the way out
      QApplication::quit();
    });
  }
  const int rc = app.exec();
  delete THexForm::instance();  // before the host goes
  return rc;
}
