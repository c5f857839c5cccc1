#include "windows/rich/richdialogs.h"

#include "controls/filedialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QFileDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include "platform/ask.h"

QMessageBox::StandardButton TRichDialogHost::ask(QWidget *owner, const QString &text,
                                                 QMessageBox::StandardButtons buttons) {
  const auto answer = ask::question(owner, QStringLiteral("Confirm"), text, buttons);
  return answer == QMessageBox::NoButton ? QMessageBox::Cancel : answer;
}

void TRichDialogHost::showError(QWidget *owner, const QString &text) {
  ask::error(owner, QStringLiteral("Error"), text);
}

QString TRichDialogHost::openFileName(QWidget *owner, const QString &folder, const QString &filter, bool &readOnly) {
  return filedlg::openWithReadOnlyBox(owner, QStringLiteral("Open"), folder, filter, readOnly);
}

QString TRichDialogHost::saveFileName(QWidget *owner, const QString &folder, const QString &filter) {
  QFileDialog dlg(owner, QStringLiteral("Save As"), folder, filter);
  dlg.setObjectName(QStringLiteral("SaveDialog"));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setOption(QFileDialog::DontConfirmOverwrite);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
  QString path = dlg.selectedFiles().first();
  // A name typed without extension takes the chosen filter's, as word processors do.
  if (QFileInfo(path).suffix().isEmpty()) {
    const QString f = dlg.selectedNameFilter();
    const int star = f.lastIndexOf(QStringLiteral("*."));
    if (star >= 0) {
      const QString ext = f.mid(star + 2).section(QLatin1Char(')'), 0, 0).section(QLatin1Char(' '), 0, 0);
      if (!ext.isEmpty() && ext != QLatin1String("*")) path += QLatin1Char('.') + ext.toLower();
    }
  }
  return path;
}

bool TRichDialogHost::printSetup(QWidget *owner, QPrinter *printer) {
  QPrintDialog dlg(printer, owner);
  return dlg.exec() == QDialog::Accepted;
}

bool TRichDialogHost::chooseFont(QWidget *owner, QFont &font, QColor &color) {
  QFontDialog dlg(font, owner);
  dlg.setOption(QFontDialog::DontUseNativeDialog);
  auto *colors = new QComboBox(&dlg);
  colors->setObjectName(QStringLiteral("ColorBox"));
  static const struct {
    const char *name;
    QRgb rgb;
  } basic[] = {{"Black", 0x000000},  {"Maroon", 0x800000},  {"Green", 0x008000}, {"Olive", 0x808000},
               {"Navy", 0x000080},   {"Purple", 0x800080},  {"Teal", 0x008080},  {"Gray", 0x808080},
               {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},     {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
               {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF},  {"White", 0xFFFFFF}};
  for (const auto &b : basic) {
    QPixmap swatch(16, 12);
    swatch.fill(QColor(b.rgb));
    colors->addItem(QIcon(swatch), QString::fromLatin1(b.name), QColor(b.rgb));
  }
  int at = colors->findData(QColor(color.rgb()));
  if (at < 0) {
    QPixmap swatch(16, 12);
    swatch.fill(color);
    colors->addItem(QIcon(swatch), QStringLiteral("Custom"), color);
    at = colors->count() - 1;
  }
  colors->setCurrentIndex(at);
  auto *label = new QLabel(QStringLiteral("&Color:"), &dlg);
  label->setBuddy(colors);
  if (auto *grid = qobject_cast<QGridLayout *>(dlg.layout())) {
    // The colour row goes above the OK and Cancel buttons, which move down one row.
    auto *buttons = dlg.findChild<QDialogButtonBox *>();
    const int at = buttons ? grid->indexOf(buttons) : -1;
    int row = grid->rowCount(), col = 0, rowSpan = 1, colSpan = -1;
    if (at >= 0) {
      grid->getItemPosition(at, &row, &col, &rowSpan, &colSpan);
      grid->removeWidget(buttons);
    }
    auto *line = new QHBoxLayout;
    line->addWidget(label);
    line->addWidget(colors, 1);
    grid->addLayout(line, row, 0, 1, -1);
    if (buttons) grid->addWidget(buttons, row + 1, col, rowSpan, colSpan);
  }
  if (dlg.exec() != QDialog::Accepted) return false;
  font = dlg.selectedFont();
  color = colors->currentData().value<QColor>();
  return true;
}
