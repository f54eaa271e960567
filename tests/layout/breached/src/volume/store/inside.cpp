// Its own folder's private header: allowed.
#include "volume/store/internal/format.h"
