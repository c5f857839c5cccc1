#include "windows/calc/calculator.h"
#include "platform/savefile.h"

#include "platform/paths.h"
#include "windows/calc/calchost.h"

#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTextEdit>

namespace {
QPointer<TTheCalculator> s_instance;

QChar firstChar(const QString &s, char fallback) { return s.isEmpty() ? QChar(QLatin1Char(fallback)) : s.at(0); }

QWidget *panel(QWidget *parent, const char *name, int x, int y, int w, int h) {
  auto *p = new QWidget(parent);
  p->setObjectName(QString::fromLatin1(name));
  p->setGeometry(x, y, w, h);
  p->setAutoFillBackground(true);
  QPalette pal = p->palette();
  pal.setColor(QPalette::Window, QColor(0, 0, 128));  // navy
  p->setPalette(pal);
  return p;
}
}  // namespace

TTheCalculator *TTheCalculator::instance() { return s_instance.data(); }

QString TTheCalculator::tapeFile() { return platform::userFile(QStringLiteral("Tarnwick.cal")); }

TTheCalculator *TTheCalculator::open(QWidget *parent, TCalcHost &host, QAction *menuItem, QAbstractButton *button) {
  if (s_instance) {
    s_instance->show();
    s_instance->raise();
    s_instance->activateWindow();
    return s_instance;
  }
  if (menuItem) menuItem->setEnabled(false);
  if (button) button->setEnabled(false);
  auto *calc = new TTheCalculator(parent, host);
  s_instance = calc;
  QPointer<QAction> item(menuItem);
  QPointer<QAbstractButton> btn(button);
  connect(calc, &QObject::destroyed, calc, [item, btn] {
    if (item) item->setEnabled(true);
    if (btn) btn->setEnabled(true);
  });
  calc->show();
  calc->activateWindow();
  return calc;
}

TTheCalculator::TTheCalculator(QWidget *parent, TCalcHost &host)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      host_(host),
      engine_(firstChar(QLocale::system().decimalPoint(), '.'), firstChar(QLocale::system().groupSeparator(), ',')) {
  setObjectName(QStringLiteral("TheCalculator"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Tarnwick - Calculator"));
  setFixedSize(272, 356);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0, 0, 255));
  setPalette(pal);
  setFocusPolicy(Qt::StrongFocus);

  ScreenTicket = new QTextEdit(this);
  ScreenTicket->setObjectName(QStringLiteral("ScreenTicket"));
  ScreenTicket->setGeometry(6, 6, 260, 118);
  ScreenTicket->setReadOnly(true);
  ScreenTicket->setFocusPolicy(Qt::NoFocus);
  ScreenTicket->setLineWrapMode(QTextEdit::NoWrap);
  ScreenTicket->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont courier(QStringLiteral("Courier New"));
  courier.setStyleHint(QFont::TypeWriter);
  courier.setPointSize(10);
  ScreenTicket->setFont(courier);
  QTextOption right = ScreenTicket->document()->defaultTextOption();
  right.setAlignment(Qt::AlignRight);
  ScreenTicket->document()->setDefaultTextOption(right);
  QPalette silver = ScreenTicket->palette();
  silver.setColor(QPalette::Base, QColor(192, 192, 192));
  silver.setColor(QPalette::Text, Qt::black);
  ScreenTicket->setPalette(silver);

  QWidget *displayPanel = panel(this, "DisplayPanel", 6, 128, 260, 30);
  Display = new QLabel(displayPanel);
  Display->setObjectName(QStringLiteral("Display"));
  Display->setGeometry(3, 3, 254, 24);
  Display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Display->setAutoFillBackground(true);
  QPalette white = Display->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  Display->setPalette(white);
  QFont big = Display->font();
  big.setPointSize(12);
  big.setBold(true);
  Display->setFont(big);
  Label1 = new QLabel(QStringLiteral("# Decimals"), displayPanel);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(60, 3, 90, 24);
  QPalette whiteText = Label1->palette();
  whiteText.setColor(QPalette::WindowText, Qt::white);
  Label1->setPalette(whiteText);
  UpDown1 = new QSpinBox(displayPanel);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->setRange(0, 7);
  UpDown1->setWrapping(false);
  UpDown1->setValue(2);
  UpDown1->setGeometry(155, 3, 45, 24);
  Edit1 = UpDown1->findChild<QLineEdit *>();
  Edit1->setObjectName(QStringLiteral("Edit1"));
  UpDown1->installEventFilter(this);
  Edit1->installEventFilter(this);
  Label1->hide();
  UpDown1->hide();

  auto key = [this](QWidget *parent, const char *name, const QString &caption, int tag, int x, int y, int w = 40) {
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setProperty("Tag", tag);
    b->setGeometry(x, y, w, 30);
    b->setFocusPolicy(Qt::NoFocus);
    connect(b, &QPushButton::clicked, this, [this, tag] { FormKeyPress(tag); });
    return b;
  };
  QWidget *numeric = panel(this, "NumericPanel", 6, 162, 130, 140);
  const char *digits = "789456123";
  for (int i = 0; i < 9; ++i) {
    const QString name = QStringLiteral("Button_") + QLatin1Char(digits[i]);
    key(numeric, name.toLatin1().constData(), QString(QLatin1Char(digits[i])), digits[i], 3 + (i % 3) * 42, 3 + (i / 3) * 34);
  }
  key(numeric, "Button_0", QStringLiteral("0"), '0', 3, 105);
  key(numeric, "Button_Dec", QStringLiteral("."), '.', 45, 105);
  key(numeric, "Button_Total", QStringLiteral("="), '=', 87, 105);
  QWidget *ops = panel(this, "OperatorPanel", 140, 162, 44, 140);
  key(ops, "Button_Div", QStringLiteral("/"), '/', 2, 3);
  key(ops, "Button_Times", QStringLiteral("*"), '*', 2, 37);
  key(ops, "Button_Minus", QStringLiteral("-"), '-', 2, 71);
  key(ops, "Button_Plus", QStringLiteral("+"), '+', 2, 105);
  QWidget *extra = panel(this, "ExtraPanel", 184, 162, 42, 140);
  key(extra, "Button_Percent", QStringLiteral("%"), '%', 1, 3);
  key(extra, "Button_C", QStringLiteral("C"), 12, 1, 37);
  key(extra, "Button_MPlus", QStringLiteral("M +"), 4, 1, 71);
  key(extra, "Button_MMinus", QStringLiteral("M -"), 5, 1, 105);
  QWidget *memory = panel(this, "MemoryPanel", 226, 162, 40, 140);
  Button_MC = key(memory, "Button_MC", QStringLiteral("MC"), 2, 0, 3);
  Button_MR = key(memory, "Button_MR", QStringLiteral("MR"), 3, 0, 37);
  key(memory, "Button_Opt", QStringLiteral("Opt"), 9, 0, 71);
  Button_Print = key(memory, "Button_Print", QString(), 7, 0, 105);
  const QIcon printer = QIcon::fromTheme(QStringLiteral("document-print"));
  if (printer.isNull()) Button_Print->setText(QStringLiteral("Print"));
  else Button_Print->setIcon(printer);
  Button_Print->setToolTip(QStringLiteral("Print the tape"));

  key(this, "Button_Quit", QStringLiteral("Quit"), 27, 6, 314, 60);
  auto *use = new QPushButton(QStringLiteral("Save"), this);
  use->setObjectName(QStringLiteral("Button_Use"));
  use->setGeometry(72, 314, 80, 30);
  use->setFocusPolicy(Qt::NoFocus);
  connect(use, &QPushButton::clicked, this, [this] { Button_UseClick(); });
  auto *clear = new QPushButton(QStringLiteral("Clear Display"), this);
  clear->setObjectName(QStringLiteral("Clear_But"));
  clear->setGeometry(158, 314, 108, 30);
  clear->setFocusPolicy(Qt::NoFocus);
  connect(clear, &QPushButton::clicked, this, [this] { Clear_ButClick(); });

  // The tape of an earlier session, when one was saved.
  QFile f(tapeFile());
  if (f.open(QIODevice::ReadOnly)) {
    QString text = QString::fromUtf8(f.readAll());
    text.remove(QLatin1Char('\r'));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    if (!text.isEmpty()) appendLines(text.split(QLatin1Char('\n')));
  }
  Display->setText(engine_.displayText());
  Button_MR->setEnabled(engine_.memoryKeysEnabled());
  Button_MC->setEnabled(engine_.memoryKeysEnabled());
  if (QScreen *s = parent ? parent->screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

void TTheCalculator::appendLines(const QStringList &lines) {
  for (const QString &line : lines) {
    tape_ << line;
    ScreenTicket->append(line);
  }
}

void TTheCalculator::FormKeyPress(int code) {
  if (optionMode_) {
    // The decimals box has the keyboard: only the keys that leave the mode or the window count here.
    if (code == 9 || code == '\r') toggleOptions();
    else if (code == 27 || code == 1) close();
    return;
  }
  const TCalcEngine::Result r = engine_.press(code);
  appendLines(r.lines);
  Display->setText(engine_.displayText());
  Button_MR->setEnabled(engine_.memoryKeysEnabled());
  Button_MC->setEnabled(engine_.memoryKeysEnabled());
  switch (r.command) {
    case CalcCommand::Print: printTape(); break;
    case CalcCommand::Options: toggleOptions(); break;
    case CalcCommand::Close: close(); return;
    case CalcCommand::None: break;
  }
  if (!optionMode_) setFocus();  // no control keeps the keyboard
}

void TTheCalculator::toggleOptions() {
  optionMode_ = !optionMode_;
  if (optionMode_) {
    UpDown1->setValue(engine_.decimals());
    Display->hide();
    Label1->show();
    UpDown1->show();
    UpDown1->setFocus();
    UpDown1->selectAll();
  } else {
    engine_.setDecimalsText(Edit1->text());  // a text that is no setting keeps the last one
    UpDown1->setValue(engine_.decimals());
    Label1->hide();
    UpDown1->hide();
    Display->setText(engine_.displayText());
    Display->show();
    setFocus();
  }
}

void TTheCalculator::Button_UseClick() {
  QByteArray bytes;
  for (const QString &line : tape_) bytes += line.toUtf8() + '\n';
  QString error;
  if (!platform::saveFileAtomically(tapeFile(), bytes, &error))
    host_.showError(this, QStringLiteral("The tape could not be saved to %1:\n%2").arg(tapeFile(), error));
}

void TTheCalculator::Clear_ButClick() {
  tape_.clear();
  ScreenTicket->clear();
}

void TTheCalculator::printTape() {
  QPrinter printer;
  if (!host_.choosePrinter(this, printer)) return;
  QPainter p;
  if (!p.begin(&printer)) {
    host_.showError(this, QStringLiteral("The printer could not be started."));
    return;
  }
  p.setFont(QFont(ScreenTicket->font(), p.device()));
  const int step = p.fontMetrics().lineSpacing();
  const QRect page = p.viewport();
  int y = step;
  for (const QString &line : tape_) {
    if (y > page.height()) {
      printer.newPage();
      y = step;
    }
    p.drawText(0, y, line);
    y += step;
  }
  p.end();
}

int TTheCalculator::keyCode(const QKeyEvent *e) const {
  const int k = e->key();
  if ((e->modifiers() & Qt::ControlModifier) && k >= Qt::Key_A && k <= Qt::Key_Z) return k - Qt::Key_A + 1;
  switch (k) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return '\r';
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: return 9;
    case Qt::Key_Escape: return 27;
    default: break;
  }
  const QString t = e->text();
  return t.size() == 1 && t.at(0).unicode() >= 32 ? t.at(0).unicode() : 0;
}

bool TTheCalculator::event(QEvent *e) {
  // Every key reaches the window before its controls (Tab included, which would otherwise move the focus).
  if (e->type() == QEvent::KeyPress) {
    if (const int code = keyCode(static_cast<QKeyEvent *>(e))) FormKeyPress(code);
    return true;
  }
  if (e->type() == QEvent::ShortcutOverride) {
    e->accept();  // Ctrl+C and friends are calculator keys here
    return true;
  }
  return QWidget::event(e);
}

bool TTheCalculator::eventFilter(QObject *o, QEvent *e) {
  if (optionMode_ && e->type() == QEvent::KeyPress) {
    const int code = keyCode(static_cast<QKeyEvent *>(e));
    if (code == 9 || code == '\r' || code == 27 || code == 1) {
      FormKeyPress(code);
      return true;
    }
  }
  return QWidget::eventFilter(o, e);
}
