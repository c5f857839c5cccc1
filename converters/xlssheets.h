#pragma once
// The sheets of an Excel 95-2003 workbook (.xls), by name and in order, read from the workbook's own
// records (its compound file's "Workbook" or "Book" stream), without any outside program. Only the names:
// the cells are left to the converter programs. A damaged file (chains that loop, sizes beyond the file)
// gives no names rather than a wrong list.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace xlssheets {

struct Sheet {
  QString name;
  int type = 0;  // 0 worksheet, 1 macro sheet, 2 chart, 6 Visual Basic module
};

// The sheets in the workbook's order; empty when the file is no readable workbook.
QList<Sheet> read(const QByteArray &file);
QList<Sheet> readFile(const QString &path);

}  // namespace xlssheets
