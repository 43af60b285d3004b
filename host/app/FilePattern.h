// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace Vireo {

/// The whole frame a fractional host frame stands for: the nearest integer, halves away from
/// zero (1.5 -> 2, -1.5 -> -2).
int wholeFrame(double frame);

/// A file name from a sequence pattern, as the Read and Write nodes use it:
///   %V        the view name;
///   #, ##...  the frame, zero-padded to as many digits as there are '#';
///   %d, %0Nd  the frame, printf-style (zero-padded to N digits);
///   %%        a single '%'.
/// The frame is wholeFrame(frame); a negative frame keeps its sign before the padding
/// ("-005" for ####). Anything else is copied as it is.
std::string expandFilePattern(const std::string& pattern, const std::string& view, double frame);

}  // namespace Vireo
