// The main window's side of the MP3 tag editor: the clicked ".mp3" goes to the editor through Mp31 when
// "Edit Mp3 File &Tags" is on, and the host the editor's questions go through.
#include "app/tarn.h"
#include "windows/mp3/mp3host.h"
#include "formats/id3/mp3tag.h"
#include "windows/mp3/mp3tageditor.h"

#include <QMessageBox>
#include "platform/ask.h"

namespace {
class TarnMp3Host final : public TMp3Host {
 public:
  bool askYesNo(QWidget *owner, const QString &text) override {
    return ask::question(owner, QStringLiteral("Tarnwick"), text, QMessageBox::Yes | QMessageBox::No,
                         QMessageBox::No) == QMessageBox::Yes;
  }
  void showError(QWidget *owner, const QString &text) override { ask::error(owner, QStringLiteral("Tarnwick"), text); }
};
}  // namespace

void TTarn::GetMp3() {
  if (!mp3Host) mp3Host = std::make_unique<TarnMp3Host>();
  if (!Mp31) Mp31 = new TMP3Tag(this);
  Mp31->setFilename(state.CurrentFile);
  TMP3TagEditor::EditTag(*Mp31, *mp3Host, this);
}
