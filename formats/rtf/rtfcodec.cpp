#include "formats/rtf/rtfcodec.h"

#include "formats/rtf/rtfcodepages.h"
#include "formats/rtf/rtfkept.h"

#include <optional>
#include <QColor>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QUrl>
#include <QVariant>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>

#include <cmath>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rtf {

namespace {

const detail::CodePageTable *tableFor(int cp) {
  for (const auto &t : detail::kCodePages)
    if (t.codePage == cp) return &t;
  return nullptr;
}

// Names the Qt build may know for the multi-byte code pages of East Asian Windows and for the Mac ones
// (Mac Japanese, Chinese and Korean are Shift_JIS, Big5, GB2312 and EUC-KR but for a few symbols).
const char *decoderName(int cp) {
  switch (cp) {
    case 932: case 10001: return "Shift_JIS";
    case 936: return "GBK";
    case 10008: return "GB2312";
    case 949: return "windows-949";
    case 10003: return "EUC-KR";
    case 950: case 10002: return "Big5";
    case 1361: return "Johab";
    case 65001: return "UTF-8";
    case 10004: return "x-mac-arabic";
    case 10005: return "x-mac-hebrew";
    case 10006: return "x-mac-greek";
    case 10007: return "x-mac-cyrillic";
    case 10017: return "x-mac-ukrainian";
    case 10029: return "x-mac-centraleurroman";
    case 10079: return "x-mac-icelandic";
    case 10081: return "x-mac-turkish";
    case 10082: return "x-mac-croatian";
    case 10010: return "x-mac-romanian";
    default: return nullptr;
  }
}

// \fcharset values to Windows code pages; 0 for "the document's code page", -1 for ANSI (code page 1252,
// or the document's own in a Mac file, whose writers mark Mac Roman fonts as ANSI).
int charsetCodePage(int charset) {
  switch (charset) {
    case 0: return -1;
    case 2: return 1252;  // symbol fonts: bytes are glyph numbers, 1252 keeps them visible
    case 77: return 10000;
    case 78: return 10001;
    case 79: return 10003;
    case 80: return 10008;
    case 81: return 10002;
    case 82: return 10003;
    case 83: return 10005;
    case 84: return 10004;
    case 85: return 10006;
    case 86: return 10081;
    case 87: return 874;
    case 88: return 10029;
    case 89: return 10007;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;
  }
}

}  // namespace

bool decodeCodePage(int codePage, const QByteArray &bytes, QString *out) {
  const detail::CodePageTable *t = tableFor(codePage);
  bool known = t != nullptr;
  if (!t) {
    if (const char *name = decoderName(codePage)) {
      // Opening a codec is slow next to decoding a few bytes: one decoder per code page and thread.
      thread_local QHash<int, std::shared_ptr<QStringDecoder>> decoders;
      std::shared_ptr<QStringDecoder> &dec = decoders[codePage];
      if (!dec) dec = std::make_shared<QStringDecoder>(name);
      if (dec->isValid()) {
        dec->resetState();
        out->append(dec->decode(bytes));
        return true;
      }
    }
    t = tableFor(1252);
  }
  out->reserve(out->size() + bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out->append(b < 0x80 ? QChar(b) : QChar(t->high[b - 0x80]));
  }
  return known;
}

bool looksLikeRtf(const QByteArray &bytes) {
  qsizetype i = 0;
  if (bytes.startsWith("\xEF\xBB\xBF")) i = 3;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
  return bytes.mid(i, 5) == "{\\rtf";
}

// ---------------------------------------------------------------------------------------------------------
// Reader
// ---------------------------------------------------------------------------------------------------------
namespace {

enum class Dest {
  Body,        // shown text
  Skip,        // ignored with everything inside
  FontTable,
  ColorTable,
  ListText,    // \listtext, \pntext: the list's number or bullet as a reader without lists shows it
  Alternate,   // \object, \upr: ignored except the readable part (\result, \ud) inside
};

struct CharProps {
  int font = -1;
  int halfPoints = 24;
  int fg = 0, bg = 0;
  int vert = 0;  // 1 superscript, -1 subscript
  bool bold = false, italic = false, underline = false, strike = false, hidden = false;
  int field = 0;  // the innermost field whose result this is
  int cs = -1;    // \csN
  bool operator==(const CharProps &) const = default;
};

struct ParaProps {
  int align = 0;  // 0 left, 1 centre, 2 right, 3 justified
  int fi = 0, li = 0, ri = 0, sb = 0, sa = 0;
  int ls = 0;
  int ilvl = 0;
  int style = -1;  // \sN
  bool rtl = false;
  bool intbl = false;
  bool pageBefore = false;
};

struct State {
  Dest dest = Dest::Body;
  CharProps chr;
  ParaProps para;
  int uc = 1;
  int fontNum = -1;   // font table entry being read
  int fontCp = 0;     // its code page from \fcharset / \cpg
  qsizetype groupStart = 0;  // where the group's "{" is
  bool fresh = true;         // nothing but \* read in the group yet: a \*\word here names a destination
  int fieldGroup = 0;        // the field this group (or one around it) is
  bool fieldOwner = false;   // the group of \field itself
  bool fontTableOwner = false;  // the group that starts with \fonttbl (kept whole for the writer)
};

struct Run {
  QString text;
  CharProps props;
  int object = -1;  // an object (U+FFFC): its format in Reader::objects_
};

struct Field {
  QByteArray inst;  // {\*\fldinst ...} as read
  QString href;     // a hyperlink's target
  int parent = 0;   // the field whose result holds this one
  bool shown = false;
  qsizetype paragraphsBefore = 0;  // paragraphs ended before it began
  QString listTextBefore;          // the paragraph's list text before it began
};

struct Para {
  ParaProps props;
  std::vector<Run> runs;
  QString listText;
  CharProps listProps;
  bool pageBefore = false;
  ParaProps seen;  // the paragraph properties where its text stood
  bool hasSeen = false;
  bool empty() const { return runs.empty() && listText.isEmpty(); }
};

struct Font {
  QString name;
  int cp = 0;
};

enum Kw : int {
  K_unknown = 0,
  // destinations
  K_rtf, K_fonttbl, K_colortbl, K_listtext, K_pntext, K_object, K_result, K_upr, K_ud,
  K_pict, K_field, K_fldrslt,
  // document
  K_ansi, K_mac, K_pc, K_pca, K_ansicpg, K_deff,
  // fonts and colours
  K_f, K_fcharset, K_cpg, K_red, K_green, K_blue,
  // character
  K_plain, K_b, K_i, K_ul, K_ulnone, K_strike, K_striked, K_fs, K_cf, K_cb, K_highlight, K_chcbpat,
  K_v, K_super, K_sub, K_nosupersub,
  // paragraph
  K_pard, K_ql, K_qc, K_qr, K_qj, K_fi, K_li, K_ri, K_sb, K_sa, K_intbl, K_itap, K_ls, K_pagebb,
  // special characters and breaks
  K_par, K_sect, K_line, K_page, K_tab, K_cell, K_row, K_nestcell, K_nestrow, K_emdash, K_endash,
  K_bullet, K_lquote, K_rquote, K_ldblquote, K_rdblquote, K_emspace, K_enspace, K_qmspace, K_zwj, K_zwnj,
  K_ltrmark, K_rtlmark, K_u, K_uc, K_bin,
  // kept and dropped groups, styles, direction, lists, page format
  K_shppict, K_nonshppict, K_fldinst, K_footnote, K_listtable, K_listoverridetable,
  K_headdest,  // a document table kept as read and written before the text (style sheet, information, ...)
  K_keepdest,  // a group kept where it stands in the text, not shown (headers, bookmarks, ...)
  K_dropdest,  // a group whose content the writer writes anew (numbering of old readers, generator, ...)
  K_ignored,   // a formatting word the model has no place for: never a destination, even after \*
  K_docfmt,    // page format of the document, kept as read
  K_s, K_cs, K_rtlpar, K_ltrpar, K_ilvl, K_nesttableprops, K_trowd, K_cellx,
};

const std::unordered_map<std::string_view, Kw> &keywords() {
  static const std::unordered_map<std::string_view, Kw> map = [] {
    std::unordered_map<std::string_view, Kw> m{
        {"rtf", K_rtf}, {"fonttbl", K_fonttbl}, {"colortbl", K_colortbl}, {"listtext", K_listtext},
        {"pntext", K_pntext}, {"object", K_object}, {"result", K_result}, {"upr", K_upr}, {"ud", K_ud},
        {"pict", K_pict}, {"shppict", K_shppict}, {"nonshppict", K_nonshppict}, {"fldinst", K_fldinst},
        {"footnote", K_footnote}, {"listtable", K_listtable}, {"listoverridetable", K_listoverridetable},
        {"s", K_s}, {"cs", K_cs}, {"rtlpar", K_rtlpar}, {"ltrpar", K_ltrpar}, {"ilvl", K_ilvl}, {"nesttableprops", K_nesttableprops},
        {"trowd", K_trowd}, {"cellx", K_cellx}, {"field", K_field}, {"fldrslt", K_fldrslt},
        {"ansi", K_ansi}, {"mac", K_mac}, {"pc", K_pc}, {"pca", K_pca}, {"ansicpg", K_ansicpg},
        {"deff", K_deff}, {"f", K_f}, {"fcharset", K_fcharset}, {"cpg", K_cpg}, {"red", K_red},
        {"green", K_green}, {"blue", K_blue}, {"plain", K_plain}, {"b", K_b}, {"i", K_i}, {"ul", K_ul},
        {"ulnone", K_ulnone}, {"strike", K_strike}, {"striked", K_striked}, {"fs", K_fs}, {"cf", K_cf},
        {"cb", K_cb}, {"highlight", K_highlight}, {"chcbpat", K_chcbpat}, {"v", K_v}, {"super", K_super},
        {"sub", K_sub}, {"nosupersub", K_nosupersub}, {"pard", K_pard}, {"ql", K_ql}, {"qc", K_qc},
        {"qr", K_qr}, {"qj", K_qj}, {"qd", K_qj}, {"fi", K_fi}, {"li", K_li}, {"lin", K_li}, {"ri", K_ri},
        {"rin", K_ri}, {"sb", K_sb}, {"sa", K_sa}, {"intbl", K_intbl}, {"itap", K_itap}, {"ls", K_ls},
        {"pagebb", K_pagebb}, {"par", K_par}, {"sect", K_sect}, {"line", K_line}, {"page", K_page},
        {"tab", K_tab}, {"cell", K_cell}, {"row", K_row}, {"nestcell", K_nestcell}, {"nestrow", K_nestrow},
        {"emdash", K_emdash}, {"endash", K_endash}, {"bullet", K_bullet}, {"lquote", K_lquote},
        {"rquote", K_rquote}, {"ldblquote", K_ldblquote}, {"rdblquote", K_rdblquote},
        {"emspace", K_emspace}, {"enspace", K_enspace}, {"qmspace", K_qmspace}, {"zwj", K_zwj},
        {"zwnj", K_zwnj}, {"ltrmark", K_ltrmark}, {"rtlmark", K_rtlmark}, {"u", K_u}, {"uc", K_uc},
        {"bin", K_bin},
    };
    // Every kind of underline is an underline here.
    for (const char *u : {"uld", "uldb", "ulw", "uldash", "uldashd", "uldashdd", "ulwave", "ulth", "ulhwave",
                          "ululdbwave", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulldash", "ulthldash"})
      m.emplace(u, K_ul);
    // Document tables: kept as read, written back before the text.
    for (const char *d : {"info", "stylesheet", "revtbl", "rsidtbl", "themedata", "colorschememapping",
                          "latentstyles", "datastore", "xmlnstbl", "mmathPr", "pgdsctbl", "template", "docvar",
                          "listpicture", "private", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc", "aftncn",
                          "userprops", "filetbl", "protusertbl", "wgrffmtfilter", "defchp", "defpap", "pgptbl"})
      m.emplace(d, K_headdest);
    // Groups in the text that are not shown: kept where they stand.
    for (const char *d : {"header", "headerl", "headerr", "headerf", "footer", "footerl", "footerr", "footerf",
                          "annotation", "atnid", "atnauthor", "atnref", "atndate", "atrfstart", "atrfend", "xe",
                          "tc", "txe", "rxe", "bkmkstart", "bkmkend", "shp"})
      m.emplace(d, K_keepdest);
    // Groups whose content our writer writes anew, or that only their own writer reads back: old-style
    // numbering (the list table says it), AbiWord's list tags, the generator's name, parts of a font entry
    // (the font table is kept whole), of an object or of the document information read elsewhere.
    for (const char *d : {"pn", "pnseclvl", "pntxta", "pntxtb", "listtag", "abilist", "generator", "falt", "panose",
                          "fname", "objdata", "objclass", "objname", "shprslt", "datafield", "title", "subject",
                          "author", "operator", "keywords", "comment", "doccomm", "nonesttables"})
      m.emplace(d, K_dropdest);
    // Formatting the model has no place for. Some writers put \* in front of these in the middle of text;
    // they never start a destination.
    for (const char *d : {"ds", "ts", "charscalex", "expnd", "expndtw", "kerning", "lang", "langfe", "langnp",
                          "langfenp", "loch", "hich", "dbch", "rtlch", "ltrch", "af", "afs", "ab", "ai", "alang",
                          "insrsid", "charrsid", "pararsid", "sectrsid", "rsid", "delrsid", "ulc", "noproof",
                          "cgrid", "outlinelevel", "hyphpar", "nowidctlpar", "widctlpar", "snext", "sbasedon",
                          "sautoupd", "slink", "sqformat", "spriority", "ssemihidden", "sunhideused", "styrsid",
                          "aspalpha", "aspnum", "faauto", "adjustright", "caps", "scaps", "outl", "shad", "embo",
                          "impr", "up", "dn", "fittext", "charrsid", "nosectexpand", "keepn", "keep",
                          "sl", "slmult", "tx", "tqr", "tqc", "tqdec", "tldot", "tlhyph", "tlul", "tlth", "tleq"})
      m.emplace(d, K_ignored);
    for (const char *d : {"paperw", "paperh", "margl", "margr", "margt", "margb", "gutter", "landscape", "deftab",
                          "facingp", "margmirror"})
      m.emplace(d, K_docfmt);
    return m;
  }();
  return map;
}

Q_LOGGING_CATEGORY(lcRtf, "tarnwick.rtf")

constexpr int kMaxWordLength = 32;
constexpr qint64 kMaxParam = 0x7fffffff;

class Reader {
 public:
  Reader(const QByteArray &data, QTextDocument *doc, const ReadLimits &limits)
      : s_(data.constData()), n_(data.size()), doc_(doc), lim_(limits), cursor_(doc) {}

  ReadResult run();

 private:
  // Parsing
  bool fail(const QString &msg) {
    if (result_.error.isEmpty()) result_.error = msg;
    failed_ = true;
    return false;
  }
  void warn(const QString &msg) {
    if (!result_.warnings.contains(msg)) result_.warnings << msg;
  }
  State &st() { return stack_.back(); }
  bool openGroup();
  bool closeGroup();
  bool finishDocument();  // the last paragraph and table row, while the document's group is still open
  bool controlWord(std::string_view name, bool hasParam, int param);
  std::optional<bool> tableWord(Kw kw, int p);
  std::optional<bool> destinationWord(Kw kw, std::string_view name, bool hasParam, int param, bool fresh, bool canKeep);
  bool formatWord(Kw kw, bool hasParam, int param);
  bool controlSymbol(char c);
  void textByte(char c);
  void flushBytes();
  void addText(const QString &s);
  void addChar(char16_t c) { addText(QString(QChar(c))); }
  int codePageNow();
  void commitFont();
  void commitColor();

  // Kept groups
  enum class Keep { Unknown, Head, Text, Footnote, Picture, NonShpPict, FieldInst, ListTable, OverrideTable };
  // Takes the current group whole, from its "{" to its "}", and puts it where it belongs.
  bool keepGroup(Keep what);
  void placeKept(const QByteArray &raw, Keep what);
  void addObject(const QTextCharFormat &f);
  void markFieldShown(int field);
  bool inField(int field, int id) const;  // whether field is id or lies in id's result
  void storeDocumentTables();

  // Building the document
  // atEnd: the document ended the paragraph (no \par): its properties are those where its text stood.
  bool endParagraph(bool cell, bool atEnd = false);
  bool endRow();
  bool emitParagraph(Para &p);
  bool countParagraph() {
    if (++paragraphs_ > lim_.maxParagraphs) return fail(QObject::tr("The file has more than %1 paragraphs.").arg(lim_.maxParagraphs));
    return true;
  }
  void insertRuns(QTextCursor &c, const Para &p);
  QTextCharFormat charFormat(const CharProps &p);
  QTextBlockFormat blockFormat(const ParaProps &p, bool pageBefore) const;
  void applyList(const Para &p);
  bool applyTableList(const Para &p);

  const char *s_;
  qsizetype n_;
  qsizetype pos_ = 0;
  QTextDocument *doc_;
  ReadLimits lim_;
  QTextCursor cursor_;
  ReadResult result_;
  bool failed_ = false;
  bool finished_ = false;

  std::vector<State> stack_;
  bool starNext_ = false;
  qint64 skipChars_ = 0;  // fallback characters still to skip after \uN
  QByteArray pending_;    // text bytes waiting to be decoded in the current code page
  int docCp_ = 1252;
  int deff_ = -1;
  QHash<int, Font> fonts_;
  QString fontName_;
  std::vector<QColor> colors_;
  int red_ = 0, green_ = 0, blue_ = 0;
  bool colorSet_ = false;

  Para para_;
  bool pendingPageBreak_ = false;
  std::vector<Para> cellParas_;
  std::vector<std::vector<Para>> rowCells_;
  QTextTable *table_ = nullptr;
  bool lastWasRow_ = false;
  bool freshBlock_ = true;
  qsizetype paragraphs_ = 0;
  QTextList *list_ = nullptr;
  qint64 listKey_ = 0;
  CharProps lastProps_;
  QTextCharFormat lastFormat_;
  bool haveLastFormat_ = false;
  // What is kept for the writer.
  bool bodyStarted_ = false;    // past the document's tables: an unknown group at its top level is text now
  QByteArray head_;             // document tables kept as read
  QByteArray docFormat_;        // page format words
  QByteArray charsetWords_;     // \ansi\ansicpgN, \mac, ...
  QByteArray fontTableRaw_;
  QByteArray listTableRaw_, overrideTableRaw_;
  QHash<int, kept::ListLevels> tableLists_;                 // \ls -> its levels
  QHash<int, std::array<QTextList *, 9>> levelLists_;      // \ls -> the list now filled at each level
  std::vector<QTextCharFormat> objects_;
  std::vector<Field> fields_;
  int footnotes_ = 0;
  int alternateObjects_ = 0;  // objects without a picture, shown by their result text only
  int nestedTables_ = 0;
  std::vector<int> rowCellx_;  // the cell edges of the row being read
};

ReadResult Reader::run() {
  if (!looksLikeRtf(QByteArray::fromRawData(s_, n_))) {
    fail(QObject::tr("The file is not in Rich Text Format."));
    return result_;
  }
  stack_.reserve(64);
  // One edit block for the whole read: the cursor then skips laying out every block it passes.
  cursor_.beginEditBlock();
  while (pos_ < n_ && s_[pos_] != '{') ++pos_;
  while (pos_ < n_ && !failed_ && !finished_) {
    const char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      skipChars_ = 0;
      if (!openGroup()) break;
    } else if (c == '}') {
      ++pos_;
      skipChars_ = 0;
      if (!closeGroup()) break;
    } else if (c == '\\') {
      ++pos_;
      if (pos_ >= n_) break;
      const char d = s_[pos_];
      if ((d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z')) {
        const qsizetype start = pos_;
        while (pos_ < n_ && ((s_[pos_] >= 'a' && s_[pos_] <= 'z') || (s_[pos_] >= 'A' && s_[pos_] <= 'Z'))) ++pos_;
        const qsizetype len = pos_ - start;
        bool hasParam = false, neg = false;
        qint64 value = 0;
        if (pos_ + 1 < n_ && s_[pos_] == '-' && s_[pos_ + 1] >= '0' && s_[pos_ + 1] <= '9') {
          neg = true;
          ++pos_;
        }
        while (pos_ < n_ && s_[pos_] >= '0' && s_[pos_] <= '9') {
          hasParam = true;
          if (value <= kMaxParam) value = value * 10 + (s_[pos_] - '0');  // saturates just past the bound
          ++pos_;
        }
        if (value > kMaxParam) value = kMaxParam;
        if (pos_ < n_ && s_[pos_] == ' ') ++pos_;
        // Words longer than any real one are nobody's: treated as unknown.
        const std::string_view name = len > kMaxWordLength ? std::string_view("?") : std::string_view(s_ + start, size_t(len));
        if (!controlWord(name, hasParam, int(neg ? -value : value))) break;
      } else {
        ++pos_;
        if (!controlSymbol(d)) break;
      }
    } else {
      ++pos_;
      textByte(c);
    }
  }
  if (!failed_ && !finished_) {
    if (stack_.size() == 1) finishDocument();
    if (failed_) {
    } else if (stack_.size() > 1) {
      fail(QObject::tr("The file is incomplete: %n group(s) are not closed.", nullptr, int(stack_.size() - 1)));
    } else if (!stack_.empty()) {
      warn(QObject::tr("The document's closing brace is missing."));
      flushBytes();
      finished_ = true;
    }
  }
  if (finished_ && !failed_) {
    // Bytes after the document's closing brace (mail programs leave some) are not part of it: ignored, as
    // other readers do, and said, since a save would not write them back.
    while (pos_ < n_ && (s_[pos_] == ' ' || s_[pos_] == '\r' || s_[pos_] == '\n' || s_[pos_] == '\t' || s_[pos_] == '\0')) ++pos_;
    if (pos_ < n_) {
      const int extra = int(std::min<qsizetype>(n_ - pos_, std::numeric_limits<int>::max()));
      warn(QObject::tr("%n byte(s) after the end of the document were ignored.", nullptr, extra));
      result_.losses << QObject::tr("%n byte(s) after the end of the document", nullptr, extra);
      qCInfo(lcRtf, "ignored %d bytes after the end of the document", extra);
    }
  }
  cursor_.endEditBlock();
  if (failed_) {
    table_ = nullptr;
    list_ = nullptr;
    doc_->clear();
    result_.ok = false;
    result_.warnings.clear();
    return result_;
  }
  if (nestedTables_ > 0)
    result_.losses << QObject::tr("%n table row(s) nested in other tables (their cells are read as text)", nullptr, nestedTables_);
  if (alternateObjects_ > 0)
    result_.losses << QObject::tr("%n embedded object(s) without a picture (only their shown text is kept)", nullptr, alternateObjects_);
  storeDocumentTables();
  result_.ok = true;
  return result_;
}

// The writer finds what the document was read with on the document itself.
void Reader::storeDocumentTables() {
  doc_->setProperty("rtf.head", head_);
  doc_->setProperty("rtf.docFormat", docFormat_);
  doc_->setProperty("rtf.charset", charsetWords_);
  doc_->setProperty("rtf.codePage", docCp_);
  doc_->setProperty("rtf.losses", result_.losses);
  if (!fontTableRaw_.isEmpty()) {
    QVariantMap numbers;
    int highest = -1;
    for (auto it = fonts_.constBegin(); it != fonts_.constEnd(); ++it) {
      highest = std::max(highest, it.key());
      const QString name = QString(it->name).remove(u';');
      if (!numbers.contains(name) || numbers.value(name).toInt() > it.key()) numbers.insert(name, it.key());
    }
    doc_->setProperty("rtf.fontTable", fontTableRaw_);
    doc_->setProperty("rtf.fontNumbers", numbers);
    doc_->setProperty("rtf.fontHighest", highest);
    doc_->setProperty("rtf.deff", deff_);
  }
  if (!colors_.empty()) {
    QVariantList colours;
    for (const QColor &c : colors_) colours << c;
    doc_->setProperty("rtf.colors", colours);
  }
}

bool Reader::finishDocument() {
  flushBytes();
  if (!para_.empty() && !endParagraph(false, true)) return false;
  if (!cellParas_.empty() || !rowCells_.empty()) return endRow();
  return true;
}

bool Reader::openGroup() {
  flushBytes();
  starNext_ = false;
  if (int(stack_.size()) >= lim_.maxDepth)
    return fail(QObject::tr("The file nests groups deeper than %1 levels.").arg(lim_.maxDepth));
  if (stack_.empty()) {
    stack_.emplace_back();
  } else {
    State s = st();
    s.fieldOwner = false;
    s.fontTableOwner = false;
    stack_.push_back(s);
  }
  st().groupStart = pos_ - 1;
  st().fresh = true;
  return true;
}

bool Reader::closeGroup() {
  flushBytes();
  starNext_ = false;
  if (stack_.empty()) return true;
  if (stack_.size() == 1 && !finishDocument()) return false;
  if (st().dest == Dest::FontTable && st().fontNum >= 0 && !fontName_.isEmpty()) commitFont();
  const Dest was = st().dest;
  const qsizetype start = st().groupStart;
  const bool fontTable = st().fontTableOwner;
  // A field that showed nothing (no result, or one of its own kind) is kept whole where it stood.
  // (Only one within a paragraph: one that ended paragraphs has put them in the document already.)
  const bool unshownField = st().fieldOwner && st().fieldGroup > 0 && !fields_[size_t(st().fieldGroup - 1)].shown &&
                            fields_[size_t(st().fieldGroup - 1)].paragraphsBefore == paragraphs_;
  const int closedField = unshownField ? st().fieldGroup : 0;
  stack_.pop_back();
  if (stack_.empty()) {
    finished_ = true;
    return true;
  }
  // A font entry whose name ended without ";" still names its font.
  if (was == Dest::FontTable && st().dest == Dest::FontTable) st().fontNum = -1;
  if (fontTable && fontTableRaw_.isEmpty())
    fontTableRaw_ = QByteArray(s_ + start, pos_ - start);
  if (unshownField) {
    // Its hidden result is part of the group kept: not kept a second time.
    const int id = closedField;
    while (id > 0 && !para_.runs.empty() && inField(para_.runs.back().props.field, id)) para_.runs.pop_back();
    para_.listText = fields_[size_t(id - 1)].listTextBefore;
    // Hidden around it, it stays hidden where it is written back (else its text would show).
    const QByteArray raw(s_ + start, pos_ - start);
    placeKept(st().chr.hidden ? "{\\v " + raw + '}' : raw, Keep::Text);
  }
  return true;
}

int Reader::codePageNow() {
  const State &s = st();
  const bool mac = docCp_ >= 10000 && docCp_ < 10100;
  auto resolve = [&](int cp) { return cp == -1 ? (mac ? docCp_ : 1252) : cp > 0 ? cp : docCp_; };
  if (s.dest == Dest::FontTable) return resolve(s.fontCp);
  const int f = s.chr.font >= 0 ? s.chr.font : deff_;
  if (auto it = fonts_.constFind(f); it != fonts_.constEnd()) return resolve(it->cp);
  return docCp_;
}

void Reader::flushBytes() {
  if (pending_.isEmpty() || stack_.empty()) {
    pending_.clear();
    return;
  }
  QString text;
  const int cp = codePageNow();
  if (!decodeCodePage(cp, pending_, &text)) warn(QObject::tr("Text in code page %1 was read as code page 1252.").arg(cp));
  pending_.clear();
  addText(text);
}

void Reader::textByte(char c) {
  if (stack_.empty()) return;
  if (c == '\r' || c == '\n' || c == '\0') return;
  starNext_ = false;
  st().fresh = false;
  if (skipChars_ > 0) {
    --skipChars_;
    return;
  }
  const Dest d = st().dest;
  if (d == Dest::Skip || d == Dest::Alternate) return;
  if (c == ';' && (d == Dest::FontTable || d == Dest::ColorTable)) {
    flushBytes();
    if (d == Dest::FontTable) commitFont();
    else commitColor();
    return;
  }
  if (d == Dest::ColorTable) return;
  if (c == '\t') {
    flushBytes();
    addChar(u'\t');
    return;
  }
  pending_.append(c);
}

// Characters the document model gives a meaning of its own (paragraph and frame marks, object
// placeholders) or cannot show (controls) would break the structure the reader builds: dropped, and a
// paragraph separator becomes a line break so it cannot get round the paragraph limit.
QString cleanText(const QString &s) {
  QString out;
  out.reserve(s.size());
  for (const QChar ch : s) {
    const char16_t c = ch.unicode();
    if ((c < 0x20 && c != u'\t') || c == 0xFDD0 || c == 0xFDD1 || c == 0xFFFC || c == 0xFEFF) continue;
    out.append(c == 0x2029 ? QChar(0x2028) : ch);
  }
  return out;
}

void Reader::addText(const QString &raw) {
  if (raw.isEmpty() || stack_.empty()) return;
  bool clean = true;
  for (const QChar ch : raw) {
    const char16_t c = ch.unicode();
    if ((c < 0x20 && c != u'\t') || c == 0xFDD0 || c == 0xFDD1 || c == 0xFFFC || c == 0xFEFF || c == 0x2029) {
      clean = false;
      break;
    }
  }
  const QString s = clean ? raw : cleanText(raw);
  if (s.isEmpty()) return;
  State &t = st();
  switch (t.dest) {
    case Dest::Body: {
      bodyStarted_ = true;
      if (t.chr.field > 0 && !t.chr.hidden) markFieldShown(t.chr.field);
      if (!para_.runs.empty() && para_.runs.back().object < 0 && para_.runs.back().props == t.chr) para_.runs.back().text += s;
      else para_.runs.push_back(Run{s, t.chr});
      para_.seen = t.para;
      para_.hasSeen = true;
      break;
    }
    case Dest::ListText:
      if (para_.listText.isEmpty()) para_.listProps = t.chr;
      para_.listText += s;
      break;
    case Dest::FontTable:
      if (fontName_.size() < 256) fontName_ += s;
      break;
    default:
      break;
  }
}

void Reader::commitFont() {
  State &s = st();
  if (s.fontNum >= 0) {
    if (fonts_.size() < lim_.maxFonts || fonts_.contains(s.fontNum)) {
      fonts_.insert(s.fontNum, Font{fontName_.trimmed(), s.fontCp});
    } else {
      warn(QObject::tr("The file names more than %1 fonts; the rest are ignored.").arg(lim_.maxFonts));
    }
  }
  fontName_.clear();
  s.fontNum = -1;
  s.fontCp = 0;
}

void Reader::commitColor() {
  if (int(colors_.size()) < lim_.maxColors) colors_.push_back(colorSet_ ? QColor(red_, green_, blue_) : QColor());
  else warn(QObject::tr("The file names more than %1 colours; the rest are ignored.").arg(lim_.maxColors));
  red_ = green_ = blue_ = 0;
  colorSet_ = false;
}

bool Reader::controlSymbol(char c) {
  if (c != '*' && !stack_.empty()) st().fresh = false;
  if (c == '\'') {
    // \'hh: one byte in the current code page.
    auto hex = [](char h) {
      if (h >= '0' && h <= '9') return h - '0';
      if (h >= 'a' && h <= 'f') return h - 'a' + 10;
      if (h >= 'A' && h <= 'F') return h - 'A' + 10;
      return -1;
    };
    int v = -1;
    if (pos_ + 1 < n_ && hex(s_[pos_]) >= 0 && hex(s_[pos_ + 1]) >= 0) v = hex(s_[pos_]) * 16 + hex(s_[pos_ + 1]);
    if (v < 0) {
      warn(QObject::tr("A malformed \\' escape was ignored."));
      return true;
    }
    pos_ += 2;
    if (stack_.empty()) return true;
    if (skipChars_ > 0) {
      --skipChars_;
      return true;
    }
    const Dest d = st().dest;
    if (d == Dest::Body || d == Dest::ListText || d == Dest::FontTable) pending_.append(char(v));
    return true;
  }
  if (c == '*') {
    flushBytes();
    starNext_ = true;
    return true;
  }
  if (skipChars_ > 0) {
    --skipChars_;
    return true;
  }
  switch (c) {
    case '\\': case '{': case '}':
      if (!stack_.empty() && st().dest == Dest::FontTable) fontName_ += QChar(c);
      else if (!stack_.empty() && st().dest != Dest::ColorTable) pending_.append(c);
      return true;
    case '~': flushBytes(); addChar(u'\u00A0'); return true;
    case '-': flushBytes(); addChar(u'\u00AD'); return true;
    case '_': flushBytes(); addChar(u'\u2011'); return true;
    case '\r': case '\n': return controlWord("par", false, 0);
    case '\t': return controlWord("tab", false, 0);
    default: return true;  // \: \| and the like mark index entries and formulas: nothing to show
  }
}

bool Reader::controlWord(std::string_view name, bool hasParam, int param) {
  flushBytes();
  if (stack_.empty()) return true;
  const bool star = starNext_;
  starNext_ = false;
  const bool fresh = st().fresh;
  st().fresh = false;
  const auto &map = keywords();
  const auto it = map.find(name);
  const Kw kw = it == map.end() ? K_unknown : it->second;

  if (skipChars_ > 0 && kw != K_bin) {
    --skipChars_;
    return true;
  }
  State &s = st();
  if (kw == K_bin) {
    // \binN: N raw bytes follow; they are never text.
    const qint64 len = hasParam && param > 0 ? param : 0;
    if (len > n_ - pos_) return fail(QObject::tr("The file is incomplete: binary data runs past its end."));
    pos_ += qsizetype(len);
    if (skipChars_ > 0) --skipChars_;
    return true;
  }
  if (s.dest == Dest::Skip) return true;
  // Groups kept whole: only from the text (in the tables and in what is skipped they are part of those), and
  // only when the group starts with its destination (what came before it in the group is read already).
  const bool canKeep = fresh && stack_.size() >= 2 && (s.dest == Dest::Body || s.dest == Dest::Alternate);
  if (star && kw == K_unknown) {
    // \*\word names a destination only at the start of a group; elsewhere it marks just that word.
    if (!fresh) return true;
    if (canKeep && s.dest == Dest::Body) return keepGroup(Keep::Unknown);
    s.dest = Dest::Skip;
    return true;
  }
  if (s.dest == Dest::Alternate) {
    if (kw == K_result || kw == K_ud) s.dest = Dest::Body;
    return true;
  }
  const int p = hasParam ? param : 0;

  if (const std::optional<bool> r = tableWord(kw, p)) return *r;
  if (const std::optional<bool> r = destinationWord(kw, name, hasParam, param, fresh, canKeep)) return *r;
  return formatWord(kw, hasParam, param);
}

// Words inside the font and colour tables and the list text; nothing when the word means what it means in
// the text.
std::optional<bool> Reader::tableWord(Kw kw, int p) {
  State &s = st();
  if (s.dest == Dest::FontTable) {
    switch (kw) {
      case K_f:
        if (!fontName_.isEmpty() && s.fontNum >= 0) commitFont();
        s.fontNum = p;
        s.fontCp = 0;
        return true;
      case K_fcharset: s.fontCp = charsetCodePage(p); return true;
      case K_cpg: if (p > 0) s.fontCp = p; return true;
      case K_headdest: case K_keepdest: case K_dropdest: s.dest = Dest::Skip; return true;
      case K_u: break;  // a \u in a font name
      default: return true;
    }
  }
  if (s.dest == Dest::ColorTable) {
    const int v = std::clamp(p, 0, 255);
    switch (kw) {
      case K_red: red_ = v; colorSet_ = true; break;
      case K_green: green_ = v; colorSet_ = true; break;
      case K_blue: blue_ = v; colorSet_ = true; break;
      default: break;
    }
    return true;
  }
  if (s.dest == Dest::ListText) {
    // The list text is read for lists without a list table; its groups are not kept.
    if (kw == K_pict || kw == K_shppict || kw == K_nonshppict || kw == K_headdest || kw == K_keepdest ||
        kw == K_dropdest || kw == K_footnote || kw == K_field || kw == K_fldinst) {
      s.dest = Dest::Skip;
      return true;
    }
  }

  return std::nullopt;
}

// Destinations, groups kept whole, fields and the document's character set; nothing for other words.
std::optional<bool> Reader::destinationWord(Kw kw, std::string_view name, bool hasParam, int param, bool fresh,
                                            bool canKeep) {
  State &s = st();
  const int p = hasParam ? param : 0;
  switch (kw) {
    case K_unknown: case K_ignored: return true;
    case K_headdest:
      if (canKeep) return keepGroup(Keep::Head);
      s.dest = Dest::Skip;
      return true;
    case K_keepdest:
      if (canKeep) return keepGroup(Keep::Text);
      s.dest = Dest::Skip;
      return true;
    case K_footnote:
      if (canKeep) return keepGroup(Keep::Footnote);
      s.dest = Dest::Skip;
      return true;
    case K_dropdest: s.dest = Dest::Skip; return true;
    case K_nesttableprops:
      // A nested table's row: its cells were read as text of the outer cell, its layout cannot be kept.
      ++nestedTables_;
      s.dest = Dest::Skip;
      return true;
    case K_pict: case K_shppict:
      if (canKeep) return keepGroup(Keep::Picture);
      s.dest = Dest::Skip;
      return true;
    case K_nonshppict:
      if (canKeep) return keepGroup(Keep::NonShpPict);
      s.dest = Dest::Skip;
      return true;
    case K_object: {
      // An object with a picture (its result) is kept whole and shows the picture; one without is shown
      // by its result's text, and the object itself cannot be written back.
      if (canKeep) {
        const qsizetype end = kept::groupEnd(s_, n_, pos_, lim_.maxDepth - int(stack_.size()) + 1);
        if (end > 0 && kept::holdsPicture(QByteArray::fromRawData(s_ + s.groupStart, end - s.groupStart)))
          return keepGroup(Keep::Picture);
      }
      ++alternateObjects_;
      s.dest = Dest::Alternate;
      return true;
    }
    case K_upr: s.dest = Dest::Alternate; return true;
    case K_listtable:
      if (canKeep) return keepGroup(Keep::ListTable);
      s.dest = Dest::Skip;
      return true;
    case K_listoverridetable:
      if (canKeep) return keepGroup(Keep::OverrideTable);
      s.dest = Dest::Skip;
      return true;
    case K_field:
      // A field is a group of its own that starts with \field.
      if (s.dest == Dest::Body && fresh && stack_.size() >= 2 && fields_.size() < 1'000'000) {
        fields_.push_back(Field{{}, {}, s.chr.field, false, paragraphs_, para_.listText});
        s.fieldGroup = int(fields_.size());
        s.fieldOwner = true;
        s.chr.field = s.fieldGroup;  // text right in the field's group (outside \fldrslt) is its result too
      }
      return true;
    case K_fldinst:
      if (canKeep && s.fieldGroup > 0 && stack_[stack_.size() - 2].fieldOwner) return keepGroup(Keep::FieldInst);
      s.dest = Dest::Skip;
      return true;
    case K_fldrslt:
      if (s.fieldGroup > 0) s.chr.field = s.fieldGroup;
      return true;
    case K_result: case K_ud: case K_rtf: return true;
    case K_docfmt:
      if (stack_.size() == 1 && docFormat_.size() < 4096)
        docFormat_ += '\\' + QByteArray(name.data(), qsizetype(name.size())) + (hasParam ? QByteArray::number(param) : QByteArray());
      return true;
    case K_fonttbl:
      s.dest = Dest::FontTable;
      s.fontNum = -1;
      s.fontTableOwner = fresh;
      return true;
    case K_colortbl: s.dest = Dest::ColorTable; return true;
    case K_listtext: case K_pntext:
      para_.listText.clear();
      s.dest = Dest::ListText;
      return true;
    case K_ansi: docCp_ = 1252; charsetWords_ = "\\ansi"; return true;
    case K_mac: docCp_ = 10000; charsetWords_ = "\\mac"; return true;
    case K_pc: docCp_ = 437; charsetWords_ = "\\pc"; return true;
    case K_pca: docCp_ = 850; charsetWords_ = "\\pca"; return true;
    case K_ansicpg:
      if (p > 0) {
        docCp_ = p;
        if (!charsetWords_.contains("ansicpg")) charsetWords_ += "\\ansicpg" + QByteArray::number(p);
      }
      return true;
    case K_deff: deff_ = p; return true;
    default: return std::nullopt;
  }
}

// Character and paragraph formatting, table rows, breaks and special characters.
bool Reader::formatWord(Kw kw, bool hasParam, int param) {
  State &s = st();
  const int p = hasParam ? param : 0;
  const bool on = !hasParam || param != 0;
  switch (kw) {
    case K_f: s.chr.font = p; return true;
    case K_plain: {
      if (stack_.size() <= 2) bodyStarted_ = true;
      const int field = s.chr.field;
      s.chr = CharProps{};
      s.chr.field = field;  // a result's formatting may start anew; it is still the field's result
      return true;
    }
    case K_b: s.chr.bold = on; return true;
    case K_i: s.chr.italic = on; return true;
    case K_ul: s.chr.underline = on; return true;
    case K_ulnone: s.chr.underline = false; return true;
    case K_strike: case K_striked: s.chr.strike = on; return true;
    case K_fs: s.chr.halfPoints = hasParam && param > 0 ? std::min(param, 3276) : 24; return true;
    case K_cf: s.chr.fg = std::max(p, 0); return true;
    case K_cb: case K_highlight: case K_chcbpat: s.chr.bg = std::max(p, 0); return true;
    case K_v: s.chr.hidden = on; return true;
    case K_super: s.chr.vert = 1; return true;
    case K_sub: s.chr.vert = -1; return true;
    case K_nosupersub: s.chr.vert = 0; return true;
    case K_cs: s.chr.cs = std::clamp(p, 0, 1 << 20); return true;
    case K_pard: bodyStarted_ = true; s.para = ParaProps{}; return true;
    case K_ql: s.para.align = 0; return true;
    case K_qc: s.para.align = 1; return true;
    case K_qr: s.para.align = 2; return true;
    case K_qj: s.para.align = 3; return true;
    case K_fi: s.para.fi = std::clamp(p, -31680, 31680); return true;
    case K_li: s.para.li = std::clamp(p, -31680, 31680); return true;
    case K_ri: s.para.ri = std::clamp(p, -31680, 31680); return true;
    case K_sb: s.para.sb = std::clamp(p, 0, 31680); return true;
    case K_sa: s.para.sa = std::clamp(p, 0, 31680); return true;
    case K_intbl: s.para.intbl = on; return true;
    case K_itap: s.para.intbl = p > 0; return true;
    case K_ls: s.para.ls = std::clamp(p, 0, 1 << 20); return true;
    case K_ilvl: s.para.ilvl = std::clamp(p, 0, 8); return true;
    case K_s: s.para.style = std::clamp(p, 0, 1 << 20); return true;
    case K_rtlpar: s.para.rtl = true; return true;
    case K_ltrpar: s.para.rtl = false; return true;
    case K_pagebb: s.para.pageBefore = on; return true;
    case K_par: case K_sect:
      if (s.dest == Dest::Body) {
        bodyStarted_ = true;
        return endParagraph(false);
      }
      return true;
    case K_trowd: rowCellx_.clear(); return true;
    case K_cellx:
      if (rowCellx_.size() < size_t(lim_.maxColumns)) rowCellx_.push_back(std::clamp(p, 0, 31680 * 4));
      return true;
    case K_cell: return s.dest == Dest::Body ? endParagraph(true) : true;
    case K_row: return s.dest == Dest::Body ? endRow() : true;
    case K_page:
      if (s.dest != Dest::Body) return true;
      if (!para_.empty() && !endParagraph(false)) return false;
      pendingPageBreak_ = true;
      return true;
    case K_line: addChar(u'\u2028'); return true;
    case K_tab: case K_nestcell: addChar(u'\t'); return true;
    case K_nestrow: addChar(u'\u2028'); return true;
    case K_emdash: addChar(u'\u2014'); return true;
    case K_endash: addChar(u'\u2013'); return true;
    case K_bullet: addChar(u'\u2022'); return true;
    case K_lquote: addChar(u'\u2018'); return true;
    case K_rquote: addChar(u'\u2019'); return true;
    case K_ldblquote: addChar(u'\u201C'); return true;
    case K_rdblquote: addChar(u'\u201D'); return true;
    case K_emspace: addChar(u'\u2003'); return true;
    case K_enspace: addChar(u'\u2002'); return true;
    case K_qmspace: addChar(u'\u2005'); return true;
    case K_zwj: addChar(u'\u200D'); return true;
    case K_zwnj: addChar(u'\u200C'); return true;
    case K_ltrmark: addChar(u'\u200E'); return true;
    case K_rtlmark: addChar(u'\u200F'); return true;
    case K_uc: s.uc = std::clamp(p, 0, 1 << 20); return true;
    case K_u: {
      // \uN: a UTF-16 code unit, negative above 32767; then skip the \ucN fallback characters.
      int v = p;
      if (v < 0) v += 65536;
      if (v < 0 || v > 0xFFFF) v = 0xFFFD;
      if (s.dest == Dest::FontTable) fontName_ += QChar(char16_t(v));
      else addChar(char16_t(v));
      skipChars_ = st().uc;
      return true;
    }
    default: return true;
  }
}

bool Reader::keepGroup(Keep what) {
  flushBytes();
  const qsizetype start = st().groupStart;
  const qsizetype end = kept::groupEnd(s_, n_, pos_, lim_.maxDepth - int(stack_.size()) + 1);
  if (end == -2) return fail(QObject::tr("The file nests groups deeper than %1 levels.").arg(lim_.maxDepth));
  if (end == -3) return fail(QObject::tr("The file is incomplete: binary data runs past its end."));
  if (end < 0) return fail(QObject::tr("The file is incomplete: %n group(s) are not closed.", nullptr, int(stack_.size() - 1)));
  pos_ = end;
  skipChars_ = 0;
  stack_.pop_back();
  placeKept(QByteArray(s_ + start, end - start), what);
  return !failed_;
}

void Reader::addObject(const QTextCharFormat &f) {
  if (st().dest != Dest::Body) return;
  bodyStarted_ = true;
  if (st().chr.field > 0) markFieldShown(st().chr.field);
  objects_.push_back(f);
  para_.runs.push_back(Run{QString(QChar::ObjectReplacementCharacter), st().chr, int(objects_.size() - 1)});
  para_.seen = st().para;
  para_.hasSeen = true;
}

bool Reader::inField(int field, int id) const {
  for (int guard = 0; field > 0 && guard < 1000; ++guard) {
    if (field == id) return true;
    field = fields_[size_t(field - 1)].parent;
  }
  return false;
}

void Reader::markFieldShown(int field) {
  for (int guard = 0; field > 0 && guard < 1000; ++guard) {
    Field &f = fields_[size_t(field - 1)];
    if (f.shown) return;
    f.shown = true;
    field = f.parent;
  }
}

void Reader::placeKept(const QByteArray &raw, Keep what) {
  if (what == Keep::Unknown) what = stack_.size() == 1 && !bodyStarted_ ? Keep::Head : Keep::Text;
  switch (what) {
    case Keep::Head:
      head_ += raw;
      return;
    case Keep::ListTable:
    case Keep::OverrideTable:
      (what == Keep::ListTable ? listTableRaw_ : overrideTableRaw_) = raw;
      tableLists_ = kept::readListTables(listTableRaw_, overrideTableRaw_);
      return;
    case Keep::FieldInst: {
      Field &f = fields_[size_t(st().fieldGroup - 1)];
      f.inst = raw;
      f.href = kept::hyperlinkTarget(raw);
      return;
    }
    case Keep::Picture:
      addObject(kept::pictureFormat(raw, doc_));
      return;
    case Keep::NonShpPict:
      // The stand-in of a picture for readers without \shppict belongs to the picture before it.
      if (!para_.runs.empty() && para_.runs.back().object >= 0) {
        QTextCharFormat &f = objects_[size_t(para_.runs.back().object)];
        if (f.isImageFormat()) {
          f.setProperty(kRawGroupProperty, f.property(kRawGroupProperty).toByteArray() + raw);
          return;
        }
      }
      [[fallthrough]];
    case Keep::Text:
    case Keep::Footnote:
    case Keep::Unknown: {
      QTextCharFormat f;
      f.setObjectType(kOpaqueObjectType);
      f.setProperty(kRawGroupProperty, raw);
      f.setProperty(kKeptKindProperty, int(what == Keep::Footnote ? KeptKind::Footnote : KeptKind::Hidden));
      if (what == Keep::Footnote) f.setProperty(kFootnoteNumberProperty, ++footnotes_);
      addObject(f);
      return;
    }
  }
}

QTextBlockFormat Reader::blockFormat(const ParaProps &p, bool pageBefore) const {
  QTextBlockFormat f;
  static const Qt::Alignment aligns[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignJustify};
  // In a right-to-left paragraph \ql means its start, the right (as LibreOffice reads it): Qt's left too.
  f.setAlignment(aligns[p.align]);
  if (p.rtl) f.setLayoutDirection(Qt::RightToLeft);
  if (p.style >= 0) f.setProperty(kParaStyleProperty, p.style);
  f.setTextIndent(p.fi / kTwipsPerUnit);
  f.setLeftMargin(std::max(p.li, 0) / kTwipsPerUnit);
  f.setRightMargin(std::max(p.ri, 0) / kTwipsPerUnit);
  if (p.sb) f.setTopMargin(p.sb / kTwipsPerUnit);
  if (p.sa) f.setBottomMargin(p.sa / kTwipsPerUnit);
  if (pageBefore || p.pageBefore) f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
  return f;
}

QTextCharFormat Reader::charFormat(const CharProps &p) {
  if (haveLastFormat_ && p == lastProps_) return lastFormat_;
  QTextCharFormat f;
  const int fontNum = p.font >= 0 ? p.font : deff_;
  if (auto it = fonts_.constFind(fontNum); it != fonts_.constEnd() && !it->name.isEmpty())
    f.setFontFamilies(QStringList{it->name});
  f.setFontPointSize(p.halfPoints / 2.0);
  f.setFontWeight(p.bold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(p.italic);
  f.setFontUnderline(p.underline);
  f.setFontStrikeOut(p.strike);
  if (p.fg > 0 && p.fg < int(colors_.size()) && colors_[size_t(p.fg)].isValid()) f.setForeground(colors_[size_t(p.fg)]);
  if (p.bg > 0 && p.bg < int(colors_.size()) && colors_[size_t(p.bg)].isValid()) f.setBackground(colors_[size_t(p.bg)]);
  if (p.vert > 0) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
  else if (p.vert < 0) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
  if (p.cs >= 0) f.setProperty(kCharStyleProperty, p.cs);
  if (p.field > 0) {
    // The fields around the text, outermost first, each with its instruction; a link's target on top.
    QVariantList ids, insts;
    QString href;
    for (int id = p.field, guard = 0; id > 0 && guard < 1000; ++guard) {
      const Field &fd = fields_[size_t(id - 1)];
      ids.prepend(id);
      insts.prepend(fd.inst);
      if (href.isEmpty()) href = fd.href;
      id = fd.parent;
    }
    f.setProperty(kFieldIdsProperty, ids);
    f.setProperty(kFieldInstsProperty, insts);
    if (!href.isEmpty()) {
      f.setAnchor(true);
      f.setAnchorHref(href);
    }
  }
  lastProps_ = p;
  lastFormat_ = f;
  haveLastFormat_ = true;
  return f;
}

void Reader::insertRuns(QTextCursor &c, const Para &p) {
  // What is kept but not shown (hidden text, bookmarks, ...) and stands together becomes one object, so
  // that the cursor does not stop at each piece of it.
  QByteArray unshown;
  QTextCharFormat unshownFormat;
  auto flushUnshown = [&] {
    if (unshown.isEmpty()) return;
    unshownFormat.setObjectType(kOpaqueObjectType);
    unshownFormat.setProperty(kKeptKindProperty, int(KeptKind::Hidden));
    unshownFormat.setProperty(kRawGroupProperty, unshown);
    c.insertText(QString(QChar::ObjectReplacementCharacter), unshownFormat);
    unshown.clear();
  };
  for (const Run &r : p.runs) {
    if (r.object >= 0) {
      const QTextCharFormat &of = objects_[size_t(r.object)];
      if (of.objectType() == kOpaqueObjectType && of.intProperty(kKeptKindProperty) == int(KeptKind::Hidden)) {
        if (unshown.isEmpty()) unshownFormat = charFormat(r.props);
        unshown += of.property(kRawGroupProperty).toByteArray();
        continue;
      }
      flushUnshown();
      QTextCharFormat f = charFormat(r.props);
      f.merge(of);
      c.insertText(QString(QChar::ObjectReplacementCharacter), f);
      continue;
    }
    if (r.props.hidden) {
      if (unshown.isEmpty()) unshownFormat = charFormat(r.props);
      unshown += "{\\v ";
      kept::appendText(unshown, r.text, true);
      unshown += '}';
      continue;
    }
    flushUnshown();
    c.insertText(r.text, charFormat(r.props));
  }
  flushUnshown();
}

bool Reader::endParagraph(bool cell, bool atEnd) {
  Para p = std::move(para_);
  para_ = Para{};
  p.props = atEnd && p.hasSeen ? p.seen : st().para;
  p.pageBefore = pendingPageBreak_;
  pendingPageBreak_ = false;
  if (cell || p.props.intbl) {
    if (!countParagraph()) return false;
    cellParas_.push_back(std::move(p));
    if (cell) {
      rowCells_.push_back(std::move(cellParas_));
      cellParas_.clear();
    }
    return true;
  }
  // A paragraph outside a table ends a row its writer left without \row.
  if (!cellParas_.empty()) {
    rowCells_.push_back(std::move(cellParas_));
    cellParas_.clear();
  }
  if (!rowCells_.empty() && !endRow()) return false;
  lastWasRow_ = false;
  table_ = nullptr;
  return emitParagraph(p);
}

bool Reader::emitParagraph(Para &p) {
  if (!countParagraph()) return false;
  const QTextBlockFormat bf = blockFormat(p.props, p.pageBefore);
  cursor_.movePosition(QTextCursor::End);
  const CharProps first = p.runs.empty() ? st().chr : p.runs.front().props;
  if (freshBlock_) {
    cursor_.setBlockFormat(bf);
    cursor_.setBlockCharFormat(charFormat(first));
  } else {
    cursor_.insertBlock(bf, charFormat(first));
  }
  freshBlock_ = false;
  applyList(p);
  insertRuns(cursor_, p);
  return true;
}

// The list text a word processor writes before a list paragraph tells the list's kind; a paragraph with a
// list text we do not recognise keeps it as text.
void Reader::applyList(const Para &p) {
  if (applyTableList(p)) return;
  const QString t = p.listText.trimmed();
  QTextListFormat::Style style = QTextListFormat::ListStyleUndefined;
  if (!t.isEmpty()) {
    static const QRegularExpression number(QStringLiteral("^[0-9]{1,9}[.)]?$"));
    static const QRegularExpression lower(QStringLiteral("^[a-z][.)]$"));
    static const QRegularExpression upper(QStringLiteral("^[A-Z][.)]$"));
    const QChar c = t.at(0);
    if (number.match(t).hasMatch()) style = QTextListFormat::ListDecimal;
    else if (lower.match(t).hasMatch()) style = QTextListFormat::ListLowerAlpha;
    else if (upper.match(t).hasMatch()) style = QTextListFormat::ListUpperAlpha;
    else if (t.size() == 1 || (t.size() == 2 && c.isHighSurrogate()))
      // One character alone is a bullet, whatever the symbol font draws for it.
      style = c == u'o' || c == u'\u25E6' || c == u'\u25CB' ? QTextListFormat::ListCircle
              : c == u'\u25AA' || c == u'\u25A0' || c == u'\u00A7' || c == u'\uF0A7' ? QTextListFormat::ListSquare
                                                                                 : QTextListFormat::ListDisc;
  }
  // Numbers must count from 1 in our lists (the document model cannot start a list elsewhere); a list
  // that starts or continues otherwise keeps its numbers as text.
  const qint64 key = qint64(p.props.ls) * 16 + int(style);
  const bool continues = list_ && key == listKey_ && list_->format().style() == style;
  int number = 0;
  if (style == QTextListFormat::ListDecimal) number = t.left(t.back().isDigit() ? t.size() : t.size() - 1).toInt();
  else if (style == QTextListFormat::ListLowerAlpha) number = t.at(0).unicode() - u'a' + 1;
  else if (style == QTextListFormat::ListUpperAlpha) number = t.at(0).unicode() - u'A' + 1;
  const bool numbered = style == QTextListFormat::ListDecimal || style == QTextListFormat::ListLowerAlpha ||
                        style == QTextListFormat::ListUpperAlpha;
  if (numbered && number != 1 && !(continues && number == list_->count() + 1)) style = QTextListFormat::ListStyleUndefined;
  if (style == QTextListFormat::ListStyleUndefined) {
    list_ = nullptr;
    // A list text of only blanks and a tab stands for no number at all (AbiWord writes such).
    if (!t.isEmpty()) cursor_.insertText(p.listText, charFormat(p.listProps));
    return;
  }
  // The list's indent goes to the list; the block keeps what lies beyond it.
  QTextBlockFormat bf = cursor_.blockFormat();
  const double indentUnits = doc_->indentWidth();
  bf.setLeftMargin(std::max(0.0, p.props.li / kTwipsPerUnit - indentUnits));
  bf.setTextIndent(0);
  cursor_.setBlockFormat(bf);
  if (continues && (!numbered || number != 1)) {
    list_->add(cursor_.block());
  } else {
    QTextListFormat lf;
    lf.setStyle(style);
    lf.setIndent(1);
    list_ = cursor_.createList(lf);
    listKey_ = key;
  }
}

// A paragraph of a list in the list table: its level's kind of number, nested lists for nested levels.
// False when the paragraph is in no such list.
bool Reader::applyTableList(const Para &p) {
  const auto found = tableLists_.constFind(p.props.ls);
  if (p.props.ls <= 0 || found == tableLists_.constEnd()) return false;
  list_ = nullptr;
  const int level = std::clamp(p.props.ilvl, 0, 8);
  const kept::ListLevel &lv = (*found)[size_t(level)];
  QTextListFormat::Style style;
  switch (lv.nfc) {
    case 1: style = QTextListFormat::ListUpperRoman; break;
    case 2: style = QTextListFormat::ListLowerRoman; break;
    case 3: style = QTextListFormat::ListUpperAlpha; break;
    case 4: style = QTextListFormat::ListLowerAlpha; break;
    case 23: {
      const char16_t b = lv.bullet.unicode();
      style = b == u'o' || b == u'\u25E6' || b == u'\u25CB' ? QTextListFormat::ListCircle
              : b == u'\u25AA' || b == u'\u25A0' || b == u'\u00A7' || b == 0xF0A7 ? QTextListFormat::ListSquare
                                                                               : QTextListFormat::ListDisc;
      break;
    }
    case 255: return true;  // a level without a number: its list text is only a tab
    default: style = QTextListFormat::ListDecimal; break;
  }
  // Our lists count from 1: a level that starts elsewhere keeps the number its writer showed, as text.
  if (lv.nfc != 23 && lv.start != 1) {
    if (!p.listText.trimmed().isEmpty()) cursor_.insertText(p.listText, charFormat(p.listProps));
    return true;
  }
  std::array<QTextList *, 9> &lists = levelLists_[p.props.ls];
  for (int i = level + 1; i < 9; ++i) lists[size_t(i)] = nullptr;  // a higher level starts the deeper ones anew
  QTextBlockFormat bf = cursor_.blockFormat();
  bf.setLeftMargin(std::max(0.0, p.props.li / kTwipsPerUnit - (level + 1) * doc_->indentWidth()));
  bf.setTextIndent(0);
  cursor_.setBlockFormat(bf);
  QTextList *&list = lists[size_t(level)];
  if (list && list->format().style() == style) {
    list->add(cursor_.block());
  } else {
    QTextListFormat lf;
    lf.setStyle(style);
    lf.setIndent(level + 1);
    list = cursor_.createList(lf);
  }
  return true;
}

bool Reader::endRow() {
  if (!cellParas_.empty()) {
    rowCells_.push_back(std::move(cellParas_));
    cellParas_.clear();
  }
  std::vector<std::vector<Para>> cells = std::move(rowCells_);
  rowCells_.clear();
  if (cells.empty()) return true;
  if (int(cells.size()) > lim_.maxColumns) {
    warn(QObject::tr("A table row has more than %1 cells; the rest are joined into the last.").arg(lim_.maxColumns));
    auto &last = cells[size_t(lim_.maxColumns - 1)];
    for (size_t i = size_t(lim_.maxColumns); i < cells.size(); ++i)
      for (auto &p : cells[i]) last.push_back(std::move(p));
    cells.resize(size_t(lim_.maxColumns));
  }
  const int cols = int(cells.size());
  list_ = nullptr;
  int row = 0;
  if (table_ && lastWasRow_) {
    if (cols > table_->columns()) table_->appendColumns(cols - table_->columns());
    table_->appendRows(1);
    row = table_->rows() - 1;
  } else {
    cursor_.movePosition(QTextCursor::End);
    QTextTableFormat tf;
    tf.setCellPadding(2);
    tf.setBorder(1);
    tf.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    tf.setBorderCollapse(true);
    // The columns as wide as the row's cell edges (\cellx, in twips from the left) say.
    if (int(rowCellx_.size()) == cols) {
      QList<QTextLength> widths;
      int left = 0;
      for (int edge : rowCellx_) {
        widths << QTextLength(QTextLength::FixedLength, std::max(1, edge - left) / kTwipsPerUnit);
        left = std::max(left, edge);
      }
      tf.setColumnWidthConstraints(widths);
    }
    table_ = cursor_.insertTable(1, cols, tf);
  }
  for (int c = 0; c < cols; ++c) {
    QTextCursor cc = table_->cellAt(row, c).firstCursorPosition();
    bool first = true;
    for (Para &p : cells[size_t(c)]) {
      ParaProps props = p.props;
      props.intbl = false;
      const QTextBlockFormat bf = blockFormat(props, false);
      const QTextCharFormat cf = charFormat(p.runs.empty() ? CharProps{} : p.runs.front().props);
      if (first) {
        cc.setBlockFormat(bf);
        cc.setBlockCharFormat(cf);
      } else {
        cc.insertBlock(bf, cf);
      }
      first = false;
      if (!p.listText.trimmed().isEmpty()) cc.insertText(p.listText, charFormat(p.listProps));
      insertRuns(cc, p);
    }
  }
  lastWasRow_ = true;
  freshBlock_ = true;  // the document's block after the table takes the next paragraph
  return true;
}

}  // namespace

ReadResult readRtf(const QByteArray &rtf, QTextDocument *doc, const ReadLimits &limits) {
  const bool undo = doc->isUndoRedoEnabled();
  doc->setUndoRedoEnabled(false);
  doc->clear();
  Reader reader(rtf, doc, limits);
  ReadResult r = reader.run();
  doc->setUndoRedoEnabled(undo);
  return r;
}

ReadResult readRtfFile(const QString &path, QTextDocument *doc, const ReadLimits &limits) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    doc->clear();
    ReadResult r;
    r.error = QObject::tr("Cannot open %1: %2").arg(path, f.errorString());
    return r;
  }
  return readRtf(f.readAll(), doc, limits);
}

}  // namespace rtf
