#pragma once
// The zip component's exception: a string-table message with its id.
#include "zip/zipmessages.h"

#include <QString>
#include <stdexcept>

class EZipMaster : public std::runtime_error {
 public:
  explicit EZipMaster(int id, const QVariantList &args = {}, bool display = true)
      : std::runtime_error(zipmsg::format(id, args).toStdString()),
        Message(zipmsg::format(id, args)),
        DisplayMessage(display),
        MessageId(id) {}
  EZipMaster(int id, const QString &arg, bool display = true) : EZipMaster(id, QVariantList{arg}, display) {}
  EZipMaster(int id, int arg, bool display = true) : EZipMaster(id, QVariantList{arg}, display) {}

  QString Message;
  bool DisplayMessage;
  int MessageId;
};
