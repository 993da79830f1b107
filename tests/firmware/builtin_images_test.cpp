// The built-in images (sizes, layouts, choice by board) and the texts of the update.
#include <gtest/gtest.h>

#include <numeric>

#include "firmware/builtin_images.h"
#include "firmware/data_image_writer.h"
#include "firmware/firmware_update.h"

namespace kalvo {
namespace {

std::uint32_t U32At(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

TEST(BuiltInImages, HaveTheirSizesLayoutsAndBoards) {
    struct Row {
        const char* name;
        int boardCode;
        ImageKind kind;
        std::size_t size;
    };
    const Row rows[] = {
        {"r630_rev41_main.bin", 630, ImageKind::Main, 57344},
        {"r630_rev42_main.bin", 630, ImageKind::Main, 57344},
        {"r520_rev2-4_main.bin", 520, ImageKind::Main, 117760},
        {"r630_data.bin", 630, ImageKind::Data, 311296},
        {"r520_data.bin", 520, ImageKind::Data, 798720},
    };
    std::span<const FirmwareImage> images = BuiltInImages();
    ASSERT_EQ(images.size(), std::size(rows));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const FirmwareImage& image = images[i];
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(image.fileName, rows[i].name);
        EXPECT_EQ(image.boardCode, rows[i].boardCode);
        EXPECT_EQ(image.kind, rows[i].kind);
        EXPECT_EQ(image.Size(), rows[i].size);
        EXPECT_TRUE(image.standIn);  // this build has no real firmware
        if (image.kind == ImageKind::Main) {
            // Zero padding up to a trailer word that is not erased flash.
            EXPECT_EQ(image.bytes[image.Size() - 5], 0);
            EXPECT_NE(image.Trailer(), 0u);
            EXPECT_NE(image.Trailer(), 0xFFFFFFFFu);
            EXPECT_EQ(image.Trailer(), U32At(image.bytes, image.Size() - 4));
        } else {
            const std::uint32_t header[] = {4096, 4096, 2048, 1, 9, static_cast<std::uint32_t>(image.Size() / 4096)};
            for (std::size_t w = 0; w < 6; ++w) EXPECT_EQ(U32At(image.bytes, 4 * w), header[w]) << w;
            EXPECT_EQ(image.bytes.back(), 0xFF);
        }
    }
    EXPECT_NE(std::vector(images[0].bytes.begin(), images[0].bytes.end()),
              std::vector(images[1].bytes.begin(), images[1].bytes.end()));
    EXPECT_TRUE(CarriesStandInFirmware());
}

TEST(BuiltInImages, AreChosenByBoardCodeAndRevision) {
    std::span<const FirmwareImage> images = BuiltInImages();
    EXPECT_EQ(MainImageFor(630, 0x29), &images[0]);
    EXPECT_EQ(MainImageFor(630, 0x2A), &images[1]);
    EXPECT_EQ(MainImageFor(630, 0x2B), nullptr);
    EXPECT_EQ(MainImageFor(630, 40), nullptr);
    for (int revision : {2, 3, 4}) EXPECT_EQ(MainImageFor(520, static_cast<std::uint8_t>(revision)), &images[2]);
    EXPECT_EQ(MainImageFor(520, 5), nullptr);
    EXPECT_EQ(MainImageFor(415, 0x29), nullptr);
    EXPECT_EQ(DataImageFor(630), &images[3]);
    EXPECT_EQ(DataImageFor(520), &images[4]);
    EXPECT_EQ(DataImageFor(415), nullptr);

    // A 64 KB R520 gets the first 52224 bytes, ending in the image's trailer.
    const FirmwareImage& r520 = images[2];
    std::vector<std::uint8_t> shortened = MainImageBytesFor(r520, 0x10000);
    ASSERT_EQ(shortened.size(), 52224u);
    EXPECT_TRUE(std::equal(shortened.begin(), shortened.end() - 4, r520.bytes.begin()));
    EXPECT_EQ(U32At(shortened, 0xCBFC), r520.Trailer());
    EXPECT_EQ(MainImageBytesFor(r520, 0x20000).size(), 117760u);
    EXPECT_EQ(MainImageBytesFor(images[0], 0x10000).size(), 57344u);  // R630 is never shortened
}

TEST(UpdateTexts, AreExactInBothLanguages) {
    const auto ru = InterfaceLanguage::Russian;
    const auto en = InterfaceLanguage::English;
    EXPECT_EQ(UpdateConfirmationText(630, ru),
              "Прошивка прибора\n\rбудет обновлена/восстановление\n\rдо версии 1.20.12.9\n\rПродолжить?");
    EXPECT_EQ(UpdateConfirmationText(630, en), "Device Firmaere\n\rwill Updated/Restored\n\rto Version 1.20.12.9\n\rContinue?");
    EXPECT_EQ(UpdateConfirmationText(520, ru),
              "Прошивка прибора\n\rбудет обновлена/восстановление\n\rдо версии 12.3\n\rПродолжить?");
    EXPECT_EQ(UpdateConfirmationText(520, en), "Device Firmaere\n\rwill Updated/Restored\n\rto Version 12.3\n\rContinue?");
    EXPECT_EQ(UpdateConfirmationText(415, en), "");
    const char* steps[][2] = {
        {"Шаг 1 из 5: Запуск BOOT", "Step 1 of 5: Start BOOT"},
        {"Шаг 2 из 5: Запись прошивки программы", "Step 2 of 5: Writing Firmware Programm"},
        {"Шаг 3 из 5: Запуск обновленной программы", "Step 3 of 5: Starting updated Programm"},
        {"Шаг 4 из 5: Запись прошивки данных", "Step 4 of 5: Writing Firmware Data"},
        {"Шаг 5 из 5: Перезапуск прибора", "Step 5 of 5: Reset Device"},
    };
    for (int step = 1; step <= 5; ++step) {
        EXPECT_EQ(UpdateStepText(step, ru), steps[step - 1][0]);
        EXPECT_EQ(UpdateStepText(step, en), steps[step - 1][1]);
    }
    EXPECT_EQ(UpdateSuccessText(ru), "Поздравляем!!!\n\rВаш прибор\n\rблагополучно обновлен!!!");
    EXPECT_EQ(UpdateSuccessText(en), "Congratulations\n\rYour Device successfully\n\rupdated");
    EXPECT_EQ(UpdateRetryText(ru), "Ошибка обновления\n\rПопыытаться повторить еще раз?");
    EXPECT_EQ(UpdateRetryText(en), "Error of Update\n\rTry again?");
}

TEST(UpdateTexts, DataProgressBar) {
    const std::uint32_t r630 = 311296;
    EXPECT_EQ(DataProgressText(r630 * 40 / 100 + 100, r630), "# ЗАПИСЬ: 40% 121Кб [>>>>>>>>>>>--------------]");
    EXPECT_EQ(DataProgressText(0, r630), "# ЗАПИСЬ: 0% 0Кб [>------------------------]");
    EXPECT_EQ(DataProgressText(r630, r630), "# ЗАПИСЬ: 100% 304Кб [>>>>>>>>>>>>>>>>>>>>>>>>>]");
    EXPECT_EQ(DataProgressText(3 * 798720 / 100 + 10, 798720), "# ЗАПИСЬ: 3% 23Кб [>------------------------]");
    EXPECT_EQ(DataProgressText(4 * 798720 / 100 + 10, 798720), "# ЗАПИСЬ: 4% 31Кб [>>-----------------------]");
}

}  // namespace
}  // namespace kalvo
