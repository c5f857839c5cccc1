#include "platform/clipboard.h"
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSysInfo>

namespace platform {

namespace {
const char kUriList[] = "text/uri-list";
const char kGnome[] = "x-special/gnome-copied-files";
const char kKdeCut[] = "application/x-kde-cutselection";

QList<QByteArray> uriLines(const QByteArray &text) {
  QList<QByteArray> out;
  for (QByteArray line : text.split('\n')) {
    if (line.endsWith('\r')) line.chop(1);
    line = line.trimmed();
    if (!line.isEmpty() && !line.startsWith('#')) out << line;
  }
  return out;
}
}  // namespace

QByteArray fileUri(const NativePath &path) { return "file://" + path.toPercentEncoding("/"); }

bool pathFromFileUri(const QByteArray &uri, NativePath *path) {
  if (!uri.startsWith("file://")) {
    // "file:/path" (one slash) is written by a few older programs.
    if (uri.startsWith("file:/") && !uri.startsWith("file://")) {
      *path = QByteArray::fromPercentEncoding(uri.mid(5));
      return !path->isEmpty();
    }
    return false;
  }
  const QByteArray rest = uri.mid(7);
  const int slash = rest.indexOf('/');
  if (slash < 0) return false;
  const QByteArray host = rest.left(slash);
  if (!host.isEmpty() && host != "localhost" && host != QSysInfo::machineHostName().toUtf8()) return false;
  QByteArray p = rest.mid(slash);
  const int hash = p.indexOf('#');  // a fragment is not part of the path ('#' in a name arrives as %23)
  if (hash >= 0) p.truncate(hash);
  *path = QByteArray::fromPercentEncoding(p);
  return !path->isEmpty();
}

QMimeData *fileMimeData(const NativePaths &paths, bool cut) {
  auto *data = new QMimeData;
  QByteArray uriList, gnome = cut ? "cut" : "copy";
  QString text;
  for (const NativePath &p : paths) {
    const QByteArray uri = fileUri(p);
    uriList += uri + "\r\n";
    gnome += '\n' + uri;
    if (!text.isEmpty()) text += '\n';
    text += fromNative(p);
  }
  data->setData(kUriList, uriList);
  data->setData(kGnome, gnome);
  data->setData(kKdeCut, cut ? "1" : "0");
  data->setData("text/plain;charset=utf-8", text.toUtf8());
  data->setText(text);
  return data;
}

ClipboardFiles filesFromMimeData(const QMimeData *data) {
  ClipboardFiles out;
  if (!data) return out;
  NativePath p;
  if (data->hasFormat(kGnome)) {
    const QList<QByteArray> lines = uriLines(data->data(kGnome));
    if (!lines.isEmpty() && (lines[0] == "cut" || lines[0] == "copy")) {
      out.cut = lines[0] == "cut";
      for (int i = 1; i < lines.size(); ++i)
        if (pathFromFileUri(lines[i], &p)) out.paths << p;
      if (!out.paths.isEmpty()) return out;
    }
  }
  out = {};
  if (data->hasFormat(kUriList)) {
    for (const QByteArray &line : uriLines(data->data(kUriList)))
      if (pathFromFileUri(line, &p)) out.paths << p;
    out.cut = data->data(kKdeCut).trimmed() == "1";
  }
  return out;
}

void putFilesOnClipboard(const NativePaths &paths, bool cut) {
  QGuiApplication::clipboard()->setMimeData(fileMimeData(paths, cut));
}

ClipboardFiles filesOnClipboard() { return filesFromMimeData(QGuiApplication::clipboard()->mimeData()); }

void clearClipboard() { QGuiApplication::clipboard()->clear(); }

}  // namespace platform
