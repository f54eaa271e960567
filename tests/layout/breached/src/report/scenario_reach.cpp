// The engine reaching up into the scenario builder: one breach.
#include "scenario/recipe.h"
#include "display/display.h"
