// The picture registry after start-up, the accepted-extension test and the
// open-dialog filter.
#include "imageio/FileFormats.h"

#include <fstream>
#include <set>

#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"
#include "imageio/Bitmap.h"
#include "imageio/Icon.h"
#include "imageio/JPEGImage.h"
#include "imageio/Metafile.h"
#include "imageio/Picture.h"
#include "imageio/decoders/FileFormatList.h"
#include "imageio/decoders/GIFImage.h"
#include "imageio/decoders/PNGGraphic.h"
#include "imageio/decoders/SGIGraphic.h"
#include "imageio/decoders/TIFFGraphic.h"
#include "platform/Errors.h"

using namespace palvex;

using Registered = test::RegisteredFormats;

TEST_F(Registered, HoldsFortySixEntriesOverFortyExtensions)
{
    const auto& entries = FileFormats().Entries();
    EXPECT_EQ(entries.size(), 46u);
    std::set<std::string> distinct;
    for (const auto& e : entries)
        distinct.insert(e.Extension);
    EXPECT_EQ(distinct.size(), 40u);
    // Every registered extension is accepted and every accepted one registered.
    for (const auto& ext : distinct)
        EXPECT_TRUE(IsAcceptedExtension("." + ext)) << ext;
    for (const auto& ext : AcceptedExtensions())
        EXPECT_NE(FileFormats().FindClassForExtension(ext.substr(1)), nullptr) << ext;
    EXPECT_EQ(AcceptedExtensions().size(), 40u);
    // Duplicates map to one class under all their registrations.
    for (const auto& e : entries)
        EXPECT_EQ(FileFormats().FindClassForExtension(e.Extension), e.GraphicClass) << e.Extension;
}

TEST_F(Registered, StartUpOrderAndDescriptions)
{
    const auto& e = FileFormats().Entries();
    EXPECT_EQ(e[0].Extension, "wmf");
    EXPECT_EQ(e[3].Description, "Bitmaps");
    EXPECT_EQ(e[4].Extension, "jpeg");
    EXPECT_EQ(e[5].Description, "JPEG Image File");
    EXPECT_EQ(e[9].Description, "Windows enhanced meta files");
    EXPECT_EQ(e[16].Extension, "win");
    EXPECT_EQ(e[17].Description, "Truevision images");
    EXPECT_EQ(e[44].Extension, "png");
    EXPECT_EQ(e[45].Extension, "gif");
    EXPECT_EQ(e[45].Description, "GIF Image");
}

TEST_F(Registered, FindsKindsByExtensionInAnyCase)
{
    EXPECT_EQ(FileFormats().FindClassForExtension("JPG"), &TJPEGImage::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("jfif"), &TJPEGImage::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("jpe"), &TJPEGImage::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("TIFF"), &TTIFFGraphic::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("rgba"), &TSGIGraphic::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("dib"), &TBitmap::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("gif"), &TGIFImage::StaticClass());
    EXPECT_EQ(FileFormats().FindClassForExtension("txt"), nullptr);
}

TEST_F(Registered, RegisteringAnExtensionTwiceFails)
{
    EXPECT_THROW_MSG(DecoderFormats().AddFormat("png", "", "", TPNGGraphic::StaticClass()), EInvalidGraphic,
                     "Attempt to register png twice.");
    const size_t before = FileFormats().Entries().size();
    DecoderFormats().AddFormat("", "x", "y", TPNGGraphic::StaticClass());
    EXPECT_EQ(FileFormats().Entries().size(), before);
}

TEST_F(Registered, OpenFilterRunsFromTheLastEntryToTheFirst)
{
    const std::string filter = FileFormats().BuildOpenFilter(TGraphic::StaticClass());
    EXPECT_EQ(filter.rfind("All (*.gif;*.png;*.psp;", 0), 0u) << filter.substr(0, 80);
    const std::string masksEnd = ";*.emf;*.wmf)|";
    EXPECT_NE(filter.find(masksEnd), std::string::npos);
    EXPECT_NE(filter.find(";*.wmf|GIF Image (*.gif)|*.gif|"), std::string::npos);
    const std::string tail = "|Metafiles (*.wmf)|*.wmf";
    EXPECT_EQ(filter.substr(filter.size() - tail.size()), tail);

    // One matching entry gives its pair alone.
    TFileFormatsList list;
    list.RemoveFormatsOf(TIcon::StaticClass());
    list.RemoveFormatsOf(TMetafile::StaticClass());
    EXPECT_EQ(list.BuildOpenFilter(TGraphic::StaticClass()), "Bitmaps (*.bmp)|*.bmp");
}

TEST_F(Registered, UnregisteringRemovesEntriesOfDerivedKindsToo)
{
    TFileFormatsList list;
    list.RegisterFormat("png", "p", TPNGGraphic::StaticClass());
    list.RemoveFormatsOf(TBitmap::StaticClass()); // TPNGGraphic derives from TBitmap
    EXPECT_EQ(list.FindClassForExtension("png"), nullptr);
    EXPECT_EQ(list.FindClassForExtension("bmp"), nullptr);
    EXPECT_NE(list.FindClassForExtension("ico"), nullptr);
}

TEST(AcceptedExtension, FollowFromTheStartUpRegistrationsInTheirFixedOrder)
{
    const std::vector<std::string> expected{
        ".JPG", ".JPEG", ".GIF", ".TIF", ".ICO", ".BMP", ".EMF", ".WMF", ".PNG", ".PSP",
        ".CUT", ".PCD", ".PIC", ".CEL", ".PBM", ".PGM", ".PPM", ".PDD", ".PSD", ".BW",
        ".RGB", ".RGBA", ".SGI", ".RLA", ".RPF", ".SCR", ".PCC", ".PCX", ".EPS", ".FAX",
        ".TIFF", ".ICB", ".TGA", ".VDA", ".VST", ".WIN", ".DIB", ".RLE", ".JPE", ".JFIF",
    };
    EXPECT_EQ(AcceptedExtensions(), expected);
}

TEST(AcceptedExtension, IsTestedAfterUpperCasing)
{
    EXPECT_TRUE(IsAcceptedExtension(ExtractFileExt("photo.jpg")));
    EXPECT_TRUE(IsAcceptedExtension(ExtractFileExt("photo.JPG")));
    EXPECT_TRUE(IsAcceptedExtension(ExtractFileExt("img.JpEg")));
    EXPECT_TRUE(IsAcceptedExtension(ExtractFileExt("scan.jfif")));
    EXPECT_TRUE(IsAcceptedExtension(ExtractFileExt("scan.jpe")));
    EXPECT_FALSE(IsAcceptedExtension(ExtractFileExt("photo.jpg.bak")));
    EXPECT_FALSE(IsAcceptedExtension(ExtractFileExt("photo")));
    EXPECT_FALSE(IsAcceptedExtension(ExtractFileExt("a.tar.gz")));
    EXPECT_FALSE(IsAcceptedExtension(ExtractFileExt("README")));
    EXPECT_EQ(ExtractFileExt("my.folder\\file"), "");
    EXPECT_EQ(ExtractFileExt("my.folder/file"), "");
    EXPECT_EQ(ExtractFileExt("a.b.jpg"), ".jpg");
    // The conversion knows Czech letters, which never make an accepted extension.
    EXPECT_FALSE(IsAcceptedExtension(".jpé"));
}

TEST_F(Registered, LoadFileNamesAnUnknownExtensionAsWritten)
{
    TPicture picture;
    EXPECT_THROW_MSG(picture.LoadFile("notes.txt"), EInvalidGraphic, "Unknown picture file extension (.txt)");
    EXPECT_THROW_MSG(picture.LoadFile("X.TXT"), EInvalidGraphic, "Unknown picture file extension (.TXT)");
    EXPECT_THROW_MSG(picture.LoadFile("README"), EInvalidGraphic, "Unknown picture file extension (.)");
}

TEST_F(Registered, FailedLoadKeepsThePreviousPicture)
{
    TPicture picture;
    picture.Bitmap().SetSize(3, 4);
    TGraphic* before = picture.Graphic();
    EXPECT_THROW(picture.LoadFile("/nonexistent/folder/missing.bmp"), EFOpenError);
    EXPECT_EQ(picture.Graphic(), before);
    EXPECT_EQ(picture.Width(), 3);

    test::TempDir dir;
    const auto fake = dir.Path() / "fake.png";
    std::ofstream(fake) << "this is not a picture";
    EXPECT_THROW_MSG(picture.LoadFile(fake.string()), EInvalidGraphic,
                     "Cannot load image. Invalid or unexpected PNG image format.");
    EXPECT_EQ(picture.Graphic(), before);
}

TEST_F(Registered, MissingFileReportsThePathAndTheReason)
{
    TPicture picture;
    EXPECT_THROW_MSG(picture.LoadFile("/nonexistent/x.jpg"), EFOpenError,
                     "Cannot open file \"/nonexistent/x.jpg\". No such file or directory");
}
