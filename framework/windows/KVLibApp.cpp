#include "framework/windows/KVLibApp.h"

#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/FormChooseLanguage.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/KVAppAbout.h"
#include "framework/windows/KVAppShowInfo.h"
#include "framework/windows/ModalRunner.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

namespace palvex {

namespace {

QString Title() { return QString::fromStdString(ApplicationTitle()); }

} // namespace

TKVApplication::TKVApplication(QWidget* owner) : QObject(owner), m_owner(owner)
{
    if (m_owner)
        m_owner->setWindowTitle(Title());
}

void TKVApplication::StartUp()
{
    RegistryNodeName = RegistryNode.toStdString();
    if (!LoadLanguage()) {
        TFormChooseLanguage chooser(m_owner);
        chooser.Label3->setText(Title());
        RunModal(chooser);
    }
    RefreshTexts();
}

void TKVApplication::RefreshTexts()
{
    FillFrameworkTexts();
    if (m_owner)
        m_owner->setWindowTitle(Title());
}

void TKVApplication::ShowAbout()
{
    TKVFormAbout about(m_owner);
    about.Memo1->setPlainText(AboutLines.join(QLatin1Char('\n')));
    if (!WebPage.isEmpty())
        about.Label3->setText(WebPage);
    for (QLabel* line : {about.Label7, about.Label8, about.Label5})
        line->setVisible(ShowAddress);
    for (QLabel* line : {about.Label9, about.Label10})
        line->setVisible(ShowPhones);
    RunModal(about);
}

void TKVApplication::ShowMessage(bool isError, const QString& message)
{
    TFormInformation window(m_owner);
    window.SetMessage(isError, message);
    RunModal(window);
}

void TKVApplication::ShowError(const QString& message) { ShowMessage(true, message); }

void TKVApplication::ShowInformation(const QString& message) { ShowMessage(false, message); }

} // namespace palvex
