// Private to volume/store.
#pragma once
