// SPDX-License-Identifier: MIT
// USER, GDI and the optional graphics components over the virtual desktop.
#pragma once

#include "platform/standin/kernel/types.h"
