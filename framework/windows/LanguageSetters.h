// KVMultiLanguage's setters: put text number n from the text table onto a Qt control.
#pragma once

class QAbstractButton;
class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QString;

namespace palvex {

QString QText(int number);

void SetLabelCaption(int number, QLabel* label);
void SetLabelHint(int number, QLabel* label);
void SetButtonCaption(int number, QAbstractButton* button);
void SetMenuCaption(int number, QAction* item);
void SetMenuCaption(int number, QMenu* menu);
void SetCheckBoxCaption(int number, QCheckBox* checkBox);

} // namespace palvex
