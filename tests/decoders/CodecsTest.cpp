// The shared run-length, PackBits, bit-unpacking and scaling helpers.
#include "imageio/decoders/Codecs.h"

#include <gtest/gtest.h>

#include "TestMain.h"
#include "platform/Errors.h"

namespace palvex {
namespace {

TEST(Codecs, PackBits)
{
    const std::vector<uint8_t> in = {0x02, 1, 2, 3, 0xFE, 9, 0x80, 0x00, 4};
    TByteReader reader(in, "PSD");
    std::vector<uint8_t> out(7);
    EXPECT_TRUE(DecodePackBits(reader, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3, 9, 9, 9, 4}));
    // A run that does not fit reports it and fills what fits.
    const std::vector<uint8_t> over = {0xFD, 5};
    TByteReader overReader(over, "PSD");
    std::vector<uint8_t> two(2);
    EXPECT_FALSE(DecodePackBits(overReader, two));
    EXPECT_EQ(two, (std::vector<uint8_t>{5, 5}));
    const std::vector<uint8_t> literalOver = {0x03, 1, 2, 3, 4};
    TByteReader literalReader(literalOver, "PSD");
    EXPECT_FALSE(DecodePackBits(literalReader, two));
    const std::vector<uint8_t> cut = {0x05, 1};
    TByteReader cutReader(cut, "PSD");
    EXPECT_THROW_MSG(DecodePackBits(cutReader, out), EInvalidGraphic, "Stream read error in PSD file.");
}

TEST(Codecs, TargaAndPcxRuns)
{
    const std::vector<uint8_t> tga = {0x81, 1, 2, 0x00, 3, 4};
    TByteReader tr(tga, "Targa");
    std::vector<uint8_t> out(6);
    EXPECT_TRUE(DecodeTargaRLE(tr, 2, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 1, 2, 3, 4}));
    const std::vector<uint8_t> tgaOver = {0x82, 7, 7};
    TByteReader to(tgaOver, "Targa");
    std::vector<uint8_t> four(4);
    EXPECT_FALSE(DecodeTargaRLE(to, 2, four));
    EXPECT_EQ(four, (std::vector<uint8_t>{7, 7, 7, 7}));

    const std::vector<uint8_t> pcx = {0xC3, 8, 0x3F, 0xC1, 0xC5};
    TByteReader pr(pcx, "PCX");
    std::vector<uint8_t> five(5);
    EXPECT_TRUE(DecodePcxRLE(pr, five));
    EXPECT_EQ(five, (std::vector<uint8_t>{8, 8, 8, 0x3F, 0xC5}));
    const std::vector<uint8_t> pcxZero = {0xC0, 1, 2};
    TByteReader pz(pcxZero, "PCX");
    std::vector<uint8_t> one(1);
    EXPECT_TRUE(DecodePcxRLE(pz, one)); // a zero-length run writes nothing
    EXPECT_EQ(one[0], 2);
}

TEST(Codecs, SgiRows)
{
    const std::vector<uint8_t> eight = {0x02, 5, 0x82, 6, 7, 0x00};
    TByteReader r8(eight, "SGI");
    std::vector<uint16_t> out(5, 0);
    EXPECT_TRUE(DecodeSgiRLE(r8, 1, out));
    EXPECT_EQ(out, (std::vector<uint16_t>{5, 5, 6, 7, 0}));
    const std::vector<uint8_t> sixteen = {0x00, 0x81, 0x12, 0x34, 0x00, 0x01, 0xAB, 0xCD};
    TByteReader r16(sixteen, "SGI");
    std::vector<uint16_t> two(2);
    EXPECT_TRUE(DecodeSgiRLE(r16, 2, two)); // full row, no closing zero
    EXPECT_EQ(two, (std::vector<uint16_t>{0x1234, 0xABCD}));
    const std::vector<uint8_t> over = {0x03, 1};
    TByteReader ro(over, "SGI");
    EXPECT_FALSE(DecodeSgiRLE(ro, 1, two));
}

TEST(Codecs, BitsPlanesAndScaling)
{
    const uint8_t src[] = {0xB4, 0xFF};
    uint8_t out[8];
    UnpackBits(src, 1, 8, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{1, 0, 1, 1, 0, 1, 0, 0}));
    UnpackBits(src, 2, 4, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{2, 3, 1, 0}));
    UnpackBits(src, 4, 3, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0xB, 0x4, 0xF}));
    const uint8_t planes[] = {0x80, 0x40, 0xC0};
    CombineBitPlanes(planes, 1, 3, 3, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{5, 6, 0}));

    size_t bytes = 0;
    EXPECT_TRUE(PackedRowBytes(9, 1, bytes));
    EXPECT_EQ(bytes, 2u);
    EXPECT_FALSE(PackedRowBytes(UINT64_MAX / 2, 4, bytes));

    EXPECT_EQ(ScaleSample(0, 1023), 0);
    EXPECT_EQ(ScaleSample(511, 1023), 127);
    EXPECT_EQ(ScaleSample(512, 1023), 128);
    EXPECT_EQ(ScaleSample(5000, 1023), 255);
    EXPECT_EQ(Scale16To8(0x8080), 128);
    EXPECT_EQ(Scale16To8(65535), 255);
    const std::vector<TColor32> palette = {Color32(1, 2, 3)};
    EXPECT_EQ(PaletteColor(palette, 0), Color32(1, 2, 3));
    EXPECT_EQ(PaletteColor(palette, 1), Color32(0, 0, 0));
}

} // namespace
} // namespace palvex
