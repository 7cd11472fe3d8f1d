// Torso layout of the "kestrelt" body: the same frames and constants as the
// "ospreyt" torso.
#pragma once

#include "osprey_t_torso_analysis.h"

namespace kestrel_t_torso_analysis = osprey_t_torso_analysis;
