// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "slib/Context.h"
#include "slib/FeatureTracking/SequentialTrackingStage.h"
#include "slib/FeatureTracking/TrackedFeature.h"
#include "slib/FeatureTracking/TrackingImage.h"
#include "slib/ImageFormat.h"

namespace Korvane {
namespace SLIB {
namespace FeatureTracking {

namespace detail {
class Pyramid;
}

/// Follows image features through a sequence: each call of track() takes every track with a key
/// at the previous context to the current image and, where its sequential stage keeps the
/// result, adds a key at the current context. Optionally it then starts new tracks on corners of
/// the current image that no track covers.
///
/// Every followed point is also followed back from where it arrived; one that does not come
/// back within kMaxRoundTrip pixels is lost (it slid onto a look-alike: its own place covered,
/// or a repeated pattern).
///
/// Positions are pixels of the images (see TrackingImage: bottom-left origin, pixel centres at
/// +0.5). The image pyramid of each context is built once and kept until releaseCache(), except
/// that a call drops the pyramids of its view older than its previous frame (tracking runs
/// forward). The caller must not hand a different image for a context already seen.
///
/// Detection (off with setDetection(false) or setMaxNewFeatures(0)): corners are scored by the
/// smaller eigenvalue of the intensity structure tensor over a patch; candidates are local
/// maxima above the `responseQuantile` quantile of all scores, strongest first, each at least
/// `featureSpacing` patch sizes from every tracked and every accepted feature.
///
/// Not thread-safe; one tracker per sequence.
class FeatureTracker {
public:
    static constexpr int kDefaultPatchSize = 14;
    static constexpr int kDefaultMaxNewFeatures = 1000;
    static constexpr double kDefaultResponseQuantile = 0.95;
    static constexpr double kDefaultFeatureSpacing = 1.2;
    /// The smallest patch side that fixes a position.
    static constexpr int kMinPatchSize = 3;
    /// A followed point is lost when, followed back from where it arrived, it lands farther
    /// than this from where it started (pixels).
    static constexpr double kMaxRoundTrip = 0.5;

    FeatureTracker();
    ~FeatureTracker();
    FeatureTracker(const FeatureTracker&) = delete;
    FeatureTracker& operator=(const FeatureTracker&) = delete;

    /// The images' size: track() refuses images of another size. Empty: any size (both images
    /// must still match each other).
    void setImageFormat(const ImageFormat& format) { m_format = format; }
    const ImageFormat& imageFormat() const { return m_format; }
    /// Side of the patch followed around each feature, in pixels.
    void setPatchSize(int pixels) { m_patchSize = pixels; }
    int patchSize() const { return m_patchSize; }
    void setMaxNewFeatures(int count) { m_maxNewFeatures = count; }
    int maxNewFeatures() const { return m_maxNewFeatures; }
    void setDetection(bool on) { m_detection = on; }
    bool detection() const { return m_detection; }
    void setResponseQuantile(double q) { m_responseQuantile = q; }
    double responseQuantile() const { return m_responseQuantile; }
    void setFeatureSpacing(double patches) { m_featureSpacing = patches; }
    double featureSpacing() const { return m_featureSpacing; }

    SequentialTrackingStage& sequentialStage() { return m_stage; }
    const SequentialTrackingStage& sequentialStage() const { return m_stage; }

    /// Follows every track of `tracks` that has a key at `previous` into `currentImage`; a kept
    /// result becomes the track's key at `current` (score and error as measured), a lost or
    /// refused one adds nothing. Tracks without a key at `previous` are left alone. With
    /// detection on, new tracks (one key at `current`, score 1, error 0) are appended.
    /// False, with `tracks` unchanged, when an image is empty, the two differ in size or
    /// differ from a set image format, the patch size is below kMinPatchSize, or
    /// `previous` == `current`.
    bool track(const Context& previous,
               const TrackingImage& previousImage,
               const Context& current,
               const TrackingImage& currentImage,
               std::vector<TrackedFeatureTrack>& tracks);

    /// Drops every cached pyramid.
    void releaseCache();
    int cachedPyramids() const { return int(m_pyramids.size()); }

private:
    const detail::Pyramid& pyramidOf(const Context& context,
                                     const TrackingImage& image,
                                     int levels);
    void detect(const Context& current,
                const TrackingImage& image,
                std::vector<TrackedFeatureTrack>& tracks) const;

    ImageFormat m_format;
    int m_patchSize = kDefaultPatchSize;
    int m_maxNewFeatures = kDefaultMaxNewFeatures;
    bool m_detection = true;
    double m_responseQuantile = kDefaultResponseQuantile;
    double m_featureSpacing = kDefaultFeatureSpacing;
    SequentialTrackingStage m_stage;
    std::map<Context, std::shared_ptr<const detail::Pyramid>> m_pyramids;
};

}  // namespace FeatureTracking
}  // namespace SLIB
}  // namespace Korvane
