// SPDX-License-Identifier: Apache-2.0
// The node's door to the vision library: contexts, features and their tracks, feature
// tracking and image pyramids. Node code includes this header, never the library's own headers.
#pragma once

#include "slib/Context.h"
#include "slib/Feature.h"
#include "slib/FeatureTrack.h"
#include "slib/FeatureTracking/FeatureTracker.h"
#include "slib/FeatureTracking/TrackingImage.h"
#include "slib/ImagePyramids/GaussianImagePyramidFactory.h"
#include "slib/ImagePyramids/PyramidFilters.h"
