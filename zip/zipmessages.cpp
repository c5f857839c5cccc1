// The zip component's string table: every user-visible text of the zip component, by message id.
#include "zip/zipmessages.h"

#include <QHash>

namespace zipmsg {

namespace {
const QHash<int, QString> &table() {
  static const QHash<int, QString> t = {
      {10101, QStringLiteral("Fatal Error in ZipDLL.DLL: abort exception")},
      {10102, QStringLiteral("Error - no zip file specified!")},
      {10103, QStringLiteral("Requested memory not available")},
      {10105, QStringLiteral("Copying: ")},
      {10201, QStringLiteral("Seek error reading Zip archive!")},
      {10202, QStringLiteral("Unknown error in List() function")},
      {10203, QStringLiteral("Warning - Error in zip structure!")},
      {10204, QStringLiteral("Warning - Garbage at the end of the zipfile!")},
      {10301, QStringLiteral("Error - no files to zip!")},
      {10302, QStringLiteral("Unattended action not possible without a password")},
      {10303, QStringLiteral("AddFreshen or AddUpdate not possible on a spanned archive")},
      {10401, QStringLiteral("Error - no files selected for deletion")},
      {10501, QStringLiteral("Fatal Error in UnzDLL.DLL: abort exception")},
      {10502, QStringLiteral("Warning - Unattended Extract: possible not all files extracted")},
      {10601, QStringLiteral("ZIP DLL Loaded")},
      {10602, QStringLiteral("ZipDllExec function not found in ZIPDLL.DLL!")},
      {10603, QStringLiteral("GetZipDllVersion function not found in ZIPDLL.DLL!")},
      {10604, QStringLiteral("ZIPDLL.DLL not found!")},
      {10701, QStringLiteral("UNZDLL Loaded!")},
      {10702, QStringLiteral("UnzDllExec function not found in UNZDLL.DLL!")},
      {10703, QStringLiteral("GetUnzDllVersion function not found in UNZDLL.DLL!")},
      {10704, QStringLiteral("UNZDLL.DLL not found!")},
      {10801, QStringLiteral("Error - On or more of the 4 property strings mentioned below exceeds 255 characters!")},
      {10802, QStringLiteral("Error - ZIPSFX.BIN not found!")},
      {10803, QStringLiteral("Error: input file is not a zip file")},
      {10901, QStringLiteral("Error - no .EXE file specified")},
      {10902, QStringLiteral("Error: input file is not an .EXE file")},
      {10903, QStringLiteral("Error determining the type of SFX archive")},
      {11001, QStringLiteral("Input file does not exist")},
      {11002, QStringLiteral("Zip file could not be opened")},
      {11003, QStringLiteral("Not a valid drive: %s")},
      {11004, QStringLiteral("Drive %s is NOT defined")},
      {11005, QStringLiteral("Volume label could not be set")},
      {11006, QStringLiteral("Not enough memory to display MsgBox")},
      {11007, QStringLiteral("User canceled operation")},
      {11008, QStringLiteral("Seek error in input file")},
      {11009, QStringLiteral("Creation of output file failed")},
      {11010, QStringLiteral("Write error in output file")},
      {11011, QStringLiteral("Error while reading the End Of Central Directory")},
      {11012, QStringLiteral("Error while reading a local header")},
      {11013, QStringLiteral("Error while reading a central header")},
      {11014, QStringLiteral("A local header signature is wrong")},
      {11015, QStringLiteral("A central header signature is wrong")},
      {11016, QStringLiteral("Error while reading a local file name")},
      {11017, QStringLiteral("Error while reading a central file name")},
      {11018, QStringLiteral("Error while reading a local extra field")},
      {11019, QStringLiteral("Error while reading a central extra field")},
      {11020, QStringLiteral("Error while reading/writing a data descriptor area")},
      {11021, QStringLiteral("Error while reading zipped data")},
      {11022, QStringLiteral("Error while reading a file comment")},
      {11023, QStringLiteral("Error while reading the archive comment")},
      {11024, QStringLiteral("UnKnown error in function ReadSpan() or WriteSpan()")},
      {11025, QStringLiteral("Unattended disk spanning not implemented")},
      {11026, QStringLiteral("A local header not found in internal structure")},
      {11027, QStringLiteral("Temporary file could not be created")},
      {11028, QStringLiteral("Error while writing a local header")},
      {11029, QStringLiteral("Error while writing a central header")},
      {11030, QStringLiteral("Error while writing the End Of Central Directory")},
      {11031, QStringLiteral("Error while reading a Extended Local signature")},
      {11032, QStringLiteral("This disk has not enough free space available")},
      {11033, QStringLiteral("Please insert last disk")},
      {11034, QStringLiteral("Please insert disk volume %.1d of %.1d")},
      {11035, QStringLiteral("\nin drive: %s")},
      {11036, QStringLiteral("This archive is not a valid Zip archive")},
      {11037, QStringLiteral("This is the first disk in a backup set,\nplease insert the last disk of this set")},
      {11038, QStringLiteral("This is the %dth disk in a backup set,\nplease insert the last disk of this set")},
      {11039, QStringLiteral("There is already a file %s\nDo you want to overwrite this file")},
      {11040, QStringLiteral("ATTENTION: This is previous disk no %d!!!\nAre you sure you want to overwrite the contents")},
      {11041, QStringLiteral("Error - Self extracting archives(.exe) can not be spanned")},
      {11045, QStringLiteral("This is the first file in a backup set,\nplease choose the last file of this set")},
      {11046, QStringLiteral("Please insert disk volume %.1d")},
  };
  return t;
}
}  // namespace

QString text(int id) { return table().value(id); }

QString format(int id, const QVariantList &args) {
  const QString t = text(id);
  if (t.isEmpty())
    return QStringLiteral("ZipMsgXX.res is probably not bound to executable\nMissing String ID is: ") +
           QString::number(id);
  QString out;
  int next = 0;
  for (int i = 0; i < t.size(); ++i) {
    if (t[i] == '%') {
      int j = i + 1;
      while (j < t.size() && (t[j] == '.' || t[j].isDigit())) ++j;
      if (j < t.size() && (t[j] == 'd' || t[j] == 's')) {
        if (next < args.size()) out += args[next++].toString();
        i = j;
        continue;
      }
    }
    out += t[i];
  }
  return out;
}

}  // namespace zipmsg
