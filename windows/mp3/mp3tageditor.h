#pragma once
// TMP3TagEditor: the small modal window in which the user edits a file's ID3v1 tag. It holds its own
// TMP3Tag. EditTag runs it for a tag component and carries out the result: 1 Save (writes the tag when the
// component's EditAutoSave is on), 2 Remove Tag (cuts the tag off, asked first), 0 Cancel or the close box.
// A genre number the list does not name is kept as it was unless another genre is chosen.
#include <QDialog>

#include "formats/id3/mp3tag.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TMp3Host;

// A one-line marquee: teal, white text, 1 pixel every 100 ms, a 3 s pause at the end, then from the start.
class TMp3Marquee : public QWidget {
 public:
  explicit TMp3Marquee(QWidget *parent = nullptr);
  void setText(const QString &text);
  QString text() const { return text_; }
  void start();
  int offset() const { return offset_; }

 protected:
  void paintEvent(QPaintEvent *) override;

 private:
  void step();
  QString text_ = QStringLiteral("FileName");
  int offset_ = 0;
  QTimer *timer_;
};

class TMP3TagEditor : public QDialog {
  Q_OBJECT
 public:
  TMP3TagEditor(QWidget *parent, TMp3Host &host, const QString &filename);

  // Runs the editor on tag's file and carries out its result; returns the result.
  static int EditTag(TMP3Tag &tag, TMp3Host &host, QWidget *parent = nullptr);

  TMP3Tag Mp3Tag;
  QWidget *Panel1;
  TMp3Marquee *Marquee;
  QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6;
  QComboBox *cb1;
  QPushButton *Button2, *Button3, *Button4;

 protected:
  void showEvent(QShowEvent *e) override;

 private:
  // Save; text the tag cannot hold (it keeps 8-bit Latin-1 characters, others become "?") is named first,
  // and the user may go back and change it.
  void Button2Click();
  void Button4Click();
  // The edits into Mp3Tag; a field whose text is unchanged keeps its stored bytes.
  void takeFields();
  TMp3Host &host_;
  bool filled_ = false;
};
