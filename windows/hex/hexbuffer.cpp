#include "windows/hex/hexbuffer.h"

#include "windows/hex/hexfileio.h"
#include "windows/hex/oemcodepage.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kNarrowHeader = 33;  // header bytes of a record with 32-bit integers
constexpr int kWideHeader = 61;    // header bytes of a record with 64-bit integers

bool fits32(qint64 v) { return v >= INT32_MIN && v <= INT32_MAX; }

void putInt(QByteArray &b, qint64 v, bool wide) {
  const int n = wide ? 8 : 4;
  for (int i = 0; i < n; ++i) b.append(static_cast<char>((static_cast<quint64>(v) >> (8 * i)) & 0xFF));
}

qint64 getInt(const QByteArray &b, qint64 at, bool wide) {
  const int n = wide ? 8 : 4;
  quint64 v = 0;
  for (int i = 0; i < n; ++i) v |= static_cast<quint64>(static_cast<unsigned char>(b[at + i])) << (8 * i);
  if (!wide) return static_cast<qint32>(static_cast<quint32>(v));
  return static_cast<qint64>(v);
}

unsigned char lowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Permissions a new file gets from the process's umask.
mode_t defaultMode() {
  mode_t m = ::umask(0);
  ::umask(m);
  return 0666 & ~m;
}
}  // namespace

// Parsed header of an undo record.
struct UndoHeader {
  int type = 0;
  bool wide = false;
  int mark = 0;
  bool modified = false;
  qint64 caret = 0;
  int nibble = 0;
  int area = 0;
  qint64 selStart = -1, selEnd = -1, anchor = -1, pos = 0, count = 0, replaced = 0;
  qint64 start = 0;    // offset of the record in the log
  qint64 payload = 0;  // offset of the payload in the log
};

static UndoHeader parseRecord(const QByteArray &log, qint64 start) {
  UndoHeader h;
  h.start = start;
  const auto t = static_cast<unsigned char>(log[start]);
  h.wide = (t & THexBuffer::kWideRecord) != 0;
  h.type = t & 0x7F;
  h.mark = static_cast<unsigned char>(log[start + 1]);
  h.modified = log[start + 2] != 0;
  const int w = h.wide ? 8 : 4;
  qint64 at = start + 3;
  h.caret = getInt(log, at, h.wide);
  at += w;
  h.nibble = static_cast<unsigned char>(log[at++]);
  h.area = static_cast<unsigned char>(log[at++]);
  h.selStart = getInt(log, at, h.wide);
  at += w;
  h.selEnd = getInt(log, at, h.wide);
  at += w;
  h.anchor = getInt(log, at, h.wide);
  at += w;
  h.pos = getInt(log, at, h.wide);
  at += w;
  h.count = getInt(log, at, h.wide);
  at += w;
  h.replaced = getInt(log, at, h.wide);
  at += w;
  h.payload = at;
  return h;
}

THexBuffer::THexBuffer(QObject *parent) : QObject(parent), m_cache(kCacheSize) {}

THexBuffer::~THexBuffer() {
  if (m_fd >= 0) ::close(m_fd);
}

// ---------------------------------------------------------------- notifications

void THexBuffer::postStateChanged() {
  QMetaObject::invokeMethod(this, &THexBuffer::StateChanged, Qt::QueuedConnection);
}

void THexBuffer::resetUndo() {
  m_canUndo = false;
  m_undoDescription = QStringLiteral("No Undo");
  m_undoCount = 0;
  m_undo.clear();
  m_undo.squeeze();
  emit StateChanged();
}

QString THexBuffer::describe(int type) {
  switch (type) {
    case utByteChanged: return QStringLiteral("Byte changed");
    case utRemoved: return QStringLiteral("Byte(s) removed");
    case utInserted: return QStringLiteral("Insert Buffer");
    case utReplaced: return QStringLiteral("Replace selection");
    case utAppended: return QStringLiteral("Append buffer");
  }
  return QString();
}

void THexBuffer::setReadOnly(bool on) {
  if (on == m_readOnly) return;
  m_readOnly = on;
  postStateChanged();
}

void THexBuffer::setOEMTranslate(bool on) {
  if (on == m_oem) return;
  m_oem = on;
  emit repaintAll();
}

// ---------------------------------------------------------------- working copy

bool THexBuffer::ensureWorkingCopy() {
  if (m_fd >= 0 && !m_lazy) return true;
  const int fd = hexio::openUnnamed(QFile::encodeName(QDir::tempPath()));
  if (fd < 0) {
    m_error = hexio::lastErrorText();
    return false;
  }
  if (m_lazy) {
    // The first change of a file shown straight from disk: now the working copy is made, of the loaded bytes
    // only: a file changed before or during the copy is refused rather than mixed in.
    if (!sourceIntact() || !hexio::copyContents(m_fd, fd, &m_error, m_progress) || !sourceIntact()) {
      ::close(fd);
      return false;
    }
    ::close(m_fd);
    m_lazy = false;
    m_fd = fd;
    dropCache();
    return true;
  }
  m_fd = fd;
  m_size = 0;
  return true;
}

void THexBuffer::closeWorkingCopy() {
  if (m_fd >= 0) {
    // Only our own copy is emptied; a loaded file shown straight from disk is just let go.
    if (!m_lazy && ::ftruncate(m_fd, 0) != 0) { /* the file is deleted at the end anyway */ }
    ::close(m_fd);
    m_fd = -1;
  }
  m_lazy = false;
  m_sourceLost = false;
  m_size = 0;
}

bool THexBuffer::sourceIntact() {
  if (!m_lazy) return true;
  if (!m_sourceLost && hexio::stampOf(m_fd) == m_sourceStamp) return true;
  loseSource();
  return false;
}

void THexBuffer::loseSource() {
  m_error = QStringLiteral("The file was changed by another program after it was opened here.");
  dropCache();
  if (m_sourceLost) return;
  m_sourceLost = true;
  // Let go after the current command: views may be painting from the buffer right now.
  QMetaObject::invokeMethod(this, &THexBuffer::dropLostSource, Qt::QueuedConnection);
}

void THexBuffer::dropLostSource() {
  if (!m_sourceLost) return;  // loaded anew meanwhile
  const QString name = m_fileName;
  NewFile(QStringLiteral("Untitled"));
  emit repaintAll();
  emit sourceChanged(name);
}

bool THexBuffer::readData(qint64 pos, void *buf, qint64 n) {
  if (!m_lazy) return hexio::readAt(m_fd, pos, buf, n);
  // Checked before and after: a change while reading must not slip through either.
  return sourceIntact() && hexio::readAt(m_fd, pos, buf, n) && sourceIntact();
}

void THexBuffer::cutMarks(qint64 length) {
  m_marks.erase(m_marks.lower_bound(std::max<qint64>(0, length)), m_marks.end());
}

void THexBuffer::recomputeRows() {
  cutMarks(m_size);
  dropCache();
  emit rowsChanged();
}

// ---------------------------------------------------------------- files

void THexBuffer::NewFile(const QString &name) {
  closeWorkingCopy();
  m_diskStamp = hexio::Stamp();
  m_fileName = name;
  resetUndo();
  clearSelection(false);
  m_marks.clear();
  recomputeRows();
  m_modified = false;
  m_readOnly = true;
  setCaret(0, haHex, 0);
}

bool THexBuffer::LoadFromFile(const QString &name) { return load(name, false); }

bool THexBuffer::ViewFile(const QString &name) { return load(name, true); }

bool THexBuffer::load(const QString &name, bool viewOnly) {
  closeWorkingCopy();
  m_diskStamp = hexio::Stamp();
  m_error.clear();
  bool ok = false;
  const QByteArray path = QFile::encodeName(name);
  int src = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (src < 0 || ::fstat(src, &st) != 0 || !S_ISREG(st.st_mode)) {
    m_error = src < 0 ? hexio::lastErrorText() : QStringLiteral("Not a regular file");
  } else {
    // Whether it can be written back in place: the file itself and (for the rename on save) its folder.
    // The file is never opened for writing to find out.
    const QByteArray dir = QFile::encodeName(QFileInfo(name).absolutePath());
    bool writable = !viewOnly && ::access(path.constData(), W_OK) == 0 && ::access(dir.constData(), W_OK) == 0;
    if (!viewOnly) {
      // What killed saves of this file (or of its backup) left beside it goes now.
      const QString real = QFileInfo(name).canonicalFilePath();
      hexio::removeStaleSaveTemps(QFile::encodeName(real));
      hexio::removeStaleSaveTemps(QFile::encodeName(backupName(real)));
    }
    if (viewOnly || (st.st_size > kEagerCopyLimit && !(ensureWorkingCopy() && hexio::clone(src, m_fd)))) {
      // A large file that cannot be cloned is shown straight from disk (read-only) and copied on the first
      // change, so that opening it does not wait for a full copy.
      closeWorkingCopy();
      m_fd = src;
      src = -1;
      m_lazy = true;
      m_size = st.st_size;
      m_sourceStamp = m_diskStamp = hexio::stampOf(m_fd);
      ok = true;
    } else if (ensureWorkingCopy()) {
      // A copy that ran while another program wrote the file could hold some old and some new bytes: it is
      // taken only when the file stayed the same from start to end, else made again.
      for (int attempt = 1; !ok; ++attempt) {
        const hexio::Stamp before = hexio::stampOf(src);
        if (!hexio::copyContents(src, m_fd, &m_error, m_progress)) break;
        ok = before == hexio::stampOf(src);
        if (ok) {
          m_diskStamp = before;
        } else if (attempt == 3) {
          m_error = QStringLiteral("The file kept changing while it was read.");
          break;
        }
      }
      if (ok) m_size = hexio::fileSize(m_fd);
      else closeWorkingCopy();
    }
    if (ok) {
      m_fileName = name;
      m_readOnly = !writable;
    }
  }
  if (src >= 0) ::close(src);
  if (!ok) {
    // An empty, nameless buffer: never one that still carries the old name and could be saved over it.
    m_fileName = QStringLiteral("Untitled");
    m_readOnly = true;
  }
  resetUndo();
  m_marks.clear();
  recomputeRows();
  m_modified = false;
  m_selecting = false;
  clearSelection(false);
  setCaret(0, haHex, 0);
  emit repaintAll();
  return ok;
}

QString THexBuffer::backupName(const QString &name) const {
  const int slash = name.lastIndexOf(QLatin1Char('/'));
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  QString base = (dot > slash + 1) ? name.left(dot) : name;
  QString result = base + BackupExtension;
  if (result == name) result = name + BackupExtension;  // never back a file up onto itself
  return result;
}

THexBuffer::Replaced THexBuffer::replaceFile(int src, const QString &to, const struct stat *like, bool strictOwner,
                                             bool checkSource) {
  const QByteArray target = QFile::encodeName(to);
  hexio::removeStaleSaveTemps(target);
  hexio::SaveTemp tmp;
  if (!tmp.create(target)) {
    m_error = hexio::lastErrorText();
    return Replaced::Failed;
  }
  struct stat made;
  if (like && ::fstat(tmp.fd(), &made) == 0 && (made.st_uid != like->st_uid || made.st_gid != like->st_gid) &&
      ::fchown(tmp.fd(), like->st_uid, like->st_gid) != 0 && strictOwner)
    return Replaced::OwnerNotKept;
  bool ok = hexio::copyContents(src, tmp.fd(), &m_error, m_progress);
  if (ok && checkSource) ok = sourceIntact();
  // The mode after the owner: changing the owner clears the set-user-ID and set-group-ID bits.
  if (ok && ::fchmod(tmp.fd(), like ? (like->st_mode & 07777) : defaultMode()) != 0) {
    ok = false;
    m_error = hexio::lastErrorText();
  }
  if (ok && (::fsync(tmp.fd()) != 0 || !tmp.commit())) {
    ok = false;
    m_error = hexio::lastErrorText();
  }
  return ok ? Replaced::Done : Replaced::Failed;
}

bool THexBuffer::writeInPlace(int src, const QString &to) {
  const QByteArray target = QFile::encodeName(to);
  const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, defaultMode());
  if (fd < 0) {
    m_error = hexio::lastErrorText();
    return false;
  }
  bool ok = hexio::copyContents(src, fd, &m_error, m_progress);
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    m_error = hexio::lastErrorText();
  }
  ::close(fd);
  return ok;
}

bool THexBuffer::SaveToFile(const QString &requested, bool overChange) {
  m_error.clear();
  if (!overChange && requested == m_fileName && changedOnDisk()) {
    m_error = QStringLiteral("The file was changed by another program after it was opened here.");
    return false;
  }
  const QByteArray asked = QFile::encodeName(requested);
  struct stat st;
  // A symbolic link is saved through: the file it leads to gets the bytes and the link stays a link.
  const bool viaLink = ::lstat(asked.constData(), &st) == 0 && S_ISLNK(st.st_mode);
  QString name = requested;
  if (viaLink && !QFileInfo(requested).canonicalFilePath().isEmpty()) name = QFileInfo(requested).canonicalFilePath();
  const QByteArray target = QFile::encodeName(name);
  const bool exists = ::stat(target.constData(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    m_error = QStringLiteral("Not a regular file");
    return false;
  }
  // A rename would replace a write-protected file as easily as any other; it is refused as a write would be.
  if (exists && ::access(target.constData(), W_OK) != 0) {
    m_error = hexio::lastErrorText();
    return false;
  }
  if (CreateBackup && m_modified && requested == m_fileName && exists) {
    // The backup belongs to whom the file belongs, with its permissions but never set-ID bits: an old copy
    // of a program must not keep running with its owner's rights.
    struct stat like = st;
    like.st_mode &= 0777;
    const int old = ::open(target.constData(), O_RDONLY | O_CLOEXEC);
    const bool backedUp = old >= 0 && replaceFile(old, backupName(name), &like, false, false) == Replaced::Done;
    if (old < 0) m_error = hexio::lastErrorText();
    else ::close(old);
    if (!backedUp) {
      m_error = QStringLiteral("Backup failed: ") + m_error;
      return false;
    }
  }
  // A file shown straight from disk is saved from itself, so only while it is still the file loaded.
  if (m_lazy && !sourceIntact()) return false;
  if (m_fd < 0 && !ensureWorkingCopy()) return false;
  // Replacing the file would leave its other names (hard links, the symbolic link named) with the old
  // bytes, and a replacement that cannot have the file's owner and group would change them: such files are
  // written in place (the backup is made by then). Written in place, a file shown straight from disk is
  // copied first, since a change behind it could not be taken back once half of it is written.
  struct stat shown;
  const bool itself = m_lazy && exists && ::fstat(m_fd, &shown) == 0 && shown.st_dev == st.st_dev &&
                      shown.st_ino == st.st_ino;
  bool inPlace = viaLink || (exists && st.st_nlink > 1);
  if (itself) {
    // A file shown straight from disk saved over itself: its bytes are already there.
  } else if (!inPlace) {
    const Replaced r = replaceFile(m_fd, name, exists ? &st : nullptr, true, m_lazy);
    if (r == Replaced::Failed) return false;
    inPlace = r == Replaced::OwnerNotKept;
  }
  if (!itself && inPlace && ((m_lazy && !ensureWorkingCopy()) || !writeInPlace(m_fd, name))) return false;
  m_diskStamp = hexio::stampOf(asked);
  m_marks.clear();
  m_modified = false;
  m_readOnly = false;
  m_fileName = requested;
  resetUndo();
  emit repaintAll();
  return true;
}

bool THexBuffer::changedOnDisk() const {
  return m_diskStamp.exists && !(hexio::stampOf(QFile::encodeName(m_fileName)) == m_diskStamp);
}

// ---------------------------------------------------------------- caret and selection

qint64 THexBuffer::CaretPosition() const {
  return std::clamp<qint64>(m_caretPos, 0, std::max<qint64>(0, m_size - 1));
}

void THexBuffer::setCaret(qint64 pos, THexArea area, int nibble) {
  m_caretPos = std::clamp<qint64>(pos, 0, std::max<qint64>(0, m_size - 1));
  m_caretArea = area;
  m_caretNibble = (area == haHex && m_size > 0) ? (nibble & 1) : 0;
  emit caretMoved();
  postStateChanged();
}

void THexBuffer::setSelStart(qint64 pos) {
  if (pos < 0 || pos >= m_size) throw EHexEditor("Invalid SelStart");
  clearSelection();
  setCaret(pos, m_caretArea, 0);
}

void THexBuffer::setSelEnd(qint64 pos) {
  if (pos < 0 || pos >= m_size) throw EHexEditor("Invalid SelEnd");
  clearSelection();
  extendSelection(pos, CaretPosition());
}

void THexBuffer::extendSelection(qint64 e, qint64 g) {
  const qint64 oldStart = m_selStart, oldEnd = m_selEnd;
  if (m_anchor < 0) {
    m_anchor = g;
    m_selStart = std::min(e, g);
    m_selEnd = std::max(g, e);
  } else if (e < m_anchor) {
    m_selStart = e;
    m_selEnd = m_anchor;
  } else {
    m_selStart = m_anchor;
    m_selEnd = e;
  }
  if (oldStart < 0) {
    emit bytesChanged(m_selStart, m_selEnd);
  } else {
    emit bytesChanged(std::min(oldStart, m_selStart), std::max(oldStart, m_selStart));
    emit bytesChanged(std::min(oldEnd, m_selEnd), std::max(oldEnd, m_selEnd));
  }
  postStateChanged();
}

void THexBuffer::clearSelection(bool repaint) {
  const qint64 oldStart = m_selStart, oldEnd = m_selEnd;
  const bool had = m_anchor >= 0;
  m_selecting = false;
  m_anchor = m_selStart = m_selEnd = -1;
  if (repaint && had) emit bytesChanged(oldStart, oldEnd);
  postStateChanged();
}

void THexBuffer::restoreSelection(qint64 anchor, qint64 selStart, qint64 selEnd) {
  m_anchor = anchor;
  m_selStart = anchor < 0 ? -1 : selStart;
  m_selEnd = anchor < 0 ? -1 : selEnd;
  emit repaintAll();
  postStateChanged();
}

// ---------------------------------------------------------------- bytes

QByteArray THexBuffer::BufferFromFile(qint64 pos, qint64 &count) {
  if (pos < 0 || pos >= m_size) throw EHexEditor("Invalid BufferFromFile argument");
  if (count < 0) count = 0;
  if (pos + count > m_size) count = m_size - pos;
  QByteArray b;
  try {
    b.resize(count);
  } catch (const std::bad_alloc &) {
    count = 0;
    return QByteArray();
  }
  if (!readData(pos, b.data(), count)) {
    count = 0;
    return QByteArray();
  }
  return b;
}

unsigned char THexBuffer::cachedByte(qint64 p) {
  if (p < 0 || p >= m_size) return 0;
  const QByteArray b = cachedBytes(p - p % m_rowLength, m_rowLength);
  const qint64 i = p % m_rowLength;
  return i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
}

QByteArray THexBuffer::cachedBytes(qint64 p, int n) {
  if (p < 0 || p >= m_size || n <= 0) return QByteArray();
  n = static_cast<int>(std::min<qint64>(n, m_size - p));
  if (n > kCacheSize) return QByteArray();
  if (!(m_cacheStart >= 0 && p >= m_cacheStart && p + std::max(n, m_rowLength) <= m_cacheStart + kCacheSize)) {
    m_cacheStart = std::max<qint64>(0, p - kCacheSize / 2);
    m_cacheLength = std::min<qint64>(kCacheSize, m_size - m_cacheStart);
    if (!readData(m_cacheStart, m_cache.data(), m_cacheLength)) {
      m_cacheStart = -1;
      return QByteArray();  // blank cells rather than bytes that are not there
    }
  }
  const qint64 off = p - m_cacheStart;
  const qint64 have = std::max<qint64>(0, std::min<qint64>(n, m_cacheLength - off));
  QByteArray out(reinterpret_cast<const char *>(m_cache.data()) + off, have);
  if (have < n) out.append(QByteArray(n - have, '\0'));
  return out;
}

// ---------------------------------------------------------------- undo records

bool THexBuffer::record(int type, qint64 pos, qint64 count, qint64 replaced) {
  if (m_size <= 0 && type != utInserted && type != utAppended) {
    postStateChanged();
    return false;
  }
  QByteArray payload;
  if (type == utByteChanged || type == utRemoved || type == utReplaced) {
    qint64 n = type == utByteChanged ? 1 : (type == utRemoved ? count : replaced);
    if (n > kMaxUndoPayload) {
      m_error = QStringLiteral("The selection is too large to be changed with undo.");
      postStateChanged();
      return false;
    }
    payload = BufferFromFile(pos, n);
    if (n != (type == utByteChanged ? 1 : (type == utRemoved ? count : replaced))) {
      m_error = hexio::lastErrorText();
      postStateChanged();
      return false;
    }
  } else {
    payload = QByteArray(1, '\0');
  }

  m_undoDescription = describe(type);
  if (++m_undoCount > kMaxUndo) dropOldestRecord();

  const qint64 caret = CaretPosition();
  const bool wide = !(fits32(caret) && fits32(m_selStart) && fits32(m_selEnd) && fits32(m_anchor) &&
                      fits32(pos) && fits32(count) && fits32(replaced));
  QByteArray r;
  r.reserve((wide ? kWideHeader : kNarrowHeader) + payload.size() + 4);
  r.append(static_cast<char>(type | (wide ? kWideRecord : 0)));
  r.append(static_cast<char>(type == utByteChanged && IsChanged(pos) ? 1 : 0));
  r.append(static_cast<char>(m_modified ? 1 : 0));
  putInt(r, caret, wide);
  r.append(static_cast<char>(m_caretArea == haHex ? caretNibble() : 0));
  r.append(static_cast<char>(m_caretArea == haChar ? 1 : 0));
  putInt(r, m_selStart, wide);
  putInt(r, m_selEnd, wide);
  putInt(r, m_anchor, wide);
  putInt(r, pos, wide);
  putInt(r, count, wide);
  putInt(r, type == utReplaced ? replaced : 0, wide);
  r.append(payload);
  putInt(r, r.size() + 4, false);
  m_undo.append(r);
  m_canUndo = true;
  m_modified = true;
  postStateChanged();
  return true;
}

void THexBuffer::dropOldestRecord() {
  // The log holds m_undoCount - 1 records; walk back over all but the first to find where the first ends.
  qint64 end = m_undo.size();
  for (int i = 0; i < m_undoCount - 2 && end > 4; ++i) end -= getInt(m_undo, end - 4, false);
  m_undo.remove(0, end);
  --m_undoCount;
}

// Takes back the record just added when the operation itself failed.
static void popRecord(QByteArray &log, int &count) {
  if (log.size() < 4) return;
  log.chop(getInt(log, log.size() - 4, false));
  --count;
}

// ---------------------------------------------------------------- editing

bool THexBuffer::insertBytes(const QByteArray &bytes, qint64 pos) {
  if (bytes.isEmpty()) return true;
  if (!ensureWorkingCopy()) return false;
  if (m_size == 0) m_marks.clear();
  const qint64 old = m_size, count = bytes.size();
  bool ok = ::ftruncate(m_fd, old + count) == 0;
  if (ok && pos < old) ok = hexio::moveRange(m_fd, pos, pos + count, old - pos);
  if (ok) ok = hexio::writeAt(m_fd, pos, bytes.constData(), count);
  if (!ok) {
    m_error = hexio::lastErrorText();
    if (pos < old) hexio::moveRange(m_fd, pos + count, pos, old - pos);
    if (::ftruncate(m_fd, old) != 0) { /* the size below still tells the valid bytes */ }
    dropCache();
    return false;
  }
  m_size = old + count;
  recomputeRows();
  return true;
}

bool THexBuffer::removeBytes(qint64 pos, qint64 count) {
  const qint64 tail = m_size - (pos + count);
  bool ok = tail <= 0 || hexio::moveRange(m_fd, pos + count, pos, tail);
  if (ok) ok = ::ftruncate(m_fd, m_size - count) == 0;
  if (!ok) {
    m_error = hexio::lastErrorText();
    dropCache();
    return false;
  }
  m_size -= count;
  recomputeRows();
  return true;
}

bool THexBuffer::ChangeByte(qint64 pos, unsigned char oldValue, unsigned char newValue) {
  if (newValue == oldValue || pos < 0 || pos >= m_size) return false;
  m_error.clear();
  if (m_lazy && !ensureWorkingCopy()) return false;
  if (!record(utByteChanged, pos, 1, 0)) return false;
  const char c = static_cast<char>(newValue);
  if (!hexio::writeAt(m_fd, pos, &c, 1)) {
    m_error = hexio::lastErrorText();
    popRecord(m_undo, m_undoCount);
    return false;
  }
  if (m_cacheStart >= 0 && pos >= m_cacheStart && pos < m_cacheStart + m_cacheLength)
    m_cache[pos - m_cacheStart] = newValue;
  m_marks.insert(pos);
  emit bytesChanged(pos, pos);
  return true;
}

bool THexBuffer::InsertBuffer(const QByteArray &bytes, qint64 pos) {
  m_error.clear();
  if (m_lazy && !ensureWorkingCopy()) return false;
  if (bytes.isEmpty() || pos < 0 || pos > m_size) return false;
  const bool wasModified = m_modified;
  if (!record(utInserted, pos, bytes.size(), 0)) return false;
  if (!insertBytes(bytes, pos)) {
    popRecord(m_undo, m_undoCount);
    m_modified = wasModified;
    return false;
  }
  cutMarks(pos);
  if (CaretPosition() == pos) {
    m_anchor = m_selStart = pos;
    m_selEnd = pos + bytes.size() - 1;
    postStateChanged();
  }
  emit repaintAll();
  return true;
}

bool THexBuffer::AppendBuffer(const QByteArray &bytes) {
  m_error.clear();
  if (m_lazy && !ensureWorkingCopy()) return false;
  if (bytes.isEmpty()) return false;
  const qint64 old = m_size;
  const bool wasModified = m_modified;
  if (!record(utAppended, old, bytes.size(), 0)) return false;
  cutMarks(old);
  if (!insertBytes(bytes, old)) {
    popRecord(m_undo, m_undoCount);
    m_modified = wasModified;
    return false;
  }
  setCaret(old, m_caretArea, 0);
  m_anchor = m_selStart = old;
  m_selEnd = old + bytes.size() - 1;
  postStateChanged();
  emit repaintAll();
  return true;
}

void THexBuffer::placeCaretAfterDelete(qint64 pos, THexArea area, int nibble) {
  if (pos >= m_size) setCaret(std::max<qint64>(0, m_size - 1), area, 0);
  else setCaret(pos, area, nibble);
}

bool THexBuffer::ReplaceSelection(const QByteArray &bytes) {
  m_error.clear();
  if (m_lazy && !ensureWorkingCopy()) return false;
  if (m_anchor < 0) return InsertBuffer(bytes, CaretPosition());
  const qint64 s = m_selStart, n = SelCount();
  if (!record(utReplaced, s, bytes.size(), n)) return false;
  const THexArea area = m_caretArea;
  cutMarks(s);
  if (!removeBytes(s, n)) {
    popRecord(m_undo, m_undoCount);
    return false;
  }
  placeCaretAfterDelete(s, area, 0);
  clearSelection(false);
  if (!insertBytes(bytes, s)) {
    // The old bytes are still in the record: put them back rather than lose them.
    const UndoHeader h = parseRecord(m_undo, m_undo.size() - getInt(m_undo, m_undo.size() - 4, false));
    insertBytes(m_undo.mid(h.payload, h.replaced), s);
    popRecord(m_undo, m_undoCount);
    emit repaintAll();
    return false;
  }
  cutMarks(s);
  if (CaretPosition() == s && !bytes.isEmpty()) {
    m_anchor = m_selStart = s;
    m_selEnd = s + bytes.size() - 1;
    postStateChanged();
  }
  emit repaintAll();
  return true;
}

bool THexBuffer::DeleteSelection() {
  m_error.clear();
  if (m_lazy && !ensureWorkingCopy()) return false;
  if (m_size <= 0) {
    postStateChanged();
    return false;
  }
  const bool sel = m_anchor >= 0;
  const qint64 start = sel ? m_selStart : CaretPosition();
  const qint64 len = sel ? SelCount() : 1;
  const qint64 caretPos = sel ? m_selStart : CaretPosition();
  const int nibble = sel ? 0 : caretNibble();
  const THexArea area = m_caretArea;
  if (!record(utRemoved, start, len, 0)) return false;
  cutMarks(start);
  if (!removeBytes(start, len)) {
    popRecord(m_undo, m_undoCount);
    return false;
  }
  placeCaretAfterDelete(caretPos, area, nibble);
  clearSelection(false);
  emit repaintAll();
  return true;
}

void THexBuffer::restoreState(const UndoHeader &h) {
  const THexArea area = h.area == 1 ? haChar : haHex;
  setCaret(h.caret, area, m_size > 0 ? h.nibble : 0);
  m_selStart = h.selStart;
  m_selEnd = h.selEnd;
  m_anchor = h.anchor;
  m_modified = h.modified;
}

void THexBuffer::Undo() {
  if (!m_canUndo || m_undo.size() <= 4) {
    resetUndo();
    return;
  }
  const qint64 len = getInt(m_undo, m_undo.size() - 4, false);
  const UndoHeader h = parseRecord(m_undo, m_undo.size() - len);
  m_error.clear();
  // When the working copy cannot be changed back (a full disk), the record stays so nothing is lost.
  bool ok = true;
  switch (h.type) {
    case utByteChanged: {
      const char old = m_undo[h.payload];
      if (!(ok = hexio::writeAt(m_fd, h.pos, &old, 1))) break;
      if (h.mark) m_marks.insert(h.pos);
      else m_marks.erase(h.pos);
      restoreState(h);
      if (m_cacheStart >= 0 && h.pos >= m_cacheStart && h.pos < m_cacheStart + m_cacheLength)
        m_cache[h.pos - m_cacheStart] = static_cast<unsigned char>(old);
      emit bytesChanged(h.pos, h.pos);
      break;
    }
    case utRemoved:
      dropCache();
      if (!(ok = insertBytes(m_undo.mid(h.payload, h.count), h.pos))) break;
      restoreState(h);
      cutMarks(h.pos);
      break;
    case utInserted:
      dropCache();
      if (!(ok = removeBytes(h.pos, h.count))) break;
      restoreState(h);
      cutMarks(h.pos);
      break;
    case utReplaced: {
      dropCache();
      qint64 n = h.count;
      const QByteArray current = h.count > 0 ? BufferFromFile(h.pos, n) : QByteArray();
      if (!(ok = n == h.count && removeBytes(h.pos, h.count))) break;
      if (!(ok = insertBytes(m_undo.mid(h.payload, h.replaced), h.pos))) {
        insertBytes(current, h.pos);  // back to the state the record describes
        break;
      }
      restoreState(h);
      cutMarks(std::max<qint64>(0, h.pos - 1));
      break;
    }
    case utAppended:
      dropCache();
      if (!(ok = ::ftruncate(m_fd, h.pos) == 0)) break;
      m_size = h.pos;
      recomputeRows();
      cutMarks(h.pos);
      restoreState(h);
      break;
  }
  if (!ok) {
    if (m_error.isEmpty()) m_error = hexio::lastErrorText();
    emit repaintAll();
    postStateChanged();
    return;
  }
  emit repaintAll();
  m_undo.chop(len);
  --m_undoCount;
  if (m_undo.size() <= 4) {
    resetUndo();
  } else {
    const qint64 lastLen = getInt(m_undo, m_undo.size() - 4, false);
    m_undoDescription = describe(static_cast<unsigned char>(m_undo[m_undo.size() - lastLen]) & 0x7F);
    postStateChanged();
  }
}

// ---------------------------------------------------------------- find and seek

qint64 THexBuffer::Find(QByteArray &pattern, bool text, bool ignoreCase, qint64 last, qint64 first,
                        const std::function<bool(qint64, qint64)> &progress) {
  m_findCancelled = false;
  if (last >= m_size) last = m_size - 1;
  if (first < 0) first = 0;
  if (pattern.isEmpty() || last + 1 < first + pattern.size()) return -1;
  if (text && m_oem) pattern = oem::fromAnsi(pattern);
  if (ignoreCase)
    for (auto &c : pattern) c = static_cast<char>(lowerAscii(static_cast<unsigned char>(c)));
  const qint64 count = pattern.size();
  if (last + 1 < first + count) return -1;

  const qint64 block = std::max<qint64>(hexio::kMoveBlock, 2 * count);
  std::vector<char> buf(static_cast<size_t>(std::min<qint64>(block, last + 1 - first)));
  // A pattern with a non-zero byte cannot lie wholly inside a hole of a sparse working copy, so holes are
  // skipped instead of read as zeros.
  const bool skipHoles = pattern.count('\0') != count;
  qint64 pos = first;
  while (pos + count - 1 <= last) {
    if (skipHoles) {
      const off_t d = ::lseek(m_fd, pos, SEEK_DATA);
      if (d < 0 && errno == ENXIO) break;
      if (d > pos + count - 1) pos = d - (count - 1);
      if (pos + count - 1 > last) break;
    }
    const qint64 n = std::min<qint64>(static_cast<qint64>(buf.size()), last + 1 - pos);
    if (!readData(pos, buf.data(), n)) return -1;
    if (ignoreCase)
      for (qint64 i = 0; i < n; ++i) buf[i] = static_cast<char>(lowerAscii(static_cast<unsigned char>(buf[i])));
    const void *hit = ::memmem(buf.data(), n, pattern.constData(), count);
    if (hit) return pos + (static_cast<const char *>(hit) - buf.data());
    if (pos + n > last) break;
    pos += n - (count - 1);
    if (progress && !progress(pos - first, last + 1 - first)) {
      m_findCancelled = true;
      return -1;
    }
  }
  return -1;
}

bool THexBuffer::Seek(qint64 offset, THexSeekOrigin origin, bool strict) {
  qint64 target = CaretPosition();
  switch (origin) {
    case soFromStart: target = offset; break;
    case soFromCaret: target = CaretPosition() + offset; break;
    case soFromEnd: target = m_size - 1 + offset; break;
    case soNone: break;
  }
  if (m_size <= 0) return false;
  if (target < 0) {
    if (strict) return false;
    target = 0;
  } else if (target >= m_size) {
    if (strict) return false;
    target = m_size - 1;
  }
  setSelStart(target);
  return true;
}
