#pragma once
// The image window's filter dialogs. Each edits the settings it is given (kept by the window for its life)
// and, where it has a preview, calls the preview function on every change while "Preview" is ticked and
// once with no settings (an empty call) when the preview ends.
#include <QDialog>

#include <functional>

#include "windows/image/imagefilters.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QSlider;
class QSpinBox;

class TFilterDialog : public QDialog {
  Q_OBJECT
 public:
  using PreviewFn = std::function<void(bool on)>;
  TFilterDialog(const QString &title, QWidget *parent, PreviewFn preview = {});
  ~TFilterDialog() override;

 protected:
  void changed();
  QFormLayout *form_;
  QCheckBox *previewBox_ = nullptr;

 private:
  PreviewFn preview_;
};

// Brightness, contrast and gamma (contrast and gamma as steps -100 .. 100 of 5^(s/100)).
class TBcgFilterDialog : public TFilterDialog {
  Q_OBJECT
 public:
  TBcgFilterDialog(imgfilter::BcgParams &params, QWidget *parent, PreviewFn preview = {});

 private:
  imgfilter::BcgParams &p_;
  QSlider *brightness_, *contrast_, *gamma_;
  QCheckBox *useY_;
};

class TGreyFilterDialog : public TFilterDialog {
  Q_OBJECT
 public:
  TGreyFilterDialog(bool &rgbWeighting, QWidget *parent, PreviewFn preview = {});
};

class TNegativeFilterDialog : public TFilterDialog {
  Q_OBJECT
 public:
  TNegativeFilterDialog(QWidget *parent, PreviewFn preview = {});
};

class TContourFilterDialog : public TFilterDialog {
  Q_OBJECT
 public:
  TContourFilterDialog(imgfilter::ContourParams &params, QWidget *parent);
};

class TBlurFilterDialog : public TFilterDialog {
  Q_OBJECT
 public:
  TBlurFilterDialog(double &radius, int &strength, QWidget *parent);
};
