#include "viewers/dispatch.h"

#include <QStringList>

namespace viewers {

namespace {
const QString kExcluded =
    QStringLiteral(".ppt.pub.xla.xlb.exe.com.dll.bin.dcu.dfm.ocx.vtd.vxd.drv.cab.cpl.grp.scr.hlp.pst.dcr.res");
const QString kImages = QStringLiteral(".bmp.dib.emf.gif.ico.jif.jpg.jpeg.pcx.pbm.pgm.png.ppm.rle.tga.tif.tiff.wmf");
const QString kHtml = QStringLiteral(".asp.htm.html");
const QStringList kNewerDocuments = {QStringLiteral(".docx"), QStringLiteral(".odt"), QStringLiteral(".xlsx"),
                                     QStringLiteral(".ods")};
const QStringList kNewerMedia = {QStringLiteral(".ogg"), QStringLiteral(".flac"), QStringLiteral(".webm"),
                                 QStringLiteral(".mp4"), QStringLiteral(".mkv"),  QStringLiteral(".m4a"),
                                 QStringLiteral(".opus")};
// Pictures of today that Qt's image plug-ins read (or, where this machine lacks the plug-in, that the picture
// view explains), and SVG, which the picture view draws through its guarded reader.
const QStringList kNewerImages = {QStringLiteral(".webp"), QStringLiteral(".avif"), QStringLiteral(".heif"),
                                  QStringLiteral(".heic"), QStringLiteral(".jxl"),  QStringLiteral(".jp2"),
                                  QStringLiteral(".icns"), QStringLiteral(".wbmp"), QStringLiteral(".mng"),
                                  QStringLiteral(".svg"),  QStringLiteral(".svgz")};
const QStringList kMarkdown = {QStringLiteral(".md"), QStringLiteral(".markdown")};
}  // namespace

ViewerAction decideViewer(const QString &ext, bool mp3TagsOn) {
  if (ext.left(3) == QLatin1String(".wk") && ext.size() >= 3) return ViewerAction::GetExcel;
  if (ext == QLatin1String(".lnk") || ext == QLatin1String(".url")) return ViewerAction::Nothing;
  if (ext == QLatin1String(".xls") || ext == QLatin1String(".doc")) return ViewerAction::GetExcel;
  if (ext == QLatin1String(".dbf") || ext == QLatin1String(".db")) return ViewerAction::GetDBase;
  if (ext == QLatin1String(".mp3") && mp3TagsOn) return ViewerAction::GetMp3;
  if (ext == QLatin1String(".py")) return ViewerAction::ShowHtml;
  if (ext == QLatin1String(".avi") || ext == QLatin1String(".mid") || ext == QLatin1String(".wav"))
    return ViewerAction::ShowMultiMedia;
  // Beyond the old table: today's document and media files, by exact name, each of which reached the
  // text editor before (none is in or begins an entry of the lists below).
  if (kNewerDocuments.contains(ext)) return ViewerAction::GetExcel;
  if (kNewerMedia.contains(ext)) return ViewerAction::ShowMultiMedia;
  if (ext == QLatin1String(".pdf")) return ViewerAction::ShowPdf;  // reached the text editor before as well
  if (ext.size() >= 3) {
    // Substring tests: an extension that begins a listed one matches it (".jp" through ".jpg").
    if (kExcluded.contains(ext)) return ViewerAction::Nothing;
    if (kImages.contains(ext)) return ViewerAction::ShowImages;
    if (kHtml.contains(ext)) return ViewerAction::ShowHtml;
    if (ext == QLatin1String(".zip")) return ViewerAction::ShowZip;
    if (ext == QLatin1String(".rtf")) return ViewerAction::ShowRtf;
    if (ext == QLatin1String(".mp3")) return ViewerAction::Nothing;
  }
  // Last, by exact name: only what reached the text editor before changes its viewer.
  if (kNewerImages.contains(ext)) return ViewerAction::ShowImages;
  if (kMarkdown.contains(ext)) return ViewerAction::ShowMarkdown;
  return ViewerAction::Editor;
}

QString extensionOf(const QString &name) {
  const int dot = name.lastIndexOf('.');
  if (dot < 0) return {};
  QString ext = name.mid(dot);
  for (QChar &c : ext)
    if (c >= 'A' && c <= 'Z') c = QChar(c.unicode() + 32);
  return ext;
}

QString currentFileFrom(const QString &folder, const QString &name) {
  return folder + (folder.endsWith('/') ? QString() : QStringLiteral("/")) + name;
}

const char *actionName(ViewerAction a) {
  switch (a) {
    case ViewerAction::Nothing: return "nothing";
    case ViewerAction::GetExcel: return "GetExcel";
    case ViewerAction::GetDBase: return "GetDBase";
    case ViewerAction::GetMp3: return "GetMp3";
    case ViewerAction::ShowHtml: return "ShowHtml";
    case ViewerAction::ShowMultiMedia: return "ShowMultiMedia";
    case ViewerAction::ShowImages: return "ShowImages";
    case ViewerAction::ShowZip: return "ShowZip";
    case ViewerAction::ShowRtf: return "ShowRtf";
    case ViewerAction::ShowPdf: return "ShowPdf";
    case ViewerAction::ShowMarkdown: return "ShowMarkdown";
    case ViewerAction::Editor: return "Editor";
  }
  return "?";
}

}  // namespace viewers
