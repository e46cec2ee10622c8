#include "unitsnapshot.h"
