#pragma once
// TBannerMenu: a pop-up menu with a side banner: a strip down its left edge with the program's name
// written bottom to top, as the image window's menu shows it.
#include <QMenu>

class TBannerMenu : public QMenu {
  Q_OBJECT
 public:
  static constexpr int kBannerWidth = 22;
  explicit TBannerMenu(const QString &banner, QWidget *parent = nullptr);
  QString banner() const { return banner_; }

 protected:
  void paintEvent(QPaintEvent *e) override;

 private:
  QString banner_;
};
