// Command-line driver of TZipMaster for the zip benchmark: add, extract, test or list one archive.
//   tarnwick_zipcli add <archive> <level> <folder>   (names relative to the folder's parent)
//   tarnwick_zipcli extract <archive> <dest>
//   tarnwick_zipcli test <archive>
//   tarnwick_zipcli list <archive>
//   tarnwick_zipcli delete <archive> <spec>...
//   tarnwick_zipcli sfx <archive.zip> <stub>         (the .zip becomes archive.exe)
//   tarnwick_zipcli unsfx <archive.exe>              (back to archive.zip)
//   tarnwick_zipcli span <archive> <set.zip> <bytes> (numbered parts of at most <bytes>)
//   tarnwick_zipcli join <last part> <out.zip>
#include "zip/zipmaster.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const QStringList a = app.arguments();
  if (a.size() < 3) {
    std::fprintf(stderr, "usage: %s add|extract|test|list archive ...\n", argv[0]);
    return 2;
  }
  TZipMaster zm;
  zm.setUnattended(true);
  QObject::connect(&zm, &TZipMaster::OnMessage, [](int code, const QString &m) {
    std::fprintf(stderr, "%d: %s\n", code, qPrintable(m));
  });
  const QString cmd = a[1];
  zm.setZipFilename(QFileInfo(a[2]).absoluteFilePath());
  if (cmd == "add" && a.size() == 5) {
    const QFileInfo folder(a[4]);
    QDir::setCurrent(folder.absolutePath());
    zm.setAddCompLevel(a[3].toInt());
    zm.setAddOptions(TZipMaster::AddDirNames | TZipMaster::AddRecurseDirs);
    zm.setFSpecArgs({folder.fileName()});
    zm.AddFiles();
  } else if (cmd == "extract" && a.size() == 4) {
    zm.setExtrBaseDir(a[3]);
    zm.setExtrOptions(TZipMaster::ExtrDirNames | TZipMaster::ExtrOverWrite);
    zm.ExtractFiles();
  } else if (cmd == "test") {
    zm.setExtrOptions(TZipMaster::ExtrTest);
    zm.ExtractFiles();
  } else if (cmd == "delete" && a.size() >= 4) {
    zm.setFSpecArgs(a.mid(3));
    zm.DeleteFiles();
  } else if (cmd == "sfx" && a.size() == 4) {
    zm.setSFXPath(a[3]);
    zm.setHowToDelete(TZipMaster::htdFinal);
    return zm.ConvertToSfx() == 0 ? 0 : 1;
  } else if (cmd == "unsfx") {
    zm.setHowToDelete(TZipMaster::htdFinal);
    return zm.ConvertToZip() == 0 ? 0 : 1;
  } else if (cmd == "span" && a.size() == 5) {
    zm.setMaxVolumeSize(a[4].toLongLong());
    zm.setMinFreeVolumeSize(0);
    return zm.WriteSpan(QFileInfo(a[2]).absoluteFilePath(), QFileInfo(a[3]).absoluteFilePath()) == 0 ? 0 : 1;
  } else if (cmd == "join" && a.size() == 4) {
    QString out = QFileInfo(a[3]).absoluteFilePath();
    return zm.ReadSpan(QFileInfo(a[2]).absoluteFilePath(), out) == 0 ? 0 : 1;
  } else if (cmd == "list") {
    std::printf("%d\n", zm.EntryCount());
    return zm.EntryCount() > 0 ? 0 : 1;
  } else {
    return 2;
  }
  std::printf("%d\n", zm.SuccessCount());
  return zm.SuccessCount() > 0 ? 0 : 1;
}
