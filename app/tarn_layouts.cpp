// The window's layouts (full screen, tree/list view, vertical or horizontal pair, 50/50) and the dual file
// manager with its second browser pair.
#include <QLabel>
#include "app/tarn.h"
#include "controls/shellcombo.h"
#include "controls/shelltree.h"

bool TTarn::secondPairActive() const { return animate2 && !animate2->isHidden(); }

TPTShellTree *TTarn::activeTree() const { return secondPairActive() ? PTShellTree2 : PTShellTree1; }

TPTShellCombo *TTarn::activeCombo() const { return secondPairActive() ? PTShellCombo2 : PTShellCombo1; }
