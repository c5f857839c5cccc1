// How the objects that stand for kept RTF groups take their place in a document's layout.
#include "formats/rtf/rtfcodec.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextDocument>
#include <QTextObjectInterface>

namespace {

// A footnote shows its mark, raised and small as word processors show it; everything else kept takes no
// room (hidden text, bookmarks, headers and footers are not shown in the text either).
class KeptObjects : public QObject, public QTextObjectInterface {
  Q_OBJECT
  Q_INTERFACES(QTextObjectInterface)
 public:
  QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &format) override {
    if (format.intProperty(rtf::kKeptKindProperty) != int(rtf::KeptKind::Footnote)) return {0, 0};
    const QFontMetricsF m(markFont(format));
    return {m.horizontalAdvance(mark(format)) + 1, m.height()};
  }
  void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int, const QTextFormat &format) override {
    if (format.intProperty(rtf::kKeptKindProperty) != int(rtf::KeptKind::Footnote)) return;
    painter->save();
    painter->setFont(markFont(format));
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignTop, mark(format));
    painter->restore();
  }

 private:
  static QString mark(const QTextFormat &f) {
    const int n = f.intProperty(rtf::kFootnoteNumberProperty);
    return n > 0 ? QString::number(n) : QStringLiteral("*");
  }
  static QFont markFont(const QTextFormat &f) {
    QFont font = f.toCharFormat().font();
    font.setPointSizeF(std::max(4.0, (font.pointSizeF() > 0 ? font.pointSizeF() : 12.0) * 0.6));
    return font;
  }
};

}  // namespace

namespace rtf {

void registerObjectHandlers(QTextDocument *doc) {
  static KeptObjects handler;
  doc->documentLayout()->registerHandler(kOpaqueObjectType, &handler);
}

}  // namespace rtf

#include "rtfobjects.moc"
