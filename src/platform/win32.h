// SPDX-License-Identifier: MIT
// The one header through which the system reaches the operating system: the Windows
// services it was designed on. On Windows these are the SDK's; elsewhere the stand-in's.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <ddraw.h>
#include <dsound.h>
#else
#include "platform/standin/kernel/types.h"
#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/modules.h"
#include "platform/standin/kernel/clock.h"
#include "platform/standin/gui/gui.h"
#include "platform/standin/audio/audio.h"
#endif
