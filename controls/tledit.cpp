#include "controls/tledit.h"
#include "platform/savefile.h"
#include "controls/filedialogs.h"
#include "controls/tleditfind.h"

#include <Qsci/qscilexerbash.h>
#include <Qsci/qscilexerbatch.h>
#include <Qsci/qscilexercmake.h>
#include <Qsci/qscilexercpp.h>
#include <Qsci/qscilexercsharp.h>
#include <Qsci/qscilexercss.h>
#include <Qsci/qscilexerdiff.h>
#include <Qsci/qscilexerfortran.h>
#include <Qsci/qscilexerhtml.h>
#include <Qsci/qscilexerjava.h>
#include <Qsci/qscilexerjavascript.h>
#include <Qsci/qscilexerjson.h>
#include <Qsci/qscilexerlua.h>
#include <Qsci/qscilexermakefile.h>
#include <Qsci/qscilexerpascal.h>
#include <Qsci/qscilexerperl.h>
#include <Qsci/qscilexerproperties.h>
#include <Qsci/qscilexerpython.h>
#include <Qsci/qscilexerruby.h>
#include <Qsci/qscilexersql.h>
#include <Qsci/qscilexertex.h>
#include <Qsci/qscilexerxml.h>
#include <Qsci/qscilexeryaml.h>
#include <Qsci/qsciprinter.h>
#include <QAccessible>
#include <QTimer>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QFontDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <cstring>
#include "platform/ask.h"

const QString TLEdit::Untitled = QStringLiteral("<<untitled>>");

namespace {

// QScintilla's accessibility object counts the characters from the start of the text to the caret after
// every caret move: a second per move at the end of a 100 MB file. Large texts get a plain accessible
// editor instead, which does not.
class TLEditPlainAccessible : public QAccessibleWidget {
 public:
  explicit TLEditPlainAccessible(QWidget *w) : QAccessibleWidget(w, QAccessible::EditableText) {}
};

QAccessibleInterface *plainAccessibleFactory(const QString &key, QObject *object) {
  if (key != QLatin1String("TLEdit")) return nullptr;
  auto *edit = qobject_cast<TLEdit *>(object);
  if (!edit || !edit->IsLargeText()) return nullptr;  // QScintilla's own, with its text interface
  return new TLEditPlainAccessible(edit);
}

// Plain text takes the palette's colours, dark or light as the desktop's, also when the palette changes later;
// the HTML colouring keeps its own.
void applyPlainColours(TLEdit *edit) {
  if (edit->HtmlHighlighting()) return;
  edit->setPaper(edit->palette().color(QPalette::Base));
  edit->setColor(edit->palette().color(QPalette::Text));
}

class PaletteFollower : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject *watched, QEvent *e) override {
    // After QScintilla's own handling of the change, which sets colours of its own.
    if (e->type() == QEvent::PaletteChange)
      if (auto *edit = qobject_cast<TLEdit *>(watched))
        QTimer::singleShot(0, edit, [edit] { applyPlainColours(edit); });
    return false;
  }
};

}  // namespace

TLEdit::TLEdit(QWidget *parent) : QsciScintilla(parent), m_fileName(Untitled) {
  // Installed after QScintilla's (made by the base constructor), so asked first.
  static const bool factoryInstalled = [] {
    QAccessible::installFactory(plainAccessibleFactory);
    return true;
  }();
  Q_UNUSED(factoryInstalled);
  setUtf8(true);
  m_font = QFont(QStringLiteral("Courier New"));
  m_font.setStyleHint(QFont::TypeWriter);
  m_font.setPointSize(10);
  applyFont();
  for (int margin = 0; margin < 5; ++margin) setMarginWidth(margin, 0);
  applyPlainColours(this);
  installEventFilter(new PaletteFollower(this));
  setAutoIndent(true);
  setIndentationsUseTabs(true);  // the Tab key inserts a tab
  setTabWidth(m_tabStopSize);
  setWrapMode(WrapWord);
  // A page of laid-out lines is cached, so big files scroll without laying lines out again.
  SendScintilla(SCI_SETLAYOUTCACHE, (unsigned long)SC_CACHE_PAGE);
  SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1UL);
  SendScintilla(SCI_SETSCROLLWIDTH, 1UL);
  setFocusPolicy(Qt::ClickFocus);  // not reachable with the Tab key
  const QString hint = tr("Use right hand mouse button for pop up menu");
  setToolTip(hint);
  setStatusTip(hint);
  applyEolMode();
  // The bookmark shows as a tinted line.
  markerDefine(QsciScintilla::Background, BookmarkMarker);
  setMarkerBackgroundColor(QColor(0xd8, 0xe8, 0xff), BookmarkMarker);
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  SendScintilla(SCI_SETSAVEPOINT);

  connect(this, &QsciScintilla::textChanged, this, [this] {
    if (!m_loading) emit OnChange();
  });
  connect(this, &QsciScintilla::cursorPositionChanged, this, [this] {
    if (!m_loading) emit OnChange();
  });
  connect(this, &QsciScintillaBase::SCN_UPDATEUI, this, [this](int updated) {
    if (m_largeMode && !m_loading && (updated & SC_UPDATE_CONTENT)) emit OnChange();
  });
}

TLEdit::~TLEdit() { delete m_printer; }

// ---------------------------------------------------------------------------------------------------
// Properties

void TLEdit::SetFileName(const QString &name) { m_fileName = name; }

bool TLEdit::HasFileName() const { return !m_fileName.isEmpty() && m_fileName != Untitled; }

void TLEdit::SetWordWrap(bool on) {
  m_wordWrap = on;
  setWrapMode(on ? WrapWord : WrapNone);
}

void TLEdit::ToggleWordWrap() {
  SetWordWrap(!m_wordWrap);
  emit wordWrapToggled(m_wordWrap);
}

void TLEdit::SetTabStopSize(int size) {
  m_tabStopSize = qBound(0, size, MaxTabStopSize);
  setTabWidth(qMax(1, m_tabStopSize));  // Scintilla ignores a width of 0
}

void TLEdit::SetMacStyleSave(bool on) {
  m_macStyleSave = on;
  m_pristine = false;  // choosing a style asks for it on the next save
  applyEolMode();
}

void TLEdit::SetUnixStyleSave(bool on) {
  m_unixStyleSave = on;
  m_pristine = false;
  applyEolMode();
}

TLEdit::LineEnd TLEdit::SaveLineEnd() const {
  if (m_macStyleSave) return LineEnd::Cr;
  if (m_unixStyleSave) return LineEnd::Lf;
  return LineEnd::CrLf;
}

void TLEdit::applyEolMode() {
  // What Enter inserts follows the save style, so typed text needs no conversion.
  switch (SaveLineEnd()) {
    case LineEnd::Cr: setEolMode(EolMac); break;
    case LineEnd::Lf: setEolMode(EolUnix); break;
    case LineEnd::CrLf: setEolMode(EolWindows); break;
  }
}

void TLEdit::SetFont(const QFont &font) {
  m_font = font;
  applyFont();
}

void TLEdit::applyFont() {
  QsciScintilla::setFont(m_font);
  if (m_htmlLexer) {
    m_htmlLexer->setDefaultFont(m_font);
    m_htmlLexer->setFont(m_font, -1);
  }
  if (m_codeLexer) {  // one font for every style: the editor's font is the user's choice
    m_codeLexer->setDefaultFont(m_font);
    m_codeLexer->setFont(m_font, -1);
  }
}

QString TLEdit::SyntaxFor(const QString &fileName) {
  const QString name = QFileInfo(fileName).fileName();
  const QString lower = name.toLower();
  if (lower == QLatin1String("makefile") || lower == QLatin1String("gnumakefile")) return QStringLiteral("makefile");
  if (lower == QLatin1String("cmakelists.txt")) return QStringLiteral("cmake");
  const int dot = lower.lastIndexOf('.');
  if (dot <= 0) return {};
  const QString ext = lower.mid(dot + 1);
  static const QHash<QString, QString> byExt = [] {
    QHash<QString, QString> h;
    const auto add = [&h](const char *syntax, std::initializer_list<const char *> exts) {
      for (const char *e : exts) h.insert(QLatin1String(e), QLatin1String(syntax));
    };
    add("cpp", {"c", "h", "cc", "cpp", "cxx", "c++", "hh", "hpp", "hxx", "h++", "inl", "ino", "m", "mm"});
    add("python", {"py", "pyw", "pyi"});
    add("javascript", {"js", "mjs", "cjs", "jsx", "ts", "mts", "cts", "tsx"});
    add("java", {"java", "kt", "kts", "groovy", "gradle", "scala"});
    add("csharp", {"cs"});
    add("bash", {"sh", "bash", "zsh", "ksh", "bashrc", "profile"});
    add("batch", {"bat", "cmd"});
    add("cmake", {"cmake"});
    add("xml", {"xml", "xsd", "xsl", "xslt", "xhtml", "ui", "qrc", "plist", "rss", "atom", "wsdl", "xaml"});
    add("css", {"css", "scss", "less"});
    add("sql", {"sql"});
    add("json", {"json", "jsonc", "geojson"});
    add("yaml", {"yaml", "yml"});
    add("makefile", {"mk", "mak"});
    add("diff", {"diff", "patch", "rej"});
    add("lua", {"lua"});
    add("perl", {"pl", "pm"});
    add("ruby", {"rb", "gemspec"});
    add("pascal", {"pas", "dpr", "dpk", "pp", "lpr"});
    add("fortran", {"f", "for", "f90", "f95", "f03"});
    add("tex", {"tex", "sty", "cls"});
    add("properties", {"ini", "conf", "cfg", "properties", "desktop", "toml"});
    return h;
  }();
  return byExt.value(ext);
}

void TLEdit::SetSyntaxFor(const QString &fileName) {
  if (m_htmlLexer) return;
  // Lexing a large text styles it all when the end is shown: seconds for 100 MB.
  const QString syntax = IsLargeText() ? QString() : SyntaxFor(fileName);
  if (syntax == m_syntax) return;
  QsciLexer *lexer = nullptr;
  if (syntax == QLatin1String("cpp"))
    lexer = new QsciLexerCPP(this);
  else if (syntax == QLatin1String("python"))
    lexer = new QsciLexerPython(this);
  else if (syntax == QLatin1String("javascript"))
    lexer = new QsciLexerJavaScript(this);
  else if (syntax == QLatin1String("java"))
    lexer = new QsciLexerJava(this);
  else if (syntax == QLatin1String("csharp"))
    lexer = new QsciLexerCSharp(this);
  else if (syntax == QLatin1String("bash"))
    lexer = new QsciLexerBash(this);
  else if (syntax == QLatin1String("batch"))
    lexer = new QsciLexerBatch(this);
  else if (syntax == QLatin1String("cmake"))
    lexer = new QsciLexerCMake(this);
  else if (syntax == QLatin1String("xml"))
    lexer = new QsciLexerXML(this);
  else if (syntax == QLatin1String("css"))
    lexer = new QsciLexerCSS(this);
  else if (syntax == QLatin1String("sql"))
    lexer = new QsciLexerSQL(this);
  else if (syntax == QLatin1String("json"))
    lexer = new QsciLexerJSON(this);
  else if (syntax == QLatin1String("yaml"))
    lexer = new QsciLexerYAML(this);
  else if (syntax == QLatin1String("makefile"))
    lexer = new QsciLexerMakefile(this);
  else if (syntax == QLatin1String("diff"))
    lexer = new QsciLexerDiff(this);
  else if (syntax == QLatin1String("lua"))
    lexer = new QsciLexerLua(this);
  else if (syntax == QLatin1String("perl"))
    lexer = new QsciLexerPerl(this);
  else if (syntax == QLatin1String("ruby"))
    lexer = new QsciLexerRuby(this);
  else if (syntax == QLatin1String("pascal"))
    lexer = new QsciLexerPascal(this);
  else if (syntax == QLatin1String("fortran"))
    lexer = new QsciLexerFortran(this);
  else if (syntax == QLatin1String("tex"))
    lexer = new QsciLexerTeX(this);
  else if (syntax == QLatin1String("properties"))
    lexer = new QsciLexerProperties(this);
  setLexer(lexer);  // also when null: plain text again
  delete m_codeLexer;
  m_codeLexer = lexer;
  m_syntax = syntax;
  if (lexer) {
    lexer->setDefaultPaper(Qt::white);
    lexer->setPaper(Qt::white, -1);
  } else {
    setPaper(Qt::white);
    setColor(Qt::black);
  }
  applyFont();
}

void TLEdit::SetHtmlHighlighting(bool on) {
  if (on == (m_htmlLexer != nullptr)) return;
  if (!on) {
    setLexer(nullptr);
    delete m_htmlLexer;
    m_htmlLexer = nullptr;
    applyFont();
    applyPlainColours(this);
    return;
  }
  m_htmlLexer = new QsciLexerHTML(this);
  m_htmlLexer->setDefaultPaper(Qt::white);
  m_htmlLexer->setDefaultColor(Qt::black);
  m_htmlLexer->setPaper(Qt::white, -1);
  m_htmlLexer->setColor(Qt::black, -1);
  // Everything inside a tag is one highlighted word kind: blue on white.
  for (int style :
       {QsciLexerHTML::Tag, QsciLexerHTML::UnknownTag, QsciLexerHTML::Attribute, QsciLexerHTML::UnknownAttribute,
        QsciLexerHTML::HTMLNumber, QsciLexerHTML::HTMLDoubleQuotedString, QsciLexerHTML::HTMLSingleQuotedString,
        QsciLexerHTML::OtherInTag, QsciLexerHTML::XMLTagEnd, QsciLexerHTML::XMLStart, QsciLexerHTML::XMLEnd})
    m_htmlLexer->setColor(Qt::blue, style);
  setLexer(m_htmlLexer);
  applyFont();
}

// ---------------------------------------------------------------------------------------------------
// Loading and saving

bool TLEdit::IsValidUtf8(const char *data, qsizetype size) {
  const auto *p = reinterpret_cast<const unsigned char *>(data);
  const auto *end = p + size;
  while (p < end) {
    // Plain ASCII eight bytes at a time: most text is.
    while (end - p >= 8) {
      quint64 word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ull) break;
      p += 8;
    }
    if (p >= end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned int cp;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    p += extra + 1;
  }
  return true;
}

void TLEdit::Utf8Checker::feed(const char *data, qsizetype size) {
  if (!m_valid || size <= 0) return;
  const auto *p = reinterpret_cast<const unsigned char *>(data);
  qsizetype start = 0;
  if (m_carryLen > 0) {
    // Complete the sequence cut at the end of the previous piece.
    const unsigned char lead = m_carry[0];
    const int need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    while (m_carryLen < need && start < size) m_carry[m_carryLen++] = char(p[start++]);
    if (m_carryLen < need) return;  // still cut: wait for more
    m_valid = IsValidUtf8(m_carry, need);
    m_carryLen = 0;
    if (!m_valid) return;
  }
  // Keep back a sequence cut at the end of this piece.
  qsizetype end = size;
  for (int back = 1; back <= 3 && size - back >= start; ++back) {
    const unsigned char c = p[size - back];
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back for its lead
    const int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (len > back) end = size - back;
    break;
  }
  m_valid = IsValidUtf8(data + start, end - start);
  for (qsizetype i = end; i < size; ++i) m_carry[m_carryLen++] = char(p[i]);
}

QByteArray TLEdit::ConvertLineEnds(const QByteArray &text, LineEnd to) {
  const char *eol = to == LineEnd::CrLf ? "\r\n" : to == LineEnd::Cr ? "\r" : "\n";
  const int eolLen = to == LineEnd::CrLf ? 2 : 1;
  QByteArray out;
  out.reserve(text.size() + text.size() / 16);
  const char *p = text.constData();
  const char *end = p + text.size();
  while (p < end) {
    const char *q = p;
    while (q < end && *q != '\r' && *q != '\n') ++q;
    out.append(p, q - p);
    if (q == end) break;
    out.append(eol, eolLen);
    if (*q == '\r' && q + 1 < end && q[1] == '\n')
      q += 2;
    else
      ++q;
    p = q;
  }
  return out;
}

QByteArray TLEdit::TextBytes() const {
  const long len = SendScintilla(SCI_GETLENGTH);
  const char *p = static_cast<const char *>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER));
  if (!p || len <= 0) return QByteArray();
  return QByteArray(p, len);
}

void TLEdit::resetDocument(bool utf8) {
  setReadOnly(false);
  SendScintilla(SCI_SETUNDOCOLLECTION, 0UL);
  SendScintilla(SCI_CLEARALL);
  markerDeleteAll(BookmarkMarker);  // a new text starts without the old one's bookmark
  setUtf8(utf8);
  m_encoding = utf8 ? Encoding::Utf8 : Encoding::EightBit;
}

bool TLEdit::LoadFile(const QString &path) {
  const QFileInfo info(path);
  if (info.isDir()) {
    report(tr("Cannot open \"%1\": it is a folder.").arg(path));
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    report(tr("Cannot open \"%1\": %2").arg(path, file.errorString()));
    return false;
  }
  const platform::FileIdentity opened = platform::FileIdentity::ofDescriptor(file.handle());
  if (file.size() > MaxFileSize) {
    report(
        tr("\"%1\" is too large for the editor (%2 bytes; at most %3).").arg(path).arg(file.size()).arg(MaxFileSize));
    return false;
  }
  // The file is read in pieces straight into the control, so a large file is not held twice.
  m_loading = true;
  resetDocument(true);
  SendScintilla(SCI_SETMODEVENTMASK, (unsigned long)SC_MOD_CHANGEMARKER);  // see updateLargeTextMode()
  // Inserting into a wrapped view lays out every line at once (a minute for two million lines); with
  // wrapping off during the insert, lines are wrapped when shown and in the background.
  if (m_wordWrap) setWrapMode(WrapNone);
  if (file.size() > 0) SendScintilla(SCI_ALLOCATE, (unsigned long)file.size() + 1);
  Utf8Checker utf8;
  QByteArray buffer(LoadChunkSize, Qt::Uninitialized);
  bool exact = true;
  qint64 n;
  while ((n = file.read(buffer.data(), buffer.size())) > 0) {
    utf8.feed(buffer.constData(), n);
    const long before = SendScintilla(SCI_GETLENGTH);
    SendScintilla(SCI_APPENDTEXT, (unsigned long)n, buffer.constData());
    // The control must hold exactly the bytes read; otherwise saving would change the file.
    const auto *stored =
        reinterpret_cast<const char *>(intptr_t(SendScintilla(SCI_GETRANGEPOINTER, (unsigned long)before, long(n))));
    if (SendScintilla(SCI_GETLENGTH) != before + n || !stored || std::memcmp(stored, buffer.constData(), n) != 0)
      exact = false;
  }
  const bool readFailed = n < 0 || file.error() != QFileDevice::NoError;
  const QString readError = file.errorString();
  file.close();
  setUtf8(utf8.valid());
  m_encoding = utf8.valid() ? Encoding::Utf8 : Encoding::EightBit;
  if (m_wordWrap) setWrapMode(WrapWord);
  SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  SendScintilla(SCI_SETSAVEPOINT);
  // Caret and view to the start without scrolling to the caret: that would lay out the whole first
  // line, seconds for a file that is one long line.
  SendScintilla(SCI_SETEMPTYSELECTION, 0UL);
  SendScintilla(SCI_SETFIRSTVISIBLELINE, 0UL);
  SendScintilla(SCI_SETXOFFSET, 0UL);
  if (SendScintilla(SCI_LINELENGTH, 0UL) < 10000)
    SendScintilla(SCI_CHOOSECARETX);  // Up and Down start from column 0, not the previous text's column
  m_pristine = true;
  updateLargeTextMode();
  m_loading = false;

  m_diskPath.clear();
  if (readFailed) {
    // Part of the file may be in the control: never let it be saved over the file.
    m_fileName = Untitled;
    m_unsafeText = true;
    setReadOnly(true);
    report(tr("Cannot read \"%1\": %2").arg(path, readError));
    emit OnChange();
    return false;
  }
  m_fileName = path;
  m_diskPath = path;
  m_diskIdentity = opened;
  m_unsafeText = !exact;
  if (m_unsafeText) {
    setReadOnly(true);
    report(tr("\"%1\" cannot be edited without changing bytes that were not edited, so it is "
              "opened read-only.")
               .arg(path));
  }
  emit OnChange();
  return true;
}

bool TLEdit::IsLargeText() const { return SendScintilla(SCI_GETLENGTH) > LargeTextSize; }

void TLEdit::updateLargeTextMode() {
  // QScintilla also counts characters from the start of the text for every insertion and deletion it
  // reports (a second per key press near the end of 100 MB). Large texts are not reported that way;
  // their changes arrive as content updates instead (see the constructor).
  const bool large = IsLargeText();
  const unsigned long all = SC_MODEVENTMASKALL;
  // A change is reported when its type shares a bit with the mask, and text changes carry the
  // "performed by" bits too, so the large mask keeps only marker changes.
  SendScintilla(SCI_SETMODEVENTMASK, large ? (unsigned long)SC_MOD_CHANGEMARKER : all);
  m_largeMode = large;
  updateAccessible();
}

void TLEdit::updateAccessible() {
  // Swap the accessible object when the text crosses the size limit; the factory makes the right one.
  QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(this);
  if (!iface) return;
  const bool plain = dynamic_cast<TLEditPlainAccessible *>(iface) != nullptr;
  if (plain != IsLargeText()) QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

void TLEdit::NewText() {
  m_loading = true;
  resetDocument(true);
  SendScintilla(SCI_SETUNDOCOLLECTION, 1UL);
  SendScintilla(SCI_EMPTYUNDOBUFFER);
  SendScintilla(SCI_SETSAVEPOINT);
  SendScintilla(SCI_CHOOSECARETX);
  m_fileName = Untitled;
  m_diskPath.clear();
  m_pristine = true;
  m_unsafeText = false;
  updateLargeTextMode();
  SetSyntaxFor(QString());
  m_loading = false;
  emit OnChange();
}

bool TLEdit::IsModified() const { return SendScintilla(SCI_GETMODIFY) != 0; }

bool TLEdit::writeFile(const QString &path) {
  if (m_unsafeText) {
    report(tr("The text of \"%1\" was opened read-only and is not saved.").arg(m_fileName));
    return false;
  }
  if (!mayOverwrite(path)) return false;
  QByteArray bytes = TextBytes();
  // An unchanged text keeps its own line ends byte for byte; otherwise the chosen style is written.
  const bool convert = !(m_pristine && !IsModified());
  if (convert) bytes = ConvertLineEnds(bytes, SaveLineEnd());
  QString why;
  if (!platform::saveFileAtomically(path, bytes, &why)) {
    report(tr("Cannot save \"%1\": %2").arg(path, why));
    return false;  // the old file is left as it was
  }
  if (convert) m_pristine = false;
  m_diskPath = path;
  m_diskIdentity = platform::FileIdentity::of(path);
  SendScintilla(SCI_SETSAVEPOINT);
  return true;
}

bool TLEdit::mayOverwrite(const QString &path) {
  // Only the file this text came from (or was last saved to) is known; a file removed meanwhile loses
  // nobody's changes, so it is simply written again.
  if (path != m_diskPath) return true;
  const platform::FileIdentity now = platform::FileIdentity::of(path);
  if (!now.exists || !now.changedSince(m_diskIdentity)) return true;
  if (OnFileChangedOnDisk) return OnFileChangedOnDisk(path);
  return ask::question(this, tr("Editor"), ChangedOnDiskQuestion(path), QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::No) == QMessageBox::Yes;
}

QString TLEdit::ChangedOnDiskQuestion(const QString &path) {
  return tr("\"%1\" has been changed by another program since it was opened in the editor.\n\n"
            "Save anyway and replace those changes?")
      .arg(path);
}

bool TLEdit::SaveToFile(const QString &path) {
  if (path.isEmpty()) return false;
  if (!writeFile(path)) return false;
  m_fileName = path;
  emit OnChange();
  return true;
}

bool TLEdit::SaveText() {
  if (!HasFileName()) return SaveTextAs();
  return SaveToFile(m_fileName);
}

bool TLEdit::SaveTextAs() {
  QStringList filters;
  if (const QString mask = filedlg::qtFilter(m_fileMask); !mask.isEmpty())
    filters << mask;
  else
    filters << tr("Text files (*.txt)");
  filters << tr("All files (*)");
  const QString start = HasFileName() ? m_fileName : QString();
  QString path = QFileDialog::getSaveFileName(this, tr("Save As"), start, filters.join(QStringLiteral(";;")));
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty() && !m_defaultExt.isEmpty()) path += QLatin1Char('.') + m_defaultExt.toLower();
  return SaveToFile(path);
}

// ---------------------------------------------------------------------------------------------------
// Position and state

int TLEdit::LineCount() const {
  const long len = SendScintilla(SCI_GETLENGTH);
  if (len <= 0) return 0;
  long lines = SendScintilla(SCI_GETLINECOUNT);
  const char last = char(SendScintilla(SCI_GETCHARAT, (unsigned long)(len - 1)));
  if (last == '\n' || last == '\r') --lines;
  return int(lines);
}

void TLEdit::UpdatePosition() {
  auto locate = [this](long pos, int &line, int &col) {
    const long l = SendScintilla(SCI_LINEFROMPOSITION, (unsigned long)pos);
    const long start = SendScintilla(SCI_POSITIONFROMLINE, (unsigned long)l);
    line = int(l) + 1;
    col = int(SendScintilla(SCI_COUNTCHARACTERS, (unsigned long)start, pos));
  };
  locate(SendScintilla(SCI_GETANCHOR), m_startLine, m_startPos);
  locate(SendScintilla(SCI_GETCURRENTPOS), m_endLine, m_endPos);
}

bool TLEdit::Focused() const { return hasFocus() || (viewport() && viewport()->hasFocus()); }

void TLEdit::report(const QString &text) {
  m_lastError = text;
  emit errorMessage(text);
  if (!m_quiet) ask::warning(this, tr("Editor"), text);
}

// ---------------------------------------------------------------------------------------------------
// Editing commands

void TLEdit::GoToLine(int line) {
  const long lines = SendScintilla(SCI_GETLINECOUNT);
  const long target = qBound(1L, long(line), lines) - 1;
  SendScintilla(SCI_GOTOLINE, (unsigned long)target);
}

bool TLEdit::FindText(const QString &text, bool caseSensitive, bool wholeWord, bool forward) {
  m_findText = text;
  m_findCase = caseSensitive;
  m_findWord = wholeWord;
  m_findForward = forward;
  if (text.isEmpty()) return false;
  // Backwards, start before the current match so that it is not found again.
  int line = -1, index = -1;
  if (!forward && hasSelectedText()) {
    int l2, i2;
    getSelection(&line, &index, &l2, &i2);
  }
  return findFirst(text, false, caseSensitive, wholeWord, true, forward, line, index, true);
}

void TLEdit::ToggleBookmark() {
  int line, index;
  getCursorPosition(&line, &index);
  const int old = BookmarkLine() - 1;
  markerDeleteAll(BookmarkMarker);
  if (old != line) markerAdd(line, BookmarkMarker);
}

bool TLEdit::GoToBookmark() {
  const int line = BookmarkLine();
  if (line <= 0) return false;
  GoToLine(line);
  return true;
}

int TLEdit::BookmarkLine() const { return int(SendScintilla(SCI_MARKERNEXT, 0UL, long(1u << BookmarkMarker))) + 1; }

bool TLEdit::FindAgain() { return FindText(m_findText, m_findCase, m_findWord, m_findForward); }

int TLEdit::ReplaceAll(const QString &text, const QString &with, bool caseSensitive, bool wholeWord) {
  if (text.isEmpty() || isReadOnly()) return 0;
  const bool utf8 = m_encoding == Encoding::Utf8;
  const QByteArray what = utf8 ? text.toUtf8() : text.toLatin1();
  const QByteArray by = utf8 ? with.toUtf8() : with.toLatin1();
  unsigned long flags = 0;
  if (caseSensitive) flags |= SCFIND_MATCHCASE;
  if (wholeWord) flags |= SCFIND_WHOLEWORD;
  SendScintilla(SCI_SETSEARCHFLAGS, flags);
  int count = 0;
  long from = 0;
  SendScintilla(SCI_BEGINUNDOACTION);
  for (;;) {
    SendScintilla(SCI_SETTARGETSTART, (unsigned long)from);
    SendScintilla(SCI_SETTARGETEND, (unsigned long)SendScintilla(SCI_GETLENGTH));
    if (SendScintilla(SCI_SEARCHINTARGET, (unsigned long)what.size(), what.constData()) < 0) break;
    const long replaced = SendScintilla(SCI_REPLACETARGET, (unsigned long)by.size(), by.constData());
    from = SendScintilla(SCI_GETTARGETSTART) + replaced;
    ++count;
  }
  SendScintilla(SCI_ENDUNDOACTION);
  return count;
}

QsciPrinter &TLEdit::printer() {
  if (!m_printer) m_printer = new QsciPrinter(QPrinter::HighResolution);
  return *m_printer;
}

bool TLEdit::PrintTo(QsciPrinter &printer) {
  printer.setWrapMode(WrapWord);
  if (printer.docName().isEmpty()) printer.setDocName(HasFileName() ? QFileInfo(m_fileName).fileName() : Untitled);
  return printer.printRange(this) >= 0;
}

void TLEdit::FindDialog() {
  if (!m_findDialog) m_findDialog = new TLEditFindDialog(this);
  m_findDialog->showFor(false, selectedText().isEmpty() ? m_findText : selectedText());
}

void TLEdit::ReplaceDialog() {
  if (!m_findDialog) m_findDialog = new TLEditFindDialog(this);
  m_findDialog->showFor(true, selectedText().isEmpty() ? m_findText : selectedText());
}

void TLEdit::FindNextClick() {
  if (m_findText.isEmpty()) {
    FindDialog();
    return;
  }
  if (!FindAgain()) report(tr("\"%1\" not found.").arg(m_findText));
}

void TLEdit::GoToLineDialog() {
  int line, index;
  getCursorPosition(&line, &index);
  const int lines = qMax(1, int(SendScintilla(SCI_GETLINECOUNT)));
  bool ok = false;
  const int target =
      QInputDialog::getInt(this, tr("Go To Line"), tr("Line number (1 - %1):").arg(lines), line + 1, 1, lines, 1, &ok);
  if (ok) GoToLine(target);
}

void TLEdit::FontDialog() {
  bool ok = false;
  const QFont font = QFontDialog::getFont(&ok, m_font, this, tr("Editor Font"),
                                          QFontDialog::MonospacedFonts | QFontDialog::ScalableFonts);
  if (ok) SetFont(font);
}

void TLEdit::PrintDialog() {
  QPrintDialog dialog(&printer(), this);
  dialog.setWindowTitle(tr("Print"));
  if (hasSelectedText()) dialog.setOption(QAbstractPrintDialog::PrintSelection);
  if (dialog.exec() != QDialog::Accepted) return;
  bool ok;
  if (dialog.printRange() == QAbstractPrintDialog::Selection && hasSelectedText()) {
    int fromLine, fromIndex, toLine, toIndex;
    getSelection(&fromLine, &fromIndex, &toLine, &toIndex);
    printer().setWrapMode(WrapWord);
    ok = printer().printRange(this, fromLine, toLine) >= 0;
  } else {
    ok = PrintTo(printer());
  }
  if (!ok) report(tr("Printing failed."));
}

void TLEdit::PrinterSetupDialog() {
  QPageSetupDialog dialog(&printer(), this);
  dialog.exec();
}

// ---------------------------------------------------------------------------------------------------
// Events

void TLEdit::contextMenuEvent(QContextMenuEvent *e) {
  if (m_popupMenu) {
    m_popupMenu->exec(e->globalPos());
    return;
  }
  QMenu menu(this);
  const bool ro = isReadOnly();
  menu.addAction(tr("&Undo"), this, &QsciScintilla::undo)->setEnabled(!ro && isUndoAvailable());
  menu.addAction(tr("&Redo"), this, &QsciScintilla::redo)->setEnabled(!ro && isRedoAvailable());
  menu.addSeparator();
  menu.addAction(tr("Cu&t"), this, &QsciScintilla::cut)->setEnabled(!ro && hasSelectedText());
  menu.addAction(tr("&Copy"), this, &QsciScintilla::copy)->setEnabled(hasSelectedText());
  menu.addAction(tr("&Paste"), this, &QsciScintilla::paste)->setEnabled(!ro);
  menu.addAction(tr("&Delete"), this, &QsciScintilla::removeSelectedText)->setEnabled(!ro && hasSelectedText());
  menu.addAction(tr("Select &All"), this, [this] { selectAll(); });
  menu.addSeparator();
  menu.addAction(tr("&Find...\tCtrl+F"), this, &TLEdit::FindDialog);
  menu.addAction(tr("Find &Next\tF3"), this, &TLEdit::FindNextClick);
  menu.addAction(tr("R&eplace...\tCtrl+H"), this, &TLEdit::ReplaceDialog)->setEnabled(!ro);
  menu.addAction(tr("&Go To Line...\tCtrl+G"), this, &TLEdit::GoToLineDialog);
  menu.addAction(tr("Toggle &Bookmark\tCtrl+F2"), this, &TLEdit::ToggleBookmark);
  menu.addAction(tr("Go To Boo&kmark\tF2"), this, [this] { GoToBookmark(); })->setEnabled(BookmarkLine() > 0);
  menu.addSeparator();
  QAction *wrap = menu.addAction(tr("&Word Wrap"), this, &TLEdit::ToggleWordWrap);
  wrap->setCheckable(true);
  wrap->setChecked(m_wordWrap);
  menu.addAction(tr("F&ont..."), this, &TLEdit::FontDialog);
  menu.addSeparator();
  menu.addAction(tr("&Print..."), this, &TLEdit::PrintDialog);
  menu.addAction(tr("P&rinter Setup..."), this, &TLEdit::PrinterSetupDialog);
  menu.addSeparator();
  menu.addAction(tr("&Save"), this, [this] { SaveText(); })->setEnabled(!m_unsafeText);
  menu.addAction(tr("Save &As..."), this, [this] { SaveTextAs(); })->setEnabled(!m_unsafeText);
  menu.exec(e->globalPos());
}

void TLEdit::mouseReleaseEvent(QMouseEvent *e) {
  QsciScintilla::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton) emit OnClick();
}

void TLEdit::keyPressEvent(QKeyEvent *e) {
  const auto mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if (e->key() == Qt::Key_F3 && mods == Qt::NoModifier) {
    FindNextClick();
    return;
  }
  if (e->key() == Qt::Key_F2 && (mods == Qt::NoModifier || mods == Qt::ControlModifier)) {
    if (mods == Qt::ControlModifier)
      ToggleBookmark();
    else
      GoToBookmark();
    return;
  }
  if (mods == Qt::ControlModifier) {
    switch (e->key()) {
      case Qt::Key_F: FindDialog(); return;
      case Qt::Key_H: ReplaceDialog(); return;
      case Qt::Key_G: GoToLineDialog(); return;
      default: break;
    }
  }
  if (m_wordWrap && IsLargeText() && moveCaretByKey(e)) return;
  QsciScintilla::keyPressEvent(e);
}

bool TLEdit::moveCaretByKey(QKeyEvent *e) {
  // Scintilla's own caret keys first lay out every wrapped line above the caret (a minute for two
  // million lines). These moves place the caret directly and scroll only what is shown.
  const auto mods = e->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
  const bool shift = mods & Qt::ShiftModifier;
  if (mods & ~(Qt::ShiftModifier | Qt::ControlModifier)) return false;
  const bool ctrl = mods & Qt::ControlModifier;
  const long caret = SendScintilla(SCI_GETCURRENTPOS);
  const long anchor = SendScintilla(SCI_GETANCHOR);
  const long length = SendScintilla(SCI_GETLENGTH);
  const long line = SendScintilla(SCI_LINEFROMPOSITION, (unsigned long)caret);
  const long lineHeight = qMax(1L, SendScintilla(SCI_TEXTHEIGHT, (unsigned long)line));
  // Up and Down keep the column where a run of vertical moves began, as Scintilla's own keys do.
  const bool vertical =
      e->key() == Qt::Key_Up || e->key() == Qt::Key_Down || e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown;
  const long caretX = SendScintilla(SCI_POINTXFROMPOSITION, 0UL, caret);
  if (!vertical || caret != m_verticalCaret) m_verticalX = caretX;
  const long x = m_verticalX;
  const long y = SendScintilla(SCI_POINTYFROMPOSITION, 0UL, caret);
  const long onScreen = qMax(1L, SendScintilla(SCI_LINESONSCREEN));
  auto isBlank = [this](long pos) {
    const char c = char(SendScintilla(SCI_GETCHARAT, (unsigned long)pos));
    return c == ' ' || c == '\t';
  };
  auto positionAt = [this](long px, long py) {
    return SendScintilla(SCI_POSITIONFROMPOINT, (unsigned long)qMax(0L, px), py);
  };
  long target;
  switch (e->key()) {
    case Qt::Key_Left:
      if (ctrl) {
        // Start of the word before the caret, over the blanks in between.
        long p = caret;
        while (p > 0 && isBlank(p - 1)) --p;
        target = SendScintilla(SCI_WORDSTARTPOSITION, (unsigned long)p, 1L);
        if (target == p) target = SendScintilla(SCI_POSITIONBEFORE, (unsigned long)p);
      } else {
        target = SendScintilla(SCI_POSITIONBEFORE, (unsigned long)caret);
      }
      break;
    case Qt::Key_Right:
      if (ctrl) {
        // Start of the next word: past this word, then past the blanks.
        long p = SendScintilla(SCI_WORDENDPOSITION, (unsigned long)caret, 1L);
        if (p == caret && !isBlank(p)) p = SendScintilla(SCI_POSITIONAFTER, (unsigned long)p);
        while (p < length && isBlank(p)) ++p;
        target = p;
      } else {
        target = SendScintilla(SCI_POSITIONAFTER, (unsigned long)caret);
      }
      break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      if (ctrl) return false;
      const long dir = e->key() == Qt::Key_Up ? -1 : 1;
      long ty = y + dir * lineHeight;
      if (ty < 0 || ty + lineHeight > viewport()->height()) {
        SendScintilla(SCI_LINESCROLL, 0UL, dir);
        ty = SendScintilla(SCI_POINTYFROMPOSITION, 0UL, caret) + dir * lineHeight;
      }
      target = (dir < 0 && caret == 0) ? 0 : positionAt(x, ty + lineHeight / 2);
      if (dir > 0 && target <= caret && ty + lineHeight > viewport()->height()) target = length;  // below the last line
      break;
    }
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      if (ctrl) return false;
      const long dir = e->key() == Qt::Key_PageUp ? -1 : 1;
      const long firstBefore = SendScintilla(SCI_GETFIRSTVISIBLELINE);
      SendScintilla(SCI_LINESCROLL, 0UL, dir * (onScreen - 1));
      if (SendScintilla(SCI_GETFIRSTVISIBLELINE) == firstBefore)
        target = dir < 0 ? 0 : length;  // already at the top or the end
      else
        target = positionAt(x, y + lineHeight / 2);
      break;
    }
    case Qt::Key_Home: target = ctrl ? 0 : SendScintilla(SCI_POSITIONFROMLINE, (unsigned long)line); break;
    case Qt::Key_End: target = ctrl ? length : SendScintilla(SCI_GETLINEENDPOSITION, (unsigned long)line); break;
    default: return false;
  }
  target = qBound(0L, target, length);
  SendScintilla(SCI_SETSEL, (unsigned long)(shift ? anchor : target), target);
  SendScintilla(SCI_SCROLLCARET);
  m_verticalCaret = vertical ? target : -1;
  if (!vertical) SendScintilla(SCI_CHOOSECARETX);
  return true;
}
