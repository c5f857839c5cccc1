#include "platform/removable.h"

// Placeholder until removable media support lands: nothing is removable.
namespace platform {
bool isRemovableVolume(const QString &) { return false; }
QString readVolumeLabel(const QString &) { return {}; }
bool setVolumeLabel(const QString &, const QString &, QString *error) {
  if (error) *error = QStringLiteral("not supported");
  return false;
}
FormatResult formatVolume(const QString &, const QString &, QString *, QString *) { return FormatResult::Unavailable; }
}  // namespace platform
