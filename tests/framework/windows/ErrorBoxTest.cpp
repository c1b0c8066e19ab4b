// The standard error report and the application that reports escaping exceptions.
#include "framework/windows/ErrorBox.h"

#include "WindowsTestSupport.h"
#include "framework/KVLibEXE.h"
#include "framework/MakerInfo.h"
#include "framework/windows/DesktopShell.h"
#include "platform/Errors.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrlQuery>

using namespace palvex;

namespace {

using ErrorBoxTest = test::WindowsTest;

} // namespace

TEST_F(ErrorBoxTest, BoxHasStopIconOkAndTheTitle)
{
    const auto box = MakeErrorBox("Stream read error.");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->windowTitle(), "Korvane Palvex");
    EXPECT_EQ(box->text(), "Stream read error.");
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);

    ShowErrorReport("JPEG error #21");
    ShowErrorReport("Ends with a full stop.");
    ShowErrorReport("");
    EXPECT_EQ(m_reports, (std::vector<QString>{"Korvane Palvex | JPEG error #21.",
                                               "Korvane Palvex | Ends with a full stop.", "Korvane Palvex | "}));
}

TEST_F(ErrorBoxTest, ExceptionsLeavingEventHandlersAreReportedAndTheProgramGoesOn)
{
    QPushButton button("Start");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        throw EConvertError(Format(kSInvalidInteger, "abc"));
    });
    button.show();
    test::Click(&button);
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_EQ(m_reports[0], "Korvane Palvex | 'abc' is not a valid integer value.");

    // A second click, and a queued call from the event loop, are handled and reported alike.
    test::Click(&button);
    bool later = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("from a timer"); });
    QTimer::singleShot(0, [&] { later = true; });
    for (int i = 0; i < 5 && !later; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(later);
    ASSERT_EQ(m_reports.size(), 3u);
    EXPECT_EQ(m_reports[2], "Korvane Palvex | from a timer.");
}

TEST_F(ErrorBoxTest, MailAddressReachesTheDesktopWithRealTabsAndLineBreaks)
{
    const std::string mail =
        MailtoAddress(kMakerSupportEmail, kSupportMailSubject, SupportMailBody("Korvane Palvex", "version 1.2.3 build 45", "Debian GNU/Linux (version 12)"));
    const QUrl url = AddressUrl(mail);
    ASSERT_TRUE(url.isValid()) << url.errorString().toStdString();
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), "support@korvane.example");
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Žádost o technickou podporu Korvane");
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded),
              "product:\t\t\tKorvane Palvex\r\nversion:\t\t\tversion 1.2.3 build 45\r\n"
              "osver:\t\t\tDebian GNU/Linux (version 12)\r\ncategory:\t\t\tunspecified <by e-mail>\r\n"
              "question: \r\n\r\n\r\n");

    const QUrl page = AddressUrl(kMakerSupportPage);
    EXPECT_EQ(page.toString(), "https://support.korvane.example/");
}
