#pragma once
// The open dialog for pictures: Qt's file dialog with a strip of thumbnails of the pictures in the folder
// it shows, made in the background so that the dialog answers at once in a folder of thousands of photos.
// Clicking a thumbnail picks its file; a double click opens it.
#include <QString>

class QWidget;

namespace imagedlg {

// The chosen file, or empty when cancelled. The dialog's object name is "PGOpenDialog1"; the strip's is
// "Thumbnails".
QString openImage(QWidget *owner, const QString &title, const QString &folder, const QString &qtFilter);

}  // namespace imagedlg
