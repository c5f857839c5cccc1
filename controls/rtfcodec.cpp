#include "controls/rtfcodec.h"
#include "platform/savefile.h"

#include "controls/rtfcodepages.h"

#include <QColor>
#include <QFile>
#include <QHash>
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

// Names the Qt build may know for the multi-byte code pages of East Asian Windows.
const char *decoderName(int cp) {
  switch (cp) {
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "windows-949";
    case 950: return "Big5";
    case 1361: return "Johab";
    case 65001: return "UTF-8";
    default: return nullptr;
  }
}

// \fcharset values to Windows code pages; 0 for "the document's code page".
int charsetCodePage(int charset) {
  switch (charset) {
    case 0: return 1252;
    case 2: return 1252;  // symbol fonts: bytes are glyph numbers, 1252 keeps them visible
    case 77: return 10000;
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
  bool operator==(const CharProps &) const = default;
};

struct ParaProps {
  int align = 0;  // 0 left, 1 centre, 2 right, 3 justified
  int fi = 0, li = 0, ri = 0, sb = 0, sa = 0;
  int ls = 0;
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
};

struct Run {
  QString text;
  CharProps props;
};

struct Para {
  ParaProps props;
  std::vector<Run> runs;
  QString listText;
  CharProps listProps;
  bool pageBefore = false;
  bool empty() const { return runs.empty() && listText.isEmpty(); }
};

struct Font {
  QString name;
  int cp = 0;
};

enum Kw : int {
  K_unknown = 0,
  // destinations
  K_rtf, K_fonttbl, K_colortbl, K_skipdest, K_listtext, K_pntext, K_object, K_result, K_upr, K_ud,
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
};

const std::unordered_map<std::string_view, Kw> &keywords() {
  static const std::unordered_map<std::string_view, Kw> map = [] {
    std::unordered_map<std::string_view, Kw> m{
        {"rtf", K_rtf}, {"fonttbl", K_fonttbl}, {"colortbl", K_colortbl}, {"listtext", K_listtext},
        {"pntext", K_pntext}, {"object", K_object}, {"result", K_result}, {"upr", K_upr}, {"ud", K_ud},
        {"pict", K_pict}, {"shppict", K_pict}, {"field", K_field}, {"fldrslt", K_fldrslt},
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
    // Destinations written without \* that hold no shown text.
    for (const char *d : {"info", "stylesheet", "header", "headerl", "headerr", "headerf", "footer", "footerl",
                          "footerr", "footerf", "footnote", "annotation", "fldinst", "pn", "xe", "tc", "txe",
                          "rxe", "listtable", "listoverridetable", "revtbl", "nonshppict", "shp", "shprslt",
                          "objdata", "objclass", "objname", "bkmkstart", "bkmkend", "template", "docvar",
                          "title", "subject", "author", "operator", "keywords", "comment", "doccomm",
                          "falt", "panose", "fname", "datafield", "atnid", "atnauthor", "atnref", "atndate",
                          "themedata", "colorschememapping", "latentstyles", "datastore", "xmlnstbl",
                          "generator", "rsidtbl", "mmathPr", "pgdsctbl", "listpicture", "pnseclvl",
                          "pntxta", "pntxtb", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc",
                          "aftncn", "private"})
      m.emplace(d, K_skipdest);
    return m;
  }();
  return map;
}

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
  bool controlSymbol(char c);
  void textByte(char c);
  void flushBytes();
  void addText(const QString &s);
  void addChar(char16_t c) { addText(QString(QChar(c))); }
  int codePageNow();
  void commitFont();
  void commitColor();

  // Building the document
  bool endParagraph(bool cell);
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
  int skippedPictures_ = 0;
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
    // After the document's closing brace only white space may follow; anything else means a brace closed
    // the document early and the rest would be lost.
    while (pos_ < n_ && (s_[pos_] == ' ' || s_[pos_] == '\r' || s_[pos_] == '\n' || s_[pos_] == '\t' || s_[pos_] == '\0')) ++pos_;
    if (pos_ < n_) fail(QObject::tr("The file's braces are unbalanced: text follows the end of the document."));
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
  if (skippedPictures_ > 0) warn(QObject::tr("%n picture(s) not shown.", nullptr, skippedPictures_));
  result_.ok = true;
  return result_;
}

bool Reader::finishDocument() {
  flushBytes();
  if (!para_.empty() && !endParagraph(false)) return false;
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
    stack_.push_back(s);
  }
  return true;
}

bool Reader::closeGroup() {
  flushBytes();
  starNext_ = false;
  if (stack_.empty()) return true;
  if (stack_.size() == 1 && !finishDocument()) return false;
  if (st().dest == Dest::FontTable && st().fontNum >= 0 && !fontName_.isEmpty()) commitFont();
  const Dest was = st().dest;
  stack_.pop_back();
  if (stack_.empty()) {
    finished_ = true;
    return true;
  }
  // A font entry whose name ended without ";" still names its font.
  if (was == Dest::FontTable && st().dest == Dest::FontTable) st().fontNum = -1;
  return true;
}

int Reader::codePageNow() {
  const State &s = st();
  if (s.dest == Dest::FontTable) return s.fontCp > 0 ? s.fontCp : docCp_;
  const int f = s.chr.font >= 0 ? s.chr.font : deff_;
  if (auto it = fonts_.constFind(f); it != fonts_.constEnd() && it->cp > 0) return it->cp;
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
      if (t.chr.hidden) return;
      if (!para_.runs.empty() && para_.runs.back().props == t.chr) para_.runs.back().text += s;
      else para_.runs.push_back(Run{s, t.chr});
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
  const auto &map = keywords();
  const auto it = map.find(name);
  const Kw kw = it == map.end() ? K_unknown : it->second;

  if (skipChars_ > 0 && kw != K_bin) {
    --skipChars_;
    return true;
  }
  State &s = st();
  if (star && (kw == K_unknown || kw == K_skipdest)) {
    s.dest = Dest::Skip;
    return true;
  }
  if (kw == K_bin) {
    // \binN: N raw bytes follow; they are never text.
    const qint64 len = hasParam && param > 0 ? param : 0;
    if (len > n_ - pos_) return fail(QObject::tr("The file is incomplete: binary data runs past its end."));
    pos_ += qsizetype(len);
    if (skipChars_ > 0) --skipChars_;
    return true;
  }
  if (s.dest == Dest::Skip) return true;
  if (s.dest == Dest::Alternate) {
    if (kw == K_result || kw == K_ud) s.dest = Dest::Body;
    else if (kw == K_pict) ++skippedPictures_;
    return true;
  }
  const int p = hasParam ? param : 0;
  const bool on = !hasParam || param != 0;

  if (s.dest == Dest::FontTable) {
    switch (kw) {
      case K_f:
        if (!fontName_.isEmpty() && s.fontNum >= 0) commitFont();
        s.fontNum = p;
        s.fontCp = 0;
        return true;
      case K_fcharset: s.fontCp = charsetCodePage(p); return true;
      case K_cpg: if (p > 0) s.fontCp = p; return true;
      case K_skipdest: s.dest = Dest::Skip; return true;
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

  switch (kw) {
    case K_unknown: return true;
    case K_skipdest: s.dest = Dest::Skip; return true;
    case K_pict: ++skippedPictures_; s.dest = Dest::Skip; return true;
    case K_object: s.dest = Dest::Alternate; return true;
    case K_upr: s.dest = Dest::Alternate; return true;
    case K_result: case K_ud: case K_fldrslt: case K_field: case K_rtf: return true;
    case K_fonttbl: s.dest = Dest::FontTable; s.fontNum = -1; return true;
    case K_colortbl: s.dest = Dest::ColorTable; return true;
    case K_listtext: case K_pntext:
      para_.listText.clear();
      s.dest = Dest::ListText;
      return true;
    case K_ansi: docCp_ = 1252; return true;
    case K_mac: docCp_ = 10000; return true;
    case K_pc: docCp_ = 437; return true;
    case K_pca: docCp_ = 850; return true;
    case K_ansicpg: if (p > 0) docCp_ = p; return true;
    case K_deff: deff_ = p; return true;
    case K_f: s.chr.font = p; return true;
    case K_plain: {
      s.chr = CharProps{};
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
    case K_pard: s.para = ParaProps{}; return true;
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
    case K_pagebb: s.para.pageBefore = on; return true;
    case K_par: case K_sect:
      if (s.dest == Dest::Body) return endParagraph(false);
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

QTextBlockFormat Reader::blockFormat(const ParaProps &p, bool pageBefore) const {
  QTextBlockFormat f;
  static const Qt::Alignment aligns[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight, Qt::AlignJustify};
  f.setAlignment(aligns[p.align]);
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
  lastProps_ = p;
  lastFormat_ = f;
  haveLastFormat_ = true;
  return f;
}

void Reader::insertRuns(QTextCursor &c, const Para &p) {
  for (const Run &r : p.runs) c.insertText(r.text, charFormat(r.props));
}

bool Reader::endParagraph(bool cell) {
  Para p = std::move(para_);
  para_ = Para{};
  p.props = st().para;
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
    if (!p.listText.isEmpty()) cursor_.insertText(p.listText, charFormat(p.listProps));
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
      if (!p.listText.isEmpty()) cc.insertText(p.listText, charFormat(p.listProps));
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

// ---------------------------------------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------------------------------------
namespace {

class Writer {
 public:
  explicit Writer(const QTextDocument *doc) : doc_(doc) {}
  QByteArray run();

 private:
  int fontIndex(const QString &family) {
    const auto it = fontIndex_.constFind(family);
    if (it != fontIndex_.constEnd()) return *it;
    const int i = int(fonts_.size());
    fonts_ << family;
    fontIndex_.insert(family, i);
    return i;
  }
  int colorIndex(const QColor &c) {
    const QRgb key = c.rgb();
    const auto it = colorIndex_.constFind(key);
    if (it != colorIndex_.constEnd()) return *it;
    const int i = int(colors_.size()) + 1;  // entry 0 is the automatic colour
    colors_ << c;
    colorIndex_.insert(key, i);
    return i;
  }
  QString family(const QTextCharFormat &f) const {
    const QStringList fams = f.fontFamilies().toStringList();
    QString name = !fams.isEmpty() ? fams.front() : f.stringProperty(QTextFormat::FontFamily);
    if (name.isEmpty()) name = doc_->defaultFont().family();
    return name.remove(u';');  // ";" ends a font table entry
  }
  void collect(const QTextCharFormat &f) {
    fontIndex(family(f));
    if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) colorIndex(f.foreground().color());
    if (f.hasProperty(QTextFormat::BackgroundBrush) && f.background().style() != Qt::NoBrush) colorIndex(f.background().color());
  }
  void text(const QString &s);
  void charProps(const QTextCharFormat &f);
  void paraProps(const QTextBlock &b, bool inTable);
  void block(const QTextBlock &b, bool inTable);
  void frame(const QTextFrame *f);
  void table(const QTextTable *t);
  // Clamped: a model can hold any double, RTF parameters are 16-bit in most readers.
  static int twips(double units) { return int(std::lround(std::clamp(units * kTwipsPerUnit, -31680.0, 31680.0))); }

  const QTextDocument *doc_;
  QByteArray out_;
  QStringList fonts_;
  QHash<QString, int> fontIndex_;
  QList<QColor> colors_;
  QHash<QRgb, int> colorIndex_;
  QHash<const QTextList *, int> lists_;  // list -> \ls number
  std::vector<const QTextList *> listOrder_;
  QTextBlock last_;
};

// Bytes of code page 1252 for its characters above 0x7F: the fallback after \uN for readers without Unicode.
int cp1252Byte(char16_t c) {
  const detail::CodePageTable *t = tableFor(1252);
  for (int i = 0; i < 128; ++i)
    if (t->high[i] == c) return 0x80 + i;
  return -1;
}

void Writer::text(const QString &s) {
  for (const QChar ch : s) {
    const char16_t c = ch.unicode();
    switch (c) {
      case u'\\': out_ += "\\\\"; continue;
      case u'{': out_ += "\\{"; continue;
      case u'}': out_ += "\\}"; continue;
      case u'\t': out_ += "\\tab "; continue;
      case u'\u2028': case u'\n': case u'\r': out_ += "\\line "; continue;
      case u'\u00A0': out_ += "\\~"; continue;
      case u'\u00AD': out_ += "\\-"; continue;
      case u'\u2011': out_ += "\\_"; continue;
      case u'\uFFFC': continue;  // an embedded object: no picture support
      default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out_ += char(c);
    } else if (c < 0x20) {
      continue;
    } else {
      out_ += "\\u" + QByteArray::number(c > 32767 ? int(c) - 65536 : int(c));
      const int b = cp1252Byte(c);
      if (b >= 0) out_ += "\\'" + QByteArray::number(b, 16).rightJustified(2, '0');
      else out_ += '?';
    }
  }
}

void Writer::charProps(const QTextCharFormat &f) {
  out_ += "\\plain\\f" + QByteArray::number(fontIndex(family(f)));
  double pt = 0;
  if (f.hasProperty(QTextFormat::FontPointSize)) pt = f.fontPointSize();
  else if (f.hasProperty(QTextFormat::FontPixelSize)) pt = f.intProperty(QTextFormat::FontPixelSize) * 0.75;
  if (pt <= 0) pt = doc_->defaultFont().pointSizeF();
  if (pt <= 0) pt = 12;
  out_ += "\\fs" + QByteArray::number(int(std::lround(std::clamp(pt, 0.5, 1638.0) * 2)));
  if (f.fontWeight() >= QFont::DemiBold) out_ += "\\b";
  if (f.fontItalic()) out_ += "\\i";
  if (f.fontUnderline()) out_ += "\\ul";
  if (f.fontStrikeOut()) out_ += "\\strike";
  if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript) out_ += "\\super";
  else if (f.verticalAlignment() == QTextCharFormat::AlignSubScript) out_ += "\\sub";
  if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush)
    out_ += "\\cf" + QByteArray::number(colorIndex(f.foreground().color()));
  if (f.hasProperty(QTextFormat::BackgroundBrush) && f.background().style() != Qt::NoBrush)
    out_ += "\\highlight" + QByteArray::number(colorIndex(f.background().color()));
  out_ += ' ';
}

void Writer::paraProps(const QTextBlock &b, bool inTable) {
  const QTextBlockFormat f = b.blockFormat();
  out_ += "\\pard";
  if (inTable) out_ += "\\intbl";
  const Qt::Alignment a = f.alignment() & Qt::AlignHorizontal_Mask;
  if (a & Qt::AlignHCenter) out_ += "\\qc";
  else if (a & Qt::AlignJustify) out_ += "\\qj";
  else if (a & Qt::AlignRight) out_ += "\\qr";
  else out_ += "\\ql";
  double left = f.leftMargin() + f.indent() * doc_->indentWidth();
  double first = f.textIndent();
  if (const QTextList *l = b.textList()) {
    left += l->format().indent() * doc_->indentWidth();
    first = -24;  // the bullet or number hangs a quarter inch in front of the text
    out_ += "\\ls" + QByteArray::number(lists_.value(l));
  }
  if (first) out_ += "\\fi" + QByteArray::number(twips(first));
  if (left) out_ += "\\li" + QByteArray::number(twips(left));
  if (f.rightMargin()) out_ += "\\ri" + QByteArray::number(twips(f.rightMargin()));
  if (f.topMargin()) out_ += "\\sb" + QByteArray::number(twips(f.topMargin()));
  if (f.bottomMargin()) out_ += "\\sa" + QByteArray::number(twips(f.bottomMargin()));
  if (!inTable && (f.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)) out_ += "\\pagebb";
  out_ += ' ';
}

void Writer::block(const QTextBlock &b, bool inTable) {
  paraProps(b, inTable);
  if (const QTextList *l = b.textList()) {
    out_ += "{\\listtext";
    charProps(b.charFormat());
    const QTextListFormat::Style style = l->format().style();
    if (style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle || style == QTextListFormat::ListSquare)
      text(QStringLiteral("\u2022"));
    else
      text(l->itemText(b));
    out_ += "\\tab}";
  }
  bool any = false;
  for (auto it = b.begin(); !it.atEnd(); ++it) {
    const QTextFragment frag = it.fragment();
    if (!frag.isValid()) continue;
    out_ += '{';
    charProps(frag.charFormat());
    text(frag.text());
    out_ += '}';
    any = true;
  }
  if (!any) charProps(b.charFormat());  // an empty paragraph keeps its font size
  if (!inTable && (b.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysAfter)) {
    // written as a break before the next paragraph, the way \page reads back
    if (b != last_) out_ += "\\par\\page ";
    return;
  }
  if (inTable) return;  // the caller ends a cell's paragraphs
  // The last paragraph needs no mark, unless it is empty: then only the mark makes it one.
  if (b != last_ || (b.length() <= 1 && b != doc_->begin())) out_ += "\\par\n";
}

void Writer::table(const QTextTable *t) {
  const int cols = t->columns();
  const int width = 9000 / std::max(cols, 1);
  for (int r = 0; r < t->rows(); ++r) {
    out_ += "\\trowd\\trgaph108";
    for (int c = 0; c < cols; ++c) out_ += "\\cellx" + QByteArray::number(width * (c + 1));
    out_ += '\n';
    for (int c = 0; c < cols; ++c) {
      const QTextTableCell cell = t->cellAt(r, c);
      if (cell.row() == r && cell.column() == c) {
        bool firstBlock = true;
        for (QTextFrame::iterator it = cell.begin(); !it.atEnd(); ++it) {
          const QTextBlock b = it.currentBlock();
          if (!b.isValid()) continue;  // a frame inside a cell: its text is not written
          if (!firstBlock) out_ += "\\par ";
          block(b, true);
          firstBlock = false;
        }
        if (firstBlock) out_ += "\\pard\\intbl ";
      } else {
        out_ += "\\pard\\intbl ";  // covered by a spanning cell
      }
      out_ += "\\cell ";
    }
    out_ += "\\row\n";
  }
}

void Writer::frame(const QTextFrame *f) {
  for (QTextFrame::iterator it = f->begin(); !it.atEnd(); ++it) {
    if (const QTextFrame *child = it.currentFrame()) {
      if (const auto *t = qobject_cast<const QTextTable *>(child)) table(t);
      else frame(child);
    } else if (it.currentBlock().isValid()) {
      block(it.currentBlock(), false);
    }
  }
}

QByteArray Writer::run() {
  last_ = doc_->lastBlock();
  fontIndex(doc_->defaultFont().family());
  for (QTextBlock b = doc_->begin(); b.isValid(); b = b.next()) {
    collect(b.charFormat());
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().isValid()) collect(it.fragment().charFormat());
    if (const QTextList *l = b.textList(); l && !lists_.contains(l)) {
      lists_.insert(l, int(listOrder_.size()) + 1);
      listOrder_.push_back(l);
    }
  }
  out_ = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
  for (int i = 0; i < fonts_.size(); ++i) {
    out_ += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
    text(fonts_[i]);
    out_ += ";}";
  }
  out_ += "}\n{\\colortbl;";
  for (const QColor &c : colors_)
    out_ += "\\red" + QByteArray::number(c.red()) + "\\green" + QByteArray::number(c.green()) + "\\blue" +
            QByteArray::number(c.blue()) + ';';
  out_ += "}\n";
  if (!listOrder_.empty()) {
    // One list per QTextList, so each numbering starts on its own.
    QByteArray table = "{\\*\\listtable";
    QByteArray overrides = "{\\*\\listoverridetable";
    for (size_t i = 0; i < listOrder_.size(); ++i) {
      const QTextListFormat lf = listOrder_[i]->format();
      const QByteArray id = QByteArray::number(qulonglong(i + 1));
      int nfc = 0;
      QByteArray levelText = "{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}";
      switch (lf.style()) {
        case QTextListFormat::ListDisc: case QTextListFormat::ListCircle: case QTextListFormat::ListSquare:
          nfc = 23;
          levelText = "{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}";
          break;
        case QTextListFormat::ListLowerAlpha: nfc = 4; break;
        case QTextListFormat::ListUpperAlpha: nfc = 3; break;
        case QTextListFormat::ListLowerRoman: nfc = 2; break;
        case QTextListFormat::ListUpperRoman: nfc = 1; break;
        default: nfc = 0; break;
      }
      table += "{\\list\\listtemplateid" + id + "\\listsimple{\\listlevel\\levelnfc" + QByteArray::number(nfc) +
               "\\leveljc0\\levelfollow0\\levelstartat1" + levelText +
               "\\fi-360\\li720}\\listid" + id + "}";
      overrides += "{\\listoverride\\listid" + id + "\\listoverridecount0\\ls" + id + "}";
    }
    out_ += table + "}\n" + overrides + "}\n";
  }
  frame(doc_->rootFrame());
  out_ += "}\n";
  return out_;
}

}  // namespace

QByteArray writeRtf(const QTextDocument *doc) {
  Writer w(doc);
  return w.run();
}

bool writeRtfFile(const QString &path, const QTextDocument *doc, QString *error) {
  QString why;
  if (!platform::saveFileAtomically(path, writeRtf(doc), &why)) {
    if (error) *error = QObject::tr("Cannot save %1: %2").arg(path, why);
    return false;
  }
  return true;
}

}  // namespace rtf
