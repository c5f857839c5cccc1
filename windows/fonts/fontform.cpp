#include "windows/fonts/fontform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStyledItemDelegate>

#include <fontconfig/fontconfig.h>

namespace {
QPointer<TFontForm> s_instance;

QFont faceOf(const QString &family) {
  QFont f(family);
  f.setPointSizeF(QApplication::font().pointSizeF());  // the font's default size
  return f;
}

// Each row is as tall as its own font needs and shows the name in that font.
class FontRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem &opt, const QModelIndex &index) const override {
    const QString family = index.data().toString();
    return QSize(opt.rect.width(), TFontForm::rowHeight(family));
  }
  void paint(QPainter *p, const QStyleOptionViewItem &opt, const QModelIndex &index) const override {
    const bool selected = opt.state & QStyle::State_Selected;
    p->fillRect(opt.rect, selected ? opt.palette.highlight() : opt.palette.base());
    p->setPen(selected ? opt.palette.highlightedText().color() : opt.palette.text().color());
    const QFont f = faceOf(index.data().toString());
    p->setFont(f);
    p->drawText(opt.rect.left() + 1, opt.rect.top() + 1 + QFontMetrics(f).ascent(), index.data().toString());
  }
};
}  // namespace

QStringList TFontForm::installedFamilies() {
  // Qt's own list names a family once per foundry that ships it ("C059 [urw]", "C059 [UKWN]") and adds its
  // generic aliases ("Monospace"); the fonts a user has installed are fontconfig's families, each under its
  // first name, as fc-list names it. Sorted as Qt sorts its list.
  QStringList names;
  FcPattern *all = FcPatternCreate();
  FcObjectSet *family = FcObjectSetBuild(FC_FAMILY, nullptr);
  if (FcFontSet *set = all && family ? FcFontList(nullptr, all, family) : nullptr) {
    for (int i = 0; i < set->nfont; ++i) {
      FcChar8 *name = nullptr;
      if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch && name)
        names << QString::fromUtf8(reinterpret_cast<const char *>(name));
    }
    FcFontSetDestroy(set);
  }
  if (family) FcObjectSetDestroy(family);
  if (all) FcPatternDestroy(all);
  names.removeDuplicates();
  names.sort(Qt::CaseInsensitive);
  return names;
}

int TFontForm::rowHeight(const QString &family) { return QFontMetrics(faceOf(family)).boundingRect(QStringLiteral("Wg")).height() + 2; }

TFontForm *TFontForm::instance() { return s_instance; }

TFontForm *TFontForm::open(QWidget *parent, QAction *menuItem) {
  if (s_instance) {
    s_instance->raise();
    s_instance->activateWindow();
    return s_instance;
  }
  auto *f = new TFontForm(parent);
  s_instance = f;
  f->menuItem_ = menuItem;
  if (menuItem) menuItem->setEnabled(false);
  f->show();
  return f;
}

TFontForm::TFontForm(QWidget *parent) : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint |
                                                            Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("FontForm"));
  setWindowTitle(QStringLiteral("Tarnwick - System Fonts Viewer"));
  setFixedSize(306, 325);
  FontLabel = new QLabel(this);
  FontLabel->setObjectName(QStringLiteral("FontLabel"));
  QFont lf(QStringLiteral("MS Sans Serif"));
  lf.setPixelSize(13);
  lf.setBold(true);
  FontLabel->setFont(lf);
  FontLabel->setGeometry(8, 4, 241, 20);
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(8, 26, 291, 296);
  QPalette pal = ListBox1->palette();
  pal.setColor(QPalette::Base, QColor(0xc0, 0xc0, 0xc0));
  ListBox1->setPalette(pal);
  ListBox1->setItemDelegate(new FontRowDelegate(ListBox1));
  ListBox1->setUniformItemSizes(false);
  ListBox1->addItems(installedFamilies());
  connect(ListBox1, &QListWidget::currentRowChanged, this, [this] { ListBox1Click(); });
  ListBox1->setFocus();
  if (parent) move(parent->geometry().center() - rect().center());
  else if (QScreen *s = screen()) move(s->availableGeometry().center() - rect().center());
}

TFontForm::~TFontForm() {
  if (menuItem_) menuItem_->setEnabled(true);
}

void TFontForm::ListBox1Click() {
  if (QListWidgetItem *it = ListBox1->currentItem()) FontLabel->setText(it->text());
}

void TFontForm::closeEvent(QCloseEvent *e) {
  if (menuItem_) menuItem_->setEnabled(true);
  e->accept();
}
