// SPDX-License-Identifier: Apache-2.0
// The node's door to the rig library: camera and rig definitions, projections, the metadata
// handler and the progress reporter.
#pragma once

#include "vellacam/CameraDefinition.h"
#include "vellacam/CameraRigDefinition.h"
#include "vellacam/MetaDataHandler.h"
#include "vellacam/ProgressReporter.h"
#include "vellacam/RigError.h"
#include "vellacam/SphericalTransform.h"
