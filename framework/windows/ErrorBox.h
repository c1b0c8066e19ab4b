// The standard error report: the message, by the full-stop rule, in a stop-icon
// box with an OK button captioned with the application title; and the application
// object that reports every exception leaving an event handler that way.
#pragma once

#include <QApplication>

#include <functional>
#include <memory>
#include <string>

class QMessageBox;
class QWidget;

namespace palvex {

// The box, not yet shown; the text is already formatted.
std::unique_ptr<QMessageBox> MakeErrorBox(const QString& text, QWidget* parent = nullptr);

// Shows FormatErrorReport(message) and waits for OK.
void ShowErrorReport(const std::string& message);

// Receives the caption and the formatted text instead of the box (tests, unattended runs).
using TErrorReportHandler = std::function<void(const QString& caption, const QString& text)>;
// An empty handler restores the box.
void SetErrorReportHandler(TErrorReportHandler handler);

class TReportingApplication : public QApplication {
    Q_OBJECT
public:
    // Also connects OpenAddress to the desktop services.
    TReportingApplication(int& argc, char** argv);

    // An exception that escapes an event handler is reported and the event counts as not handled;
    // the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace palvex
