// SPDX-License-Identifier: Apache-2.0
#include "px/image/MetaData.h"
