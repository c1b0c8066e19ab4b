#include "framework/windows/LanguageSetters.h"

#include "framework/KVMultiLanguage.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>

namespace palvex {

QString QText(int number) { return QString::fromStdString(GetText(number)); }

void SetLabelCaption(int number, QLabel* label) { label->setText(QText(number)); }

void SetLabelHint(int number, QLabel* label) { label->setToolTip(QText(number)); }

void SetButtonCaption(int number, QAbstractButton* button) { button->setText(QText(number)); }

void SetMenuCaption(int number, QAction* item) { item->setText(QText(number)); }

void SetMenuCaption(int number, QMenu* menu) { menu->setTitle(QText(number)); }

void SetCheckBoxCaption(int number, QCheckBox* checkBox) { checkBox->setText(QText(number)); }

} // namespace palvex
