// The RTF writer (rtfcodec.h): the document as RTF, with what the reader kept put back where it stood.
#include "formats/rtf/rtfcodec.h"
#include "platform/savefile.h"

#include "formats/rtf/rtfkept.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace rtf {

namespace {

class Writer {
 public:
  explicit Writer(const QTextDocument *doc);
  QByteArray run();

 private:
  int fontIndex(const QString &family) {
    const auto it = fontIndex_.constFind(family);
    if (it != fontIndex_.constEnd()) return *it;
    const int i = nextFont_++;
    fonts_ << family;
    fontIndex_.insert(family, i);
    return i;
  }
  int colorIndex(const QColor &c) {
    const QRgb key = c.rgb();
    const auto it = colorIndex_.constFind(key);
    if (it != colorIndex_.constEnd()) return *it;
    const int i = int(colors_.size());
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
  void text(const QString &s) { kept::appendText(out_, s, cp1252Fallback_); }
  void charProps(const QTextCharFormat &f);
  // Opens and closes fields so that exactly those of f are open (the outermost first).
  void fields(const QTextCharFormat &f);
  void closeFields() { fields(QTextCharFormat()); }
  void object(const QTextCharFormat &f);
  void paraProps(const QTextBlock &b, bool inTable);
  static int numberKind(const QTextList *l);
  void assignList(const QTextList *l);
  void block(const QTextBlock &b, bool inTable);
  void frame(const QTextFrame *f);
  void table(const QTextTable *t);
  // Clamped: a model can hold any double, RTF parameters are 16-bit in most readers.
  static int twips(double units) { return int(std::lround(std::clamp(units * kTwipsPerUnit, -31680.0, 31680.0))); }

  const QTextDocument *doc_;
  QByteArray out_;
  QByteArray keptFonts_;  // the font table read, whole; fonts_ are the ones added to it
  int nextFont_ = 0;
  int deff_ = 0;
  bool cp1252Fallback_ = true;
  QStringList fonts_;
  QHash<QString, int> fontIndex_;
  QList<QColor> colors_;  // entry 0 is the automatic colour unless the table read had a colour there
  QHash<QRgb, int> colorIndex_;
  QStringList openFields_;  // keys of the fields open now, outermost first
  bool fieldClosed_ = false;  // a field closed since the paragraph's properties were written
  QHash<const QTextList *, int> lists_;  // list -> \ls number
  std::vector<std::array<int, 9>> families_;  // per \ls: the kind of number of each level (-1: none given)
  int currentFamily_ = 0;
  QTextBlock last_;
};

Writer::Writer(const QTextDocument *doc) : doc_(doc) {
  // The tables of the file the document was read from keep their numbers: kept groups refer to them.
  keptFonts_ = doc->property("rtf.fontTable").toByteArray();
  if (!keptFonts_.isEmpty()) {
    const QVariantMap numbers = doc->property("rtf.fontNumbers").toMap();
    for (auto it = numbers.constBegin(); it != numbers.constEnd(); ++it) fontIndex_.insert(it.key(), it.value().toInt());
    nextFont_ = doc->property("rtf.fontHighest").toInt() + 1;
    deff_ = std::max(0, doc->property("rtf.deff").toInt());
  }
  const QVariantList colours = doc->property("rtf.colors").toList();
  if (colours.isEmpty()) {
    colors_ << QColor();
  } else {
    for (const QVariant &v : colours) {
      const QColor c = v.value<QColor>();
      if (c.isValid() && colors_.size() > 0 && !colorIndex_.contains(c.rgb())) colorIndex_.insert(c.rgb(), int(colors_.size()));
      colors_ << c;
    }
  }
  const QVariant cp = doc->property("rtf.codePage");
  cp1252Fallback_ = !cp.isValid() || cp.toInt() == 1252;
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
  if (f.hasProperty(kCharStyleProperty)) out_ += "\\cs" + QByteArray::number(f.intProperty(kCharStyleProperty));
  out_ += ' ';
}

void Writer::fields(const QTextCharFormat &f) {
  QStringList keys;
  QList<QByteArray> insts;
  const QVariantList ids = f.property(kFieldIdsProperty).toList();
  const QVariantList instList = f.property(kFieldInstsProperty).toList();
  for (qsizetype i = 0; i < ids.size(); ++i) {
    keys << QStringLiteral("f%1").arg(ids[i].toInt());
    insts << (i < instList.size() ? instList[i].toByteArray() : QByteArray());
  }
  // A link made here (pasted, say) has no field yet: one is written for its target.
  if (f.isAnchor() && !f.anchorHref().isEmpty() && ids.isEmpty()) {
    keys << QStringLiteral("h") + f.anchorHref();
    insts << kept::hyperlinkInstruction(f.anchorHref());
  }
  qsizetype same = 0;
  while (same < keys.size() && same < openFields_.size() && keys[same] == openFields_[same]) ++same;
  while (openFields_.size() > same) {
    out_ += "}}";
    openFields_.removeLast();
    fieldClosed_ = true;
  }
  for (qsizetype i = same; i < keys.size(); ++i) {
    out_ += "{\\field" + insts[i] + "{\\fldrslt ";
    openFields_ << keys[i];
  }
}

void Writer::object(const QTextCharFormat &f) {
  QByteArray raw = f.property(kRawGroupProperty).toByteArray();
  if (raw.isEmpty() && f.isImageFormat()) {
    // A picture the document got elsewhere: written from its image.
    const QTextImageFormat img = f.toImageFormat();
    const QVariant res = doc_->resource(QTextDocument::ImageResource, QUrl(img.name()));
    QImage image = res.value<QImage>();
    if (image.isNull()) image = res.value<QPixmap>().toImage();
    raw = kept::pictureGroup(image, img.width(), img.height());
  }
  if (raw.isEmpty()) return;
  out_ += '{';
  charProps(f);
  out_ += raw;
  out_ += '}';
}

void Writer::paraProps(const QTextBlock &b, bool inTable) {
  const QTextBlockFormat f = b.blockFormat();
  out_ += "\\pard";
  if (inTable) out_ += "\\intbl";
  if (f.hasProperty(kParaStyleProperty)) out_ += "\\s" + QByteArray::number(f.intProperty(kParaStyleProperty));
  const bool rtl = f.hasProperty(QTextFormat::LayoutDirection) && f.layoutDirection() == Qt::RightToLeft;
  if (rtl) out_ += "\\rtlpar";
  Qt::Alignment a = f.alignment() & Qt::AlignHorizontal_Mask;
  // RTF's left in a right-to-left paragraph is its start, as Qt's left is unless marked absolute.
  if (rtl && (f.alignment() & Qt::AlignAbsolute) && (a & (Qt::AlignLeft | Qt::AlignRight)) && !(a & Qt::AlignJustify))
    a = (a & Qt::AlignLeft) ? Qt::AlignRight : Qt::AlignLeft;
  if (a & Qt::AlignHCenter) out_ += "\\qc";
  else if (a & Qt::AlignJustify) out_ += "\\qj";
  else if (a & Qt::AlignRight) out_ += "\\qr";
  else out_ += "\\ql";
  double left = f.leftMargin() + f.indent() * doc_->indentWidth();
  double first = f.textIndent();
  if (const QTextList *l = b.textList()) {
    left += l->format().indent() * doc_->indentWidth();
    first = -24;  // the bullet or number hangs a quarter inch in front of the text
    out_ += "\\ls" + QByteArray::number(lists_.value(l)) + "\\ilvl" +
            QByteArray::number(std::clamp(l->format().indent() - 1, 0, 8));
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
  // A field that ends before this paragraph is closed before its properties: they would end with its group.
  for (auto it = b.begin(); !it.atEnd(); ++it)
    if (it.fragment().isValid()) {
      fields(it.fragment().charFormat());
      break;
    }
  paraProps(b, inTable);
  fieldClosed_ = false;
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
    const QTextCharFormat cf = frag.charFormat();
    fields(cf);
    if (cf.isImageFormat() || cf.objectType() == kOpaqueObjectType) {
      for (const QChar ch : frag.text())
        if (ch == QChar::ObjectReplacementCharacter) object(cf);
    } else {
      out_ += '{';
      charProps(cf);
      text(frag.text());
      out_ += '}';
    }
    any = true;
  }
  if (inTable) closeFields();  // a field does not run from one cell into the next
  // The properties written inside a field's group ended with it: the paragraph's mark needs them again.
  if (fieldClosed_) paraProps(b, inTable);
  if (!any) charProps(b.charFormat());  // an empty paragraph keeps its font size
  if (!inTable && (b.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysAfter)) {
    // written as a break before the next paragraph, the way \page reads back
    if (b != last_) out_ += "\\par\\page ";
    return;
  }
  if (inTable) return;  // the caller ends a cell's paragraphs
  // The last paragraph needs no mark, unless it is empty: then only the mark makes it one.
  // (Nor after its text's field closed: its properties written again stand after the text, and only a mark
  // makes them the paragraph's.)
  if (b != last_ || (b.length() <= 1 && b != doc_->begin()) || fieldClosed_) out_ += "\\par\n";
}

void Writer::table(const QTextTable *t) {
  closeFields();
  const int cols = t->columns();
  // Cell edges from the columns' widths where they are fixed, else the page's width shared out.
  const QList<QTextLength> widths = t->format().columnWidthConstraints();
  const bool fixed = widths.size() == cols && std::all_of(widths.begin(), widths.end(), [](const QTextLength &l) {
                       return l.type() == QTextLength::FixedLength;
                     });
  QByteArray edges;
  double left = 0;
  for (int c = 0; c < cols; ++c) {
    left += fixed ? widths[c].rawValue() * kTwipsPerUnit : 9000.0 / std::max(cols, 1);
    edges += "\\cellx" + QByteArray::number(qlonglong(std::lround(std::min(left, 1e9))));
  }
  for (int r = 0; r < t->rows(); ++r) {
    out_ += "\\trowd\\trgaph108" + edges;
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
  // Out of the table: a paragraph whose properties end with a group (a field's) falls back to these.
  out_ += "\\pard ";
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

int Writer::numberKind(const QTextList *l) {
  switch (l->format().style()) {
    case QTextListFormat::ListDisc: case QTextListFormat::ListCircle: case QTextListFormat::ListSquare: return 23;
    case QTextListFormat::ListLowerAlpha: return 4;
    case QTextListFormat::ListUpperAlpha: return 3;
    case QTextListFormat::ListLowerRoman: return 2;
    case QTextListFormat::ListUpperRoman: return 1;
    default: return 0;
  }
}

void Writer::assignList(const QTextList *l) {
  const int level = std::clamp(l->format().indent() - 1, 0, 8);
  const int nfc = numberKind(l);
  if (const auto it = lists_.constFind(l); it != lists_.constEnd()) {
    currentFamily_ = *it;
    return;
  }
  // A nested list joins the list it follows, unless that one numbers its level otherwise.
  int family = 0;
  if (level > 0 && currentFamily_ > 0) {
    const int had = families_[size_t(currentFamily_ - 1)][size_t(level)];
    if (had < 0 || had == nfc) family = currentFamily_;
  }
  if (family == 0) {
    std::array<int, 9> levels;
    levels.fill(-1);
    families_.push_back(levels);
    family = int(families_.size());
  }
  families_[size_t(family - 1)][size_t(level)] = nfc;
  lists_.insert(l, family);
  currentFamily_ = family;
}

QByteArray Writer::run() {
  last_ = doc_->lastBlock();
  fontIndex(doc_->defaultFont().family());
  for (QTextBlock b = doc_->begin(); b.isValid(); b = b.next()) {
    collect(b.charFormat());
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().isValid()) collect(it.fragment().charFormat());
    if (const QTextList *l = b.textList()) assignList(l);
  }
  QByteArray charset = doc_->property("rtf.charset").toByteArray();
  if (charset.isEmpty()) charset = "\\ansi\\ansicpg1252";
  else if (charset == "\\ansi") charset += "\\ansicpg1252";
  out_ = "{\\rtf1" + charset + "\\deff" + QByteArray::number(deff_) + "\\uc1\n";
  // The font table read, whole (its entries keep what we do not model), and then the fonts added.
  out_ += keptFonts_.isEmpty() ? QByteArray("{\\fonttbl") : keptFonts_.chopped(1);
  for (int i = 0; i < fonts_.size(); ++i) {
    out_ += "{\\f" + QByteArray::number(fontIndex_.value(fonts_[i])) + "\\fnil\\fcharset0 ";
    text(fonts_[i]);
    out_ += ";}";
  }
  out_ += "}\n{\\colortbl";
  for (const QColor &c : colors_) {
    if (c.isValid())
      out_ += "\\red" + QByteArray::number(c.red()) + "\\green" + QByteArray::number(c.green()) + "\\blue" +
              QByteArray::number(c.blue());
    out_ += ';';
  }
  out_ += "}\n";
  out_ += doc_->property("rtf.head").toByteArray();
  if (!families_.empty()) {
    // One list per top-level QTextList with the lists nested in it as its deeper levels, so that each
    // numbering starts on its own and readers see the nesting.
    QByteArray table = "{\\*\\listtable";
    QByteArray overrides = "{\\*\\listoverridetable";
    for (size_t i = 0; i < families_.size(); ++i) {
      const QByteArray id = QByteArray::number(qulonglong(i + 1));
      table += "{\\list\\listtemplateid" + id;
      for (int level = 0; level < 9; ++level) {
        const int nfc = std::max(0, families_[i][size_t(level)]);
        const QByteArray levelText = nfc == 23 ? QByteArray("{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}")
                                               : "{\\leveltext\\'02\\'0" + QByteArray::number(level) + ".;}{\\levelnumbers\\'01;}";
        table += "{\\listlevel\\levelnfc" + QByteArray::number(nfc) + "\\leveljc0\\levelfollow0\\levelstartat1" + levelText +
                 "\\fi-360\\li" + QByteArray::number(720 * (level + 1)) + "}";
      }
      table += "\\listid" + id + "}";
      overrides += "{\\listoverride\\listid" + id + "\\listoverridecount0\\ls" + id + "}";
    }
    out_ += table + "}\n" + overrides + "}\n";
  }
  const QByteArray format = doc_->property("rtf.docFormat").toByteArray();
  if (!format.isEmpty()) out_ += format + '\n';
  frame(doc_->rootFrame());
  closeFields();
  out_ += "}\n";
  return out_;
}

}  // namespace

QStringList documentLosses(const QTextDocument *doc) { return doc->property("rtf.losses").toStringList(); }
void forgetLosses(QTextDocument *doc) { doc->setProperty("rtf.losses", QVariant()); }

QByteArray writeRtf(const QTextDocument *doc) {
  Writer w(doc);
  return w.run();
}

bool writeRtfFile(const QString &path, const QTextDocument *doc, QString *error) {
  QString why;
  if (!platform::saveFileKeepingAttributes(path, writeRtf(doc), &why)) {
    if (error) *error = QObject::tr("Cannot save %1: %2").arg(path, why);
    return false;
  }
  return true;
}

}  // namespace rtf
