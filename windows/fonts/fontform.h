#pragma once
// The system fonts viewer: every font family of the screen, each name written in its own face. One at a
// time: the menu item that opens it stays disabled while it is open.
#include <QAction>
#include <QPointer>
#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;

class TFontForm : public QWidget {
  Q_OBJECT
 public:
  // Opens the one fonts viewer (or raises it); menuItem is disabled until the window closes.
  static TFontForm *open(QWidget *parent, QAction *menuItem = nullptr);
  static TFontForm *instance();
  ~TFontForm() override;

  QLabel *FontLabel = nullptr;
  QListWidget *ListBox1 = nullptr;
  // The installed font families, each once, by the name fc-list gives it, in alphabetical order.
  static QStringList installedFamilies();
  // The height of a list row for a font: the text "Wg" in it at the default size, plus 2 pixels.
  static int rowHeight(const QString &family);

 protected:
  void closeEvent(QCloseEvent *e) override;

 private:
  explicit TFontForm(QWidget *parent);
  void ListBox1Click();
  QPointer<QAction> menuItem_;  // the main window may go first
};
