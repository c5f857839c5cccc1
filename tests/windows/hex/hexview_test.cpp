// The grid, the window and printing, driven offscreen with real key, mouse, dialog and printer paths.
#include "windows/hex/hexdialogs.h"
#include "windows/hex/hexeditor.h"
#include "windows/hex/hexform.h"
#include "windows/hex/hexhost.h"
#include "windows/hex/hextocanvas.h"
#include "tests/common/testenv.h"
#include "tests/windows/hex/changebehind.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QByteArray contents(THexBuffer *b) {
  qint64 n = b->DataSize();
  return n ? b->BufferFromFile(0, n) : QByteArray();
}

QString writeData(const QByteArray &bytes, const QString &name = QStringLiteral("data.bin")) {
  return testenv::writeFile(testenv::makeDir() + QLatin1Char('/') + name, bytes);
}

struct Grid {
  THexEditor ed;
  Grid(const QByteArray &bytes) {
    ed.resize(700, 400);
    ed.show();
    ed.setFocus();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&ed));
    if (!bytes.isEmpty()) {
      EXPECT_TRUE(ed.LoadFromFile(writeData(bytes)));
    }
    QCoreApplication::processEvents();
  }
  THexBuffer *b() { return ed.buffer(); }
  void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(&ed, k, m); }
  void type(const QString &s) { QTest::keyClicks(&ed, s); }
  QPoint centre(int col, qint64 row) { return ed.cellRect(col, row).center(); }
  void click(int col, qint64 row, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::mouseClick(ed.viewport(), Qt::LeftButton, m, centre(col, row));
  }
};

// Acts on the next modal dialog of type D once it is shown: polls for it, so it waits for the dialog
// however long that takes, and stops when it goes out of scope, so it never acts on a later test's dialog.
template <class D>
class OnDialog {
 public:
  explicit OnDialog(std::function<void(D *)> act)
      : watch_([this, act](QWidget *m) {
          auto *d = qobject_cast<D *>(m);
          if (!d || seen_) return;
          seen_ = true;
          act(d);
        }) {}
  bool seen() const { return seen_; }

 private:
  bool seen_ = false;
  testenv::ModalWatcher watch_;
};

// Answers the window's questions from scripts and records what it was told; a question without a
// scripted answer is recorded and cancelled, so a test never waits on a box nobody answers.
struct TestHost final : THexHost {
  QString current;
  QList<QMessageBox::StandardButton> answers;
  QStringList inputs;
  QString openName, saveName;
  bool openReadOnly = false;
  QStringList questions, errors, messages, inputCaptions;

  QString currentFile() const override { return current; }
  void clearCurrentFile() override { current.clear(); }
  QMessageBox::StandardButton ask(QWidget *, const QString &text, QMessageBox::StandardButtons buttons,
                                  QMessageBox::StandardButton = QMessageBox::NoButton) override {
    questions << text;
    if (answers.isEmpty()) return QMessageBox::Cancel;
    const auto a = answers.takeFirst();
    EXPECT_TRUE(buttons.testFlag(a)) << text.toStdString();
    return a;
  }
  void showError(QWidget *, const QString &text) override { errors << text; }
  void showMessage(QWidget *, const QString &text) override { messages << text; }
  bool inputText(QWidget *, const QString &caption, const QString &, QString &value) override {
    inputCaptions << caption;
    if (inputs.isEmpty()) return false;
    value = inputs.takeFirst();
    return true;
  }
  QString openFileName(QWidget *, bool &readOnly) override {
    readOnly = openReadOnly;
    return openName;
  }
  QString saveFileName(QWidget *) override { return saveName; }
};
}  // namespace

TEST(HexGridLayout, ColumnsOffsetsAndCharacters) {
  Grid g(QByteArray(256, 'a'));
  THexEditor &ed = g.ed;
  EXPECT_EQ(ed.columnCount(), 51);
  const int w = ed.charWidth();
  for (int c = 2; c <= 33; ++c) EXPECT_EQ(ed.columnWidth(c), (c - 5) % 4 == 0 && c >= 5 ? 2 * w : w) << c;
  EXPECT_EQ(ed.separatorColumn(), 34);
  EXPECT_EQ(ed.columnWidth(50), w);
  EXPECT_EQ(ed.offsetText(0), "0x000:");
  EXPECT_EQ(ed.offsetText(1), "0x010:");
  ed.buffer()->NewFile("Untitled");
  ed.buffer()->InsertBuffer(QByteArray(255, 'a'), 0);
  EXPECT_EQ(ed.offsetText(1), "0x10:");
  ed.buffer()->InsertBuffer(QByteArray(745, 'a'), 0);
  ed.setOffsetDisplay(odDec);
  EXPECT_EQ(ed.offsetText(0), "0000:");
  EXPECT_EQ(ed.offsetText(1), "0016:");
  EXPECT_EQ(ed.displayChar(0x09), QChar('.'));
  ed.setOEMTranslate(true);
  EXPECT_EQ(ed.displayChar(0x81), QChar(0x00FC));
  EXPECT_THROW(ed.setBytesPerLine(0), EHexEditor);
  EXPECT_THROW(ed.setBytesPerLine(257), EHexEditor);
  EXPECT_EQ(ed.BytesPerLine(), 16);
}

TEST(HexGridLayout, LineLengthChangeKeepsCaretAndSelection) {
  Grid g(QByteArray(100, 'a'));
  g.b()->setCaret(40, haChar);
  g.b()->setSelEnd(45);
  g.ed.setBytesPerLine(32);
  EXPECT_EQ(g.b()->CaretPosition(), 40);
  EXPECT_EQ(g.b()->caretArea(), haChar);
  EXPECT_EQ(g.b()->SelStart(), 40);
  EXPECT_EQ(g.b()->SelEnd(), 45);
  EXPECT_EQ(g.ed.currentRow(), 1);
  EXPECT_EQ(g.ed.currentColumn(), 8 + 2 * 32 + 3);
}

// A sparse file above 4 GiB in the grid: scrolling to the end, offsets and typing there.
TEST(HexGridLayout, HugeFileScrollsAndEditsAtItsEnd) {
  const QString path = testenv::makeDir("huge") + "/huge.bin";
  const qint64 size = (6ll << 30) + 5;
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(size));
    f.seek(size - 3);
    f.write("end");
  }
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  if (st.st_blocks * 512 > (64ll << 20)) GTEST_SKIP() << "the temporary folder's file system has no sparse files";
  Grid g("");
  ASSERT_TRUE(g.ed.LoadFromFile(path));
  THexBuffer *b = g.b();
  EXPECT_EQ(g.ed.rowCount(), size / 16 + 1);
  g.key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(b->CaretPosition(), size - 1);
  const int visible = g.ed.viewport()->height() / g.ed.rowHeight();
  EXPECT_LE(g.ed.topRow(), g.ed.currentRow());
  EXPECT_GT(g.ed.topRow() + visible, g.ed.currentRow());
  EXPECT_EQ(g.ed.offsetText(g.ed.currentRow()), "0x180000000:");
  EXPECT_EQ(b->cachedByte(size - 1), 'd');
  g.key(Qt::Key_Tab);
  g.type("D");
  EXPECT_EQ(b->cachedByte(size - 1), 'D');
  EXPECT_TRUE(b->IsChanged(size - 1));
  // The scroll bar reaches the last rows although they outnumber what it can count one by one.
  QScrollBar *bar = g.ed.verticalScrollBar();
  bar->setValue(bar->maximum());
  EXPECT_GE(g.ed.topRow() + visible, g.ed.rowCount() - 1);
  bar->setValue(0);
  EXPECT_EQ(g.ed.topRow(), 0);
  const QImage img = g.ed.viewport()->grab().toImage();
  EXPECT_FALSE(img.isNull());
}

TEST(HexGridKeys, TypingHexAndCharacters) {
  Grid g("0123456789ABCDEFghij");
  THexBuffer *b = g.b();
  EXPECT_EQ(g.ed.currentColumn(), 2);
  g.type("A");  // upper case digits are not taken
  EXPECT_FALSE(b->Modified());
  g.type("a");
  EXPECT_EQ(static_cast<unsigned char>(contents(b)[0]), 0xA0);
  EXPECT_EQ(g.ed.currentColumn(), 3);
  g.type("f");
  EXPECT_EQ(static_cast<unsigned char>(contents(b)[0]), 0xAF);
  EXPECT_EQ(b->CaretPosition(), 1);
  EXPECT_TRUE(b->IsChanged(0));
  // Typing the value a byte already has changes nothing but still advances.
  g.type("3");
  EXPECT_EQ(b->undoCount(), 2);
  EXPECT_EQ(b->caretNibble(), 1);
  // Tab goes to the same byte's character; typing there overwrites and moves on.
  g.key(Qt::Key_Tab);
  EXPECT_EQ(b->caretArea(), haChar);
  EXPECT_EQ(g.ed.currentColumn(), 1 + 35);
  g.type("xy");
  EXPECT_EQ(contents(b).mid(1, 3), "xy3");
  EXPECT_EQ(b->CaretPosition(), 3);
  g.key(Qt::Key_Backtab);
  EXPECT_EQ(b->caretArea(), haHex);
  EXPECT_EQ(b->CaretPosition(), 3);
  // The low digit of the very last byte keeps the caret after typing.
  g.key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(b->CaretPosition(), 19);
  g.key(Qt::Key_Right);
  g.type("0");
  EXPECT_EQ(b->CaretPosition(), 19);
  EXPECT_EQ(b->caretNibble(), 1);
  EXPECT_EQ(contents(b).right(1), "`");  // 'j' 0x6A -> 0x60
  // Backspace is a move left and never deletes; at the first character column it does nothing.
  const qint64 size = b->DataSize();
  g.key(Qt::Key_Home);
  g.key(Qt::Key_Tab);
  g.key(Qt::Key_Backspace);
  EXPECT_EQ(g.ed.currentColumn(), 35);
  EXPECT_EQ(b->DataSize(), size);
  // Undo through the model brings the typed bytes back.
  while (b->CanUndo()) b->Undo();
  EXPECT_EQ(contents(b), "0123456789ABCDEFghij");
}

TEST(HexGridKeys, NavigationShiftSelectionAndDelete) {
  Grid g(QByteArray("abcdefghijklmnopqrstuvwxyz0123456789"));
  THexBuffer *b = g.b();
  g.key(Qt::Key_Down);
  EXPECT_EQ(b->CaretPosition(), 16);
  g.key(Qt::Key_End);
  EXPECT_EQ(b->CaretPosition(), 31);
  g.key(Qt::Key_Down);  // row 2 has bytes 32..35 only: refused, the caret goes to the last byte
  EXPECT_EQ(b->CaretPosition(), 35);
  g.key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(b->CaretPosition(), 0);
  g.key(Qt::Key_Right);
  g.key(Qt::Key_Right);
  EXPECT_EQ(b->CaretPosition(), 1);
  // Shift pressed alone starts selecting; each move extends from the byte the caret left.
  QTest::keyPress(&g.ed, Qt::Key_Shift);
  g.key(Qt::Key_Right, Qt::ShiftModifier);
  g.key(Qt::Key_Right, Qt::ShiftModifier);
  g.key(Qt::Key_Right, Qt::ShiftModifier);
  g.key(Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyRelease(&g.ed, Qt::Key_Shift);
  EXPECT_EQ(b->SelStart(), 1);
  EXPECT_EQ(b->SelEnd(), 3);
  g.key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(contents(b).left(4), "aefg");
  EXPECT_EQ(b->CaretPosition(), 1);
  // A key without modifiers clears the selection.
  b->setSelEnd(5);
  g.key(Qt::Key_Up);
  EXPECT_EQ(b->SelCount(), 0);
}

TEST(HexGridKeys, StateChangeIsPostedAfterTheKey) {
  Grid g(QByteArray(64, 'a'));
  QSignalSpy spy(&g.ed, &THexEditor::StateChanged);
  g.key(Qt::Key_Right);
  g.key(Qt::Key_Right);
  EXPECT_EQ(spy.count(), 0);
  QCoreApplication::processEvents();
  EXPECT_GE(spy.count(), 2);
}

TEST(HexGridKeys, RowMarkers) {
  Grid g(QByteArray(100, 'a'));
  THexBuffer *b = g.b();
  b->setSelStart(40);  // row 2
  g.key(Qt::Key_3, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(g.ed.marker(3), 2);
  b->setSelStart(90);
  g.key(Qt::Key_3, Qt::ControlModifier);
  EXPECT_EQ(g.ed.currentRow(), 2);
  EXPECT_EQ(g.ed.currentColumn(), 2);
  // An unset marker goes to column 2 of the caret's own row.
  b->setSelStart(75);
  g.key(Qt::Key_5, Qt::ControlModifier);
  EXPECT_EQ(b->CaretPosition(), 64);
  // Once its row is gone, the marker is unset and the caret stays.
  b->setSelStart(99);
  g.key(Qt::Key_9, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(g.ed.marker(9), 6);
  b->setSelStart(80);
  b->setSelEnd(99);
  b->DeleteSelection();
  b->setSelStart(10);
  g.key(Qt::Key_9, Qt::ControlModifier);
  EXPECT_EQ(g.ed.marker(9), -1);
  EXPECT_EQ(b->CaretPosition(), 10);
}

TEST(HexGridMouse, ClicksDragsAndEdges) {
  Grid g(QByteArray(40, 'q'));
  THexBuffer *b = g.b();
  g.click(2 + 2 * 5 + 1, 1);  // low digit of byte 21
  EXPECT_EQ(b->CaretPosition(), 21);
  EXPECT_EQ(b->caretNibble(), 1);
  g.click(35 + 7, 0);
  EXPECT_EQ(b->CaretPosition(), 7);
  EXPECT_EQ(b->caretArea(), haChar);
  // Beyond the last byte on the last row: the caret goes to the last byte.
  g.click(2 + 2 * 12, 2);
  EXPECT_EQ(b->CaretPosition(), 39);
  // The blank separator: the low digit of that row's last byte.
  g.click(34, 1);
  EXPECT_EQ(b->CaretPosition(), 31);
  EXPECT_EQ(b->caretArea(), haHex);
  EXPECT_EQ(b->caretNibble(), 1);
  // Dragging with the button held selects from the pressed byte.
  QTest::mousePress(g.ed.viewport(), Qt::LeftButton, Qt::NoModifier, g.centre(4, 0));
  QMouseEvent move(QEvent::MouseMove, g.centre(2 + 2 * 3, 1), g.ed.viewport()->mapToGlobal(g.centre(2 + 2 * 3, 1)),
                   Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(g.ed.viewport(), &move);
  QTest::mouseRelease(g.ed.viewport(), Qt::LeftButton, Qt::NoModifier, g.centre(2 + 2 * 3, 1));
  EXPECT_EQ(b->SelStart(), 1);
  EXPECT_EQ(b->SelEnd(), 19);
  EXPECT_EQ(b->CaretPosition(), 19);
}

TEST(HexGridPaint, ChangedAndSelectedColours) {
  Grid g(QByteArray(64, 'a'));
  THexBuffer *b = g.b();
  TColors colors;
  colors.ChangedBackground = QColor(255, 255, 168);
  colors.OddColumn = QColor(0, 0, 255);
  g.ed.setColors(colors);
  b->ChangeByte(17, 'a', 'b');
  b->setSelStart(3);
  b->setSelEnd(4);
  QCoreApplication::processEvents();
  const QImage img = g.ed.viewport()->grab().toImage();
  auto corner = [&](int col, qint64 row) {
    const QRect r = g.ed.cellRect(col, row);
    return QColor(img.pixel(r.right() - 1, r.bottom()));
  };
  EXPECT_EQ(corner(35 + 1, 1), colors.ChangedBackground);  // character of byte 17
  EXPECT_EQ(corner(2 + 2, 1), colors.ChangedBackground);   // its high digit keeps the changed background
  EXPECT_EQ(corner(35 + 5, 0), colors.Background);
  // A selected character cell swaps text and background; a selected digit takes its group colour as background.
  EXPECT_EQ(corner(35 + 3, 0), QColor(Qt::black));
  EXPECT_EQ(corner(2 + 6, 0), colors.EvenColumn);  // byte 3 is in the second group of two
}

TEST(HexForm, AppendKeyStatusPanelsAndMenus) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  THexBuffer *b = form.editor()->buffer();
  auto *save = form.findChild<QAction *>("Speichern1");
  ASSERT_TRUE(save);
  QTest::keyClick(form.editor(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(contents(b), "\xff");
  EXPECT_EQ(b->SelCount(), 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.panelText(0), "Pos : 0");
  EXPECT_EQ(form.panelText(1), "Sel : 0 - 0");
  EXPECT_EQ(form.panelText(2), "*");
  EXPECT_EQ(form.panelText(3), "R");
  EXPECT_EQ(form.panelText(4), "Size : 1");
  EXPECT_EQ(form.windowTitle(), "Tarnwick - [Untitled]");
  // A new buffer is read-only: Save stays disabled even though it is modified.
  EXPECT_FALSE(save->isEnabled());
  EXPECT_EQ(form.findChild<QAction *>("Rckgngig1")->text(), "Undo : Append buffer");
}

TEST(HexForm, FindFindNextAndGoto) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  THexBuffer *b = form.editor()->buffer();
  ASSERT_TRUE(form.editor()->LoadFromFile(writeData(QByteArray("xxABCxabcx\0" "A-aaaa", 17))));

  // "0x41": the x is dropped and 041 padded to 0041, so the bytes 00 41 are searched.
  host.inputs << "0x41";
  form.Find1Click();
  EXPECT_EQ(host.inputCaptions, QStringList{"Find Data"});
  EXPECT_EQ(b->SelStart(), 10);
  EXPECT_EQ(b->SelEnd(), 11);
  EXPECT_EQ(b->CaretPosition(), 11);

  b->setSelStart(0);
  host.inputs << "tabc";
  form.Find1Click();
  EXPECT_EQ(b->SelStart(), 6);
  b->setSelStart(0);
  host.inputs << "Tabc";
  form.Find1Click();
  EXPECT_EQ(b->SelStart(), 2);
  form.FindNext1Click();
  EXPECT_EQ(b->SelStart(), 6);
  EXPECT_TRUE(host.messages.isEmpty());
  form.FindNext1Click();
  EXPECT_EQ(host.messages, QStringList{"Data not found."});

  // Overlapping matches: "aa" in "aaaa" at 13, then 14, then 15.
  b->setSelStart(0);
  host.inputs << "taa";
  form.Find1Click();
  EXPECT_EQ(b->SelStart(), 13);
  form.FindNext1Click();
  EXPECT_EQ(b->SelStart(), 14);
  form.FindNext1Click();
  EXPECT_EQ(b->SelStart(), 15);

  // "t" alone is an empty pattern: nothing happens, no message.
  b->setSelStart(1);
  host.inputs << "t";
  form.Find1Click();
  EXPECT_EQ(b->CaretPosition(), 1);
  EXPECT_EQ(b->SelCount(), 0);
  EXPECT_EQ(host.messages.size(), 1);

  for (const char *where : {"0x10", "$10", "16"}) {
    b->setSelStart(0);
    host.inputs << where;
    host.inputCaptions.clear();
    form.Goto1Click();
    EXPECT_EQ(host.inputCaptions, QStringList{"Goto file position..."});
    EXPECT_EQ(b->CaretPosition(), 16) << where;
  }
  for (const char *bad : {"-1", "17", "zz"}) {
    host.inputs << bad;
    host.errors.clear();
    form.Goto1Click();
    EXPECT_EQ(host.errors, QStringList{"Invalid position"}) << bad;
  }

  // Jump moves by the amount and stops at the ends.
  host.inputs << "5";
  form.Amount40001Click();
  EXPECT_EQ(form.findChild<QAction *>("Amount40001")->text(), "Amount : 5");
  b->setSelStart(3);
  form.Jumpforward1Click();
  EXPECT_EQ(b->CaretPosition(), 8);
  form.Jumpforward1Click();
  form.Jumpforward1Click();
  EXPECT_EQ(b->CaretPosition(), 16);
  form.Jumpbackward1Click();
  EXPECT_EQ(b->CaretPosition(), 11);
}

TEST(HexForm, ClipboardCopyCutPaste) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  THexBuffer *b = form.editor()->buffer();
  ASSERT_TRUE(form.editor()->LoadFromFile(writeData(QByteArray("he\0llo\xff", 7))));
  b->setSelStart(1);
  b->setSelEnd(6);
  form.Kopieren1Click();
  EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("text/plain"), QByteArray("e\0llo\xff", 6));
  form.Ausschneiden1Click();
  EXPECT_EQ(contents(b), "h");
  form.Einfgen1Click();  // inserted at the caret and selected
  EXPECT_EQ(contents(b), QByteArray("e\0llo\xffh", 7));
  EXPECT_EQ(b->SelStart(), 0);
  EXPECT_EQ(b->SelEnd(), 5);
  // Paste into an empty buffer inserts at byte 0.
  b->NewFile("Untitled");
  QGuiApplication::clipboard()->setText("plain");
  form.Einfgen1Click();
  EXPECT_EQ(contents(b), "plain");
  // With nothing selected, Copy does nothing.
  b->setSelStart(0);
  QGuiApplication::clipboard()->setText("kept");
  form.Kopieren1Click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "kept");
}

TEST(HexForm, ActivationLoadsCurrentFileAndCloseAsks) {
  THexForm::resetSharedState();
  const QString first = writeData("first file");
  const QString second = writeData("second");
  TestHost host;
  host.current = first;
  auto *menuItem = new QAction("&Hex Editor");
  THexForm *form = THexForm::open(nullptr, host, menuItem);
  ASSERT_TRUE(form);
  EXPECT_FALSE(menuItem->isEnabled());
  TestHost other;
  EXPECT_EQ(THexForm::open(nullptr, other), form);  // one window at a time
  form->FormActivate();
  EXPECT_EQ(contents(form->editor()->buffer()), "first file");
  EXPECT_TRUE(host.current.isEmpty());
  host.current = second;
  form->FormActivate();
  EXPECT_EQ(contents(form->editor()->buffer()), "second");
  // Unsaved changes: the question comes first, and Cancel keeps them.
  form->editor()->buffer()->ChangeByte(0, 's', 'S');
  host.current = first;
  host.answers << QMessageBox::Cancel;
  form->FormActivate();
  EXPECT_EQ(contents(form->editor()->buffer()), "Second");
  EXPECT_EQ(host.questions.size(), 1);
  // Closing asks too: Cancel keeps the window, No closes it and enables the menu item again.
  host.questions.clear();
  host.answers << QMessageBox::Cancel;
  EXPECT_FALSE(form->close());
  EXPECT_EQ(host.questions, QStringList{"Save changes to\n" + second + " ?"});
  QPointer<THexForm> guard(form);
  QSignalSpy closed(form, &THexForm::closed);
  host.answers << QMessageBox::No;
  EXPECT_TRUE(THexForm::closeInstance());
  EXPECT_EQ(closed.count(), 1);
  EXPECT_TRUE(testenv::waitFor([&] { return guard.isNull(); }));
  EXPECT_TRUE(menuItem->isEnabled());
  EXPECT_EQ(THexForm::instance(), nullptr);
  EXPECT_TRUE(THexForm::closeInstance());
  EXPECT_EQ(testenv::readFile(second), "second");
  EXPECT_TRUE(other.questions.isEmpty());
  delete menuItem;
}

TEST(HexForm, OpenWithReadOnlyBox) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  host.openName = writeData("open me", "opened.bin");
  host.openReadOnly = true;
  form.ffnen1Click();
  THexBuffer *b = form.editor()->buffer();
  EXPECT_EQ(contents(b), "open me");
  EXPECT_TRUE(b->ReadOnly());
  b->ChangeByte(0, 'o', 'O');
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.findChild<QAction *>("Speichern1")->isEnabled());
  EXPECT_EQ(form.panelText(3), "R");
  b->Undo();

  // The dialog itself hands back the file typed in and the state of its read-only box.
  const QString path = writeData("x", "picked.bin");
  for (const bool tick : {true, false}) {
    OnDialog<QFileDialog> answer([path, tick](QFileDialog *dlg) {
      EXPECT_EQ(dlg->windowTitle(), "Open file");
      dlg->findChild<QCheckBox *>("ReadOnlyBox")->setChecked(tick);
      // Typed into the name box as a user would; done() does not wait for the folder listing to arrive.
      dlg->findChild<QLineEdit *>("fileNameEdit")->setText(path);
      static_cast<QDialog *>(dlg)->done(QDialog::Accepted);
    });
    bool readOnly = !tick;
    EXPECT_EQ(hexdlg::openFileName(&form, readOnly), path);
    EXPECT_TRUE(answer.seen());
    EXPECT_EQ(readOnly, tick);
  }
  OnDialog<QFileDialog> cancel([](QFileDialog *dlg) { dlg->reject(); });
  bool readOnly = false;
  EXPECT_EQ(hexdlg::openFileName(&form, readOnly), QString());
}

TEST(HexForm, SaveQueryYesSavesWithBackup) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  const QString path = writeData("abc", "notes.txt");
  ASSERT_TRUE(form.editor()->LoadFromFile(path));
  form.editor()->buffer()->ChangeByte(0, 'a', 'A');
  auto *save = form.findChild<QAction *>("Speichern1");
  QCoreApplication::processEvents();
  EXPECT_TRUE(save->isEnabled());
  host.answers << QMessageBox::Yes;
  EXPECT_TRUE(form.SaveQuery());
  EXPECT_EQ(host.questions, QStringList{"Save changes to\n" + path + " ?"});
  EXPECT_EQ(testenv::readFile(path), "Abc");
  EXPECT_EQ(testenv::readFile(QFileInfo(path).absolutePath() + "/notes.bak"), "abc");
  QCoreApplication::processEvents();
  EXPECT_EQ(form.panelText(2), "");
  EXPECT_FALSE(save->isEnabled());
}

// A file changed by another program after it was opened: Save says so and offers to reload; a file shown
// straight from disk that changes is let go, and the window offers to load it again.
TEST(HexForm, FileChangedBehindTheWindow) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  THexBuffer *b = form.editor()->buffer();
  const QString path = writeData("abcdef", "changing.bin");
  ASSERT_TRUE(form.editor()->LoadFromFile(path));
  b->ChangeByte(0, 'a', 'A');
  changeBehind(path, -1, 3, "XYZ");
  host.answers << QMessageBox::Cancel;
  EXPECT_FALSE(form.Save());
  ASSERT_EQ(host.questions.size(), 1);
  EXPECT_TRUE(host.questions[0].startsWith(path + "\nwas changed by another program")) << host.questions[0].toStdString();
  EXPECT_EQ(testenv::readFile(path), "abcXYZ");
  EXPECT_TRUE(b->Modified());
  // No: the file is loaded again, the changes made here are dropped.
  host.answers << QMessageBox::No;
  EXPECT_FALSE(form.Save());
  EXPECT_EQ(contents(b), "abcXYZ");
  EXPECT_FALSE(b->Modified());
  EXPECT_EQ(testenv::readFile(path), "abcXYZ");
  // Yes: saved over the other program's change.
  b->ChangeByte(0, 'a', 'A');
  changeBehind(path, 2, 0, "");
  host.answers << QMessageBox::Yes;
  EXPECT_TRUE(form.Save());
  EXPECT_EQ(testenv::readFile(path), "AbcXYZ");
  EXPECT_EQ(host.questions.size(), 3);
  // Unchanged on disk: no question.
  b->ChangeByte(1, 'b', 'B');
  EXPECT_TRUE(form.Save());
  EXPECT_EQ(host.questions.size(), 3);
  EXPECT_TRUE(host.errors.isEmpty());

  // A large file shown straight from disk, cut behind the window.
  QByteArray data(THexBuffer::kEagerCopyLimit + 4096, 'L');
  const QString big = writeData(data, "big.bin");
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    testenv::writeFile(big, data);
    ASSERT_TRUE(form.editor()->LoadFromFile(big));
    if (!b->showsFileDirectly()) GTEST_SKIP() << "the file system cloned the file at once";
    host.questions.clear();
    host.answers << answer;
    changeBehind(big, 1000, 0, "NEW");
    form.editor()->viewport()->grab();  // painting reads from the file
    ASSERT_TRUE(testenv::waitFor([&] { return !host.questions.isEmpty(); }));
    EXPECT_TRUE(host.questions[0].startsWith(big + "\nwas changed by another program")) << host.questions[0].toStdString();
    if (answer == QMessageBox::Yes) {
      EXPECT_EQ(b->DataSize(), 1000);
      EXPECT_EQ(b->FileName(), big);
      qint64 n = 3;
      EXPECT_EQ(b->BufferFromFile(0, n), "NEW");
    } else {
      EXPECT_EQ(b->DataSize(), 0);
      EXPECT_EQ(b->FileName(), "Untitled");
    }
  }
  EXPECT_TRUE(host.messages.isEmpty());
}

// The question about another program's change, in the real box: Enter keeps that change (Cancel is the
// default), so a reflex does not throw it away; nothing is written and the edits made here stay.
TEST(HexForm, EnterInTheChangedFileQuestionKeepsTheOtherProgramsChange) {
  struct BoxHost final : THexDialogHost {
    QString currentFile() const override { return {}; }
    void clearCurrentFile() override {}
  } host;
  THexForm::resetSharedState();
  THexForm form(host);
  THexBuffer *b = form.editor()->buffer();
  const QString path = writeData("abcdef", "theirs.bin");
  ASSERT_TRUE(form.editor()->LoadFromFile(path));
  b->ChangeByte(0, 'a', 'A');
  changeBehind(path, -1, 3, "XYZ");
  QString asked;
  OnDialog<QMessageBox> enter([&](QMessageBox *box) {
    asked = box->text();
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_FALSE(form.Save());
  ASSERT_TRUE(enter.seen());
  EXPECT_TRUE(asked.contains("was changed by another program")) << asked.toStdString();
  EXPECT_EQ(testenv::readFile(path), "abcXYZ");
  EXPECT_TRUE(b->Modified());
  EXPECT_EQ(contents(b), "Abcdef");
}

namespace {
QString pdfText(const QString &pdf, int page) {
  QProcess p;
  p.start("pdftotext", {"-layout", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
  p.waitForFinished(20000);
  return QString::fromUtf8(p.readAllStandardOutput());
}
int pdfPages(const QString &pdf) {
  QProcess p;
  p.start("pdfinfo", {pdf});
  p.waitForFinished(20000);
  const QString out = QString::fromUtf8(p.readAllStandardOutput());
  for (const QString &line : out.split('\n'))
    if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
  return -1;
}
QStringList nonEmptyLines(const QString &text) {
  QStringList out;
  for (const QString &l : text.split('\n'))
    if (!l.trimmed().isEmpty()) out << l.trimmed();
  return out;
}
}  // namespace

TEST(HexPrint, ThreePagesToPdfWithHeadersAndFooters) {
  THexForm::resetSharedState();
  TestHost host;
  THexForm form(host);
  QByteArray data;
  for (int i = 0; i < 2000; ++i) data.append(static_cast<char>('A' + i % 26));
  ASSERT_TRUE(form.editor()->LoadFromFile(writeData(data, "dump.bin")));

  // Find how many lines one page holds, then print just over two pages' worth.
  QPrinter probe(QPrinter::HighResolution);
  probe.setOutputFormat(QPrinter::PdfFormat);
  probe.setOutputFileName(testenv::makeDir() + "/probe.pdf");
  const int probePages = form.printTo(&probe);
  ASSERT_GE(probePages, 2);
  const QStringList firstPage = nonEmptyLines(pdfText(probe.outputFileName(), 1));
  const int perPage = firstPage.size() - 2;  // header and footer
  ASSERT_GT(perPage, 5);
  const qint64 size = (2 * perPage + 3) * 16 - 5;  // a partial last line too
  form.editor()->buffer()->NewFile("Untitled");
  ASSERT_TRUE(form.editor()->LoadFromFile(writeData(data.left(size), "dump.bin")));

  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(testenv::makeDir() + "/out.pdf");
  EXPECT_EQ(form.printTo(&printer), 3);
  ASSERT_EQ(pdfPages(printer.outputFileName()), 3);
  QList<int> lineCounts;
  for (int page = 1; page <= 3; ++page) {
    const QStringList lines = nonEmptyLines(pdfText(printer.outputFileName(), page));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.first(), "QX THexEditor-Sample:dump.bin") << page;
    EXPECT_EQ(lines.last(), QString("Page %1").arg(page));
    lineCounts << lines.size();
    if (page == 1) {
      EXPECT_EQ(lines[1].simplified(), "0x000:4142 4344 4546 4748 494A 4B4C 4D4E 4F50 ABCDEFGHIJKLMNOP");
    }
    if (page == 3) {
      // The partial last line: 11 values, blanks for the rest.
      const QString last = lines[lines.size() - 2];
      EXPECT_TRUE(last.startsWith(QString("0x%1:").arg((size - 11), 3, 16, QChar('0')).toUpper().replace("0X", "0x")))
          << last.toStdString();
    }
  }
  EXPECT_EQ(lineCounts[0], lineCounts[1]);
  // Footers stand at the same height on every page, the short last page included.
  QProcess bbox;
  bbox.start("pdftotext", {"-bbox", printer.outputFileName(), "-"});
  bbox.waitForFinished(20000);
  QStringList footerY;
  for (const QString &l : QString::fromUtf8(bbox.readAllStandardOutput()).split('\n'))
    if (l.contains(">Page</word>")) footerY << l.section("yMin=\"", 1).section('"', 0, 0);
  ASSERT_EQ(footerY.size(), 3);
  EXPECT_EQ(footerY[0], footerY[1]);
  EXPECT_EQ(footerY[1], footerY[2]);

  // The preview paints through the same path; it opens and closes cleanly.
  QString title;
  OnDialog<QPrintPreviewDialog> closer([&title](QPrintPreviewDialog *w) {
    title = w->windowTitle();
    w->close();
  });
  form.Printpreview1Click();
  EXPECT_EQ(title, "Print preview");
  EXPECT_EQ(lineCounts[2], 3 + 2);  // header, three lines, footer
}

TEST(HexPrint, CanvasEdgeCases) {
  THexEditor ed;
  ASSERT_TRUE(ed.LoadFromFile(writeData("0123456789")));
  THexToCanvas c;
  QImage img(1000, 1400, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  EXPECT_EQ(c.PrintToCanvas(p, 0, 9, "h", "f"), std::numeric_limits<qint64>::max());  // no editor
  c.setHexEditor(&ed);
  c.ReadEditorSettings();
  c.Left = 50;
  c.Right = 950;
  c.Top = 70;
  c.Bottom = 1330;
  EXPECT_EQ(c.formatLine(0, 9), "0x0:3031 3233 3435 3637 3839                 0123456789      ");
  c.BytesPerLine = 0;
  EXPECT_EQ(c.PrintToCanvas(p, 0, 9, "", ""), -1);
  c.BytesPerLine = 16;
  EXPECT_EQ(c.PrintToCanvas(p, 5, 3, "", ""), -1);
  EXPECT_EQ(c.PrintToCanvas(p, 0, 100, "h", "f"), 10);  // last clipped to the data
  // A page too short for a line between header and footer returns first unchanged.
  c.Bottom = c.Top + 10;
  EXPECT_EQ(c.PrintToCanvas(p, 4, 9, "h", "f"), 4);
  c.MemFieldDisplay = odDec;
  c.OffsetDisplay = odDec;
  c.BytesPerLine = 4;
  c.BytesPerColumn = 1;
  EXPECT_EQ(c.formatLine(8, 9), "008:056 057          89  ");
  // The editor going away is noticed.
  p.end();
}
