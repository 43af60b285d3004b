// SPDX-License-Identifier: Apache-2.0
#include "nodes/WriteNode.h"

#include <filesystem>
#include <new>
#include <set>

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include "Graph.h"
#include "ImageFiles.h"
#include "px/image/Executable.h"
#include "px/image/Host.h"
#include "px/image/OutputContext.h"

using namespace PX::Image;

namespace {

class WriteNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedViews = Views::names();
        Views::setNames({"main", "cam1", "cam2"});
        m_dir = TestImages::scratchFolder();
        m_read = m_graph.addNode("Read", "Read1");
        m_write = m_graph.addNode("Write", "Write1");
        m_graph.connect(m_read, m_write, 0);
    }
    void TearDown() override { Views::setNames(m_savedViews); }

    // Frames 1 to `count` of a 4-channel input, each its own pattern.
    void writeInputs(int count) {
        for (int frame = 1; frame <= count; ++frame)
            TestImages::write(m_dir + "/in." + std::to_string(frame) + ".exr",
                              TestImages::pattern(3, 2, 4, frame));
        m_read->setKnobFromUser("file", m_dir + "/in.%d.exr");
        m_read->setKnobFromUser("last", std::to_string(count));  // frames 3 on are read ahead
    }
    // The names in the scratch folder besides the inputs.
    std::set<std::string> outputs() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir))
            if (entry.path().filename().string().rfind("in.", 0) != 0)
                names.insert(entry.path().filename().string());
        return names;
    }

    std::vector<std::string> m_savedViews;
    std::string m_dir;
    Vireo::Graph m_graph;
    Node* m_read = nullptr;
    Node* m_write = nullptr;
};

// An input whose image cannot be allocated, as one of a format too large for the machine.
class HungrySource : public PlanarIop {
public:
    explicit HungrySource(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "TestHungrySource"; }
    int maximum_inputs() const override { return 0; }
    void _validate(bool) override {
        info_().set(Box(0, 0, 4, 3));
        info_().format(Format(4, 3));
        info_().channels(Mask_RGBA);
    }
    void renderPlane(ImagePlane&) override { throw std::bad_alloc(); }
};
Op* buildHungrySource(Node* node) { return new HungrySource(node); }
const Op::Description kHungrySource("TestHungrySource", buildHungrySource);

// Colour and the stitch map's positions, as a camera view gives them: positions in pixels of
// a large input, which half could not keep.
class PositionSource : public PlanarIop {
public:
    explicit PositionSource(Node* node) : PlanarIop(node) {}
    const char* Class() const override { return "TestPositionSource"; }
    int maximum_inputs() const override { return 0; }
    void _validate(bool) override {
        info_().set(Box(0, 0, 5, 3));
        info_().format(Format(5, 3));
        info_().channels(Mask_RGBA | Mask_StitchMap);
    }
    static float value(int x, int y, Channel c) {
        return c == Chan_StitchMap_U || c == Chan_StitchMap_V
                   ? 2047.6f + float(x) * 1000.3f + float(y) +
                         (c == Chan_StitchMap_V ? 0.25f : 0.0f)
                   : 0.1f * float(c) + 0.013f * float(x) + 0.037f * float(y);
    }
    void renderPlane(ImagePlane& plane) override {
        const Box& b = plane.bounds();
        for (Channel c : plane.channels())
            for (int y = b.y(); y < b.t(); ++y)
                for (int x = b.x(); x < b.r(); ++x)
                    *plane.writableAt(x, y, plane.chanNo(c)) = value(x, y, c);
    }
};
Op* buildPositionSource(Node* node) { return new PositionSource(node); }
const Op::Description kPositionSource("TestPositionSource", buildPositionSource);

}  // namespace

// What a Write writes reads back as its input was: rows flipped on reading and back on
// writing, for every view and frame asked for.
TEST_F(WriteNodeTest, WrittenFilesHoldTheInputForEveryViewAndFrame) {
    for (int frame : {1, 2})
        for (int view : {1, 2})
            TestImages::write(
                m_dir + "/in_cam" + std::to_string(view) + "." + std::to_string(frame) + ".exr",
                TestImages::pattern(3, 2, 3, frame * 10 + view));
    m_read->setKnobFromUser("file", m_dir + "/in_%V.%d.exr");
    for (const char* ext : {".exr", ".png", ".tif"}) {
        SCOPED_TRACE(ext);
        m_write->setKnobFromUser("file", m_dir + "/out/%V.####" + std::string(ext));
        m_write->setKnobFromUser("views", "cam1 cam2");
        const ExecuteResult result = execute(m_write->op(), {2, 1});
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.framesRun, 2);
        for (int frame : {1, 2})
            for (int view : {1, 2}) {
                const TestImages::FileImage expected =
                    TestImages::pattern(3, 2, 3, frame * 10 + view);
                const TestImages::FileImage got =
                    TestImages::read(m_dir + "/out/cam" + std::to_string(view) + ".000" +
                                     std::to_string(frame) + ext);
                ASSERT_EQ(got.width, 3);
                ASSERT_EQ(got.height, 2);
                ASSERT_EQ(got.channels, 4);
                for (int row = 0; row < 2; ++row)
                    for (int x = 0; x < 3; ++x) {
                        for (int c = 0; c < 3; ++c)
                            ASSERT_NEAR(got.at(x, row, c), expected.at(x, row, c), 1e-6)
                                << "x " << x << " row " << row << " c " << c;
                        ASSERT_EQ(got.at(x, row, 3), 1.0f) << "the alpha the Read made";
                    }
            }
    }
}

// The Write keeps its row buffer between frames: a frame whose input covers only part of the
// format is written with zeros around it, not with what the frame before left there.
TEST_F(WriteNodeTest, AFrameSmallerThanTheFormatHasZerosAroundItAfterAWholeOne) {
    TestImages::write(m_dir + "/in.1.exr", TestImages::pattern(4, 3, 4, 1));
    {
        // Frame 2: the same 4 x 3 format, pixels only in its 2 x 1 data window at (1, 1).
        OIIO::ImageSpec header(2, 1, 4, OIIO::TypeDesc::FLOAT);
        header.x = 1, header.y = 1;
        header.full_width = 4, header.full_height = 3;
        auto out = OIIO::ImageOutput::create(m_dir + "/in.2.exr");
        ASSERT_TRUE(out && out->open(m_dir + "/in.2.exr", header));
        const std::vector<float> pixels(8, 0.5f);
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) && out->close());
    }
    m_read->setKnobFromUser("file", m_dir + "/in.%d.exr");
    m_write->setKnobFromUser("file", m_dir + "/out.#.exr");
    const ExecuteResult result = execute(m_write->op(), {1, 2});
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.framesRun, 2);
    const TestImages::FileImage got = TestImages::read(m_dir + "/out.2.exr");
    ASSERT_EQ(got.width, 4);
    ASSERT_EQ(got.height, 3);
    for (int row = 0; row < 3; ++row)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_EQ(got.at(x, row, c), row == 1 && (x == 1 || x == 2) ? 0.5f : 0.0f)
                    << x << ", " << row << ", " << c;
}

TEST_F(WriteNodeTest, ChosenChannelsOnly) {
    TestImages::write(m_dir + "/in.exr", TestImages::pattern(2, 2, 4, 5));
    m_read->setKnobFromUser("file", m_dir + "/in.exr");
    m_write->setKnobFromUser("file", m_dir + "/alpha.exr");
    m_write->setKnobFromUser("channels", "rgba.alpha");
    ASSERT_EQ(execute(m_write->op(), {1}).error, "");
    const TestImages::FileImage got = TestImages::read(m_dir + "/alpha.exr");
    ASSERT_EQ(got.channels, 1);
    EXPECT_FLOAT_EQ(got.at(1, 0, 0), TestImages::pattern(2, 2, 4, 5).at(1, 0, 3));

    m_write->setKnobFromUser("channels", "stitch_map");
    EXPECT_EQ(execute(m_write->op(), {1}).error,
              "knob 'channels': the input has no 'stitch_map' (it has rgba.red rgba.green "
              "rgba.blue rgba.alpha)");
}

TEST_F(WriteNodeTest, ErrorsNameTheFileTheViewOrTheInput) {
    TestImages::write(m_dir + "/in.exr", TestImages::pattern(2, 2, 3, 1));
    m_read->setKnobFromUser("file", m_dir + "/in.exr");

    m_write->setKnobFromUser("file", m_dir + "/out.nosuchformat");
    EXPECT_EQ(execute(m_write->op(), {1})
                  .error.rfind("cannot write '" + m_dir + "/out.nosuchformat': ", 0),
              0u);

    m_write->setKnobFromUser("file", m_dir + "/out.exr");
    m_write->setKnobFromUser("views", "cam1 right");
    EXPECT_EQ(execute(m_write->op(), {1}).error, "knob 'views': no view 'right' in the project");

    m_write->setKnobFromUser("views", "");
    m_read->setKnobFromUser("file", m_dir + "/missing.####.exr");
    const std::string error = execute(m_write->op(), {7}).error;
    const std::string expected =
        "input 'Read1' failed: cannot read image '" + m_dir + "/missing.0007.exr' for frame 7";
    EXPECT_EQ(error.substr(0, expected.size()), expected) << error;

    // Out of memory names the file and the size instead of "std::bad_alloc".
    Node* hungry = m_graph.addNode("TestHungrySource", "Hungry1");
    m_graph.connect(hungry, m_write, 0);
    EXPECT_EQ(execute(m_write->op(), {2}).error,
              "cannot write '" + m_dir +
                  "/out.exr': input 'Hungry1' gave no image for frame 2 view 'main': out of "
                  "memory for a 4 x 3 image of 4 channels");
}

// Every lossless compression writes the same pixels, and the file says which it used; a value
// the knob does not know, or a file that is not EXR, is refused naming the knob.
TEST_F(WriteNodeTest, CompressionIsChosenLosslessAndOnlyForExr) {
    const TestImages::FileImage input = TestImages::pattern(9, 5, 4, 3);
    TestImages::write(m_dir + "/in.exr", input);
    m_read->setKnobFromUser("file", m_dir + "/in.exr");
    for (const char* compression : {"zip:1", "piz", "none", ""}) {
        SCOPED_TRACE(compression);
        const std::string path =
            m_dir + "/c" + std::to_string(std::string(compression).size()) + ".exr";
        m_write->setKnobFromUser("file", path);
        m_write->setKnobFromUser("compression", compression);
        ASSERT_EQ(execute(m_write->op(), {1}).error, "");
        const TestImages::FileImage got = TestImages::read(path);
        ASSERT_EQ(got.channels, 4);
        for (int row = 0; row < 5; ++row)
            for (int x = 0; x < 9; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(got.at(x, row, c), input.at(x, row, c)) << x << ", " << row;
        auto in = OIIO::ImageInput::open(path);
        ASSERT_TRUE(in);
        const std::string used = in->spec().get_string_attribute("compression");
        const std::string asked = *compression ? compression : "zip";
        EXPECT_EQ(used.substr(0, 3), asked.substr(0, 3));
    }
    m_write->setKnobFromUser("compression", "dwaa");
    EXPECT_EQ(execute(m_write->op(), {1}).error,
              "knob 'compression': unknown 'dwaa' (zip, zip:1 .. zip:9, zips, piz, rle or none)");
    m_write->setKnobFromUser("compression", "zip:0");
    EXPECT_NE(execute(m_write->op(), {1}).error.find("unknown 'zip:0'"), std::string::npos);
    m_write->setKnobFromUser("compression", "piz");
    m_write->setKnobFromUser("file", m_dir + "/out.png");
    EXPECT_EQ(execute(m_write->op(), {1}).error,
              "knob 'compression': '" + m_dir + "/out.png' is not an EXR file");
}

// Half halves an EXR's colour and keeps it to half's precision, while the stitch map's
// positions in the same file stay exact 32-bit floats; other values and other formats are
// refused naming the knob.
TEST_F(WriteNodeTest, HalfFloatKeepsColourToItsPrecisionAndDataExact) {
    Node* source = m_graph.addNode("TestPositionSource", "Positions");
    m_graph.connect(source, m_write, 0);
    m_write->setKnobFromUser("channels", "rgba stitch_map");
    m_write->setKnobFromUser("datatype", "half");
    for (const char* compression : {"piz", "zip"}) {
        SCOPED_TRACE(compression);
        const std::string path = m_dir + "/half_" + compression + ".exr";
        m_write->setKnobFromUser("file", path);
        m_write->setKnobFromUser("compression", compression);
        ASSERT_EQ(execute(m_write->op(), {1}).error, "");
        auto in = OIIO::ImageInput::open(path);
        ASSERT_TRUE(in);
        const OIIO::ImageSpec& header = in->spec();
        ASSERT_EQ(header.nchannels, 6);
        for (int c = 0; c < 6; ++c)
            EXPECT_EQ(header.channelformat(c), c < 4 ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT)
                << header.channelnames[size_t(c)];
        const TestImages::FileImage got = TestImages::read(path);
        const Channel order[] = {
            Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha, Chan_StitchMap_U, Chan_StitchMap_V};
        for (int row = 0; row < 3; ++row)
            for (int x = 0; x < 5; ++x)
                for (int c = 0; c < 6; ++c) {
                    const float want = PositionSource::value(x, 2 - row, order[c]);
                    if (c < 4)
                        EXPECT_NEAR(got.at(x, row, c), want, want / 1024) << x << ", " << row;
                    else
                        EXPECT_EQ(got.at(x, row, c), want) << x << ", " << row;
                }
    }
    // Colour alone is all half.
    m_write->setKnobFromUser("channels", "rgba");
    m_write->setKnobFromUser("file", m_dir + "/colour.exr");
    ASSERT_EQ(execute(m_write->op(), {1}).error, "");
    EXPECT_EQ(OIIO::ImageInput::open(m_dir + "/colour.exr")->spec().format, OIIO::TypeDesc::HALF);

    m_write->setKnobFromUser("datatype", "double");
    EXPECT_EQ(execute(m_write->op(), {1}).error,
              "knob 'datatype': unknown 'double' (float or half)");
    m_write->setKnobFromUser("datatype", "half");
    m_write->setKnobFromUser("compression", "");
    m_write->setKnobFromUser("file", m_dir + "/out.tif");
    EXPECT_EQ(execute(m_write->op(), {1}).error,
              "knob 'datatype': '" + m_dir + "/out.tif' is not an EXR file");
    m_write->setKnobFromUser("datatype", "float");
    EXPECT_EQ(execute(m_write->op(), {1}).error, "");
    EXPECT_EQ(OIIO::ImageInput::open(m_dir + "/out.tif")->spec().format, OIIO::TypeDesc::FLOAT);
}

// Files are written while the next frame is built. A file that fails then still fails the run
// with an error naming it, leaves nothing behind (the target here is a folder, so only the
// final rename fails), and the frames after it are written.
TEST_F(WriteNodeTest, AFileFailingInTheBackgroundFailsTheRunNamingItAndLeavesNoPartOfIt) {
    writeInputs(3);
    std::filesystem::create_directory(m_dir + "/out.2.exr");
    m_write->setKnobFromUser("file", m_dir + "/out.#.exr");
    const ExecuteResult result = execute(m_write->op(), {1, 2, 3});
    EXPECT_EQ(result.error,
              "cannot write image: " + m_dir + "/out.2.exr: cannot replace: Is a directory");
    EXPECT_EQ(outputs(), (std::set<std::string>{"out.1.exr", "out.2.exr", "out.3.exr"}));
    for (int frame : {1, 3})
        EXPECT_EQ(TestImages::read(m_dir + "/out." + std::to_string(frame) + ".exr").pixels,
                  TestImages::pattern(3, 2, 4, frame).pixels)
            << frame;
}

namespace {

// Cancels once `framesBeforeCancel` frames have started; records the messages.
class CancellingHost : public PX::Image::Host {
public:
    bool cancelled(Node*) override { return m_asked++ >= framesBeforeCancel; }
    void progressMessage(Node*, const std::string& message) override {
        messages.push_back(message);
    }
    int framesBeforeCancel = 0;
    std::vector<std::string> messages;

private:
    int m_asked = 0;
};

}  // namespace

// A cancelled run ends once the files of the frames it ran are written whole, in order, with
// no temporary file left; it counts just those frames.
TEST_F(WriteNodeTest, ACancelledRunLeavesTheWholeFilesOfTheFramesItRanInOrder) {
    writeInputs(5);
    m_write->setKnobFromUser("file", m_dir + "/out.#.exr");
    CancellingHost host;
    host.framesBeforeCancel = 3;
    Host::install(&host);
    const ExecuteResult result = execute(m_write->op(), {1, 2, 3, 4, 5});
    Host::install(nullptr);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.framesRun, 3);
    EXPECT_EQ(outputs(), (std::set<std::string>{"out.1.exr", "out.2.exr", "out.3.exr"}));
    std::vector<std::string> expected;
    for (int frame = 1; frame <= 3; ++frame) {
        const std::string name = m_dir + "/out." + std::to_string(frame) + ".exr";
        EXPECT_EQ(TestImages::read(name).pixels, TestImages::pattern(3, 2, 4, frame).pixels)
            << frame;
        expected.push_back("wrote " + name);
    }
    EXPECT_EQ(host.messages, expected);
}
