#include "selected_capture/selected_frame_image.h"

#include <gtest/gtest.h>

#include <functional>

#include "selected_capture/selected_frame_rect.h"

namespace scene {
namespace {

PixelBuffer bgra(int width, int height, std::size_t bytesPerRow) {
    PixelBuffer buffer;
    buffer.width = width;
    buffer.height = height;
    buffer.bytesPerRow = bytesPerRow;
    std::vector<std::uint8_t> bytes(bytesPerRow * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    buffer.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    return buffer;
}

TEST(SelectedFrameImageTest, CopiesRowsWithTheirPaddingIntoReusedStorage) {
    const auto copies = std::make_shared<PixelPool>(2);
    PixelBuffer buffer = bgra(3, 2, 16);
    auto image = selectedFrameImage(buffer, *copies);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 3);
    EXPECT_EQ(image->height(), 2);
    EXPECT_EQ(image->stride(), 16u);
    EXPECT_EQ(image->pixel(2, 1), 0x1b1a1918u) << "second row starts 16 bytes in";
    EXPECT_NE(image->row(0), buffer.bytes->data()) << "the pixels are copied, not shared";

    // A frame still held keeps its storage; one let go lends it to the next.
    const std::uint8_t* first = image->row(0);
    const auto held = selectedFrameImage(buffer, *copies);
    ASSERT_TRUE(held);
    EXPECT_NE(held->row(0), first);
    image.reset();
    const auto next = selectedFrameImage(bgra(3, 2, 16), *copies);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->row(0), first);
    EXPECT_EQ(next->pixel(2, 1), 0x1b1a1918u);
}

TEST(SelectedFrameImageTest, RefusesBuffersNoStreamOfOursProduces) {
    struct Case {
        const char* name;
        std::function<PixelBuffer()> make;
    };
    const Case cases[] = {
        {"not BGRA",
         [] {
             PixelBuffer b = bgra(4, 4, 16);
             b.pixelFormat = 875704422;
             return b;
         }},
        {"no width", [] { return bgra(0, 4, 16); }},
        {"wider than 4096", [] { return bgra(4097, 1, 4097 * 4); }},
        {"more than eight million pixels", [] { return bgra(4096, 1954, 4096 * 4); }},
        {"rows shorter than the width", [] { return bgra(4, 4, 15); }},
        {"more than 36 MiB", [] { return bgra(1, 4096, 9217); }},
        {"unreadable",
         [] {
             PixelBuffer b = bgra(4, 4, 16);
             b.bytes.reset();
             return b;
         }},
        {"storage shorter than its rows",
         [] {
             PixelBuffer b = bgra(4, 4, 16);
             b.bytes = std::make_shared<const std::vector<std::uint8_t>>(63);
             return b;
         }},
    };
    const auto copies = std::make_shared<PixelPool>(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(selectedFrameImage(c.make(), *copies));
    }
    EXPECT_TRUE(selectedFrameImage(bgra(4000, 2000, 16000), *copies)) << "exactly eight million pixels";
}

TEST(SelectedFrameRectTest, ReadsDictionaryAndBoxedForms) {
    const Json dictionary = {{"X", 10}, {"Y", 20.5}, {"Width", 300}, {"Height", 40}};
    EXPECT_EQ(selectedFrameRect(&dictionary), (Rect{10, 20.5, 300, 40}));
    const Json boxed = Json::array({1, 2, 3, 4.5});
    EXPECT_EQ(selectedFrameRect(&boxed), (Rect{1, 2, 3, 4.5}));

    const Json malformed[] = {Json{{"X", 10}, {"Y", 20}, {"Width", 300}}, Json::array({1, 2, 3}),
                              Json::array({1, 2, "3", 4}), Json("0 0 10 10"), Json(12)};
    for (const Json& value : malformed) {
        SCOPED_TRACE(value.dump());
        EXPECT_FALSE(selectedFrameRect(&value));
    }
    EXPECT_FALSE(selectedFrameRect(nullptr));
}

}  // namespace
}  // namespace scene
