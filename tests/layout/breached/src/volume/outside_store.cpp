// Reaches into another folder's private header.
#include "volume/store/internal/format.h"
