#include "formats/dbase/pxtable.h"

#include "formats/dbase/dbfreader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimeZone>
#include <cmath>

extern "C" {  // pxlib's header declares its functions without C linkage
#include <paradox.h>
}

namespace {
// Paradox counts days from 1 January of the year 1; the Julian day number of that day is 1721425.
constexpr qint64 kDayOne = 1721425;

void quietErrors(pxdoc_t *, int, const char *, void *) {}
}  // namespace

std::unique_ptr<TPxTable> TPxTable::open(const QString &path, QString *error) {
  std::unique_ptr<TPxTable> t(new TPxTable);
  const QString name = QFileInfo(path).fileName();
  t->doc_ = PX_new();
  if (t->doc_) t->doc_->errorhandler = quietErrors;  // its default handler prints to stderr
  if (!t->doc_ || PX_open_file(t->doc_, QFile::encodeName(path).constData()) < 0) {
    if (error) *error = QStringLiteral("%1 is not a Paradox table pxlib can read.").arg(name);
    return nullptr;
  }
  PX_set_targetencoding(t->doc_, "UTF-8");
  const int n = PX_get_num_fields(t->doc_);
  pxfield_t *f = PX_get_fields(t->doc_);
  const int records = PX_get_num_records(t->doc_);
  if (n <= 0 || !f || records < 0) {
    if (error) *error = QStringLiteral("%1 has no fields.").arg(name);
    return nullptr;
  }
  for (int i = 0; i < n; ++i) {
    TDbField d;
    d.name = QString::fromLatin1(f[i].px_fname ? f[i].px_fname : "");
    d.length = f[i].px_flen;
    d.decimals = f[i].px_fdc;
    switch (f[i].px_ftype) {
      case pxfAlpha: d.type = 'C'; d.displayWidth = qBound(1, d.length, 254); break;
      case pxfDate: d.type = 'D'; d.displayWidth = 10; break;
      case pxfShort: case pxfLong: case pxfAutoInc: d.type = 'I'; d.displayWidth = 11; d.rightAligned = true; break;
      case pxfCurrency: case pxfNumber: case pxfBCD: d.type = 'N'; d.displayWidth = 20; d.rightAligned = true; break;
      case pxfLogical: d.type = 'L'; d.displayWidth = 5; break;
      case pxfTime: d.type = 't'; d.displayWidth = 12; break;
      case pxfTimestamp: d.type = 'T'; d.displayWidth = 23; break;
      case pxfMemoBLOb: case pxfFmtMemoBLOb: d.type = 'M'; d.displayWidth = 20; break;
      default: d.type = 'B'; d.displayWidth = 20; break;
    }
    t->fields_ << d;
    t->types_ << f[i].px_ftype;
  }
  t->count_ = records;
  return t;
}

TPxTable::~TPxTable() {
  if (doc_) {
    PX_close(doc_);
    PX_delete(doc_);
  }
}

void TPxTable::load(qint64 r) const {
  if (cached_ == r) return;
  cached_ = r;
  row_.fill(QVariant(), fields_.size());
  pxval_t **vals = PX_retrieve_record(doc_, int(r));
  if (!vals) return;
  for (int i = 0; i < fields_.size(); ++i) {
    pxval_t *v = vals[i];
    if (!v) continue;
    if (!v->isnull) {
      switch (types_[i]) {
        case pxfAlpha: case pxfMemoBLOb: case pxfFmtMemoBLOb:
          row_[i] = QString::fromUtf8(v->value.str.val, v->value.str.len).trimmed();
          break;
        case pxfDate: row_[i] = QDate::fromJulianDay(v->value.lval + kDayOne); break;
        case pxfShort: case pxfLong: case pxfAutoInc: row_[i] = qlonglong(v->value.lval); break;
        case pxfCurrency: case pxfNumber: row_[i] = v->value.dval; break;
        case pxfBCD: row_[i] = QString::fromLatin1(v->value.str.val, v->value.str.len); break;
        case pxfLogical: row_[i] = v->value.lval != 0; break;
        case pxfTime: row_[i] = QTime::fromMSecsSinceStartOfDay(int(v->value.lval % 86400000)); break;
        case pxfTimestamp: {
          const double ms = v->value.dval;
          const qint64 days = qint64(std::floor(ms / 86400000.0));
          row_[i] = QDateTime(QDate::fromJulianDay(days + kDayOne), QTime::fromMSecsSinceStartOfDay(int(ms - days * 86400000.0)),
                              Qt::UTC);
          break;
        }
        default:
          if (v->value.str.val) row_[i] = QByteArray(v->value.str.val, v->value.str.len);
      }
    }
    if ((v->type == pxfAlpha || v->type == pxfBCD || v->type == pxfMemoBLOb || v->type == pxfFmtMemoBLOb ||
         v->type == pxfBLOb || v->type == pxfGraphic || v->type == pxfOLE || v->type == pxfBytes) && v->value.str.val)
      doc_->free(doc_, v->value.str.val);
    doc_->free(doc_, v);
  }
  doc_->free(doc_, vals);
}

QVariant TPxTable::value(qint64 r, int i) const {
  if (r < 0 || r >= count_ || i < 0 || i >= fields_.size()) return {};
  load(r);
  return row_.value(i);
}

QString TPxTable::whyReadOnly(int) const { return QStringLiteral("Paradox tables are shown read-only in this viewer."); }

bool TPxTable::writeRecord(qint64, const QHash<int, QString> &, QString *error) {
  if (error) *error = whyReadOnly(0);
  return false;
}

std::unique_ptr<TDbTable> openDbTable(const QString &path, QString *error) {
  if (path.endsWith(QLatin1String(".db"), Qt::CaseInsensitive)) return TPxTable::open(path, error);
  return TDbfTable::open(path, error);
}
