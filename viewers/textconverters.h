#pragma once
// The system's text converters: their records in the settings store (one subkey per converter under the
// import key, with "Name", "Extensions" and "Path"), WordPad's converters found through its App Paths entry,
// the open dialog's filter and the matching list of descriptions, and a conversion through a converter
// library (at most one loaded at a time).
#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <functional>

#include "converters/convapi.h"
#include "platform/regstore.h"

class TTextConverters {
 public:
  static const QString ImportKey;    // under HKEY_LOCAL_MACHINE
  static const QString WordPadKey;   // App Paths entry of WORDPAD.EXE; its default value "@" is the program

  explicit TTextConverters(platform::RegStore &store);
  ~TTextConverters();

  // Records our own converter libraries found in `folder` (Word 97, Word 6.0/95, Excel, Lotus) unless a
  // record of the same subkey already names an existing library.
  void registerOwn(const QString &folder);

  QString wordPadFolder() const;
  QString ConverterFilter() const;
  QStringList ConverterNames() const;
  // Loads the converter of a description, freeing the one loaded before; false without one.
  bool LoadConverter(const QString &description);
  QString loadedPath() const { return lib_.isLoaded() ? lib_.fileName() : QString(); }

  enum class Result { Done, NoConverter, InitFailed, WrongFormat, Failed, Cancelled };
  // Converts `file` with the converter of `description` into *rtf. `progress(percent)` is called between
  // chunks and while the converter waits; answering false cancels.
  Result convert(const QString &file, const QString &description, const std::function<bool(int)> &progress,
                 QByteArray *rtf, long *code = nullptr);

 private:
  struct Entry {
    QString name;
    QStringList extensions;
    QString path;
  };
  QList<Entry> entries() const;
  static long output(long bytes, int percent);

  // One conversion, kept on the stack of convert(): the output function reaches it through active_, and
  // a converter object destroyed meanwhile only cuts it loose (owner becomes null), so nothing that
  // returns from the library afterwards touches a destroyed object.
  struct Conversion {
    TTextConverters *owner = nullptr;
    QByteArray stream;
    qsizetype written = 0;
    TConvBlock *transfer = nullptr;
    const std::function<bool(int)> *progress = nullptr;
    bool cancelled = false;
  };
  static Conversion *active_;

  platform::RegStore &store_;
  QLibrary lib_;
  TInitConverter32 init_ = nullptr;
  TIsFormatCorrect32 isFormat_ = nullptr;
  TForeignToRtf32 toRtf_ = nullptr;
};
