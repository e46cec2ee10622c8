#include "unitevents.h"
