// SPDX-License-Identifier: Apache-2.0
#include "vellacam/MetaDataHandler.h"

#include <vector>

#include "vellacam/RigError.h"

namespace Korvane {
namespace Research {

namespace {

using PX::Image::MetaData::Bundle;
using PX::Image::MetaData::Value;

const std::string kCamerasKey = "vellacam/cameras";
const std::string kDiameterKey = "vellacam/diameter";
const std::string kPositionKey = "vellacam/position";
const std::string kRotationKey = "vellacam/rotation";
const std::string kConvergenceKey = "vellacam/convergence";
// Guards against a corrupt count allocating without bound; no rig comes near it.
constexpr int kMaxCameras = 1000;

std::string cameraKey(int index, const char* field) {
    return std::string(MetaDataHandler::kKeyPrefix) + "cam" + std::to_string(index + 1) + "/" +
           field;
}

std::vector<double> toVector(const Eigen::VectorXd& v) {
    return std::vector<double>(v.data(), v.data() + v.size());
}

/// Typed reads of one bundle. Absent keys report false; a key holding the wrong kind or
/// count throws RigError naming the key.
class KeyReader {
public:
    explicit KeyReader(const Bundle& bundle) : m_bundle(bundle) {}

    bool number(const std::string& key, double* out) const {
        const Value* v = m_bundle.find(key);
        if (!v) return false;
        if (const double* d = std::get_if<double>(v))
            *out = *d;
        else if (const int* i = std::get_if<int>(v))
            *out = *i;
        else
            fail(key, "a number");
        return true;
    }

    bool integer(const std::string& key, int* out) const {
        const Value* v = m_bundle.find(key);
        if (!v) return false;
        const int* i = std::get_if<int>(v);
        if (!i) fail(key, "an integer");
        *out = *i;
        return true;
    }

    bool flag(const std::string& key, bool* out) const {
        int value;
        if (!integer(key, &value)) return false;
        if (value != 0 && value != 1) fail(key, "0 or 1");
        *out = value == 1;
        return true;
    }

    bool text(const std::string& key, std::string* out) const {
        const Value* v = m_bundle.find(key);
        if (!v) return false;
        const std::string* s = std::get_if<std::string>(v);
        if (!s) fail(key, "a string");
        *out = *s;
        return true;
    }

    template <int N>
    bool numbers(const std::string& key, Eigen::Matrix<double, N, 1>* out) const {
        const Value* v = m_bundle.find(key);
        if (!v) return false;
        std::vector<double> values;
        if (const auto* d = std::get_if<std::vector<double>>(v))
            values = *d;
        else if (const auto* i = std::get_if<std::vector<int>>(v))
            values.assign(i->begin(), i->end());
        if (values.size() != static_cast<size_t>(N)) fail(key, std::to_string(N) + " numbers");
        for (int k = 0; k < N; ++k) (*out)[k] = values[k];
        return true;
    }

    bool integers(const std::string& key, std::vector<int>* out) const {
        const Value* v = m_bundle.find(key);
        if (!v) return false;
        const auto* i = std::get_if<std::vector<int>>(v);
        if (!i) fail(key, "a list of integers");
        *out = *i;
        return true;
    }

    [[noreturn]] static void fail(const std::string& key, const std::string& expected) {
        throw RigError("rig metadata key '" + key + "' must hold " + expected);
    }

private:
    const Bundle& m_bundle;
};

CameraDefinition readCamera(const KeyReader& in, int index) {
    CameraDefinition camera;
    std::vector<int> format;
    if (in.integers(cameraKey(index, "format"), &format)) {
        if (format.size() != 2) KeyReader::fail(cameraKey(index, "format"), "2 integers");
        camera.setFormat(format[0], format[1]);
    }
    double number;
    if (in.number(cameraKey(index, "pixel_aspect"), &number))
        camera.setFormat(camera.getFormatWidth(), camera.getFormatHeight(), number);
    int projection;
    if (in.integer(cameraKey(index, "projection"), &projection)) {
        if (!isProjectionType(projection))
            KeyReader::fail(cameraKey(index, "projection"), "0, 1 or 2");
        camera.setProjection(static_cast<ProjectionTypeEnum>(projection));
    }
    if (in.number(cameraKey(index, "focal_length"), &number)) camera.setFocalLength(number);
    Eigen::Vector2d v2;
    if (in.numbers(cameraKey(index, "sensor_size"), &v2)) camera.setSensorSize(v2);
    if (in.numbers(cameraKey(index, "centre_shift"), &v2)) camera.setCentreShift(v2);
    Eigen::Vector3d v3;
    if (in.numbers(cameraKey(index, "distortion"), &v3)) camera.setDistortion(v3);
    if (in.numbers(cameraKey(index, "position"), &v3)) camera.setPosition(v3);
    if (in.numbers(cameraKey(index, "rotation"), &v3)) camera.setRotation(v3);
    if (in.numbers(cameraKey(index, "image_circle"), &v3)) {
        if (!(v3.z() > 0.0))
            KeyReader::fail(cameraKey(index, "image_circle"), "a centre and a positive radius");
        camera.setImageCircle(v3.head<2>(), v3.z());
    }
    std::vector<int> offset;
    if (in.integers(cameraKey(index, "crop_window"), &offset)) {
        if (offset.size() != 2 || offset[0] < 0 || offset[1] < 0)
            KeyReader::fail(cameraKey(index, "crop_window"), "2 integers, not negative");
        camera.setCropWindow(Eigen::Vector2i(offset[0], offset[1]));
    }
    bool flag;
    if (in.flag(cameraKey(index, "undistort"), &flag)) camera.setUndistort(flag);
    if (in.flag(cameraKey(index, "enabled"), &flag)) camera.setEnabled(flag);
    std::string view = "cam" + std::to_string(index + 1);
    in.text(cameraKey(index, "view"), &view);
    camera.setOutputView(view);
    return camera;
}

}  // namespace

void MetaDataHandler::updateMetaDataBundle(const Bundle& bundle) {
    const KeyReader in(bundle);
    CameraRigDefinition rig;
    int count = 0;
    if (in.integer(kCamerasKey, &count) && (count < 0 || count > kMaxCameras))
        KeyReader::fail(kCamerasKey, "a count from 0 to " + std::to_string(kMaxCameras));
    rig.setNumberCameras(count);
    for (int c = 0; c < count; ++c) rig.setCamera(c, readCamera(in, c));
    for (int c = 0; c < count; ++c) {
        std::vector<int> links;
        in.integers(cameraKey(c, "links"), &links);
        for (int number : links) {
            if (number < 1 || number > count)
                KeyReader::fail(cameraKey(c, "links"),
                                "camera numbers from 1 to " + std::to_string(count));
            rig.setLinked(c, number - 1);
        }
    }
    double diameter = 0.0;
    in.number(kDiameterKey, &diameter);
    rig.setRigDiameter(diameter);
    Eigen::Vector3d position = Eigen::Vector3d::Zero();
    in.numbers(kPositionKey, &position);
    Eigen::Vector3d rotation = Eigen::Vector3d::Zero();
    in.numbers(kRotationKey, &rotation);
    double convergence = kDefaultConvergence;
    in.number(kConvergenceKey, &convergence);

    // Everything parsed: only now does the handler change.
    m_bundle = bundle;
    m_rig = std::move(rig);
    m_position = position;
    m_rotation = rotation;
    m_convergence = convergence;
}

void MetaDataHandler::setCamera(int index, const CameraDefinition& camera) {
    m_rig.setCamera(index, camera);
    writeRigKeys();
}

void MetaDataHandler::setRig(const CameraRigDefinition& rig) {
    m_rig = rig;
    writeRigKeys();
}

void MetaDataHandler::setRigDiameter(double metres) {
    m_rig.setRigDiameter(metres);
    writeRigKeys();
}

void MetaDataHandler::setRigPosition(const Eigen::Vector3d& metres) {
    m_position = metres;
    writeRigKeys();
}

void MetaDataHandler::setRigRotation(const Eigen::Vector3d& degrees) {
    m_rotation = degrees;
    writeRigKeys();
}

void MetaDataHandler::setRigConvergence(double metres) {
    m_convergence = metres;
    writeRigKeys();
}

void MetaDataHandler::eraseRigKeys(Bundle* bundle) {
    const std::string prefix = kKeyPrefix;
    std::vector<std::string> keys;
    for (const auto& entry : *bundle)
        if (entry.first.compare(0, prefix.size(), prefix) == 0) keys.push_back(entry.first);
    for (const std::string& key : keys) bundle->erase(key);
}

void MetaDataHandler::writeRigKeys() {
    eraseRigKeys(&m_bundle);
    const int count = m_rig.getNumberCameras();
    m_bundle.setData(kCamerasKey, count);
    m_bundle.setData(kDiameterKey, m_rig.getRigDiameter());
    m_bundle.setData(kPositionKey, toVector(m_position));
    m_bundle.setData(kRotationKey, toVector(m_rotation));
    m_bundle.setData(kConvergenceKey, m_convergence);
    for (int c = 0; c < count; ++c) {
        const CameraDefinition& camera = m_rig.getCamera(c);
        m_bundle.setData(cameraKey(c, "format"),
                         std::vector<int>{camera.getFormatWidth(), camera.getFormatHeight()});
        m_bundle.setData(cameraKey(c, "pixel_aspect"), camera.getPixelAspect());
        m_bundle.setData(cameraKey(c, "projection"), static_cast<int>(camera.getProjection()));
        m_bundle.setData(cameraKey(c, "focal_length"), camera.getFocalLength());
        m_bundle.setData(cameraKey(c, "sensor_size"), toVector(camera.getSensorSize()));
        m_bundle.setData(cameraKey(c, "centre_shift"), toVector(camera.getCentreShift()));
        m_bundle.setData(cameraKey(c, "distortion"), toVector(camera.getDistortion()));
        m_bundle.setData(cameraKey(c, "undistort"), camera.getUndistort() ? 1 : 0);
        m_bundle.setData(cameraKey(c, "position"), toVector(camera.getPosition()));
        m_bundle.setData(cameraKey(c, "rotation"), toVector(camera.getRotation()));
        if (camera.hasImageCircle())
            m_bundle.setData(cameraKey(c, "image_circle"),
                             std::vector<double>{camera.getImageCircleCentre().x(),
                                                 camera.getImageCircleCentre().y(),
                                                 camera.getImageCircleRadius()});
        if (camera.hasCropWindow())
            m_bundle.setData(cameraKey(c, "crop_window"),
                             std::vector<int>{camera.getCropWindowOffset().x(),
                                              camera.getCropWindowOffset().y()});
        m_bundle.setData(cameraKey(c, "enabled"), camera.getEnabled() ? 1 : 0);
        m_bundle.setData(cameraKey(c, "view"), camera.getOutputView());
        std::vector<int> numbers;
        for (int link : m_rig.getLinks(c)) numbers.push_back(link + 1);
        m_bundle.setData(cameraKey(c, "links"), numbers);
    }
}

}  // namespace Research
}  // namespace Korvane
