// The main window's side of the fonts viewer: the View menu's "&System Fonts". The viewer needs nothing of
// this window but its place; it is one window, shown again when open.
#include "app/tarn.h"
#include "windows/fonts/fontform.h"

void TTarn::SystemFonts1Click() { TFontForm::open(this, item(QStringLiteral("SystemFonts1"))); }

void TTarn::deleteFontsWindow() { delete TFontForm::instance(); }
