#include "framework/windows/KVAppAbout.h"

#include "WindowsTestSupport.h"
#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/MakerInfo.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/KVLibApp.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

using namespace palvex;

namespace {

class AboutWindowTest : public test::WindowsTest {
protected:
    // Opens the about window of a component on a main window and hands it to check.
    void WithAbout(const std::function<void(TKVFormAbout&)>& check)
    {
        m_onModal = [&](QDialog& dialog) {
            auto* about = qobject_cast<TKVFormAbout*>(&dialog);
            ASSERT_NE(about, nullptr);
            check(*about);
        };
        m_component.ShowAbout();
        EXPECT_EQ(m_modalClasses, std::vector<std::string>{"palvex::TKVFormAbout"});
    }

    QWidget m_main;
    TKVApplication m_component{&m_main};
};

} // namespace

TEST_F(AboutWindowTest, LayoutAndTextsWithTheMainWindowsSettings)
{
    CurrentLanguage = kLanguageCzech;
    WithAbout([](TKVFormAbout& about) {
        EXPECT_EQ(about.size(), QSize(550, 304));
        EXPECT_TRUE(about.windowFlags() & Qt::FramelessWindowHint);
        EXPECT_EQ(about.Shape1->height(), 213);

        EXPECT_EQ(about.Label1->text(), "Korvane Palvex");
        EXPECT_EQ(about.Label14->text().toStdString(), GetVersionText());
        EXPECT_TRUE(about.Label14->text().startsWith("version ")) << about.Label14->text().toStdString();
        EXPECT_EQ(about.Label2->text().toStdString(), GetSystemText());
        EXPECT_FALSE(about.Image1->pixmap().isNull());

        // The texts come in the current language.
        EXPECT_EQ(about.Label11->text(), "Technická podpora:");
        EXPECT_EQ(about.Label3->toolTip(), "Domovská stránka");
        EXPECT_EQ(about.Label13->toolTip(), "Otevře a předvyplní e-mail s žádostí o technickou podporu");
        EXPECT_EQ(about.Label12->toolTip(), "Otevře webovou stránku technické prodpory produktů Korvane");

        // No about lines, no memo; no address or phones: only the company name at the lower right.
        EXPECT_FALSE(about.Memo1->isVisible());
        EXPECT_TRUE(about.Label6->isVisible());
        for (QLabel* line : {about.Label7, about.Label8, about.Label5, about.Label9, about.Label10})
            EXPECT_FALSE(line->isVisible()) << line->text().toStdString();
        // Without a WebPage the home page link is the maker's.
        EXPECT_EQ(about.Label3->text(), kMakerHomePage);
    });
}

TEST_F(AboutWindowTest, AboutLinesAddressPhonesAndWebPageAreShownWhenSet)
{
    m_component.AboutLines = {"Palvex reduces pictures.", "JPEG code by the IJG."};
    m_component.ShowAddress = true;
    m_component.WebPage = kPalvexWebPage;
    WithAbout([](TKVFormAbout& about) {
        EXPECT_TRUE(about.Memo1->isVisible());
        EXPECT_EQ(about.Memo1->toPlainText(), "Palvex reduces pictures.\nJPEG code by the IJG.");
        EXPECT_TRUE(about.Label7->isVisible());
        EXPECT_EQ(about.Label5->text(), "Czech Republic");
        EXPECT_FALSE(about.Label9->isVisible());
        EXPECT_FALSE(about.Label10->isVisible());
        EXPECT_EQ(about.Label3->text(), kPalvexWebPage);
    });

    m_component.AboutLines.clear();
    m_component.ShowAddress = false;
    m_component.ShowPhones = true;
    m_modalClasses.clear();
    WithAbout([](TKVFormAbout& about) {
        EXPECT_FALSE(about.Memo1->isVisible());
        EXPECT_FALSE(about.Label7->isVisible());
        EXPECT_FALSE(about.Label5->isVisible());
        EXPECT_TRUE(about.Label9->isVisible());
        EXPECT_TRUE(about.Label10->isVisible());
    });
}

TEST_F(AboutWindowTest, LinksOpenTheirAddressesWithoutClosingTheWindow)
{
    m_component.WebPage = kPalvexWebPage;
    WithAbout([](TKVFormAbout& about) {
        for (QWidget* link : {static_cast<QWidget*>(about.Label3), static_cast<QWidget*>(about.Label12),
                              static_cast<QWidget*>(about.Label13)}) {
            EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
            test::Click(link);
            EXPECT_TRUE(about.isVisible());
        }
        EXPECT_EQ(about.cursor().shape(), Qt::ArrowCursor);
        EXPECT_EQ(about.Shape1->cursor().shape(), Qt::ArrowCursor);
    });
    ASSERT_EQ(m_opened.size(), 3u);
    EXPECT_EQ(m_opened[0], kPalvexWebPage);
    EXPECT_EQ(m_opened[1], kMakerSupportPage);
    EXPECT_EQ(m_opened[2], "mailto:support@korvane.example?subject=Žádost o technickou podporu Korvane&body="
                           "product:%09%09%09Korvane Palvex%0D%0A"
                           "version:%09%09%09" +
                               GetVersionText() +
                               "%0D%0A"
                               "osver:%09%09%09" +
                               GetSystemText() +
                               "%0D%0A"
                               "category:%09%09%09unspecified <by e-mail>%0D%0A"
                               "question: %0D%0A%0D%0A%0D%0A");
}

TEST_F(AboutWindowTest, APressElsewhereClosesTheWindowButNotOneInTheMemo)
{
    m_component.AboutLines = {"one line"};
    WithAbout([](TKVFormAbout& about) {
        test::Click(about.Memo1->viewport());
        EXPECT_TRUE(about.isVisible());
    });
    // On the white part, on a plain label in it, and on the navy part.
    for (int place = 0; place < 3; ++place) {
        m_modalClasses.clear();
        WithAbout([place](TKVFormAbout& about) {
            if (place == 0)
                test::Click(about.Shape1, QPoint(300, 190));
            if (place == 1)
                test::Click(about.Label1);
            if (place == 2)
                test::Click(&about, QPoint(250, 290));
            EXPECT_FALSE(about.isVisible()) << "place " << place;
            EXPECT_EQ(about.result(), QDialog::Accepted);
        });
    }
    EXPECT_TRUE(m_opened.empty());
}
