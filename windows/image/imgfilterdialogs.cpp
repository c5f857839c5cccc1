#include "windows/image/imgfilterdialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

TFilterDialog::TFilterDialog(const QString &title, QWidget *parent, PreviewFn preview)
    : QDialog(parent), preview_(std::move(preview)) {
  setWindowTitle(title);
  auto *v = new QVBoxLayout(this);
  form_ = new QFormLayout;
  v->addLayout(form_);
  if (preview_) {
    previewBox_ = new QCheckBox(QStringLiteral("&Preview"), this);
    previewBox_->setObjectName(QStringLiteral("PreviewBox"));
    previewBox_->setChecked(true);
    v->addWidget(previewBox_);
    connect(previewBox_, &QCheckBox::toggled, this, [this](bool on) { preview_(on); });
  }
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName(QStringLiteral("Buttons"));
  v->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

TFilterDialog::~TFilterDialog() {
  if (preview_) preview_(false);  // the shown image comes back whatever the answer
}

void TFilterDialog::changed() {
  if (preview_ && previewBox_ && previewBox_->isChecked()) preview_(true);
}

namespace {
QSlider *slider(QWidget *parent, const char *name, int min, int max, int value) {
  auto *s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(QString::fromLatin1(name));
  s->setRange(min, max);
  s->setValue(value);
  s->setMinimumWidth(220);
  return s;
}
int stepOf(double value) { return qRound(100.0 * std::log(value) / std::log(5.0)); }
}  // namespace

TBcgFilterDialog::TBcgFilterDialog(imgfilter::BcgParams &params, QWidget *parent, PreviewFn preview)
    : TFilterDialog(QStringLiteral("Brightness, Contrast, Gamma"), parent, std::move(preview)), p_(params) {
  setObjectName(QStringLiteral("BCGFilterDialog1"));
  brightness_ = slider(this, "BrightnessSlider", -100, 100, p_.brightness);
  contrast_ = slider(this, "ContrastSlider", -100, 100, stepOf(p_.contrast));
  gamma_ = slider(this, "GammaSlider", -100, 100, stepOf(p_.gamma));
  useY_ = new QCheckBox(QStringLiteral("Work on the &luminance only"), this);
  useY_->setObjectName(QStringLiteral("UseYBox"));
  useY_->setChecked(p_.useY);
  auto *values = new QLabel(this);
  form_->addRow(QStringLiteral("&Brightness:"), brightness_);
  form_->addRow(QStringLiteral("&Contrast:"), contrast_);
  form_->addRow(QStringLiteral("&Gamma:"), gamma_);
  form_->addRow(QString(), useY_);
  form_->addRow(QString(), values);
  auto update = [this, values] {
    p_.brightness = brightness_->value();
    p_.contrast = imgfilter::stepToValue(contrast_->value());
    p_.gamma = imgfilter::stepToValue(gamma_->value());
    p_.useY = useY_->isChecked();
    values->setText(QStringLiteral("Brightness %1, contrast %2, gamma %3")
                        .arg(p_.brightness)
                        .arg(p_.contrast, 0, 'f', 2)
                        .arg(p_.gamma, 0, 'f', 2));
    changed();
  };
  const imgfilter::BcgParams before = p_;
  connect(this, &QDialog::rejected, this, [this, before] { p_ = before; });  // cancelled: the settings stay
  for (QSlider *s : {brightness_, contrast_, gamma_}) connect(s, &QSlider::valueChanged, this, update);
  connect(useY_, &QCheckBox::toggled, this, update);
  update();
}

TGreyFilterDialog::TGreyFilterDialog(bool &rgbWeighting, QWidget *parent, PreviewFn preview)
    : TFilterDialog(QStringLiteral("GreyScale"), parent, std::move(preview)) {
  setObjectName(QStringLiteral("GrayScaleFilterDialog1"));
  auto *box = new QCheckBox(QStringLiteral("&Weight the colours as the eye sees them"), this);
  box->setObjectName(QStringLiteral("RgbWeightingBox"));
  box->setChecked(rgbWeighting);
  form_->addRow(box);
  const bool before = rgbWeighting;
  connect(this, &QDialog::rejected, this, [&rgbWeighting, before] { rgbWeighting = before; });
  connect(box, &QCheckBox::toggled, this, [this, &rgbWeighting](bool on) {
    rgbWeighting = on;
    changed();
  });
  changed();
}

TNegativeFilterDialog::TNegativeFilterDialog(QWidget *parent, PreviewFn preview)
    : TFilterDialog(QStringLiteral("Negative"), parent, std::move(preview)) {
  setObjectName(QStringLiteral("NegativeFilterDialog1"));
  form_->addRow(new QLabel(QStringLiteral("Every colour becomes its opposite."), this));
  changed();
}

TContourFilterDialog::TContourFilterDialog(imgfilter::ContourParams &p, QWidget *parent)
    : TFilterDialog(QStringLiteral("Contour"), parent) {
  setObjectName(QStringLiteral("ContourFilterDialog1"));
  auto *sigma = new QDoubleSpinBox(this);
  sigma->setObjectName(QStringLiteral("SigmaBox"));
  sigma->setRange(0.4, 1.3);
  sigma->setSingleStep(0.1);
  sigma->setDecimals(2);
  sigma->setValue(p.sigma);
  auto *strength = new QSpinBox(this);
  strength->setObjectName(QStringLiteral("StrengthBox"));
  strength->setRange(100, 1000);
  strength->setSuffix(QStringLiteral(" %"));
  strength->setValue(p.strength);
  auto *shape = new QComboBox(this);
  shape->setObjectName(QStringLiteral("ShapeBox"));
  shape->addItems({QStringLiteral("Gaussian"), QStringLiteral("Tent"), QStringLiteral("Rectangle")});
  shape->setCurrentIndex(int(p.shape));
  auto *distance = new QCheckBox(QStringLiteral("Use the &distance from the centre"), this);
  distance->setObjectName(QStringLiteral("UseDistanceBox"));
  distance->setChecked(p.useDistance);
  auto *black = new QCheckBox(QStringLiteral("&Black background"), this);
  black->setObjectName(QStringLiteral("BlackBackgroundBox"));
  black->setChecked(p.blackBackground);
  form_->addRow(QStringLiteral("&Standard deviation:"), sigma);
  form_->addRow(QStringLiteral("S&trength:"), strength);
  form_->addRow(QStringLiteral("S&hape:"), shape);
  form_->addRow(QString(), distance);
  form_->addRow(QString(), black);
  connect(this, &QDialog::accepted, this, [=, &p] {
    p.sigma = sigma->value();
    p.strength = strength->value();
    p.shape = imgfilter::Shape(shape->currentIndex());
    p.useDistance = distance->isChecked();
    p.blackBackground = black->isChecked();
  });
}

TBlurFilterDialog::TBlurFilterDialog(double &radius, int &strength, QWidget *parent)
    : TFilterDialog(QStringLiteral("Blur"), parent) {
  setObjectName(QStringLiteral("BlurFilterDialog1"));
  auto *r = new QDoubleSpinBox(this);
  r->setObjectName(QStringLiteral("RadiusBox"));
  r->setRange(0.5, 5.0);
  r->setSingleStep(0.5);
  r->setDecimals(1);
  r->setValue(radius);
  auto *s = new QSpinBox(this);
  s->setObjectName(QStringLiteral("StrengthBox"));
  s->setRange(10, 100);
  s->setSuffix(QStringLiteral(" %"));
  s->setValue(strength);
  form_->addRow(QStringLiteral("&Radius:"), r);
  form_->addRow(QStringLiteral("&Strength:"), s);
  connect(this, &QDialog::accepted, this, [=, &radius, &strength] {
    radius = r->value();
    strength = s->value();
  });
}
