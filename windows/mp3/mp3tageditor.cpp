#include "windows/mp3/mp3tageditor.h"

#include "windows/mp3/mp3host.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTimer>

TMp3Marquee::TMp3Marquee(QWidget *parent) : QWidget(parent), timer_(new QTimer(this)) {
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0, 128, 128));
  p.setColor(QPalette::WindowText, Qt::white);
  setPalette(p);
  timer_->setInterval(100);
  QObject::connect(timer_, &QTimer::timeout, this, [this] { step(); });
}

void TMp3Marquee::setText(const QString &text) {
  text_ = text;
  offset_ = 0;
  update();
}

void TMp3Marquee::start() { timer_->start(100); }

void TMp3Marquee::step() {
  const int overflow = fontMetrics().horizontalAdvance(text_) + 4 - width();
  if (overflow <= 0) return;  // the whole name is visible: nothing to move
  if (offset_ >= overflow) {  // the end was shown for the pause: back to the start
    offset_ = 0;
    timer_->start(100);
  } else if (++offset_ >= overflow) {
    timer_->start(3000);
  }
  update();
}

void TMp3Marquee::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(rect().adjusted(2 - offset_, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

TMP3TagEditor::TMP3TagEditor(QWidget *parent, TMp3Host &host, const QString &filename)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), host_(host) {
  setObjectName(QStringLiteral("TMP3TagEditor"));
  setWindowTitle(QStringLiteral("Tarnwick - MP3 Tag Editor"));
  setFixedSize(272, 223);
  setModal(true);

  auto *frame = new QFrame(this);
  frame->setObjectName(QStringLiteral("Panel1"));
  frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  frame->setLineWidth(1);
  frame->setGeometry(6, 6, 260, 20);
  Panel1 = frame;
  Marquee = new TMp3Marquee(frame);
  Marquee->setGeometry(1, 1, 258, 18);

  QFont small = font();
  small.setPointSizeF(qMin(small.pointSizeF(), 8.5));
  setFont(small);

  auto label = [this](const char *name, const QString &text, int x, int y, int w) {
    auto *l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(x, y, w, 21);
    return l;
  };
  auto edit = [this](const char *name, int x, int y, int w, int maxLength) {
    auto *e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(x, y, w, 21);
    e->setMaxLength(maxLength);
    return e;
  };
  label("Label1", QStringLiteral("Title"), 8, 30, 58);
  Edit1 = edit("Edit1", 68, 30, 196, 30);
  label("Label2", QStringLiteral("Artist"), 8, 53, 58);
  Edit2 = edit("Edit2", 68, 53, 196, 30);
  label("Label3", QStringLiteral("Album"), 8, 76, 58);
  Edit3 = edit("Edit3", 68, 76, 196, 30);
  label("Label4", QStringLiteral("Year"), 8, 99, 58);
  Edit4 = edit("Edit4", 68, 99, 42, 4);
  // Digits only; unlike a key filter, the validator also keeps pasted text out and lets Backspace correct.
  Edit4->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), Edit4));
  label("Label5", QStringLiteral("Genre"), 116, 99, 36);
  cb1 = new QComboBox(this);
  cb1->setObjectName(QStringLiteral("cb1"));
  cb1->addItems(mp3tag::genreNames());
  cb1->setMaxVisibleItems(16);
  cb1->setGeometry(154, 99, 110, 21);
  label("Label6", QStringLiteral("Comment"), 8, 122, 58);
  Edit5 = edit("Edit5", 68, 122, 196, 30);
  Edit6 = edit("Edit6", 8, 147, 256, 32767);
  Edit6->setReadOnly(true);
  Edit6->setFocusPolicy(Qt::NoFocus);
  QPalette silver = Edit6->palette();
  silver.setColor(QPalette::Base, QColor(192, 192, 192));
  Edit6->setPalette(silver);

  auto button = [this](const char *name, const QString &text, int x) {
    auto *b = new QPushButton(text, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, 188, 80, 25);
    b->setAutoDefault(false);
    return b;
  };
  Button2 = button("Button2", QStringLiteral("Save"), 8);
  Button3 = button("Button3", QStringLiteral("Cancel"), 96);
  // The third button removes the tag; it says so and asks first.
  Button4 = button("Button4", QStringLiteral("Remove Tag"), 184);
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { done(0); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });

  Mp3Tag.setFilename(filename);
  if (QScreen *s = parent ? parent->screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

void TMP3TagEditor::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (filled_) return;
  filled_ = true;
  Edit1->setText(Mp3Tag.Title());
  Edit2->setText(Mp3Tag.Artist());
  Edit3->setText(Mp3Tag.Album());
  Edit4->setText(Mp3Tag.Year());
  Edit5->setText(Mp3Tag.Comment());
  cb1->setCurrentIndex(Mp3Tag.GenreID() < mp3tag::GenreCount ? Mp3Tag.GenreID() : -1);
  Edit6->setText(Mp3Tag.Filename());
  Edit6->setCursorPosition(0);
  Marquee->setText(Mp3Tag.Filename());
  Marquee->start();
  Button4->setEnabled(Mp3Tag.Valid());  // nothing to remove from a file without a tag
}

void TMP3TagEditor::Button2Click() {
  QStringList lost;
  const std::pair<const char *, QLineEdit *> texts[] = {
      {"Title", Edit1}, {"Artist", Edit2}, {"Album", Edit3}, {"Year", Edit4}, {"Comment", Edit5}};
  for (const auto &[label, edit] : texts) {
    const QString text = edit->text();
    const QString stored = QString::fromLatin1(text.toLatin1());
    if (stored != text) lost << QStringLiteral("%1: \"%2\" is saved as \"%3\"").arg(QLatin1String(label), text, stored);
  }
  if (!lost.isEmpty() &&
      !host_.askYesNo(this, QStringLiteral("An MP3 tag holds only Latin-1 characters; the others are saved as \"?\".\n\n") +
                                lost.join(QLatin1Char('\n')) + QStringLiteral("\n\nSave anyway?")))
    return;
  done(1);
}

void TMP3TagEditor::Button4Click() {
  if (host_.askYesNo(this, QStringLiteral("Remove the MP3 tag from\n%1?").arg(Mp3Tag.Filename()))) done(2);
}

void TMP3TagEditor::takeFields() {
  if (Edit1->text() != Mp3Tag.Title()) Mp3Tag.setTitle(Edit1->text());
  if (Edit2->text() != Mp3Tag.Artist()) Mp3Tag.setArtist(Edit2->text());
  if (Edit3->text() != Mp3Tag.Album()) Mp3Tag.setAlbum(Edit3->text());
  if (Edit4->text() != Mp3Tag.Year()) Mp3Tag.setYear(Edit4->text());
  // No genre chosen: a number the list does not name (another program's, 116 and up) stays as it was.
  const int genre = cb1->currentIndex();
  Mp3Tag.setGenreID(genre < 0 ? Mp3Tag.GenreID() : quint8(genre));
  if (Edit5->text() != Mp3Tag.Comment()) Mp3Tag.setComment(Edit5->text());
}

int TMP3TagEditor::EditTag(TMP3Tag &tag, TMp3Host &host, QWidget *parent) {
  TMP3TagEditor editor(parent, host, tag.Filename());
  const int result = editor.exec();
  if (result == 1 && tag.EditAutoSave) {
    editor.takeFields();
    if (!editor.Mp3Tag.WriteTag()) host.showError(parent, editor.Mp3Tag.Error());
  } else if (result == 2) {
    if (!editor.Mp3Tag.RemoveTag()) host.showError(parent, editor.Mp3Tag.Error());
  }
  return result;
}
