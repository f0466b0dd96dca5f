// SPDX-License-Identifier: MIT
// Library loading: the optional components the stand-in provides, found by name.
#pragma once

#include "platform/standin/kernel/types.h"
