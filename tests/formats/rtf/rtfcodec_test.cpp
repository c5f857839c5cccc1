// The RTF reader and writer: hand-made files with the edge cases word processors and attackers produce,
// round trips through our writer checked on the document model, and round trips through LibreOffice.
#include <gtest/gtest.h>

#include "formats/rtf/rtfcodec.h"
#include "tests/common/testenv.h"
#include "tests/formats/rtf/rtffuzzone.h"

#include <QBuffer>
#include <cctype>
#include <QDir>
#include <QImage>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

namespace {

QString textOf(const QByteArray &rtf, rtf::ReadResult *result = nullptr) {
  QTextDocument doc;
  const rtf::ReadResult r = rtf::readRtf(rtf, &doc);
  if (result) *result = r;
  EXPECT_TRUE(r.ok) << r.error.toStdString();
  return doc.toPlainText();
}

// The character format at a text's first occurrence in the document.
QTextCharFormat formatAt(const QTextDocument &doc, const QString &needle) {
  const QTextCursor found = doc.find(needle);
  EXPECT_FALSE(found.isNull()) << needle.toStdString();
  QTextCursor c(const_cast<QTextDocument *>(&doc));
  c.setPosition(found.selectionStart() + 1);
  return c.charFormat();
}

QTextBlock blockWith(const QTextDocument &doc, const QString &needle) {
  const QTextCursor found = doc.find(needle);
  EXPECT_FALSE(found.isNull()) << needle.toStdString();
  return found.block();
}

QString family(const QTextCharFormat &f) {
  const QStringList fams = f.fontFamilies().toStringList();
  return fams.isEmpty() ? QString() : fams.front();
}

}  // namespace

TEST(RtfRead, UnicodeEscapesAndTheirFallbacks) {
  // \uN above 32767 comes negative; \ucN fallbacks (text, \'hh, a control word) are skipped, groups restore
  // \uc, a closing brace ends the skipping early, and surrogate halves join.
  EXPECT_EQ(textOf("{\\rtf1\\ansi\\uc1 a\\u-3913?b\\u8364\\'80c{\\uc2\\u1046 xyd}\\u1047 Ze\\uc0\\u1048 f}"),
            QString::fromUtf16(u"a\uF0B7b\u20ACc\u0416d\u0417e\u0418f"));
  EXPECT_EQ(textOf("{\\rtf1{\\uc3\\u1046 a}b\\u1049\\tab c\\u-10179?\\u-8704?}"),
            QString::fromUtf16(u"\u0416b\u0419c\U0001F600"));
  EXPECT_EQ(textOf("{\\rtf1\\uc2\\u26085\\'93\\'fa!}"), QString::fromUtf16(u"\u65E5!"));
  // A parameter beyond any code unit is a replacement character, not a wrapped value.
  EXPECT_EQ(textOf("{\\rtf1\\u99999999999 x}"), QString(QChar(0xFFFD)));
}

TEST(RtfRead, CodePagesFromTheHeaderAndFromFontCharsets) {
  EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}"),
            QString::fromUtf16(u"\u041F\u0440\u0438\u0432\u0435\u0442"));
  EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1252 \\'e9\\'e8\\'80\\'93q\\'94}"),
            QString::fromUtf16(u"\u00E9\u00E8\u20AC\u201Cq\u201D"));
  EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1250 \\'9a\\'e8}"), QString::fromUtf16(u"\u0161\u010D"));
  // A font's \fcharset decides over the header; 8-bit bytes written raw count like \'hh.
  EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\fcharset204 "
                   "Times;}{\\f2\\fcharset161 G;}}"
                   "\\f0\\'e9\\f1\\'e9\xe9\\f2\\'e1}"),
            QString::fromUtf16(u"\u00E9\u0439\u0439\u03B1"));
  // Font names in their own charset.
  QTextDocument doc;
  ASSERT_TRUE(rtf::readRtf("{\\rtf1{\\fonttbl{\\f0\\fcharset204 \\'c0\\'f0\\'e8\\'e0\\'eb;}}\\f0 x}", &doc).ok);
  EXPECT_EQ(family(formatAt(doc, "x")), QString::fromUtf16(u"\u0410\u0440\u0438\u0430\u043B"));
  // Multi-byte code pages go through the Qt build's codecs when it has them.
  if (QStringDecoder("Shift_JIS").isValid())
    EXPECT_EQ(textOf("{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0\\'93\\'fa}"), QString::fromUtf16(u"\u3042\u65E5"));
  // An unknown code page reads as 1252 and says so.
  rtf::ReadResult r;
  EXPECT_EQ(textOf("{\\rtf1\\ansicpg4242 \\'e9}", &r), QString::fromUtf16(u"\u00E9"));
  EXPECT_EQ(r.warnings.size(), 1);
}

TEST(RtfRead, SpecialCharactersBreaksAndEscapes) {
  QTextDocument doc;
  const QByteArray in =
      "{\\rtf1 a\\{b\\}c\\\\d\\~e\\-f\\_g\\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote"
      "\\tab h\\line i\r\n\\par j\\\nk\\page l\\par}";
  ASSERT_TRUE(rtf::readRtf(in, &doc).ok);
  EXPECT_EQ(doc.toRawText().replace(QChar::ParagraphSeparator, '\n'),
            QString::fromUtf16(
                u"a{b}c\\d\u00A0e\u00ADf\u2011g\u2014\u2013\u2022\u2018\u2019\u201C\u201D\th\u2028i\nj\nk\nl"));
  EXPECT_EQ(doc.blockCount(), 4);
  EXPECT_TRUE(blockWith(doc, "l").blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore);
  EXPECT_FALSE(blockWith(doc, "k").blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore);
}

TEST(RtfRead, CharacterAndParagraphFormattingReachTheModel) {
  QTextDocument doc;
  const rtf::ReadResult r = rtf::readRtf(
      "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fmodern Courier New;}}"
      "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
      "\\pard\\qc\\fi-360\\li720\\ri1440\\sb120\\sa240 \\b bold\\b0  \\i ital\\i0  \\ul under\\ulnone  \\uldb dbl\\ul0 "
      " "
      "\\strike gone\\strike0  \\fs40 big\\fs24  \\cf1 red\\cf0  \\highlight2 lit\\highlight0  \\f1 mono\\f0  "
      "\\super up\\nosupersub  {\\b\\i both} after\\par"
      "\\pard\\qr right\\par\\pard\\qj just\\par\\pard\\plain plain\\par}",
      &doc);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(formatAt(doc, "bold").fontWeight(), QFont::Bold);
  EXPECT_EQ(formatAt(doc, "ital").fontWeight(), QFont::Normal);
  EXPECT_TRUE(formatAt(doc, "ital").fontItalic());
  EXPECT_TRUE(formatAt(doc, "under").fontUnderline());
  EXPECT_TRUE(formatAt(doc, "dbl").fontUnderline());
  EXPECT_TRUE(formatAt(doc, "gone").fontStrikeOut());
  EXPECT_DOUBLE_EQ(formatAt(doc, "big").fontPointSize(), 20.0);
  EXPECT_DOUBLE_EQ(formatAt(doc, "red").fontPointSize(), 12.0);
  EXPECT_EQ(formatAt(doc, "red").foreground().color(), QColor(255, 0, 0));
  EXPECT_FALSE(formatAt(doc, "lit").hasProperty(QTextFormat::ForegroundBrush));
  EXPECT_EQ(formatAt(doc, "lit").background().color(), QColor(0, 0, 255));
  EXPECT_EQ(family(formatAt(doc, "mono")), "Courier New");
  EXPECT_EQ(family(formatAt(doc, "bold")), "Times New Roman");
  EXPECT_EQ(formatAt(doc, "up").verticalAlignment(), QTextCharFormat::AlignSuperScript);
  EXPECT_TRUE(formatAt(doc, "both").fontItalic());
  EXPECT_EQ(formatAt(doc, "both").fontWeight(), QFont::Bold);
  EXPECT_FALSE(formatAt(doc, "after").fontItalic());  // the group's end restored the outer formatting
  const QTextBlockFormat first = blockWith(doc, "bold").blockFormat();
  EXPECT_EQ(first.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_DOUBLE_EQ(first.textIndent(), -24.0);  // twips / 15
  EXPECT_DOUBLE_EQ(first.leftMargin(), 48.0);
  EXPECT_DOUBLE_EQ(first.rightMargin(), 96.0);
  EXPECT_DOUBLE_EQ(first.topMargin(), 8.0);
  EXPECT_DOUBLE_EQ(first.bottomMargin(), 16.0);
  EXPECT_EQ(blockWith(doc, "right").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_DOUBLE_EQ(blockWith(doc, "right").blockFormat().leftMargin(), 0.0);  // \pard reset the indents
  EXPECT_EQ(blockWith(doc, "just").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignJustify);
  EXPECT_EQ(blockWith(doc, "plain").blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  EXPECT_EQ(doc.blockCount(), 4);  // the final \par ends the last paragraph; it opens none
}

TEST(RtfRead, ListsAndTables) {
  QTextDocument doc;
  const rtf::ReadResult r = rtf::readRtf(
      "{\\rtf1{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset2 Symbol;}}"
      "\\pard\\ls1\\fi-360\\li720{\\listtext\\f1 \\'b7\\tab}one\\par{\\listtext\\f1 \\'b7\\tab}two\\par"
      "\\pard\\ls2\\fi-360\\li1440{\\listtext 1.\\tab}first\\par{\\listtext 2.\\tab}second\\par"
      "\\pard{\\pntext\\f0 (iv)\\tab}odd\\par\\pard\\ls2{\\listtext 3.\\tab}three\\par{\\listtext 4.\\tab}four\\par"
      "{\\listtext 1.\\tab}again\\par{\\listtext 2.\\tab}again2\\par"
      "\\pard intro\\par"
      "\\trowd\\cellx2000\\cellx4000\\cellx6000\\pard\\intbl a1\\cell a2\\par more\\cell a3\\cell\\row"
      "\\trowd\\cellx2000\\cellx4000\\cellx6000\\pard\\intbl b1\\cell\\cell b3\\cell\\row"
      "\\pard outro\\par}",
      &doc);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  QTextList *bullets = blockWith(doc, "one").textList();
  ASSERT_NE(bullets, nullptr);
  EXPECT_EQ(bullets->format().style(), QTextListFormat::ListDisc);
  EXPECT_EQ(blockWith(doc, "two").textList(), bullets);
  EXPECT_DOUBLE_EQ(blockWith(doc, "one").blockFormat().leftMargin() + doc.indentWidth(), 48.0);
  QTextList *numbers = blockWith(doc, "first").textList();
  ASSERT_NE(numbers, nullptr);
  EXPECT_NE(numbers, bullets);
  EXPECT_EQ(numbers->format().style(), QTextListFormat::ListDecimal);
  EXPECT_EQ(numbers->count(), 2);
  EXPECT_EQ(blockWith(doc, "odd").textList(), nullptr);  // an unknown list text stays as text
  EXPECT_EQ(blockWith(doc, "odd").text(), "(iv)\todd");
  EXPECT_EQ(blockWith(doc, "intro").textList(), nullptr);
  // Numbers that do not start at 1 stay text (our lists always count from 1); "1." starts a new list.
  EXPECT_EQ(blockWith(doc, "three").textList(), nullptr);
  EXPECT_EQ(blockWith(doc, "four").text(), "4.\tfour");
  QTextList *again = blockWith(doc, "again").textList();
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, numbers);
  EXPECT_EQ(again->count(), 2);

  QTextCursor c = doc.find("a1");
  QTextTable *table = c.currentTable();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->rows(), 2);
  EXPECT_EQ(table->columns(), 3);
  auto cellText = [&](int row, int col) {
    QTextCursor cc = table->cellAt(row, col).firstCursorPosition();
    cc.setPosition(table->cellAt(row, col).lastCursorPosition().position(), QTextCursor::KeepAnchor);
    return cc.selectedText().replace(QChar::ParagraphSeparator, '\n');
  };
  EXPECT_EQ(cellText(0, 0), "a1");
  EXPECT_EQ(cellText(0, 1), "a2\nmore");
  EXPECT_EQ(cellText(0, 2), "a3");
  EXPECT_EQ(cellText(1, 0), "b1");
  EXPECT_EQ(cellText(1, 1), "");
  EXPECT_EQ(cellText(1, 2), "b3");
  EXPECT_EQ(doc.find("outro").currentTable(), nullptr);
  EXPECT_EQ(doc.find("intro").currentTable(), nullptr);
}

namespace {

// What a reader shows: the text without the objects that stand for kept groups.
QString shownText(const QByteArray &rtf, rtf::ReadResult *result = nullptr) {
  return textOf(rtf, result).remove(QChar::ObjectReplacementCharacter);
}

QByteArray pngOf(const QImage &img) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return bytes;
}

// A small picture: red, one blue pixel at the top left.
QImage testPicture(int w = 3, int h = 2) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(QColor(200, 30, 40));
  img.setPixelColor(0, 0, QColor(0, 0, 255));
  return img;
}

// The formats of the objects (U+FFFC) in the document, in order.
QList<QTextCharFormat> objectsOf(const QTextDocument &doc) {
  QList<QTextCharFormat> out;
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      for (QChar ch : it.fragment().text())
        if (ch == QChar::ObjectReplacementCharacter) out << it.fragment().charFormat();
  return out;
}

}  // namespace

// How the writers that make most RTF files write it, read as they mean it.
TEST(RtfRead, WhatOtherWritersWriteReadsAsTheyMeanIt) {
  // StarWriter puts \* in front of single words inside a group: only that word is marked. A \* in front of
  // a formatting word at a group's start names no destination either.
  EXPECT_EQ(shownText("{\\rtf1 A{\\i B\\*\\charscalex90 C\\*\\someword D}E{\\*\\cs15\\b F}G{\\*\\unknowndest H}I}"),
            "ABCDEFGI");
  // Mail programs leave bytes after the document's closing brace: ignored and said (a save will not
  // write them back, so they are listed as lost).
  rtf::ReadResult r;
  EXPECT_EQ(shownText(QByteArray("{\\rtf1 whole\\par text}\r\n\0\0 trailing} bytes{", 43), &r), "whole\ntext");
  EXPECT_TRUE(r.warnings.join(' ').contains("after the end")) << r.warnings.join('|').toStdString();
  EXPECT_EQ(r.losses.size(), 1);
  // Mac files: the Mac code pages of the header, of font charsets, and ANSI fonts of a Mac document.
  EXPECT_EQ(shownText("{\\rtf1\\mac{\\fonttbl{\\f0\\fcharset0 Times;}}\\f0 caf\\'8e \\'9f\\'a5}"),
            QString::fromUtf16(u"caf\u00E9 \u00FC\u2022"));
  EXPECT_EQ(shownText("{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset77 Geneva;}}\\f0 \\'8a}"), QString::fromUtf16(u"\u00E4"));
  ASSERT_TRUE(QStringDecoder("Shift_JIS").isValid());
  EXPECT_EQ(shownText("{\\rtf1\\ansi\\ansicpg10001 \\'82\\'a0\\'93\\'fa}"), QString::fromUtf16(u"\u3042\u65E5"));
  EXPECT_EQ(shownText("{\\rtf1\\ansi{\\fonttbl{\\f1\\fcharset78 Osaka;}}\\f1\\'93\\'fa}"),
            QString::fromUtf16(u"\u65E5"));
  if (QStringDecoder("x-mac-cyrillic").isValid())
    EXPECT_EQ(shownText("{\\rtf1{\\fonttbl{\\f0\\fcharset89 Cyr;}}\\f0\\'80\\'e0}"),
              QString::fromUtf16(u"\u0410\u0430"));

  // AbiWord's numbered lists: list texts of blanks and a tab, the numbers in the list table, a nested level
  // under its own \ls; LibreOffice's unnumbered heading level: a list text of a tab alone.
  const QByteArray abi =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\fnil\\fcharset0 Liberation Serif;}}"
      "{\\*\\listtable{\\list\\listtemplateid1000{\\listlevel\\levelnfc0\\levelstartat1{\\leveltext\\'02\\'00.;}"
      "{\\levelnumbers\\'01;}}{\\listlevel\\levelnfc4\\levelstartat1{\\leveltext\\'04\\'00.\\'01.;}{\\levelnumbers\\'"
      "01\\'03;}}\\listid1}"
      "{\\list\\listtemplateid2{\\listlevel\\levelnfc255\\levelstartat1{\\leveltext \\'00;}}\\listid2}}\n"
      "{\\*\\listoverridetable{\\listoverride\\listoverridecount0\\listid1\\levelnfc0\\levelstartat1{\\leveltext\\'"
      "02\\'00.;}\\ls1}\n"
      "{\\listoverride\\listoverridecount0\\listid1\\levelnfc0{\\leveltext\\'04\\'00.\\'01.;}\\ls2}{"
      "\\listoverride\\listid2\\ls3}}\n"
      "\\pard\\plain{\\listtext\\pard\\plain \\tab}\\ls3 Chapter\\par\n"
      "{\\listtext\\pard\\fi-431\\li720  "
      "\t}\\pard\\plain{\\ltrpar\\ql\\fi-431\\li720\\s28{\\*\\abilist\\abilistid1\\abilistparentid0"
      "\\abilistlevel1\\abistartat1{\\abifieldfont NULL}{\\abilistdecimal "
      ".}}{\\*\\pn\\pnql\\pnstart1\\pnlvlbody\\pndec{\\pntxtb }"
      "{\\pntxta "
      ".}}\\fn-431\\li720\\ls1\\ilvl0\\itap0{\\s28\\f0\\fs24\\lang1024{\\*\\listtag0}first}{\\s28\\f0\\fs24{\\*"
      "\\listtag0}\\par}\n}"
      "{\\listtext\\pard\\fi-431\\li720  "
      "\t}\\pard\\plain{\\ltrpar\\ql\\fi-431\\li720\\ls1\\ilvl0{\\f0{\\*\\listtag0}second}{\\f0\\par}\n}"
      "{\\listtext\\pard\\fi-431\\li1440  "
      "\t}\\pard\\plain{\\ltrpar\\ql\\fi-431\\li1440\\ls2\\ilvl1{\\f0{\\*\\listtag0}inner}{\\f0\\par}\n}"
      "{\\listtext\\pard\\fi-431\\li1440  "
      "\t}\\pard\\plain{\\ltrpar\\ql\\fi-431\\li1440\\ls2\\ilvl1{\\f0{\\*\\listtag0}inner2}{\\f0\\par}\n}"
      "{\\listtext\\pard\\fi-431\\li720  "
      "\t}\\pard\\plain{\\ltrpar\\ql\\fi-431\\li720\\ls1\\ilvl0{\\f0{\\*\\listtag0}third}{\\f0\\par}\n}"
      "\\pard\\plain after\\par}";
  QTextDocument doc;
  r = rtf::readRtf(abi, &doc);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(doc.toPlainText(), "Chapter\nfirst\nsecond\ninner\ninner2\nthird\nafter");
  EXPECT_EQ(blockWith(doc, "Chapter").textList(), nullptr);
  QTextList *outer = blockWith(doc, "first").textList();
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->format().style(), QTextListFormat::ListDecimal);
  EXPECT_EQ(blockWith(doc, "second").textList(), outer);
  EXPECT_EQ(blockWith(doc, "third").textList(), outer);
  EXPECT_EQ(outer->itemNumber(blockWith(doc, "third")), 2);
  QTextList *inner = blockWith(doc, "inner2").textList();
  ASSERT_NE(inner, nullptr);
  EXPECT_NE(inner, outer);
  EXPECT_EQ(blockWith(doc, "inner").textList(), inner);
  EXPECT_EQ(inner->format().style(), QTextListFormat::ListLowerAlpha);
  EXPECT_EQ(inner->format().indent(), outer->format().indent() + 1);
  EXPECT_EQ(blockWith(doc, "after").textList(), nullptr);
  // Written and read again, the levels stay.
  QTextDocument back;
  ASSERT_TRUE(rtf::readRtf(rtf::writeRtf(&doc), &back).ok);
  EXPECT_EQ(back.toPlainText(), doc.toPlainText());
  ASSERT_NE(blockWith(back, "inner").textList(), nullptr);
  EXPECT_EQ(blockWith(back, "inner").textList()->format().indent(), inner->format().indent());
  EXPECT_EQ(blockWith(back, "third").textList(), blockWith(back, "first").textList());
}

// What the model cannot show is kept as the group it was read from and written back where it stood; what
// it shows (pictures, links, right-to-left paragraphs, styles) it shows and writes back.
TEST(RtfKeep, WhatTheModelCannotShowIsWrittenBackWhereItStood) {
  const QByteArray hex = pngOf(testPicture()).toHex();
  const QByteArray fonts =
      "{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman{\\*\\panose 02020603050405020304};}"
      "{\\f1\\fswiss\\fcharset0 Arial;}{\\f5\\fnil\\fcharset2 Symbol;}}";
  const QByteArray colours = "{\\colortbl;\\red10\\green20\\blue30;\\red200\\green0\\blue0;}";
  const QByteArray stylesheet = "{\\stylesheet{\\s0\\f0 Normal;}{\\s2\\f1\\fs32\\b Heading 2;}{\\*\\cs5\\ul Link;}}";
  const QByteArray info = "{\\info{\\title Kept title}{\\author Someone}}";
  const QByteArray header = "{\\header \\pard\\plain\\f1 Page head\\par}";
  const QByteArray tocInst = "{\\*\\fldinst { TOC \\\\o \"1-3\" \\\\h}}";
  const QByteArray unknown = "{\\*\\mydest{\\nested kept}}";
  const QByteArray pict = "{\\pict\\pngblip\\picw3\\pich2\\picwgoal450\\pichgoal300 " + hex + "}";
  const QByteArray shp =
      "{\\*\\shppict{\\pict{\\*\\picprop{\\sp{\\sn wzName}{\\sv x}}}\\pngblip\\picwgoal900\\pichgoal600\n" + hex + "}}";
  const QByteArray nonshp = "{\\nonshppict{\\pict\\wmetafile8\\picw10\\pich10 0100090000}}";
  const QByteArray footnote = "{\\*\\footnote \\chftn\\pard\\plain\\f1 {\\super\\chftn} Note with \\'e9}";
  const QByteArray bookmark = "{\\*\\bkmkstart here}{\\*\\bkmkend here}";
  const QByteArray linkInst = "{\\*\\fldinst HYPERLINK \"https://example.org/a?b=1\"}";
  const QByteArray hidden = "{\\v hidden words}";
  const QByteArray pageField = "{\\field{\\*\\fldinst PAGE}{\\fldrslt }}";
  const QByteArray objectPict =
      "{\\object\\objemb{\\*\\objclass Paint}{\\*\\objdata 0102}{\\result{\\pict\\wmetafile8\\picwgoal300\\pichgoal300 "
      "0100}}}";
  const QByteArray docFormat = "\\paperw11906\\paperh16838\\margl1134";
  const QByteArray in = "{\\rtf1\\ansi\\ansicpg1252\\deff0" + fonts + colours + stylesheet + info +
                        "{\\*\\generator Somebody;}" + docFormat + "\n\\pard\\plain " + header + "{\\field" + tocInst +
                        "{\\fldrslt Alpha line\\par Bravo line}}\\par "
                        "\\pard\\s2\\qc\\f1 Charlie{\\cs5\\cf2 styled}" +
                        unknown + " Delta " + pict + " Echo " + shp + nonshp + " Foxtrot" + footnote +
                        " Golf\\par \\pard " + bookmark + "Hotel {\\field" + linkInst +
                        "{\\fldrslt {\\cs5 Link text}}} India " + hidden + "Juliett" + pageField +
                        "\\par \\pard\\rtlpar\\qr \\u1513?\\u1500? Kilo\\par "
                        "\\pard " +
                        objectPict + " Lima {\\object{\\*\\objdata 00}{\\result Mike}}\\par}";
  QTextDocument doc;
  const rtf::ReadResult r = rtf::readRtf(in, &doc);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(
      doc.toPlainText().remove(QChar::ObjectReplacementCharacter),
      QString::fromUtf16(u"Alpha line\nBravo line\nCharliestyled Delta  Echo  Foxtrot Golf\nHotel Link text India "
                         u"Juliett\n\u05E9\u05DC Kilo\n Lima Mike"));
  // Shown: pictures at their size with their pixels, the link's target, the paragraph's direction and style.
  const QList<QTextCharFormat> objects = objectsOf(doc);
  ASSERT_EQ(objects.size(), 9);  // header, unknown, picture, picture, footnote, bookmarks, hidden text, PAGE, object
  ASSERT_TRUE(objects[2].isImageFormat());
  const QTextImageFormat img = objects[2].toImageFormat();
  EXPECT_DOUBLE_EQ(img.width(), 30.0);
  EXPECT_DOUBLE_EQ(img.height(), 20.0);
  const QImage shownImage = doc.resource(QTextDocument::ImageResource, QUrl(img.name())).value<QImage>();
  ASSERT_FALSE(shownImage.isNull());
  EXPECT_EQ(shownImage.pixelColor(0, 0), QColor(0, 0, 255));
  EXPECT_EQ(shownImage.pixelColor(2, 1), QColor(200, 30, 40));
  EXPECT_DOUBLE_EQ(objects[3].toImageFormat().width(), 60.0);
  EXPECT_TRUE(objects[8].isImageFormat());  // the object, by its picture
  EXPECT_EQ(objects[4].intProperty(rtf::kKeptKindProperty), int(rtf::KeptKind::Footnote));
  EXPECT_EQ(formatAt(doc, "Link text").anchorHref(), "https://example.org/a?b=1");
  EXPECT_TRUE(formatAt(doc, "Link text").isAnchor());
  EXPECT_FALSE(formatAt(doc, "India").isAnchor());
  EXPECT_EQ(blockWith(doc, "Kilo").blockFormat().layoutDirection(), Qt::RightToLeft);
  EXPECT_EQ(blockWith(doc, "Hotel").blockFormat().layoutDirection(), Qt::LayoutDirectionAuto);
  EXPECT_EQ(blockWith(doc, "Charlie").blockFormat().intProperty(rtf::kParaStyleProperty), 2);
  EXPECT_EQ(formatAt(doc, "styled").foreground().color(), QColor(200, 0, 0));
  // Lost on a save: only the object without a picture (its result text stays).
  ASSERT_EQ(r.losses.size(), 1) << r.losses.join('|').toStdString();
  EXPECT_TRUE(r.losses.front().contains("object"));
  EXPECT_EQ(rtf::documentLosses(&doc), r.losses);

  const QByteArray out = rtf::writeRtf(&doc);
  // The tables read, with their numbers; the document's own tables before the text; the generator is ours now.
  EXPECT_TRUE(out.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n" + fonts.chopped(1)))
      << out.left(300).constData();
  EXPECT_TRUE(out.contains(colours.chopped(1)));
  for (const QByteArray &table : {stylesheet, info, docFormat}) {
    EXPECT_TRUE(out.contains(table)) << table.constData();
    EXPECT_LT(out.indexOf(table), out.indexOf("\\pard")) << table.constData();
  }
  EXPECT_FALSE(out.contains("Somebody"));
  // Every kept group byte for byte, where it stood.
  auto between = [&](const QByteArray &group, const char *before, const char *after) {
    const qsizetype at = out.indexOf(group);
    EXPECT_GE(at, 0) << group.constData() << "\n--- in:\n" << out.constData();
    EXPECT_LT(out.indexOf(before), at) << before << " / " << group.constData();
    EXPECT_GT(out.indexOf(after), at) << after << " / " << group.constData();
  };
  between(header, "\\pard", "Alpha");
  between(tocInst, "\\pard", "Alpha");
  between(unknown, "styled", "Delta");
  between(pict, "Delta", "Echo");
  between(shp + nonshp, "Echo", "Foxtrot");
  between(footnote, "Foxtrot", "Golf");
  between(bookmark, "Golf", "Hotel");
  between(linkInst, "Hotel", "Link text");
  between(hidden, "India", "Juliett");
  between(pageField, "Juliett", "Kilo");
  between(objectPict, "Kilo", "Lima");
  EXPECT_TRUE(out.contains("\\rtlpar"));
  EXPECT_TRUE(out.contains("\\s2\\qc"));
  EXPECT_TRUE(out.contains("\\f1\\fs24\\cf2\\cs5 styled"));
  // Read again and written again, it is the same file: nothing gained, nothing lost.
  QTextDocument back;
  ASSERT_TRUE(rtf::readRtf(out, &back).ok);
  EXPECT_EQ(back.toPlainText(), doc.toPlainText());
  EXPECT_EQ(rtf::writeRtf(&back), out);

  // A field that shows only hidden text is kept once, whole.
  const QByteArray hiddenField = "{\\field{\\*\\fldinst XE \"entry\"}{\\fldrslt {\\v hidden result}}}";
  QTextDocument indexed;
  ASSERT_TRUE(rtf::readRtf("{\\rtf1 before" + hiddenField + "after\\par}", &indexed).ok);
  EXPECT_EQ(indexed.toPlainText(), QString("before") + QChar::ObjectReplacementCharacter + "after");
  const QByteArray indexedOut = rtf::writeRtf(&indexed);
  EXPECT_TRUE(indexedOut.contains(hiddenField)) << indexedOut.constData();
  EXPECT_EQ(indexedOut.count("hidden result"), 1);

  // Table columns keep their widths.
  QTextDocument table;
  ASSERT_TRUE(rtf::readRtf("{\\rtf1\\trowd\\cellx1440\\cellx5000\\pard\\intbl a\\cell b\\cell\\row}", &table).ok);
  EXPECT_TRUE(rtf::writeRtf(&table).contains("\\trowd\\trgaph108\\cellx1440\\cellx5000\n"));

  // Links made here get a field of their own; a place in the document is a bookmark link.
  QTextDocument made;
  QTextCursor c(&made);
  QTextCharFormat link;
  link.setAnchor(true);
  link.setAnchorHref("#place");
  c.insertText("to the place", link);
  c.insertText(" and ", QTextCharFormat());
  link.setAnchorHref("https://example.org/\"q\"");
  c.insertText("out", link);
  c.insertImage(testPicture(4, 4));
  QTextDocument madeBack;
  ASSERT_TRUE(rtf::readRtf(rtf::writeRtf(&made), &madeBack).ok);
  EXPECT_EQ(formatAt(madeBack, "to the").anchorHref(), "#place");
  EXPECT_EQ(formatAt(madeBack, "out").anchorHref(), "https://example.org/q");
  ASSERT_EQ(objectsOf(madeBack).size(), 1);
  EXPECT_TRUE(objectsOf(madeBack).front().isImageFormat());
}

// Files the reader cannot read whole are refused with a reason and leave nothing half shown; mildly broken
// ones that lose nothing are read with a warning. Bombs end quickly.
TEST(RtfRead, BrokenAndHostileFiles) {
  auto refused = [](const QByteArray &in, const char *reason, const rtf::ReadLimits &lim = {}) {
    QTextDocument doc;
    doc.setPlainText("old content");
    const rtf::ReadResult r = rtf::readRtf(in, &doc, lim);
    EXPECT_FALSE(r.ok) << reason;
    EXPECT_FALSE(r.error.isEmpty()) << reason;
    EXPECT_TRUE(doc.isEmpty()) << reason << ": " << doc.toPlainText().toStdString();
    return r.error;
  };
  EXPECT_TRUE(refused("Just some text", "plain text").contains("Rich Text"));
  EXPECT_TRUE(refused("", "empty").contains("Rich Text"));
  EXPECT_TRUE(refused("{\\rtf1 para one\\par {\\b para tw", "truncated").contains("incomplete"));
  EXPECT_TRUE(refused("{\\rtf1 a{\\pict\\bin999999 xx}}", "lying \\bin").contains("binary"));

  const QByteArray deep = "{\\rtf1 " + QByteArray(100000, '{') + "x" + QByteArray(100000, '}') + "}";
  EXPECT_TRUE(refused(deep, "100,000 deep").contains("1000"));
  EXPECT_TRUE(refused("{\\rtf1 " + QByteArray(100000, '{'), "100,000 open").contains("1000"));
  rtf::ReadLimits few;
  few.maxParagraphs = 50;
  QByteArray many = "{\\rtf1 ";
  for (int i = 0; i < 60; ++i) many += "p\\par ";
  EXPECT_TRUE(refused(many + "}", "paragraph bomb", few).contains("50"));
  EXPECT_TRUE(
      refused("{\\rtf1 " + QByteArray(100000, 'x').replace("x", "\\cell ") + "}", "cell bomb", few).contains("50"));

  // Not refused: nesting just inside the limit, huge parameters and words, a huge \uc, a negative \bin.
  const QByteArray fits = "{\\rtf1 " + QByteArray(998, '{') + "deep" + QByteArray(998, '}') + "}";
  EXPECT_EQ(textOf(fits), "deep");
  EXPECT_EQ(textOf("{\\rtf1\\uc2147483647\\u1046 skipped{}shown\\bin-5 x\\fs99999999999999999999 y\\" +
                   QByteArray(100000, 'a') + " z}"),
            QString::fromUtf16(u"\u0416shownxyz"));
  QByteArray manyU = "{\\rtf1 ";
  for (int i = 0; i < 200000; ++i) manyU += "\\u1046?";
  EXPECT_EQ(textOf(manyU + "}").size(), 200000);

  // The document's own closing brace missing: everything is there, so it reads with a warning.
  rtf::ReadResult r;
  EXPECT_EQ(textOf("{\\rtf1 whole\\par text", &r), "whole\ntext");
  EXPECT_EQ(r.warnings.size(), 1);
  // Fonts and colours past the limits are dropped with a warning, the text kept.
  rtf::ReadLimits small;
  small.maxFonts = 2;
  small.maxColors = 2;
  QTextDocument doc;
  r = rtf::readRtf("{\\rtf1{\\fonttbl{\\f0 A;}{\\f1 B;}{\\f2 C;}}{\\colortbl;\\red1;\\red2;}\\f2\\cf2 t}", &doc, small);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(doc.toPlainText(), "t");
  EXPECT_EQ(r.warnings.size(), 2) << r.warnings.join('|').toStdString();
}

namespace {

// A document with every kind of formatting the writer keeps.
void buildRichDocument(QTextDocument *doc) {
  QTextCursor c(doc);
  QTextBlockFormat center;
  center.setAlignment(Qt::AlignHCenter);
  center.setLeftMargin(30);
  center.setRightMargin(20);
  center.setTextIndent(15);
  c.setBlockFormat(center);
  QTextCharFormat f;
  f.setFontFamilies({QStringLiteral("DejaVu Serif")});
  f.setFontPointSize(18);
  f.setFontWeight(QFont::Bold);
  c.insertText("Bold title ", f);
  f.setFontWeight(QFont::Normal);
  f.setFontItalic(true);
  c.insertText("italic", f);
  QTextBlockFormat right;
  right.setAlignment(Qt::AlignRight);
  right.setTextIndent(-12);
  right.setLeftMargin(36);
  QTextCharFormat g;
  g.setFontFamilies({QStringLiteral("DejaVu Sans Mono")});
  g.setFontPointSize(10);
  c.insertBlock(right, g);
  g.setFontUnderline(true);
  c.insertText("under", g);
  g.setFontUnderline(false);
  g.setFontStrikeOut(true);
  g.setForeground(QColor(200, 10, 30));
  c.insertText(" struck red", g);
  g.setFontStrikeOut(false);
  g.setForeground(QColor(0, 128, 0));
  g.setBackground(QColor(255, 255, 0));
  c.insertText(QString::fromUtf16(
                   u" \u041F\u0440\u0438\u0432\u0435\u0442 \u65E5\u672C \U0001F600 \u20AC\u00E9 {\\}\tx\u2028y\u00A0z"),
               g);
  QTextBlockFormat justify;
  justify.setAlignment(Qt::AlignJustify);
  justify.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
  c.insertBlock(justify, QTextCharFormat());
  c.insertText("justified on a new page");
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  QTextListFormat lf;
  lf.setStyle(QTextListFormat::ListDisc);
  c.createList(lf);
  c.insertText("bullet one");
  c.insertBlock();
  c.insertText("bullet two");
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  lf.setStyle(QTextListFormat::ListDecimal);
  c.createList(lf);
  c.insertText("number one");
  c.insertBlock();
  c.insertText("number two");
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  c.insertText("before table");
  QTextTable *t = c.insertTable(2, 3);
  for (int r = 0; r < 2; ++r)
    for (int col = 0; col < 3; ++col)
      t->cellAt(r, col).firstCursorPosition().insertText(QString("c%1%2").arg(r).arg(col));
  c.movePosition(QTextCursor::End);
  c.insertText("after table");
}

double doc_indent(const QTextDocument &d) { return d.indentWidth(); }

void expectSameModel(const QTextDocument &a, const QTextDocument &b) {
  ASSERT_EQ(b.toRawText(), a.toRawText());
  ASSERT_EQ(b.blockCount(), a.blockCount());
  for (QTextBlock x = a.begin(), y = b.begin(); x.isValid() && y.isValid(); x = x.next(), y = y.next()) {
    SCOPED_TRACE(x.text().toStdString());
    const QTextBlockFormat fx = x.blockFormat(), fy = y.blockFormat();
    EXPECT_EQ(fy.alignment() & Qt::AlignHorizontal_Mask, fx.alignment() & Qt::AlignHorizontal_Mask);
    EXPECT_NEAR(fy.leftMargin() + (y.textList() ? doc_indent(b) : 0),
                fx.leftMargin() + (x.textList() ? doc_indent(a) : 0), 0.1);
    if (!x.textList()) EXPECT_NEAR(fy.textIndent(), fx.textIndent(), 0.1);
    EXPECT_NEAR(fy.rightMargin(), fx.rightMargin(), 0.1);
    EXPECT_EQ(bool(fy.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore),
              bool(fx.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore));
    EXPECT_EQ(y.textList() != nullptr, x.textList() != nullptr);
    if (x.textList() && y.textList()) {
      EXPECT_EQ(y.textList()->format().style(), x.textList()->format().style());
      EXPECT_EQ(y.textList()->itemNumber(y), x.textList()->itemNumber(x));
    }
    EXPECT_EQ(QTextCursor(y).currentTable() != nullptr, QTextCursor(x).currentTable() != nullptr);
    for (int i = 0; i < x.length() - 1; ++i) {
      QTextCursor cx(x), cy(y);
      cx.setPosition(x.position() + i + 1);
      cy.setPosition(y.position() + i + 1);
      const QTextCharFormat gx = cx.charFormat(), gy = cy.charFormat();
      SCOPED_TRACE(i);
      EXPECT_EQ(gy.fontWeight() >= QFont::DemiBold, gx.fontWeight() >= QFont::DemiBold);
      EXPECT_EQ(gy.fontItalic(), gx.fontItalic());
      EXPECT_EQ(gy.fontUnderline(), gx.fontUnderline());
      EXPECT_EQ(gy.fontStrikeOut(), gx.fontStrikeOut());
      if (gx.hasProperty(QTextFormat::FontPointSize)) EXPECT_DOUBLE_EQ(gy.fontPointSize(), gx.fontPointSize());
      if (!gx.fontFamilies().toStringList().isEmpty()) EXPECT_EQ(family(gy), family(gx));
      EXPECT_EQ(gy.hasProperty(QTextFormat::ForegroundBrush), gx.hasProperty(QTextFormat::ForegroundBrush));
      if (gx.hasProperty(QTextFormat::ForegroundBrush)) EXPECT_EQ(gy.foreground().color(), gx.foreground().color());
      EXPECT_EQ(gy.hasProperty(QTextFormat::BackgroundBrush), gx.hasProperty(QTextFormat::BackgroundBrush));
      if (gx.hasProperty(QTextFormat::BackgroundBrush)) EXPECT_EQ(gy.background().color(), gx.background().color());
      if (::testing::Test::HasFailure()) return;  // one wrong character says it all
    }
  }
}

}  // namespace

TEST(RtfRoundTrip, OurWriterThenOurReaderKeepTheModel) {
  QTextDocument doc;
  buildRichDocument(&doc);
  const QByteArray rtf = rtf::writeRtf(&doc);
  // Plain 7-bit output: every other character is a \uN escape.
  for (char ch : rtf) ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << rtf.constData();
  EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252"));
  QTextDocument back;
  const rtf::ReadResult r = rtf::readRtf(rtf, &back);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_TRUE(r.warnings.isEmpty()) << r.warnings.join('|').toStdString();
  expectSameModel(doc, back);

  // A reader that ignores \uN sees the fallbacks: the code page 1252 byte where there is one, else "?".
  QTextDocument accents;
  accents.setPlainText(QString::fromUtf16(u"\u00E9\u20AC \u0416x\U0001F600"));
  QString stripped = QString::fromLatin1(rtf::writeRtf(&accents));
  stripped.remove(QRegularExpression(QStringLiteral("\\\\u-?[0-9]+")));
  QTextDocument fallback;
  ASSERT_TRUE(rtf::readRtf(stripped.toLatin1(), &fallback).ok);
  EXPECT_EQ(fallback.toPlainText(), QString::fromUtf16(u"\u00E9\u20AC ?x??"));

  // A trailing empty paragraph survives too, and an empty document stays empty.
  QTextDocument trailing;
  trailing.setPlainText("a\n\n");
  QTextDocument back2;
  ASSERT_TRUE(rtf::readRtf(rtf::writeRtf(&trailing), &back2).ok);
  EXPECT_EQ(back2.blockCount(), 3);
  QTextDocument empty, back3;
  back3.setPlainText("x");
  ASSERT_TRUE(rtf::readRtf(rtf::writeRtf(&empty), &back3).ok);
  EXPECT_TRUE(back3.isEmpty());

  // Through a file: a failed save leaves the old file whole.
  const QString dir = testenv::makeDir("rtfsave");
  const QString path = dir + "/doc.rtf";
  QString error;
  ASSERT_TRUE(rtf::writeRtfFile(path, &doc, &error)) << error.toStdString();
  QTextDocument fromFile;
  ASSERT_TRUE(rtf::readRtfFile(path, &fromFile).ok);
  EXPECT_EQ(fromFile.toPlainText(), doc.toPlainText());
  EXPECT_FALSE(rtf::writeRtfFile(dir + "/missing/doc.rtf", &doc, &error));
  EXPECT_FALSE(error.isEmpty());
  const rtf::ReadResult missing = rtf::readRtfFile(dir + "/none.rtf", &fromFile);
  EXPECT_FALSE(missing.ok);
  EXPECT_TRUE(fromFile.isEmpty());
}

namespace {

// Runs LibreOffice once with its own profile folder, so runs in parallel test processes never collide.
bool soffice(const QString &exe, const QString &profile, const QStringList &args, QString *log) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(exe,
          QStringList{"-env:UserInstallation=" + QUrl::fromLocalFile(profile).toString(), "--headless", "--norestore"} +
              args);
  if (!p.waitForStarted(30000) || !p.waitForFinished(180000)) {
    p.kill();
    p.waitForFinished(5000);
    *log = "soffice did not finish";
    return false;
  }
  *log = QString::fromLocal8Bit(p.readAll());
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

// Our RTF opened by LibreOffice has our text (its plain-text export) and, converted to its own document
// format and back to RTF, reads into our model with the same text and key formatting.
TEST(RtfLibreOffice, OurFilesOpenInLibreOfficeAndItsFilesReadBack) {
  const QString exe = QStandardPaths::findExecutable("soffice");
  if (exe.isEmpty()) GTEST_SKIP() << "soffice (libreoffice-writer-nogui) is not installed";
  QTextDocument doc;
  QTextCursor c(&doc);
  QTextBlockFormat center;
  center.setAlignment(Qt::AlignHCenter);
  c.setBlockFormat(center);
  QTextCharFormat f;
  f.setFontFamilies({QStringLiteral("DejaVu Sans")});
  f.setFontPointSize(16);
  f.setFontWeight(QFont::Bold);
  c.insertText("Bold centred", f);
  QTextBlockFormat indented;
  indented.setAlignment(Qt::AlignRight);
  indented.setLeftMargin(48);   // 720 twips
  indented.setRightMargin(24);  // 360 twips
  indented.setTextIndent(12);   // 180 twips
  QTextCharFormat g;
  g.setFontFamilies({QStringLiteral("DejaVu Sans")});
  g.setFontPointSize(11);
  g.setFontItalic(true);
  c.insertBlock(indented, g);
  c.insertText("italic right", g);
  g.setFontItalic(false);
  g.setFontUnderline(true);
  g.setForeground(QColor(255, 0, 0));
  c.insertText(" underlined red", g);
  g.setFontUnderline(false);
  g.setForeground(QColor(0, 0, 255));
  c.insertText(QString::fromUtf16(u" \u041F\u0440\u0438\u0432\u0435\u0442 \u00E9\u20AC \u65E5\u672C"), g);
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  c.insertText("line one");
  c.insertText(QString(QChar::LineSeparator) + "line two\tafter tab");
  QTextListFormat lf;
  lf.setStyle(QTextListFormat::ListDisc);
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  c.createList(lf);
  c.insertText("dot one");
  c.insertBlock();
  c.insertText("dot two");
  lf.setStyle(QTextListFormat::ListDecimal);
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  c.createList(lf);
  c.insertText("num one");
  c.insertBlock();
  c.insertText("num two");
  c.insertBlock(QTextBlockFormat(), QTextCharFormat());
  c.insertText("table next");
  QTextTable *t = c.insertTable(2, 2);
  for (int r = 0; r < 2; ++r)
    for (int col = 0; col < 2; ++col)
      t->cellAt(r, col).firstCursorPosition().insertText(QString("cell%1%2").arg(r).arg(col));
  c.movePosition(QTextCursor::End);
  c.insertText("the end");

  const QString dir = testenv::makeDir("lo");
  const QString profile = testenv::makeDir("lo-profile");
  ASSERT_TRUE(rtf::writeRtfFile(dir + "/ours.rtf", &doc));
  QString log;
  // 1: our RTF as LibreOffice's plain text.
  ASSERT_TRUE(
      soffice(exe, profile, {"--convert-to", "txt:Text (encoded):UTF8", "--outdir", dir, dir + "/ours.rtf"}, &log))
      << log.toStdString();
  QString txt = QString::fromUtf8(testenv::readFile(dir + "/ours.txt"));
  if (txt.startsWith(QChar(0xFEFF))) txt.remove(0, 1);
  QStringList lines;
  for (const QString &line : txt.replace("\r\n", "\n").trimmed().split('\n')) lines << line.trimmed();
  const QStringList expected{
      "Bold centred",
      QString::fromUtf16(u"italic right underlined red \u041F\u0440\u0438\u0432\u0435\u0442 \u00E9\u20AC \u65E5\u672C"),
      "line one",
      "line two\tafter tab",
      QString::fromUtf16(u"\u2022 dot one"),
      QString::fromUtf16(u"\u2022 dot two"),
      "1. num one",
      "2. num two",
      "table next",
      "cell00",
      "cell01",
      "cell10",
      "cell11",
      "the end"};
  EXPECT_EQ(lines, expected);
  // 2 and 3: to .odt, and the .odt back to RTF written by LibreOffice.
  ASSERT_TRUE(soffice(exe, profile, {"--convert-to", "odt", "--outdir", dir, dir + "/ours.rtf"}, &log))
      << log.toStdString();
  const QString back = testenv::makeDir("lo-back");
  ASSERT_TRUE(soffice(exe, profile, {"--convert-to", "rtf", "--outdir", back, dir + "/ours.odt"}, &log))
      << log.toStdString();
  QTextDocument theirs;
  const rtf::ReadResult r = rtf::readRtfFile(back + "/ours.rtf", &theirs);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_EQ(theirs.toPlainText(), doc.toPlainText());
  const QTextBlock b0 = blockWith(theirs, "Bold"), b1 = blockWith(theirs, "italic");
  EXPECT_EQ(b0.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(b1.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  EXPECT_NEAR(b1.blockFormat().leftMargin(), 48, 0.5);
  EXPECT_NEAR(b1.blockFormat().rightMargin(), 24, 0.5);
  EXPECT_NEAR(b1.blockFormat().textIndent(), 12, 0.5);
  EXPECT_EQ(formatAt(theirs, "Bold").fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(formatAt(theirs, "Bold").fontPointSize(), 16.0);
  EXPECT_EQ(family(formatAt(theirs, "Bold")), "DejaVu Sans");
  EXPECT_TRUE(formatAt(theirs, "italic").fontItalic());
  EXPECT_DOUBLE_EQ(formatAt(theirs, "italic").fontPointSize(), 11.0);
  EXPECT_FALSE(formatAt(theirs, "italic").fontUnderline());
  EXPECT_TRUE(formatAt(theirs, "underlined").fontUnderline());
  EXPECT_EQ(formatAt(theirs, "underlined").foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(formatAt(theirs, QString::fromUtf16(u"\u041F\u0440\u0438")).foreground().color(), QColor(0, 0, 255));
  EXPECT_EQ(formatAt(theirs, "line two").fontWeight(), QFont::Normal);
  QTextList *dots = blockWith(theirs, "dot one").textList();
  ASSERT_NE(dots, nullptr);
  EXPECT_EQ(dots->format().style(), QTextListFormat::ListDisc);
  EXPECT_EQ(blockWith(theirs, "dot two").textList(), dots);
  QTextList *nums = blockWith(theirs, "num two").textList();
  ASSERT_NE(nums, nullptr);
  EXPECT_EQ(nums->format().style(), QTextListFormat::ListDecimal);
  EXPECT_EQ(nums->itemNumber(blockWith(theirs, "num two")), 1);
  QTextTable *table = theirs.find("cell11").currentTable();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->rows(), 2);
  EXPECT_EQ(table->columns(), 2);
  EXPECT_EQ(theirs.find("cell01").currentTable(), table);
  EXPECT_EQ(theirs.find("the end").currentTable(), nullptr);
}

namespace {

// The pictures in RTF bytes, as the bytes of the PNG files they hold.
QList<QByteArray> pngsIn(const QByteArray &rtf) {
  QList<QByteArray> out;
  const QByteArray signature = "89504e470d0a1a0a";
  for (qsizetype at = rtf.indexOf(signature); at >= 0; at = rtf.indexOf(signature, at + 1)) {
    QByteArray hex;
    for (qsizetype i = at; i < rtf.size(); ++i) {
      const char c = rtf[i];
      if (std::isxdigit(static_cast<unsigned char>(c)))
        hex += c;
      else if (c != '\r' && c != '\n' && c != ' ')
        break;
    }
    out << QByteArray::fromHex(hex);
  }
  return out;
}

QStringList matches(const QString &text, const QString &pattern) {
  QStringList out;
  QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(text);
  while (it.hasNext()) out << it.next().captured(1);
  return out;
}

QString loText(const QString &path) {
  QString txt = QString::fromUtf8(testenv::readFile(path));
  if (txt.startsWith(QChar(0xFEFF))) txt.remove(0, 1);
  return txt.replace("\r\n", "\n").trimmed();
}

// A document another program made, opened here and saved: LibreOffice finds in our file what it finds in
// the original: the text, the pictures byte for byte, the link targets, and what needles (patterns in its
// flat document format) name.
void expectSameThroughLibreOffice(const QString &exe, const QString &source, const QStringList &needles) {
  const QString name = QFileInfo(source).completeBaseName();
  QTextDocument doc;
  const rtf::ReadResult r = rtf::readRtfFile(source, &doc);
  ASSERT_TRUE(r.ok) << r.error.toStdString();
  EXPECT_TRUE(r.losses.isEmpty()) << r.losses.join('|').toStdString();
  const QString ours = testenv::makeDir("ours") + "/" + name + ".rtf";
  ASSERT_TRUE(rtf::writeRtfFile(ours, &doc));
  // Our pictures are the original's, byte for byte.
  const QList<QByteArray> pictures = pngsIn(testenv::readFile(source));
  ASSERT_FALSE(pictures.isEmpty());
  EXPECT_EQ(pngsIn(testenv::readFile(ours)), pictures);

  const QString profile = testenv::makeDir("lo-profile");
  const QString theirsOut = testenv::makeDir("theirs-out"), oursOut = testenv::makeDir("ours-out");
  QString log;
  for (const auto &[file, outDir] : {std::pair{source, theirsOut}, std::pair{ours, oursOut}}) {
    for (const char *format : {"fodt", "txt:Text (encoded):UTF8"})
      ASSERT_TRUE(soffice(exe, profile, {"--convert-to", format, "--outdir", outDir, file}, &log)) << log.toStdString();
  }
  const QString theirsFlat = QString::fromUtf8(testenv::readFile(theirsOut + "/" + name + ".fodt"));
  const QString oursFlat = QString::fromUtf8(testenv::readFile(oursOut + "/" + name + ".fodt"));
  ASSERT_FALSE(oursFlat.isEmpty());
  // Text: list numbers aside (our list table numbers nested levels its own way).
  auto withoutLabels = [](QString t) {
    QStringList lines = t.remove(QRegularExpression(QStringLiteral("(?m)^\\s*(([0-9]+|[a-z])[.)])+\\s*"))).split('\n');
    for (QString &line : lines) line = line.trimmed();
    return lines;
  };
  EXPECT_EQ(withoutLabels(loText(oursOut + "/" + name + ".txt")),
            withoutLabels(loText(theirsOut + "/" + name + ".txt")));
  // Pictures as LibreOffice reads them from each file, and the link targets.
  auto pictures64 = [](const QString &flatXml) {
    QStringList out = matches(flatXml, QStringLiteral("<office:binary-data>([^<]*)</office:binary-data>"));
    for (QString &p : out) p.remove(QRegularExpression(QStringLiteral("\\s")));
    return out;
  };
  EXPECT_EQ(pictures64(oursFlat), pictures64(theirsFlat));
  EXPECT_FALSE(pictures64(oursFlat).isEmpty());
  const QString href = QStringLiteral("xlink:href=\"([^\"#][^\"]*)\"");
  EXPECT_EQ(matches(oursFlat, href), matches(theirsFlat, href));
  EXPECT_FALSE(matches(oursFlat, href).isEmpty());
  for (const QString &needle : needles) {
    EXPECT_TRUE(theirsFlat.contains(QRegularExpression(needle))) << "theirs: " << needle.toStdString();
    EXPECT_TRUE(oursFlat.contains(QRegularExpression(needle))) << "ours: " << needle.toStdString();
  }
}

}  // namespace

// A document made by LibreOffice, with what a word processor's file holds beyond text.
TEST(RtfLibreOffice, LibreOfficeDocumentsKeepTheirContentThroughOurSave) {
  const QString exe = QStandardPaths::findExecutable("soffice");
  if (exe.isEmpty()) GTEST_SKIP() << "soffice (libreoffice-writer-nogui) is not installed";
  const QString dir = testenv::makeDir("lo-src");
  const QByteArray flat = QByteArray(R"xml(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:automatic-styles>
 <style:style style:name="Prtl" style:family="paragraph"><style:paragraph-properties style:writing-mode="rl-tb"/></style:style>
 <style:style style:name="Thidden" style:family="text"><style:text-properties text:display="none"/></style:style>
 <text:list-style style:name="L1"><text:list-level-style-number text:level="1" style:num-format="1" style:num-suffix="."/><text:list-level-style-number text:level="2" style:num-format="a" style:num-suffix=")"/></text:list-style>
</office:automatic-styles>
<office:body><office:text>
<text:table-of-content text:name="TOC1"><text:table-of-content-source text:outline-level="2"/><text:index-body><text:p>Chapter one	1</text:p></text:index-body></text:table-of-content>
<text:h text:outline-level="1">Chapter one</text:h>
<text:p>See <text:a xlink:type="simple" xlink:href="https://example.org/a?b=1">the link</text:a> here<text:note text:id="ftn1" text:note-class="footnote"><text:note-citation>1</text:note-citation><text:note-body><text:p>Foot text</text:p></text:note-body></text:note>.</text:p>
<text:p>Visible<text:span text:style-name="Thidden">secret</text:span>end</text:p>
<text:p>Pic <draw:frame draw:name="i1" text:anchor-type="as-char" svg:width="1cm" svg:height="0.75cm"><draw:image><office:binary-data>PICTURE</office:binary-data></draw:image></draw:frame> after</text:p>
<text:list text:style-name="L1"><text:list-item><text:p>outer one</text:p><text:list><text:list-item><text:p>inner one</text:p></text:list-item><text:list-item><text:p>inner two</text:p></text:list-item></text:list></text:list-item><text:list-item><text:p>outer two</text:p></text:list-item></text:list>
<text:p text:style-name="Prtl">)xml") +
                          QString::fromUtf16(u"\u05E9\u05DC\u05D5\u05DD").toUtf8() +
                          "</text:p>\n</office:text></office:body></office:document>\n";
  testenv::writeFile(dir + "/made.fodt", QByteArray(flat).replace("PICTURE", pngOf(testPicture(8, 6)).toBase64()));
  QString log;
  ASSERT_TRUE(
      soffice(exe, testenv::makeDir("lo-profile"), {"--convert-to", "rtf", "--outdir", dir, dir + "/made.fodt"}, &log))
      << log.toStdString();
  expectSameThroughLibreOffice(
      exe, dir + "/made.rtf",
      {"(?s)<text:note [^>]*>.*Foot text", "text:display=\"none\"", ">secret<", "<text:table-of-content",
       "style:writing-mode=\"rl-tb\"", "(?s)outer one(</text:span>)?</text:p>\\s*<text:list>"});
}

// A document made by AbiWord: its own list tags, pictures and fields.
TEST(RtfLibreOffice, AbiWordDocumentsKeepTheirContentThroughOurSave) {
  const QString exe = QStandardPaths::findExecutable("soffice");
  if (exe.isEmpty()) GTEST_SKIP() << "soffice (libreoffice-writer-nogui) is not installed";
  const QString abiword = QStandardPaths::findExecutable("abiword");
  if (abiword.isEmpty()) GTEST_SKIP() << "abiword is not installed";
  const QString dir = testenv::makeDir("abi-src");
  testenv::writeFile(dir + "/p.png", pngOf(testPicture(8, 6)));
  testenv::writeFile(dir + "/made.html",
                     "<html><body><h1>Title</h1><p>See <a href=\"https://example.org/x\">link text</a> end.</p>"
                     "<p>Pic <img src=\"p.png\" width=\"8\" height=\"6\"> after</p>"
                     "<ol><li>first</li><li>second<ol><li>inner</li></ol></li><li>third</li></ol></body></html>\n");
  QProcess p;
  p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(abiword, {"--to=rtf", "-o", dir + "/made.rtf", dir + "/made.html"});
  ASSERT_TRUE(p.waitForFinished(120000)) << "abiword did not finish";
  ASSERT_TRUE(QFileInfo::exists(dir + "/made.rtf")) << p.readAll().constData();
  expectSameThroughLibreOffice(exe, dir + "/made.rtf", {">link text<", ">inner<"});
}

TEST(RtfFuzzCorpus, EverySeedAndFindingReplaysCleanly) {
  const QDir corpus(testenv::sourceDir() + "/tests/formats/rtf/rtf-fuzz-corpus");
  const QStringList files = corpus.entryList(QDir::Files);
  ASSERT_GE(files.size(), 6);
  for (const QString &name : files) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray bytes = testenv::readFile(corpus.filePath(name));
    rtffuzz::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
  }
}
