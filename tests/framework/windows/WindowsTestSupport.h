// Shared set-up of the framework window tests: one reporting application for the
// program, the settings store in a temporary folder, recorded addresses and error
// reports, and modal windows that are shown, handed to the test and closed.
#pragma once

#include "TestMain.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace palvex::test {

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest();
    void SetUp() override;
    void TearDown() override;

    // Runs while a modal window is up; the window is hidden afterwards if still shown.
    std::function<void(QDialog&)> m_onModal;
    std::vector<std::string> m_modalClasses;
    std::vector<std::string> m_opened;
    std::vector<QString> m_reports;
    TempDir m_dir;
};

// A press and release of the left button at pos, sent through the application's notify().
void Click(QWidget* widget, QPoint pos);
void Click(QWidget* widget);
void DoubleClick(QWidget* widget, QPoint pos);

// Processes events until done() holds or the time is up; returns done().
bool WaitFor(const std::function<bool()>& done, int milliseconds = 60000);

} // namespace palvex::test
