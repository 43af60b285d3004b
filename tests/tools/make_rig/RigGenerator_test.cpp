// SPDX-License-Identifier: Apache-2.0
#include "RigGenerator.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../../TestSupport.h"
#include "../../host/app/ImageFiles.h"
#include "MakeRigTest.h"
#include "vellacam/SphericalTransform.h"

namespace fs = std::filesystem;
using namespace Korvane::MakeRig;
using namespace Korvane::Research;
using TestSupport::fileContent;

namespace {

/// An image read back with pixel access in the rig library's convention (bottom row 0).
struct Image : TestImages::FileImage {
    float at(int i, int j, int c = 0) const { return FileImage::at(i, height - 1 - j, c); }
};

Image readImage(const std::string& path) {
    Image image{TestImages::read(path)};
    if (image.pixels.empty()) throw std::runtime_error("cannot read " + path);
    return image;
}

std::string generate(const std::string& name, std::vector<std::string> extra) {
    // One folder per process: CTest runs the tests of this binary in parallel processes.
    const std::string dir =
        (fs::temp_directory_path() / ("make_rig_test_" + name + "_" + std::to_string(getpid())))
            .string();
    fs::remove_all(dir);
    std::vector<std::string> args = MakeRigTest::words(
        "--size 160x120 --frames 2 --first 3 --pano-size 256x128 --points 300 --up --out");
    args.push_back(dir);
    args.insert(args.end(), extra.begin(), extra.end());
    RigGenerator(RigOptions::parse(args)).run(nullptr);
    return dir;
}

/// One footage set, generated once for every test of the suite.
class GeneratedSet : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new std::string(generate("set", {"--threads", "2"}));
        s_rig = new CameraRigDefinition(MakeRigTest::readRigFile(*s_dir + "/rig.json").getRig());
    }
    static void TearDownTestSuite() {
        fs::remove_all(*s_dir);
        delete s_dir;
        delete s_rig;
    }
    static std::string path(const std::string& name) { return *s_dir + "/" + name; }
    static nlohmann::json points(int frame) {
        std::ifstream in(path("truth/points.000" + std::to_string(frame) + ".json"));
        return nlohmann::json::parse(in);
    }
    static Image depth(int camera, int frame) {
        return readImage(path("truth/cam" + std::to_string(camera) + ".depth.000" +
                              std::to_string(frame) + ".exr"));
    }

    static std::string* s_dir;
    static CameraRigDefinition* s_rig;
};
std::string* GeneratedSet::s_dir = nullptr;
CameraRigDefinition* GeneratedSet::s_rig = nullptr;

TEST_F(GeneratedSet, WritesTheDocumentedFiles) {
    for (int cam = 1; cam <= 7; ++cam)
        for (int frame : {3, 4}) {
            const std::string f = "000" + std::to_string(frame);
            EXPECT_TRUE(fs::exists(path("cam" + std::to_string(cam) + "." + f + ".exr")));
            const Image z = depth(cam, frame);
            EXPECT_EQ(z.width, 160);
            EXPECT_EQ(z.height, 120);
            EXPECT_EQ(z.channels, 1);
        }
    const Image pano = readImage(path("truth/pano.0003.exr"));
    EXPECT_EQ(pano.width, 256);
    EXPECT_EQ(pano.channels, 3);
    EXPECT_TRUE(fs::exists(path("truth/pano.depth.0004.exr")));
    EXPECT_EQ(points(4)["frame"], 4);
    EXPECT_EQ(s_rig->getNumberCameras(), 7);
}

TEST_F(GeneratedSet, SameBytesForAnyThreadCountAndNewBytesForANewSeed) {
    const std::string other = generate("threads", {"--threads", "3"});
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(*s_dir)) {
        if (!entry.is_regular_file()) continue;
        const fs::path twin = other / fs::relative(entry.path(), *s_dir);
        EXPECT_TRUE(fileContent(entry.path().string()) == fileContent(twin.string()))
            << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 7 * 2 * 2 + 4 + 2 + 2);  // rig.json and truth/rig.json
    const std::string seeded = generate("seed", {"--seed", "9", "--no-truth"});
    EXPECT_FALSE(fileContent(path("cam1.0003.exr")) == fileContent(seeded + "/cam1.0003.exr"));
    EXPECT_FALSE(fs::exists(seeded + "/truth"));
    fs::remove_all(other);
    fs::remove_all(seeded);
}

TEST_F(GeneratedSet, DepthPutsEveryPixelOnASurfaceThatOtherCamerasAgreeOn) {
    // The point at the depth of a pixel projects back onto that pixel, and where a linked
    // camera sees it, that camera's depth map has the same point (occlusions aside).
    int compared = 0;
    int agreed = 0;
    std::vector<Image> depths;
    for (int c = 0; c < s_rig->getNumberCameras(); ++c) depths.push_back(depth(c + 1, 3));
    for (int a = 0; a < s_rig->getNumberCameras(); ++a) {
        SphericalTransform ta(s_rig->getCamera(a));
        const Image& za = depths[a];
        for (int j = 2; j < za.height; j += 5)
            for (int i = 2; i < za.width; i += 5) {
                const Eigen::Vector2d pixel(i + 0.5, j + 0.5);
                Eigen::Vector3d onSphere;
                ASSERT_TRUE(ta.ProjectToWorld(pixel, &onSphere));
                const Eigen::Vector3d c = s_rig->getCamera(a).getPosition();
                const Eigen::Vector3d q = c + za.at(i, j) * (onSphere - c).normalized();
                Eigen::Vector2d back;
                ASSERT_TRUE(ta.ProjectFromWorld(q, &back));
                ASSERT_LT((back - pixel).norm(), 1e-6)
                    << "camera " << a + 1 << " " << i << "," << j;
                ASSERT_GT(za.at(i, j), 0.5f);
                ASSERT_LT(za.at(i, j), 12.0f);
                for (int b : s_rig->getLinks(a)) {
                    const SphericalTransform tb(s_rig->getCamera(b));
                    Eigen::Vector2d pb;
                    if (!tb.ProjectFromWorld(q, &pb)) continue;
                    const Image& zb = depths[b];
                    const int ib = std::min(static_cast<int>(pb.x()), zb.width - 1);
                    const int jb = std::min(static_cast<int>(pb.y()), zb.height - 1);
                    const double expected = (q - s_rig->getCamera(b).getPosition()).norm();
                    ++compared;
                    if (std::abs(zb.at(ib, jb) - expected) < 0.03 * expected) ++agreed;
                }
            }
    }
    EXPECT_GT(compared, 500);
    EXPECT_GT(agreed, 0.85 * compared) << agreed << " of " << compared;
}

TEST_F(GeneratedSet, TruthPointsLieWhereTheRigAndTheDepthMapsPutThem) {
    const nlohmann::json truth = points(3);
    ASSERT_EQ(truth["points"].size(), 300u);
    std::vector<Image> depths;
    for (int c = 1; c <= 7; ++c) depths.push_back(depth(c, 3));
    int nearDepth = 0;
    int observations = 0;
    for (const auto& p : truth["points"]) {
        const Eigen::Vector3d world(p["world"][0], p["world"][1], p["world"][2]);
        ASSERT_GE(p["observations"].size(), 2u) << p.dump();
        for (const auto& o : p["observations"]) {
            const int cam = o["camera"].get<int>() - 1;
            const SphericalTransform t(s_rig->getCamera(cam));
            Eigen::Vector2d image;
            ASSERT_TRUE(t.ProjectFromWorld(world, &image));
            const Eigen::Vector2d recorded(o["image"][0], o["image"][1]);
            EXPECT_LT((image - recorded).norm(), 1e-9);
            const Eigen::Vector3d c = s_rig->getCamera(cam).getPosition();
            EXPECT_NEAR(o["depth"].get<double>(), (world - c).norm(), 1e-9);
            // The depth map near the point: some pixel within one pixel of it holds a surface
            // point within one pixel footprint (1.5 x depth x pixel angle / incidence cosine).
            const Image& z = depths[cam];
            const Eigen::Vector3d normal(p["normal"][0], p["normal"][1], p["normal"][2]);
            const double cosine = std::abs(normal.dot((world - c).normalized()));
            const double footprint = 1.5 * (world - c).norm() * 2.1 / z.width / cosine;
            double nearest = 1e9;
            for (int dj = -1; dj <= 1; ++dj)
                for (int di = -1; di <= 1; ++di) {
                    const int i = std::clamp(static_cast<int>(recorded.x()) + di, 0, z.width - 1);
                    const int j = std::clamp(static_cast<int>(recorded.y()) + dj, 0, z.height - 1);
                    Eigen::Vector3d onSphere;
                    ASSERT_TRUE(t.ProjectToWorld(Eigen::Vector2d(i + 0.5, j + 0.5), &onSphere));
                    const Eigen::Vector3d q = c + z.at(i, j) * (onSphere - c).normalized();
                    nearest = std::min(nearest, (q - world).norm());
                }
            ++observations;
            if (nearest < footprint) ++nearDepth;
        }
    }
    EXPECT_EQ(nearDepth, observations);
}

TEST_F(GeneratedSet, OnlyTheMovingObjectMovesBetweenFrames) {
    const nlohmann::json a = points(3)["points"];
    const nlohmann::json b = points(4)["points"];
    ASSERT_EQ(a.size(), b.size());
    int moving = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(a[k]["id"], b[k]["id"]);
        const Eigen::Vector3d pa(a[k]["world"][0], a[k]["world"][1], a[k]["world"][2]);
        const Eigen::Vector3d pb(b[k]["world"][0], b[k]["world"][1], b[k]["world"][2]);
        if (a[k]["moving"].get<bool>()) {
            ++moving;
            EXPECT_GT((pa - pb).norm(), 0.005);
            EXPECT_LT((pa - pb).norm(), 0.06);
        } else {
            EXPECT_EQ(pa, pb);
        }
    }
    EXPECT_GT(moving, 0);
    const Image z3 = depth(1, 3);
    const Image z4 = depth(1, 4);
    size_t changed = 0;
    for (size_t k = 0; k < z3.pixels.size(); ++k) changed += z3.pixels[k] != z4.pixels[k];
    EXPECT_GT(changed, 0u);
    EXPECT_LT(changed, z3.pixels.size() / 10);
}

TEST_F(GeneratedSet, EightBitFilesAreSrgbEncodedCopiesOfTheLinearOnes) {
    const std::string png = generate("png", {"--no-truth", "--frames", "1", "--ext", "png"});
    const Image linear = readImage(path("cam2.0003.exr"));
    auto in = OIIO::ImageInput::open(png + "/cam2.0003.png");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->spec().format, OIIO::TypeDesc::UINT8);
    std::vector<unsigned char> bytes(linear.pixels.size());
    in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, bytes.data());
    for (size_t k = 0; k < bytes.size(); k += 97) {
        const float x = std::clamp(linear.pixels[k], 0.0f, 1.0f);
        const float e = x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 1 / 2.4f) - 0.055f;
        EXPECT_NEAR(bytes[k], e * 255.0f, 1.0f) << k;  // the EXR holds it as half float
    }
    fs::remove_all(png);
}

}  // namespace
