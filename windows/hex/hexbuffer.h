#pragma once
// THexBuffer: the byte model of the hex editor. The bytes live in a working copy on disk (a file without a
// name, so that nothing is left when the process ends however it ends), never in memory as a whole; a 64 KiB window serves painting; typed bytes carry change marks; editing operations keep undo
// records; find, seek, load and save with a backup copy. It knows nothing of painting: views read bytes and
// state through it and learn of changes through its signals. Positions are 64-bit throughout.
#include "windows/hex/hexfileio.h"
#include "windows/hex/hextypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <set>
#include <stdexcept>
#include <vector>

// Raised for invalid arguments ("Invalid SelStart", "Invalid SelEnd", "Invalid BufferFromFile argument", ...).
class EHexEditor : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class THexBuffer : public QObject {
  Q_OBJECT
 public:
  static constexpr qint64 kCacheSize = 65536;
  static constexpr int kMaxUndo = 100;
  // An operation whose undo record would hold more than this many bytes is refused rather than risk
  // exhausting memory (the record keeps removed bytes in memory).
  static constexpr qint64 kMaxUndoPayload = 256ll * 1024 * 1024;
  // Files above this size that cannot be cloned are shown from disk and copied on their first change.
  static constexpr qint64 kEagerCopyLimit = 64ll * 1024 * 1024;

  // Undo operation types as stored in the first byte of a record.
  enum UndoType { utByteChanged = 0, utRemoved = 1, utInserted = 2, utReplaced = 3, utAppended = 4 };
  // Set in the type byte when a record's integers are 8 bytes wide (a value does not fit in 32 bits).
  static constexpr quint8 kWideRecord = 0x80;

  explicit THexBuffer(QObject *parent = nullptr);
  ~THexBuffer() override;

  // ---- files
  void NewFile(const QString &name);
  bool LoadFromFile(const QString &name);
  // Shows a file straight from disk for looking only: nothing is copied, whatever its size, and nothing is
  // written beside it; ReadOnly is set. An edit would still make a working copy first, as for a large file.
  bool ViewFile(const QString &name);
  // Saving over the file loaded (or last saved) here is refused while another program has changed it since,
  // so that its change is not lost unseen; overChange saves over it all the same (the user was asked).
  bool SaveToFile(const QString &name, bool overChange = false);
  // Why the last load or save failed (empty after success).
  QString lastError() const { return m_error; }
  // Called during long copies (load, save, the first change of a large file) with done/total bytes;
  // returning false cancels. The last call of every copy has done == total.
  void setProgress(std::function<bool(qint64, qint64)> progress) { m_progress = std::move(progress); }
  QString backupName(const QString &name) const;
  bool hasWorkingCopy() const { return m_fd >= 0 && !m_lazy; }
  // True while a loaded file is shown straight from disk, before its first change.
  bool showsFileDirectly() const { return m_lazy; }
  // True when the file named FileName is no longer the one loaded or last saved here (another program
  // rewrote, cut, replaced or removed it).
  bool changedOnDisk() const;
  // True from the moment a file shown straight from disk is found changed until the buffer has let it go
  // (sourceChanged); nothing is read from it meanwhile.
  bool sourceLost() const { return m_sourceLost; }

  qint64 DataSize() const { return m_size; }
  QString FileName() const { return m_fileName; }
  bool Modified() const { return m_modified; }
  bool ReadOnly() const { return m_readOnly; }
  void setReadOnly(bool on);
  bool CanUndo() const { return m_canUndo; }
  QString UndoDescription() const { return m_undoDescription; }

  bool CreateBackup = true;
  QString BackupExtension = QStringLiteral(".bak");
  bool OEMTranslate() const { return m_oem; }
  void setOEMTranslate(bool on);

  // ---- caret and selection
  qint64 CaretPosition() const;
  THexArea caretArea() const { return m_caretArea; }
  int caretNibble() const { return m_caretArea == haHex ? m_caretNibble : 0; }
  // Puts the caret on a byte (no selection logic); views call this after their own acceptance test.
  void setCaret(qint64 pos, THexArea area, int nibble = 0);

  qint64 SelStart() const { return m_selStart; }
  qint64 SelEnd() const { return m_selEnd; }
  qint64 anchor() const { return m_anchor; }
  qint64 SelCount() const { return m_anchor < 0 ? 0 : m_selEnd - m_selStart + 1; }
  bool isSelected(qint64 p) const { return m_anchor >= 0 && p >= m_selStart && p <= m_selEnd; }
  void setSelStart(qint64 pos);
  void setSelEnd(qint64 pos);
  bool selecting() const { return m_selecting; }
  void setSelecting(bool on) { m_selecting = on; }
  // Extends the selection to byte e; g is the caret's byte before the move (the anchor when there is none).
  void extendSelection(qint64 e, qint64 g);
  void clearSelection(bool repaint = true);
  // Puts back a selection remembered by a view (after a change of line length).
  void restoreSelection(qint64 anchor, qint64 selStart, qint64 selEnd);

  // ---- bytes
  QByteArray BufferFromFile(qint64 pos, qint64 &count);
  // A byte through the display cache (positions at or past DataSize read as 0).
  unsigned char cachedByte(qint64 p);
  // Bytes p .. p+n-1 through the display cache; n is cut to the data that exists.
  QByteArray cachedBytes(qint64 p, int n);
  void setCacheRowLength(int bytesPerLine) { m_rowLength = qMax(1, bytesPerLine); }
  void dropCache() { m_cacheStart = -1; }
  bool IsChanged(qint64 pos) const { return m_marks.count(pos) != 0; }

  // ---- editing; each returns false when it did nothing
  bool ChangeByte(qint64 pos, unsigned char oldValue, unsigned char newValue);
  bool InsertBuffer(const QByteArray &bytes, qint64 pos);
  bool AppendBuffer(const QByteArray &bytes);
  bool ReplaceSelection(const QByteArray &bytes);
  bool DeleteSelection();
  void Undo();

  // Text flag: pattern is text (converted to OEM when OEMTranslate is on); ignore case lower-cases both sides.
  // The pattern keeps these conversions. Progress as for load; a cancelled search returns -1 and sets
  // findCancelled().
  qint64 Find(QByteArray &pattern, bool text, bool ignoreCase, qint64 last, qint64 first,
              const std::function<bool(qint64, qint64)> &progress = {});
  bool findCancelled() const { return m_findCancelled; }
  bool Seek(qint64 offset, THexSeekOrigin origin, bool strict);

  // ---- undo log, for inspection
  const QByteArray &undoLog() const { return m_undo; }
  int undoCount() const { return m_undoCount; }
  static QString describe(int type);

 signals:
  // OnStateChanged: caret, selection, size, Modified, ReadOnly or undo changed. Posted, so it arrives after
  // the current command; resetting undo raises it at once.
  void StateChanged();
  // The size changed or the data was replaced: views recompute their rows.
  void rowsChanged();
  // Bytes from..to (inclusive) need repainting.
  void bytesChanged(qint64 from, qint64 to);
  // Everything needs repainting.
  void repaintAll();
  // The caret was put on a new byte by the model (views scroll it into view).
  void caretMoved();
  // The file shown straight from disk was changed by another program: its loaded bytes are gone, so the
  // buffer has let it go and is empty and untitled now. Posted; name is the file it showed.
  void sourceChanged(const QString &name);

 private:
  bool load(const QString &name, bool viewOnly);
  void postStateChanged();
  void resetUndo();
  bool record(int type, qint64 pos, qint64 count, qint64 replaced);
  void dropOldestRecord();
  void recomputeRows();
  void cutMarks(qint64 length);
  bool ensureWorkingCopy();
  void closeWorkingCopy();
  bool insertBytes(const QByteArray &bytes, qint64 pos);
  bool removeBytes(qint64 pos, qint64 count);
  void placeCaretAfterDelete(qint64 pos, THexArea area, int nibble);
  void restoreState(const struct UndoHeader &h);
  enum class Replaced { Done, Failed, OwnerNotKept };
  // Writes the bytes of src over the file at to through a temporary beside it that is renamed into place at
  // the end. The result takes like's owner, group and mode when like is given (else a new file's mode). With
  // strictOwner, a temporary that cannot be given like's owner and group is given up before anything is
  // copied (OwnerNotKept). checkSource: src is the file shown straight from disk, checked before the rename.
  Replaced replaceFile(int src, const QString &to, const struct stat *like, bool strictOwner, bool checkSource);
  // Writes the bytes of src into the file at to itself (through a symbolic link), so that every name of it
  // sees them; its owner, group and mode stay as they are.
  bool writeInPlace(int src, const QString &to);
  // Reads stored bytes; from a file shown straight from disk only while it is still the file loaded.
  bool readData(qint64 pos, void *buf, qint64 n);
  bool sourceIntact();
  void loseSource();
  void dropLostSource();

  int m_fd = -1;  // the working copy (a file without a name in the temporary folder), or the file shown
  bool m_lazy = false;  // m_fd is the loaded file itself, read-only; the working copy comes with the first change
  bool m_sourceLost = false;
  hexio::Stamp m_sourceStamp;  // the file behind m_fd as loaded, while m_lazy
  hexio::Stamp m_diskStamp;    // the file named m_fileName as loaded or last saved here
  qint64 m_size = 0;
  QString m_fileName = QStringLiteral("Untitled");
  QString m_error;
  bool m_modified = false;
  bool m_readOnly = true;
  bool m_canUndo = false;
  bool m_oem = false;
  QString m_undoDescription = QStringLiteral("No Undo");
  QByteArray m_undo;
  int m_undoCount = 0;
  std::set<qint64> m_marks;  // sparse: typed bytes are few even in huge files

  qint64 m_caretPos = 0;
  THexArea m_caretArea = haHex;
  int m_caretNibble = 0;
  qint64 m_selStart = -1, m_selEnd = -1, m_anchor = -1;
  bool m_selecting = false;

  std::vector<unsigned char> m_cache;
  qint64 m_cacheStart = -1;
  qint64 m_cacheLength = 0;
  int m_rowLength = 16;
  bool m_findCancelled = false;
  std::function<bool(qint64, qint64)> m_progress;
};
