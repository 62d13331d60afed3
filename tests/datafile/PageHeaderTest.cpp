#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "datafile/PageHeader.h"

namespace kestrane {
namespace {

template <typename T>
void Put(std::vector<uint8_t>& page, size_t offset, T value) {
    std::memcpy(&page[offset], &value, sizeof value);
}

TEST(PageHeader, SignedFieldsAndLsnTexts) {
    std::vector<uint8_t> page(kPageSize, 0);
    Put<uint16_t>(page, 4, 0x8004);
    Put<uint32_t>(page, 8, 70);
    Put<uint16_t>(page, 12, 3);
    Put<uint32_t>(page, 32, 71);
    Put<uint16_t>(page, 36, 2);
    Put<uint32_t>(page, 40, 0x80000000u);
    Put<uint32_t>(page, 44, 0xFFFFFFFEu);
    Put<uint16_t>(page, 48, 0xFFFF);
    Put<uint32_t>(page, 52, 7);
    Put<uint16_t>(page, 56, 5);
    const std::vector<uint8_t> before = page;

    CPage_Header h(page.data());
    EXPECT_EQ(h.flagBits, static_cast<int16_t>(0x8004));
    EXPECT_EQ(h.previousPage, PageAddress(3, 70));
    EXPECT_EQ(h.thisPage, PageAddress(2, 71));
    EXPECT_EQ(h.lsnText, "( -2147483648 : -2 : -1 )");
    EXPECT_EQ(h.xactDescriptorText, "( 5 : 7 )");
    EXPECT_EQ(page, before) << "no torn bits flagged: the image stays as it was";
}

TEST(PageHeader, TornBitsRepairedInPlaceAndIdempotent) {
    std::vector<uint8_t> page(kPageSize, 0x00);
    for (size_t s = 0; s < 16; ++s) page[(s + 1) * kSectorSize - 1] = 0xA0;
    Put<uint16_t>(page, 4, kTornBitsPresent);
    Put<uint32_t>(page, 60, 0xFFFFFFFFu);
    CPage_Header all(page.data());
    EXPECT_EQ(page[511], 0xA0) << "sector 0 holds the header and is never touched";
    for (size_t s = 1; s < 16; ++s) EXPECT_EQ(page[(s + 1) * kSectorSize - 1], 0xA3) << "sector " << s;

    // Field i goes to sector i: a pattern tells the sectors apart; bits of field 0 are unused.
    uint32_t torn = 0;
    for (uint32_t i = 0; i < 16; ++i) torn |= (i % 4) << (2 * i);
    Put<uint32_t>(page, 60, torn | 0x3);
    RepairTornPage(page.data(), page.size());
    for (uint32_t s = 1; s < 16; ++s) EXPECT_EQ(page[(s + 1) * kSectorSize - 1], 0xA0 | (s % 4)) << "sector " << s;
    const std::vector<uint8_t> once = page;
    RepairTornPage(page.data(), page.size());
    EXPECT_EQ(page, once);

    // Short images are left alone rather than written past their end.
    std::vector<uint8_t> shortImage(kPageSize - 1, 0);
    Put<uint16_t>(shortImage, 4, kTornBitsPresent);
    Put<uint32_t>(shortImage, 60, 0xFFFFFFFFu);
    RepairTornPage(shortImage.data(), shortImage.size());
    EXPECT_EQ(shortImage[1023], 0);
    RepairTornPage(nullptr, kPageSize);
}

TEST(PageHeader, PageOwnsImageAndHeader) {
    PageBuffer image = AllocatePageBuffer();
    ASSERT_TRUE(image);
    uint8_t* raw = image.get();
    std::memset(raw, 0, kPageSize);
    raw[5] = 0x01;  // torn bits present
    for (size_t i = 60; i < 64; ++i) raw[i] = 0xFF;
    raw[32] = 9;

    CPage page(std::move(image), nullptr);
    ASSERT_NE(page.header(), nullptr);
    EXPECT_EQ(page.header()->thisPage, PageAddress(0, 9));
    EXPECT_EQ(page.buffer()[8191], 0x03) << "the page's own image is repaired";
    page.Release();
    EXPECT_EQ(page.header(), nullptr);
    EXPECT_TRUE(page.view().empty());
}

}  // namespace
}  // namespace kestrane
