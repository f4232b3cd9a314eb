#include "common/win32.h"

#include "common/ereader_root.h"

char EreaderRoot[kEreaderRootSize];
