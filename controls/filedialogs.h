#pragma once
// File dialogs the windows share: filter masks in the "Text|*.txt|All|*.*" form turned into Qt's, and an
// open dialog that carries an open-as-read-only box.
#include <QString>

class QWidget;

namespace filedlg {

// "Rich Text Files (*.Rtf)|*.rtf|All Files (*.*)|*.*" becomes Qt's "Rich Text Files (*.Rtf);;All Files
// (*.*) (*)": each description stays as written; its patterns are added in parentheses unless it already
// ends with the same ones. "*.*" means every file, so it becomes "*" (on Linux it would skip names
// without a dot).
QString qtFilter(const QString &mask);

// Qt's own file dialog (object name "OpenDialog1") with the box "Open as &read-only" ("ReadOnlyBox"),
// ticked when readOnly comes in true. The chosen file, or empty when cancelled; readOnly then holds the box.
QString openWithReadOnlyBox(QWidget *owner, const QString &caption, const QString &folder, const QString &qtFilter,
                            bool &readOnly);

}  // namespace filedlg
