// SPDX-License-Identifier: MIT
// USER, GDI and the optional graphics components over the virtual desktop.
#pragma once

#include "platform/standin/kernel/types.h"
#include "platform/standin/gui/user.h"
#include "platform/standin/gui/gdi.h"
#include "platform/standin/gui/ddraw.h"
#include "platform/standin/gui/wing.h"
#include "platform/standin/gui/dispdib.h"
#include "platform/standin/gui/desktop.h"
