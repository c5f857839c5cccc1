#pragma once
// The message boxes behind the zip component's questions, for the window that hosts the Zip tab.
#include <QString>

class QWidget;

// A box with the component's buttons (TZipMaster::MsgButton bits) and icon; the button chosen, Cancel when
// the box was closed.
int zipQuestion(QWidget *parent, const QString &caption, const QString &text, int buttons, int icon, int defaultButton);
// The question for another removable disk, OK and Cancel. A removable volume mounted while it is open
// answers it: *root becomes that volume's root. True for OK.
bool zipDiskQuestion(QWidget *parent, const QString &text, int icon, QString *root);
