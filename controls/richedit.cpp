#include "controls/richedit.h"
#include "platform/savefile.h"

#include "formats/rtf/rtfcodec.h"

#include <QCryptographicHash>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextList>

#include <array>

namespace {

constexpr double kUnitsPerPoint = 4.0 / 3.0;  // layout units are pixels at 96 dpi

QStringList localFiles(const QMimeData *m) {
  QStringList paths;
  if (!m || !m->hasUrls()) return paths;
  for (const QUrl &u : m->urls())
    if (u.isLocalFile()) paths << u.toLocalFile();
  return paths;
}

// Windows-1252 text of a string, or false when a character has no byte there.
bool encode1252(const QString &text, QByteArray *out) {
  static const std::array<char16_t, 256> table = [] {
    std::array<char16_t, 256> t{};
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i) all[i] = char(i);
    QString s;
    rtf::decodeCodePage(1252, all, &s);
    for (int i = 0; i < 256 && i < s.size(); ++i) t[size_t(i)] = s.at(i).unicode();
    return t;
  }();
  out->resize(text.size());
  char *d = out->data();
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x80) {
      *d++ = char(u);
      continue;
    }
    int b = 0x80;
    while (b < 256 && table[size_t(b)] != u) ++b;
    if (b == 256) return false;
    *d++ = char(b);
  }
  return true;
}

// The paragraph's offset that Qt adds from its indent level and its list.
double levelOffset(const QTextBlock &b, const QTextDocument *doc) {
  double x = b.blockFormat().indent() * doc->indentWidth();
  if (const QTextList *l = b.textList()) x += l->format().indent() * doc->indentWidth();
  return x;
}

}  // namespace

TRichEdit::TRichEdit(QWidget *parent) : QTextEdit(parent) {
  setAcceptRichText(true);
  setLineWrapMode(QTextEdit::WidgetWidth);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  adopt(newDocument());
}

void TRichEdit::applyInset() {
  QTextFrame *root = document()->rootFrame();
  QTextFrameFormat f = root->frameFormat();
  if (f.leftMargin() == kInset && f.rightMargin() == kInset) return;
  // A change of the frame's format is an edit to Qt: keep it out of the undo stack and the modified flag.
  const bool modified = document()->isModified();
  const bool undo = document()->isUndoRedoEnabled();
  document()->setUndoRedoEnabled(false);
  f.setLeftMargin(kInset);
  f.setRightMargin(kInset);
  root->setFrameFormat(f);
  document()->setUndoRedoEnabled(undo);
  document()->setModified(modified);
}

void TRichEdit::resizeEvent(QResizeEvent *e) {
  QTextEdit::resizeEvent(e);
  applyInset();
}

QTextDocument *TRichEdit::newDocument() {
  auto *doc = new QTextDocument(this);
  doc->setDefaultFont(document()->defaultFont());
  return doc;
}

void TRichEdit::adopt(QTextDocument *doc) {
  QTextDocument *old = document();
  // Word processors put the default tab stops half an inch apart; Qt's default is wider.
  QTextOption o = doc->defaultTextOption();
  o.setTabStopDistance(kDefaultTab);
  doc->setDefaultTextOption(o);
  const bool ours = old != doc && old->parent() == this;  // Qt deletes the first one, which it made itself
  setDocument(doc);
  if (ours) delete old;
  connect(doc, &QTextDocument::modificationChanged, this, &TRichEdit::modificationChanged);
  rtf::registerObjectHandlers(doc);
  applyInset();
  doc->setModified(false);
  moveCursor(QTextCursor::Start);
  emit modificationChanged(false);
}

bool TRichEdit::loadRtf(const QByteArray &bytes, QString *error) {
  // Read into a document of its own so that a file that fails leaves the shown one as it was.
  QTextDocument *doc = newDocument();
  const rtf::ReadResult r = rtf::readRtf(bytes, doc);
  if (!r.ok) {
    delete doc;
    if (error) *error = r.error;
    return false;
  }
  adopt(doc);
  return true;
}

bool TRichEdit::loadFromFile(const QString &path, QString *error) {
  const QFileInfo info(path);
  if (info.isDir()) {
    if (error) *error = tr("Cannot open %1: it is a folder.").arg(path);
    return false;
  }
  if (info.size() > kMaxFileBytes) {
    if (error) *error = tr("Cannot open %1: at %2 MB it is too large for the editor.").arg(path).arg(info.size() >> 20);
    return false;
  }
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error) *error = tr("Cannot open %1: %2").arg(path, f.errorString());
    return false;
  }
  const platform::FileIdentity identity = platform::FileIdentity::ofDescriptor(f.handle());
  const QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    if (error) *error = tr("Cannot read %1: %2").arg(path, f.errorString());
    return false;
  }
  bool latin1 = false;
  if (rtf::looksLikeRtf(bytes)) {
    QString why;
    if (!loadRtf(bytes, &why)) {
      if (error) *error = tr("Cannot read %1: %2").arg(path, why);
      return false;
    }
  } else {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
      latin1 = true;
      text.clear();
      rtf::decodeCodePage(1252, bytes, &text);
    }
    QTextDocument *doc = newDocument();
    doc->setPlainText(text);
    adopt(doc);
  }
  latin1File_ = latin1;
  diskPath_ = path;
  diskIdentity_ = identity;
  diskDigest_ = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
  return true;
}

bool TRichEdit::saveToFile(const QString &path, bool plainText, QString *error) {
  QByteArray bytes;
  if (!plainText) {
    bytes = rtf::writeRtf(document());
  } else {
    const QString text = document()->toPlainText().remove(QChar::ObjectReplacementCharacter);
    if (!latin1File_ || !encode1252(text, &bytes)) bytes = text.toUtf8();
  }
  // Owner, mode and other names of the file stay as they were.
  QString why;
  if (!platform::saveFileKeepingAttributes(path, bytes, &why)) {
    if (error) *error = tr("Cannot save %1: %2").arg(path, why);
    return false;
  }
  diskPath_ = path;
  diskIdentity_ = platform::FileIdentity::of(path);
  diskDigest_ = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
  if (!plainText) rtf::forgetLosses(document());  // the file now holds what the document holds
  document()->setModified(false);
  return true;
}

bool TRichEdit::changedOnDisk(const QString &path) const {
  if (path != diskPath_) return false;
  const platform::FileIdentity now = platform::FileIdentity::of(path);
  if (!now.exists) return false;
  if (now.changedSince(diskIdentity_)) return true;
  // Size and time alone miss a change within the clock's step, or one that set the time back (a copy that
  // keeps times): the bytes tell.
  if (now.size > kMaxFileBytes) return false;
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return false;
  QCryptographicHash hash(QCryptographicHash::Sha1);
  if (!hash.addData(&f)) return false;
  return hash.result() != diskDigest_;
}

QStringList TRichEdit::unkeptContent() const { return rtf::documentLosses(document()); }

void TRichEdit::clearDocument() {
  adopt(newDocument());
  latin1File_ = false;
  diskPath_.clear();
  diskIdentity_ = {};
  diskDigest_.clear();
}

bool TRichEdit::isModified() const { return document()->isModified(); }
void TRichEdit::setModified(bool modified) { document()->setModified(modified); }
bool TRichEdit::canUndo() const { return document()->isUndoAvailable(); }
int TRichEdit::selStart() const { return textCursor().selectionStart(); }
int TRichEdit::selLength() const { return textCursor().selectionEnd() - textCursor().selectionStart(); }

// Qt's own line numbers of a document count paragraphs, not wrapped lines: count the lines of the layout,
// a paragraph not laid out yet as one line.
static int linesOf(const QTextBlock &b) {
  const QTextLayout *l = b.layout();
  return l && l->lineCount() > 0 ? l->lineCount() : 1;
}

int TRichEdit::lineFromChar(int pos) const {
  const QTextBlock at = document()->findBlock(pos);
  if (!at.isValid()) return 0;
  int line = 0;
  for (QTextBlock b = document()->begin(); b.isValid() && b != at; b = b.next()) line += linesOf(b);
  if (const QTextLayout *l = at.layout(); l && l->lineCount() > 0) {
    const QTextLine tl = l->lineForTextPosition(pos - at.position());
    if (tl.isValid()) line += tl.lineNumber();
  }
  return line;
}

int TRichEdit::lineIndex(int line) const {
  if (line < 0) return -1;
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
    const int n = linesOf(b);
    if (line < n) {
      const QTextLayout *l = b.layout();
      return b.position() + (l && l->lineCount() > line ? l->lineAt(line).textStart() : 0);
    }
    line -= n;
  }
  return -1;
}

QTextCharFormat TRichEdit::currentTextFormat() const {
  const QTextCursor c = textCursor();
  if (!c.hasSelection()) return currentCharFormat();
  // The format of the first selected character (a cursor reports the character before it).
  QTextCursor first(document());
  first.setPosition(c.selectionStart() + 1);
  return first.charFormat();
}

QTextBlock TRichEdit::currentParagraph() const { return document()->findBlock(selStart()); }

TParaIndents TRichEdit::paragraphIndents() const {
  const QTextBlock b = currentParagraph();
  const QTextBlockFormat f = b.blockFormat();
  const double absLeft = f.leftMargin() + levelOffset(b, document());
  const double absFirst = absLeft + f.textIndent();
  return {absFirst / kUnitsPerPoint, (absLeft - absFirst) / kUnitsPerPoint, f.rightMargin() / kUnitsPerPoint};
}

void TRichEdit::setParagraphIndents(const TParaIndents &in) {
  QTextCursor c = textCursor();
  const int end = c.selectionEnd();
  c.beginEditBlock();
  for (QTextBlock b = document()->findBlock(c.selectionStart()); b.isValid() && b.position() <= end; b = b.next()) {
    const double absFirst = in.first * kUnitsPerPoint;
    const double absLeft = (in.first + in.left) * kUnitsPerPoint;
    QTextBlockFormat f = b.blockFormat();
    f.setLeftMargin(qMax(0.0, absLeft - levelOffset(b, document())));
    f.setTextIndent(absFirst - absLeft);
    f.setRightMargin(qMax(0.0, in.right * kUnitsPerPoint));
    QTextCursor bc(b);
    bc.setBlockFormat(f);
  }
  c.endEditBlock();
}

void TRichEdit::setParagraphAlignment(Qt::Alignment alignment) { setAlignment(alignment); }

void TRichEdit::setBullets(bool on) {
  QTextCursor c = textCursor();
  if (on == hasBullets()) return;
  c.beginEditBlock();
  if (on) {
    QTextListFormat lf;
    lf.setStyle(QTextListFormat::ListDisc);
    c.createList(lf);
  } else {
    const int end = c.selectionEnd();
    for (QTextBlock b = document()->findBlock(c.selectionStart()); b.isValid() && b.position() <= end; b = b.next())
      if (QTextList *l = b.textList()) l->remove(b);
  }
  c.endEditBlock();
}

bool TRichEdit::hasBullets() const { return currentParagraph().textList() != nullptr; }

void TRichEdit::dragEnterEvent(QDragEnterEvent *e) {
  if (!localFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
  else QTextEdit::dragEnterEvent(e);
}

void TRichEdit::dragMoveEvent(QDragMoveEvent *e) {
  if (!localFiles(e->mimeData()).isEmpty()) e->acceptProposedAction();
  else QTextEdit::dragMoveEvent(e);
}

void TRichEdit::dropEvent(QDropEvent *e) {
  const QStringList files = localFiles(e->mimeData());
  if (files.isEmpty()) {
    QTextEdit::dropEvent(e);
    return;
  }
  e->acceptProposedAction();
  emit filesDropped(files);
}
