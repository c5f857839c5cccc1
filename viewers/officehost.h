#pragma once
// What the "Office97" tab needs of the window that holds it.
#include <QString>

namespace platform { class RegStore; }

class TOfficeHost {
 public:
  virtual ~TOfficeHost() = default;
  // The settings store that holds the text converters' records and WordPad's App Paths entry.
  virtual platform::RegStore &converterStore() = 0;
  // The folder the open dialog starts in: the browser's current folder.
  virtual QString currentFolder() const = 0;
  // The open dialog with a filter of "description|patterns|description|patterns..." entries; the chosen
  // path and *filterIndex (from 1) of the chosen entry, or empty when cancelled.
  virtual QString askOpenDocument(const QString &folder, const QString &filter, int *filterIndex) = 0;
  // A converter's complaint ("Please report: InitConverter failed", "Not the correct file format") in a box.
  virtual void showConverterMessage(const QString &text) = 0;
};
