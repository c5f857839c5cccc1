#pragma once
// What the Zip tab needs of the window it lives in. The main window implements it with a small adapter;
// tests implement it to answer the questions and record what the page asked for.
#include <QString>
#include <QStringList>

class TZipHost {
 public:
  virtual ~TZipHost() = default;
  // The folder the file list shows: where dialogs start and files are picked from.
  virtual QString currentFolder() const = 0;
  // While on, a double click in the file list adds the file to the add panel instead of opening it.
  virtual void setZipAddMode(bool on) = 0;
  // The member the user picked in the contents grid.
  virtual void setCurrentName(const QString &name) = 0;
  // The window caption.
  virtual void setTitle(const QString &text) = 0;
  // The file list's hint.
  virtual void setListHint(const QString &hint) = 0;
  // Makes the folder tree and file list visible (leaves full screen).
  virtual void showBrowserPanes() = 0;
  // Brings the Zip tab to the front.
  virtual void activateZipTab() = 0;
  // The Zip tab's caption.
  virtual void setTabCaption(const QString &caption) = 0;
  // Enables or disables the HTML view command.
  virtual void setViewHtmlEnabled(bool on) = 0;
  // File names of the file list's items, in list order.
  virtual QStringList listItemNames() const = 0;
  // The file list's selected item, empty when none.
  virtual QString selectedListItemName() const = 0;
  // Shows a file by its type (ext with its dot, lower case) through the window's viewer dispatch.
  virtual void viewFile(const QString &file, const QString &ext) = 0;
  // Asks for a folder in the platform's folder browser, starting at start; empty when cancelled.
  virtual QString askFolder(const QString &title, const QString &start) = 0;
  // A question with the component's buttons (TZipMaster::MsgButton bits) and icon; returns the button chosen,
  // TZipMaster::BtnCancel when the box was closed.
  virtual int askButtons(const QString &caption, const QString &text, int buttons, int icon, int defaultButton) = 0;
  // Asks for another removable disk with OK and Cancel. The question is answered by itself when a removable
  // volume is mounted meanwhile; *root becomes that volume's root. True for OK.
  virtual bool askForDisk(const QString &text, int icon, QString *root) = 0;
  // Shows a message and waits until the user has read it.
  virtual void showMessage(const QString &text) = 0;
  // Asks a yes/no question; true for yes.
  virtual bool confirm(const QString &text) = 0;
  // Asks for an existing file; empty when cancelled.
  virtual QString askOpenFile(const QString &title, const QString &filter, const QString &folder) = 0;
  // Asks for a file name to create; empty when cancelled. The page asks about overwriting itself.
  virtual QString askSaveFile(const QString &title, const QString &filter, const QString &folder) = 0;
  // Asks for a line of text, prefilled with value; empty when cancelled.
  virtual QString inputBox(const QString &title, const QString &prompt, const QString &value) = 0;
  // Asks for a password (the text is not shown while typed); empty when cancelled.
  virtual QString askPassword(const QString &title, const QString &prompt) = 0;
};
