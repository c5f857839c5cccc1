#include "windows/scan/scansession.h"

#include "formats/raster/imageio.h"

#include <QObject>

#include <cstring>
#include <vector>

#include <sane/sane.h>
#include <sane/saneopts.h>

namespace scan {

namespace {

SANE_Handle h(void *p) { return static_cast<SANE_Handle>(p); }

QString fromLatin(const char *s) { return s ? QString::fromLatin1(s) : QString(); }

}  // namespace

QString statusName(int status) {
  switch (status) {
    case SANE_STATUS_GOOD: return QStringLiteral("SANE_STATUS_GOOD");
    case SANE_STATUS_UNSUPPORTED: return QStringLiteral("SANE_STATUS_UNSUPPORTED");
    case SANE_STATUS_CANCELLED: return QStringLiteral("SANE_STATUS_CANCELLED");
    case SANE_STATUS_DEVICE_BUSY: return QStringLiteral("SANE_STATUS_DEVICE_BUSY");
    case SANE_STATUS_INVAL: return QStringLiteral("SANE_STATUS_INVAL");
    case SANE_STATUS_EOF: return QStringLiteral("SANE_STATUS_EOF");
    case SANE_STATUS_JAMMED: return QStringLiteral("SANE_STATUS_JAMMED");
    case SANE_STATUS_NO_DOCS: return QStringLiteral("SANE_STATUS_NO_DOCS");
    case SANE_STATUS_COVER_OPEN: return QStringLiteral("SANE_STATUS_COVER_OPEN");
    case SANE_STATUS_IO_ERROR: return QStringLiteral("SANE_STATUS_IO_ERROR");
    case SANE_STATUS_NO_MEM: return QStringLiteral("SANE_STATUS_NO_MEM");
    case SANE_STATUS_ACCESS_DENIED: return QStringLiteral("SANE_STATUS_ACCESS_DENIED");
    default: return QStringLiteral("SANE_STATUS_%1").arg(status);
  }
}

QString statusText(int status) { return fromLatin(sane_strstatus(SANE_Status(status))); }

Session::Session() {
  SANE_Int version = 0;
  ok_ = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
}

Session::~Session() {
  close();
  if (ok_) sane_exit();
}

QList<Device> Session::devices(int *status) {
  QList<Device> out;
  if (!ok_) return out;
  const SANE_Device **list = nullptr;
  const SANE_Status st = sane_get_devices(&list, SANE_FALSE);
  if (status) *status = st;
  if (st != SANE_STATUS_GOOD || !list) return out;
  for (int i = 0; list[i]; ++i)
    out << Device{fromLatin(list[i]->name),
                  QStringLiteral("%1 %2 (%3)").arg(fromLatin(list[i]->vendor), fromLatin(list[i]->model), fromLatin(list[i]->type))};
  return out;
}

bool Session::open(const QString &name, int *status) {
  close();
  if (!ok_) {
    if (status) *status = SANE_STATUS_UNSUPPORTED;
    return false;
  }
  QString target = name;
  if (target.isEmpty()) {
    const QList<Device> all = devices(status);
    if (all.isEmpty()) {
      if (status && *status == SANE_STATUS_GOOD) *status = SANE_STATUS_INVAL;  // no device at all
      return false;
    }
    target = all.first().name;
  }
  SANE_Handle handle = nullptr;
  const SANE_Status st = sane_open(target.toLatin1().constData(), &handle);
  if (status) *status = st;
  if (st != SANE_STATUS_GOOD) return false;
  handle_ = handle;
  device_ = target;
  return true;
}

void Session::close() {
  if (handle_) {
    sane_cancel(h(handle_));
    sane_close(h(handle_));
  }
  handle_ = nullptr;
  device_.clear();
}

int Session::optionIndex(const QString &name) {
  if (!handle_) return -1;
  const QByteArray n = name.toLatin1();
  for (int i = 1;; ++i) {
    const SANE_Option_Descriptor *d = sane_get_option_descriptor(h(handle_), i);
    if (!d) return -1;
    if (d->name && n == d->name) return i;
  }
}

Options Session::options() {
  Options o;
  if (!handle_) return o;
  if (const int i = optionIndex(QStringLiteral(SANE_NAME_SCAN_MODE)); i > 0) {
    const SANE_Option_Descriptor *d = sane_get_option_descriptor(h(handle_), i);
    if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
      for (const SANE_String_Const *s = d->constraint.string_list; *s; ++s) o.modes << fromLatin(*s);
    std::vector<char> buf(size_t(qMax(d->size, 1)) + 1, '\0');
    if (sane_control_option(h(handle_), i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD)
      o.mode = fromLatin(buf.data());
  }
  if (const int i = optionIndex(QStringLiteral(SANE_NAME_SCAN_RESOLUTION)); i > 0) {
    const SANE_Option_Descriptor *d = sane_get_option_descriptor(h(handle_), i);
    auto value = [d](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? qRound(SANE_UNFIX(w)) : int(w); };
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
      for (int k = 1; k <= d->constraint.word_list[0]; ++k) o.resolutions << value(d->constraint.word_list[k]);
    } else if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
      const int lo = qMax(1, value(d->constraint.range->min)), hi = value(d->constraint.range->max);
      for (int r : {lo, 50, 75, 100, 150, 200, 300, 600, 1200, 2400, hi})
        if (r >= lo && r <= hi && !o.resolutions.contains(r)) o.resolutions << r;
      std::sort(o.resolutions.begin(), o.resolutions.end());
    }
    SANE_Word w = 0;
    if (sane_control_option(h(handle_), i, SANE_ACTION_GET_VALUE, &w, nullptr) == SANE_STATUS_GOOD) o.resolution = value(w);
  }
  double edges[4] = {0, 0, 0, 0}, maxEdges[4] = {0, 0, 0, 0};
  int found = 0;
  const char *names[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
  for (int k = 0; k < 4; ++k) {
    const int i = optionIndex(QLatin1String(names[k]));
    if (i <= 0) continue;
    const SANE_Option_Descriptor *d = sane_get_option_descriptor(h(handle_), i);
    auto value = [d](SANE_Word w) { return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w); };
    SANE_Word w = 0;
    if (sane_control_option(h(handle_), i, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD) continue;
    edges[k] = value(w);
    maxEdges[k] = d->constraint_type == SANE_CONSTRAINT_RANGE ? value(k < 2 ? d->constraint.range->min : d->constraint.range->max) : edges[k];
    ++found;
  }
  if (found == 4) {
    o.areaMm = QRectF(QPointF(edges[0], edges[1]), QPointF(edges[2], edges[3]));
    o.maxAreaMm = QRectF(QPointF(maxEdges[0], maxEdges[1]), QPointF(maxEdges[2], maxEdges[3]));
  }
  return o;
}

bool Session::setOption(const QString &name, const QString &value, QString *error) {
  const int i = optionIndex(name);
  auto fail = [&](const QString &why) {
    if (error) *error = QObject::tr("The scanner refused its option \"%1\" = \"%2\": %3").arg(name, value, why);
    return false;
  };
  if (i <= 0) return fail(QObject::tr("the device has no such option"));
  const SANE_Option_Descriptor *d = sane_get_option_descriptor(h(handle_), i);
  if (!SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap)) return fail(QObject::tr("it cannot be set now"));
  SANE_Status st = SANE_STATUS_INVAL;
  SANE_Int info = 0;
  switch (d->type) {
    case SANE_TYPE_BOOL: {
      SANE_Word w = (value == QLatin1String("yes") || value == QLatin1String("true") || value == QLatin1String("1")) ? SANE_TRUE : SANE_FALSE;
      st = sane_control_option(h(handle_), i, SANE_ACTION_SET_VALUE, &w, &info);
      break;
    }
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
      bool ok = false;
      const double v = value.toDouble(&ok);
      if (!ok) return fail(QObject::tr("not a number"));
      SANE_Word w = d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : SANE_Word(qRound(v));
      if (d->size > SANE_Int(sizeof(SANE_Word))) {  // an array option: every element the same
        std::vector<SANE_Word> all(size_t(d->size) / sizeof(SANE_Word), w);
        st = sane_control_option(h(handle_), i, SANE_ACTION_SET_VALUE, all.data(), &info);
      } else {
        st = sane_control_option(h(handle_), i, SANE_ACTION_SET_VALUE, &w, &info);
      }
      break;
    }
    case SANE_TYPE_STRING: {
      const QByteArray v = value.toLatin1();
      if (v.size() >= d->size) return fail(QObject::tr("the value is too long"));
      std::vector<char> buf(size_t(d->size), '\0');
      std::memcpy(buf.data(), v.constData(), size_t(v.size()));
      st = sane_control_option(h(handle_), i, SANE_ACTION_SET_VALUE, buf.data(), &info);
      break;
    }
    default: return fail(QObject::tr("it takes no value"));
  }
  if (st != SANE_STATUS_GOOD) return fail(statusText(st));
  return true;
}

bool Session::apply(const Settings &s, QString *error) {
  if (!handle_) {
    if (error) *error = QObject::tr("No scanner is open.");
    return false;
  }
  if (!s.mode.isEmpty() && !setOption(QStringLiteral(SANE_NAME_SCAN_MODE), s.mode, error)) return false;
  if (s.resolution > 0 && !setOption(QStringLiteral(SANE_NAME_SCAN_RESOLUTION), QString::number(s.resolution), error)) return false;
  if (!s.areaMm.isEmpty()) {
    const QRectF a = s.areaMm.normalized();
    // The bottom right first where it grows, the top left first where it shrinks: every step stays a valid area.
    const QList<QPair<const char *, double>> order = {{SANE_NAME_SCAN_BR_X, a.right()}, {SANE_NAME_SCAN_BR_Y, a.bottom()},
                                                      {SANE_NAME_SCAN_TL_X, a.left()}, {SANE_NAME_SCAN_TL_Y, a.top()}};
    for (const auto &[name, v] : order)
      if (!setOption(QLatin1String(name), QString::number(v, 'f', 3), error)) return false;
  }
  for (auto it = s.extra.cbegin(); it != s.extra.cend(); ++it)
    if (!setOption(it.key(), it.value(), error)) return false;
  return true;
}

namespace {

// Frames of raw samples into a picture: grey or colour, 1, 8 or 16 bits a sample.
QImage toImage(const std::vector<QByteArray> &frames, const std::vector<SANE_Parameters> &params, int lines) {
  const SANE_Parameters &p = params.front();
  const int w = p.pixels_per_line, bpl = p.bytes_per_line;
  if (w <= 0 || lines <= 0) return {};
  const bool colour = p.format != SANE_FRAME_GRAY;
  QImage img(w, lines, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
  if (img.isNull()) return {};
  auto sample = [&](const QByteArray &data, int depth, int row, int index) -> int {
    const uchar *line = reinterpret_cast<const uchar *>(data.constData()) + qsizetype(row) * bpl;
    if (depth == 8) return line[index];
    if (depth == 16) {
      quint16 v;
      std::memcpy(&v, line + 2 * index, 2);  // samples come in the machine's byte order
      return v >> 8;
    }
    return (line[index / 8] >> (7 - index % 8)) & 1 ? 0 : 255;  // one bit: 1 is black
  };
  for (int y = 0; y < lines; ++y) {
    uchar *out = img.scanLine(y);
    if (!colour) {
      for (int x = 0; x < w; ++x) out[x] = uchar(sample(frames[0], p.depth, y, x));
    } else if (p.format == SANE_FRAME_RGB) {
      for (int x = 0; x < w * 3; ++x) out[x] = uchar(sample(frames[0], p.depth, y, x));
    } else {  // three frames, one per colour, in whatever order the device sent them
      for (size_t f = 0; f < frames.size(); ++f) {
        const int c = params[f].format == SANE_FRAME_RED ? 0 : params[f].format == SANE_FRAME_GREEN ? 1 : 2;
        for (int x = 0; x < w; ++x) out[x * 3 + c] = uchar(sample(frames[f], params[f].depth, y, x));
      }
    }
  }
  return img;
}

}  // namespace

Result Session::scan(const std::function<void(qint64, qint64)> &progress, const std::atomic_bool &cancel) {
  Result r;
  if (!handle_) {
    r.error = QObject::tr("No scanner is open.");
    return r;
  }
  auto failed = [&](SANE_Status st, const QString &what) {
    sane_cancel(h(handle_));
    r.status = st;
    r.cancelled = st == SANE_STATUS_CANCELLED;
    r.error = what;
    r.image = QImage();
    return r;
  };
  std::vector<QByteArray> frames;
  std::vector<SANE_Parameters> params;
  const qint64 limit = qint64(imageio::allocationLimitMb()) << 20;
  std::vector<SANE_Byte> block(256 * 1024);
  // The next block of the scan: GOOD with data, EOF at its end; our cancel asks the device to stop.
  auto next = [&](SANE_Int &len) -> SANE_Status {
    if (cancel) return SANE_STATUS_CANCELLED;
    return sane_read(h(handle_), block.data(), SANE_Int(block.size()), &len);
  };
  // A scan cancelled (here or on the device) or broken off.
  auto stopped = [&](SANE_Status st) {
    return failed(st, st == SANE_STATUS_CANCELLED ? QString() : QObject::tr("The scan stopped before its end."));
  };
  int lines = 0;
  for (;;) {
    SANE_Status st = sane_start(h(handle_));
    if (st != SANE_STATUS_GOOD) return failed(st, QObject::tr("The scan could not start."));
    SANE_Parameters p{};
    st = sane_get_parameters(h(handle_), &p);
    if (st != SANE_STATUS_GOOD) return failed(st, QObject::tr("The scanner did not say what it sends."));
    if (p.bytes_per_line <= 0 || p.pixels_per_line <= 0 || (p.depth != 1 && p.depth != 8 && p.depth != 16))
      return failed(SANE_STATUS_UNSUPPORTED, QObject::tr("The scanner sends pictures of a kind this program cannot read."));
    if (!params.empty() && (p.bytes_per_line != params.front().bytes_per_line || p.pixels_per_line != params.front().pixels_per_line))
      return failed(SANE_STATUS_INVAL, QObject::tr("The scanner's colour frames do not match."));
    const qint64 expected = p.lines > 0 ? qint64(p.lines) * p.bytes_per_line : -1;
    if (expected > limit) return failed(SANE_STATUS_NO_MEM, QObject::tr("The scan would be larger than this machine can hold; choose a lower resolution or a smaller area."));
    // The common case, one frame of 8-bit grey or colour of known length: straight into the picture's rows,
    // with no second copy of the scan in memory.
    if (frames.empty() && p.last_frame && p.depth == 8 && p.lines > 0
        && (p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB)) {
      const int rowBytes = p.pixels_per_line * (p.format == SANE_FRAME_RGB ? 3 : 1);
      if (p.bytes_per_line < rowBytes) return failed(SANE_STATUS_INVAL, QObject::tr("The scanner sends lines shorter than it says."));
      QImage img(p.pixels_per_line, p.lines, p.format == SANE_FRAME_RGB ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
      if (img.isNull()) return failed(SANE_STATUS_NO_MEM, QObject::tr("The scan is larger than this machine can hold."));
      QByteArray line(p.bytes_per_line, Qt::Uninitialized);
      qint64 got = 0;
      int row = 0, filled = 0;
      for (;;) {
        SANE_Int len = 0;
        st = next(len);
        if (st == SANE_STATUS_EOF) break;
        if (st != SANE_STATUS_GOOD) return stopped(st);
        const SANE_Byte *in = block.data();
        for (SANE_Int left = len; left > 0 && row < p.lines;) {
          if (filled == 0 && left >= p.bytes_per_line) {  // a whole line in the block: straight to its row
            std::memcpy(img.scanLine(row++), in, size_t(rowBytes));
            in += p.bytes_per_line;
            left -= p.bytes_per_line;
            continue;
          }
          const int take = qMin<int>(left, p.bytes_per_line - filled);
          std::memcpy(line.data() + filled, in, size_t(take));
          filled += take;
          in += take;
          left -= take;
          if (filled == p.bytes_per_line) {
            std::memcpy(img.scanLine(row++), line.constData(), size_t(rowBytes));
            filled = 0;
          }
        }
        got += len;
        if (progress) progress(got, expected);
      }
      sane_cancel(h(handle_));
      r.image = row == p.lines ? img : img.copy(0, 0, p.pixels_per_line, qMax(row, 1));
      if (row == 0) r.image = QImage(), r.error = QObject::tr("The scanner sent no picture.");
      return r;
    }
    QByteArray data;
    if (expected > 0) data.reserve(expected);
    for (;;) {
      SANE_Int len = 0;
      st = next(len);
      if (st == SANE_STATUS_EOF) break;
      if (st != SANE_STATUS_GOOD) return stopped(st);
      if (data.size() + len > limit) return failed(SANE_STATUS_NO_MEM, QObject::tr("The scan is larger than this machine can hold."));
      data.append(reinterpret_cast<const char *>(block.data()), len);
      if (progress) progress(data.size() + qint64(frames.size()) * qMax<qint64>(expected, 0), expected > 0 ? expected * (p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB ? 1 : 3) : -1);
    }
    const int got = int(data.size() / p.bytes_per_line);
    lines = frames.empty() ? got : qMin(lines, got);
    frames.push_back(std::move(data));
    params.push_back(p);
    if (p.last_frame || frames.size() >= 3) break;
  }
  sane_cancel(h(handle_));  // ends the scan in every backend, as the standard asks after the last frame
  r.image = toImage(frames, params, lines);
  if (r.image.isNull()) r.error = QObject::tr("The scanner sent no picture.");
  return r;
}

}  // namespace scan
