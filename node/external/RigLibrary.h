// SPDX-License-Identifier: Apache-2.0
// The node's door to the rig library: camera and rig definitions, projections, the metadata
// handler and the progress reporter, matches and their tracks, matching, triangulation and
// the rig's refinement. Node code includes this header, never the library's own headers.
#pragma once

#include "vellacam/CameraDefinition.h"
#include "vellacam/CameraRigDefinition.h"
#include "vellacam/CameraTrack.h"
#include "vellacam/CameraWindowSource.h"
#include "vellacam/FeatureImageSource.h"
#include "vellacam/FeatureTrack.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/ProgressReporter.h"
#include "vellacam/RadialDistortion.h"
#include "vellacam/RefineRig.h"
#include "vellacam/RigError.h"
#include "vellacam/SphericalTransform.h"
#include "vellacam/TrackFeatures.h"
#include "vellacam/TriangulateFeatures.h"
