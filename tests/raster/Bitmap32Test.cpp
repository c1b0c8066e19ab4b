// TBitmap32: sizing and its events, filling, copying, the stored form, locks.
#include "raster/Bitmap32.h"

#include "TestMain.h"
#include "Bitmap32Events.h"
#include "platform/Errors.h"

using namespace palvex;

using namespace palvex::test;

TEST(Bitmap32, DefaultsOfANewBitmap)
{
    TBitmap32 b;
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.PixelData(), nullptr);
    EXPECT_EQ(b.DrawMode(), dmOpaque);
    EXPECT_EQ(b.MasterAlpha(), 255u);
    EXPECT_EQ(b.OuterColor(), 0u);
    EXPECT_EQ(b.StretchFilter(), sfNearest);
    EXPECT_EQ(b.DibHeader().biSize, 40u);
    EXPECT_EQ(b.DibHeader().biBitCount, 32);
    EXPECT_EQ(b.DibHeader().biPlanes, 1);
}

TEST(Bitmap32, NegativeSideIsZeroAndStillRaisesEventsOnce)
{
    TBitmap32 b;
    EventCounts c;
    Count(b, c);
    EXPECT_TRUE(b.SetSize(-5, 10));
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 10);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.PixelData(), nullptr);
    EXPECT_EQ(c.change, 1);
    EXPECT_EQ(c.resize, 1);
}

TEST(Bitmap32, SameSizeReturnsFalseWithoutEvents)
{
    TBitmap32 b;
    b.SetSize(3, 2);
    EventCounts c;
    Count(b, c);
    EXPECT_FALSE(b.SetSize(3, 2));
    EXPECT_EQ(c.change + c.resize + c.handle, 0);
}

TEST(Bitmap32, WidthThenHeightAllocatesOnlyAtTheSecondCall)
{
    TBitmap32 b;
    b.SetWidth(7);
    EXPECT_EQ(b.PixelData(), nullptr);
    b.SetHeight(3);
    ASSERT_NE(b.PixelData(), nullptr);
    EXPECT_EQ(b.DibHeader().biWidth, 7);
    EXPECT_EQ(b.DibHeader().biHeight, -3);
    EXPECT_FALSE(b.IsEmpty());
    b.Discard();
    EXPECT_TRUE(b.IsEmpty());
}

TEST(Bitmap32, SizeBeyondMemoryFailsAndLeavesTheBitmapEmpty)
{
    TBitmap32 b;
    b.SetSize(4, 4);
    EventCounts c;
    Count(b, c);
    EXPECT_THROW_MSG(b.SetSize(2000000000, 2000000000), Exception, "Can't allocate the DIB handle");
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_EQ(c.handle, 1);
    EXPECT_EQ(c.change, 0);
    EXPECT_EQ(c.resize, 0);
}

TEST(Bitmap32, FillAllAndMakeOpaque)
{
    TBitmap32 empty;
    EventCounts c;
    Count(empty, c);
    empty.FillAll(0x12345678);
    EXPECT_EQ(c.change, 0);

    TBitmap32 b;
    b.SetSize(3, 3);
    b.FillAll(0x00ABCDEF);
    b.SetPixel(1, 1, 0x7F010203);
    b.MakeOpaque();
    EXPECT_EQ(b.Pixel(0, 0), 0xFFABCDEFu);
    EXPECT_EQ(b.Pixel(1, 1), 0xFF010203u);
}

TEST(Bitmap32, PropertySettersNotifyOnlyOnChange)
{
    TBitmap32 b;
    EventCounts c;
    Count(b, c);
    b.SetDrawMode(dmOpaque);
    b.SetMasterAlpha(255);
    b.SetStretchFilter(sfNearest);
    EXPECT_EQ(c.change, 0);
    b.SetDrawMode(dmBlend);
    b.SetMasterAlpha(10);
    b.SetStretchFilter(sfSpline);
    EXPECT_EQ(c.change, 3);
    b.SetOuterColor(5);
    EXPECT_EQ(c.change, 3);
}

TEST(Bitmap32, AssignFromCopiesPixelsAndPropertiesButNotEvents)
{
    TBitmap32 a;
    a.SetSize(2, 2);
    a.FillAll(0x80112233);
    a.SetDrawMode(dmBlend);
    a.SetMasterAlpha(7);
    a.SetStretchFilter(sfLanczos);
    a.SetOuterColor(9);
    int aEvents = 0;
    a.OnChange = [&](TPersistent&) { ++aEvents; };

    TBitmap32 b;
    EventCounts c;
    Count(b, c);
    b.AssignFrom(&a);
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(b.Pixel(1, 1), 0x80112233u);
    EXPECT_EQ(b.DrawMode(), dmBlend);
    EXPECT_EQ(b.MasterAlpha(), 7u);
    EXPECT_EQ(b.StretchFilter(), sfLanczos);
    EXPECT_EQ(b.OuterColor(), 9u);
    EXPECT_EQ(c.change, 1);

    b.AssignFrom(nullptr);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Width(), 0);
}

TEST(Bitmap32, AssignFromAnUnknownKindFailsButStillNotifiesOnce)
{
    TPersistent other;
    TBitmap32 b;
    EventCounts c;
    Count(b, c);
    EXPECT_THROW_MSG(b.AssignFrom(&other), EConvertError, "Cannot assign a TPersistent to a TBitmap32");
    EXPECT_EQ(c.change, 1);
    EXPECT_EQ(b.UpdateCount(), 0);
    EXPECT_THROW_MSG(b.CopyTo(other), EConvertError, "Cannot assign a TBitmap32 to a TPersistent");
}

TEST(Bitmap32, StoredFormRoundTripsAndRefusesShortData)
{
    TBitmap32 a;
    a.SetSize(3, 2);
    for (int i = 0; i < 6; ++i)
        a.PixelData()[i] = 0x01020304u * static_cast<uint32_t>(i + 1);
    EXPECT_TRUE(a.StoresData());
    const auto data = a.WriteData();
    ASSERT_EQ(data.size(), 8u + 24u);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(data[4], 2);
    EXPECT_EQ(data[8], 0x04);

    TBitmap32 b;
    b.ReadData(data);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Pixel(2, 1), a.Pixel(2, 1));

    auto cut = data;
    cut.resize(cut.size() - 1);
    TBitmap32 c;
    EXPECT_THROW(c.ReadData(cut), EReadError);
    EXPECT_TRUE(c.IsEmpty());

    TBitmap32 empty;
    EXPECT_FALSE(empty.StoresData());
}

TEST(Bitmap32, UnpairedEndUpdateAssertsAndKeepsTheCount)
{
    TBitmap32 b;
    EXPECT_THROW_MSG(b.EndUpdate(), EAssertionFailed, "Unpaired TThreadPersistent.EndUpdate");
    EXPECT_EQ(b.UpdateCount(), 0);
    b.BeginUpdate();
    int changes = 0;
    b.OnChange = [&](TPersistent&) { ++changes; };
    b.NotifyChanged();
    EXPECT_EQ(changes, 0);
    b.EndUpdate();
    EXPECT_EQ(changes, 0);
    b.NotifyChanged();
    EXPECT_EQ(changes, 1);
}

TEST(Bitmap32, LockCountsNest)
{
    TBitmap32 b;
    b.Lock();
    b.Lock();
    EXPECT_EQ(b.LockCount(), 2);
    b.Unlock();
    b.Unlock();
    EXPECT_EQ(b.LockCount(), 0);
}

TEST(Color32, PlatformColourBecomesOpaqueArgb)
{
    EXPECT_EQ(Color32(TColor(0x00332211)), 0xFF112233u);
    EXPECT_EQ(Color32(TColor(0)), 0xFF000000u);
    EXPECT_EQ(AlphaComponent(0x80000000u), 0x80u);
}
