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
#include <ox/bayer.h>
#include <ox/geometry.h>
#include <ox/channels.h>
#include <ox/units.h>
#include <ox/framerate.h>
#include <ox/progress.h>
#include <ox/data.h>
#include <ox/pipeitem.h>
#include <ox/pipe.h>
#include <ox/datasource.h>
#include <ox/dataprocessor.h>
#include <ox/dataconsumer.h>
#include <ox/focuscontroller.h>
#include <ox/autofocus.h>
#include <ox/zstage.h>
#include <ox/color.h>
#include <ox/bitdepth.h>
