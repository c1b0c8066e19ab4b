#include "framework/windows/ErrorBox.h"

#include "framework/ErrorReport.h"
#include "framework/KVLibEXE.h"
#include "framework/windows/DesktopShell.h"

#include <QMessageBox>

#include <exception>

namespace palvex {

namespace {

TErrorReportHandler g_handler;

QString TitleText() { return QString::fromStdString(ApplicationTitle()); }

} // namespace

std::unique_ptr<QMessageBox> MakeErrorBox(const QString& text, QWidget* parent)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, TitleText(), text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::Ok);
    return box;
}

void ShowErrorReport(const std::string& message)
{
    const QString text = QString::fromStdString(FormatErrorReport(message));
    if (g_handler) {
        g_handler(TitleText(), text);
        return;
    }
    MakeErrorBox(text, QApplication::activeWindow())->exec();
}

void SetErrorReportHandler(TErrorReportHandler handler) { g_handler = std::move(handler); }

TReportingApplication::TReportingApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    InstallDesktopShell();
}

bool TReportingApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorReport(e.what());
    } catch (...) {
        ShowErrorReport("Unknown exception");
    }
    return false;
}

} // namespace palvex
