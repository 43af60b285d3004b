// SPDX-License-Identifier: Apache-2.0
#include "ImageFiles.h"

#include <unistd.h>

#include <filesystem>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

namespace TestImages {

FileImage pattern(int width, int height, int channels, int seed) {
    FileImage image{width, height, channels, {}};
    for (int i = 0; i < width * height * channels; ++i)
        image.pixels.push_back(float((i * 7 + seed * 31) % 256) / 255.0f);
    return image;
}

void write(const std::string& path, const FileImage& image) {
    const std::string ext = std::filesystem::path(path).extension().string();
    const bool eightBit = ext == ".png" || ext == ".jpg";
    OIIO::ImageSpec header(image.width,
                           image.height,
                           image.channels,
                           eightBit ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT);
    // Files hold exactly the values given, also where colour is kept apart from alpha (PNG).
    header.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << OIIO::geterror();
    ASSERT_TRUE(out->open(path, header)) << out->geterror();
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, image.pixels.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

FileImage read(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) return {};
    const OIIO::ImageSpec& header = in->spec();
    FileImage image{header.width, header.height, header.nchannels, {}};
    image.pixels.resize(size_t(header.width) * size_t(header.height) * size_t(header.nchannels));
    if (!in->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, image.pixels.data()))
        return {};
    return image;
}

std::string scratchFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vireo_tests." + std::to_string(::getpid()) + "." +
                                       std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

}  // namespace TestImages
