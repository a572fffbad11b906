#pragma once

// Umbrella header: every public header of the library.

#include "XEVException.h"
#include "XEVFilter.h"
#include "XEVFrameInfo.h"
#include "XEVFrameProducer.h"
#include "XEVObserver.h"
