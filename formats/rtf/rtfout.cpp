#include "formats/rtf/rtfout.h"

#include <algorithm>

namespace rtfout {
namespace {

const char kHeader[] = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20\n";

void appendEscaped(QByteArray &out, const QString &s) {
  for (const QChar c : s) {
    const ushort u = c.unicode();
    if (u == '\\' || u == '{' || u == '}') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (u == '\t') {
      out += "\\tab ";
    } else if (u == '\f') {
      out += "\\page ";
    } else if (u < 0x20) {
      // other control characters carry nothing readable
    } else if (u < 0x80) {
      out += static_cast<char>(u);
    } else {
      out += "\\u" + QByteArray::number(static_cast<short>(u)) + '?';
    }
  }
}

}  // namespace

QByteArray fromText(const QString &text) {
  QByteArray out(kHeader);
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  const QStringList lines = t.split('\n');
  for (int i = 0; i < lines.size(); ++i) {
    if (i == lines.size() - 1 && lines[i].isEmpty()) break;  // the text's last line end
    out += "\\pard ";
    appendEscaped(out, lines[i]);
    out += "\\par\n";
  }
  out += '}';
  return out;
}

QVector<QStringList> parseCsv(const QString &csv) {
  QVector<QStringList> rows;
  QStringList row;
  QString field;
  bool quoted = false, any = false;
  for (qsizetype i = 0; i < csv.size(); ++i) {
    const QChar c = csv[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < csv.size() && csv[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row << field;
      field.clear();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') ++i;
      if (any || !field.isEmpty()) {
        row << field;
        rows << row;
      }
      row.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any || !field.isEmpty()) {
    row << field;
    rows << row;
  }
  return rows;
}

namespace {

// One sheet's rows: an RTF table, or tab-aligned lines when it is long.
void appendRows(QByteArray &out, const QVector<QStringList> &rows) {
  qsizetype columns = 0;
  for (const QStringList &r : rows) columns = std::max(columns, r.size());
  if (rows.size() > kMaxTableRows) {
    // A long sheet as tab-aligned lines: a rich-text table of that many rows takes the text control
    // seconds to lay out, lines take a fraction of that.
    QByteArray stops = "\\pard";
    for (qsizetype c = 1; c < columns; ++c) stops += "\\tx" + QByteArray::number(c * 1800);
    for (const QStringList &r : rows) {
      out += stops + ' ';
      for (qsizetype c = 0; c < r.size(); ++c) {
        if (c) out += "\\tab ";
        appendEscaped(out, r[c]);
      }
      out += "\\par\n";
    }
    return;
  }
  QByteArray cells = "\\trowd\\trgaph60";
  for (qsizetype c = 1; c <= columns; ++c) cells += "\\cellx" + QByteArray::number(c * 1800);
  for (const QStringList &r : rows) {
    out += cells + '\n';
    for (qsizetype c = 0; c < columns; ++c) {
      out += "\\pard\\intbl ";
      if (c < r.size()) appendEscaped(out, r[c]);
      out += "\\cell ";
    }
    out += "\\row\n";
  }
  out += "\\pard\\par\n";
}

}  // namespace

QByteArray fromCsv(const QString &csv, bool skipFirst) {
  QVector<QStringList> rows = parseCsv(csv);
  if (skipFirst && !rows.isEmpty()) rows.removeFirst();
  QByteArray out(kHeader);
  appendRows(out, rows);
  out += '}';
  return out;
}

QByteArray fromSheets(const QList<Sheet> &sheets) {
  QByteArray out(kHeader);
  for (const Sheet &s : sheets) {
    out += "\\pard{\\b ";
    appendEscaped(out, s.name);
    out += "}\\par\n";
    appendRows(out, parseCsv(s.csv));
  }
  out += '}';
  return out;
}

}  // namespace rtfout
