#pragma once

// Umbrella header: every exported header of the library.

#include <ox/export.h>
#include <ox/errors.h>
#include <ox/memory.h>
#include <ox/system.h>
#include <ox/appinterface.h>
#include <ox/globals.h>
#include <ox/imagebuf.h>
#include <ox/rtti.h>
#include <ox/metadata.h>
#include <ox/fileutils.h>
#include <ox/numerics.h>
#include <ox/sparsematrix.h>
#include <ox/histogram2d.h>
