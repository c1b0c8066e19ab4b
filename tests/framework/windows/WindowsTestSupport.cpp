#include "WindowsTestSupport.h"

#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/ErrorBox.h"
#include "framework/windows/ModalRunner.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>

#if defined(__SANITIZE_ADDRESS__)
// Qt Widgets is built without unwinding cleanup: an exception that leaves a mouse
// handler and is caught in notify() leaves behind the event copy QApplication::notify
// made for the widget (about 260 bytes per report). Full allocation stacks let the
// suppressions name those Qt frames and nothing else.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QMutableEventPoint::detach\nleak:QSinglePointEvent::QSinglePointEvent\n";
}
#endif

namespace palvex::test {

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = new TReportingApplication(m_argc, m_argv);
    }
    void TearDown() override { delete m_app; }

private:
    int m_argc = 1;
    char m_name[32] = "test_framework_windows";
    char* m_argv[2] = {m_name, nullptr};
    TReportingApplication* m_app = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

WindowsTest::WindowsTest()
{
    // Before the fixtures' own members: a component takes the title when it is made.
    SetApplicationTitle("Korvane Palvex");
}

void WindowsTest::SetUp()
{
    SetRegistryStoreFolder((m_dir.Path() / "Korvane").string());
    RegistryNodeName = "Palvex";
    CurrentLanguage = kLanguageEnglish;
    TextTable.Clear();
    SetShellOpenHandler([this](const std::string& address) { m_opened.push_back(address); });
    SetErrorReportHandler([this](const QString& caption, const QString& text) {
        m_reports.push_back(caption + QStringLiteral(" | ") + text);
    });
    SetModalRunner([this](QDialog& dialog) {
        m_modalClasses.emplace_back(dialog.metaObject()->className());
        dialog.show();
        QCoreApplication::processEvents();
        if (m_onModal)
            m_onModal(dialog);
        dialog.hide();
        return dialog.result();
    });
}

void WindowsTest::TearDown()
{
    SetModalRunner(nullptr);
    SetErrorReportHandler(nullptr);
    // Nothing a test clicks may reach the desktop.
    SetShellOpenHandler([](const std::string&) {});
    SetRegistryStoreFolder("");
}

void Click(QWidget* widget, QPoint pos)
{
    SendMouse(widget, QEvent::MouseButtonPress, pos);
    SendMouse(widget, QEvent::MouseButtonRelease, pos);
}

void Click(QWidget* widget) { Click(widget, widget->rect().center()); }

void DoubleClick(QWidget* widget, QPoint pos)
{
    Click(widget, pos);
    SendMouse(widget, QEvent::MouseButtonDblClick, pos);
    SendMouse(widget, QEvent::MouseButtonRelease, pos);
}

bool WaitFor(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace palvex::test
