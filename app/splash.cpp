#include "app/splash.h"
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <QGuiApplication>

TSplashForm::TSplashForm(QWidget *parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("Tarnwick"));
  setFixedSize(168, 156);
  auto *panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette pal = panel->palette();
  pal.setColor(QPalette::Window, QColor(192, 192, 192));
  panel->setPalette(pal);
  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 4, 4, 4);
  outer->addWidget(panel);
  auto *lay = new QVBoxLayout(panel);
  lay->setSpacing(2);
  auto *picture = new QLabel(panel);
  picture->setPixmap(style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(24, 24));
  picture->setAlignment(Qt::AlignCenter);
  lay->addWidget(picture);
  auto *text = new QLabel(QStringLiteral("Analyzing\nSystem and Files\nPlease Wait"), panel);
  QFont f(QStringLiteral("Times New Roman"));
  f.setPixelSize(15);
  f.setBold(true);
  text->setFont(f);
  text->setAlignment(Qt::AlignCenter);
  lay->addWidget(text);
  auto *bevel = new QFrame(panel);
  bevel->setFrameStyle(QFrame::HLine | QFrame::Raised);
  lay->addWidget(bevel);
  auto *loading = new QLabel(QStringLiteral("Loading..."), panel);
  loading->setAlignment(Qt::AlignCenter);
  lay->addWidget(loading);
  if (QScreen *s = QGuiApplication::primaryScreen()) move(s->geometry().center() - rect().center());
}
