#pragma once
// A label that shows a folder path, shortened in the middle to fit ("/.../System/file.txt").
#include <QWidget>

class TDirLabel : public QWidget {
  Q_OBJECT
 public:
  explicit TDirLabel(QWidget *parent = nullptr);
  QString DirName() const { return dirName_; }
  void setDirName(const QString &path);
  QString caption() const { return caption_; }
  Qt::Alignment alignment() const { return align_; }
  void setAlignment(Qt::Alignment a) { align_ = a; update(); }
  // Shortens a path to at most n characters, keeping prefix (the volume root) and the last components.
  static QString shortenPath(const QString &path, int n, const QString &prefix);
  // The caption that fits the given pixel width, as painting computes it.
  static QString fitCaption(const QString &path, const QString &prefix, const QFontMetrics &fm, int width);

 protected:
  void paintEvent(QPaintEvent *) override;
  void resizeEvent(QResizeEvent *) override;

 private:
  QString dirName_, caption_, prefix_;
  Qt::Alignment align_ = Qt::AlignLeft | Qt::AlignVCenter;
};
